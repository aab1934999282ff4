// One window, one screen, one banner at its foot. The window is built in code
// (no interface file) by the application's delegate once the toolkit is up.
#include <cstdio>
#include <memory>

#include "Delegate/ZELBannerViewDelegate.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "View/ZELBannerView.h"
#include "platform/ApplicationMain.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace {

// A 15-hex-digit ad unit; nimbra-adserver fills any such unit.
constexpr const char kAdUnitID[] = "0e1d2c3b4a59687";

class BannerListener : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        std::printf("banner-window: ad received\n");
        std::fflush(stdout);
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        std::printf("banner-window: no ad: %s\n", error.localizedDescription().c_str());
        std::fflush(stdout);
    }
};

class BannerScreen : public platform::ViewController {
public:
    void viewDidLoad() override {
        // The 320 x 50 strip at the bottom of the 320 x 460 screen.
        banner_ = ZELBannerView::initWithFrame(platform::Rect(0, 410, 320, 50));
        banner_->setAdUnitID(kAdUnitID);
        banner_->setRootViewController(weak_from_this());
        banner_->setDelegate(listener_);
        view()->addSubview(banner_);
        banner_->loadRequest(ZELRequest::request());
    }

private:
    std::shared_ptr<BannerListener> listener_ = std::make_shared<BannerListener>();
    std::shared_ptr<ZELBannerView> banner_;
};

class AppDelegate : public platform::ApplicationDelegate {
public:
    void applicationDidFinishLaunching(platform::Application&) override {
        window_ = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        window_->setRootViewController(std::make_shared<BannerScreen>());
        window_->makeKeyAndVisible();
    }

private:
    std::shared_ptr<platform::Window> window_;
};

}  // namespace

int main(int argc, char** argv) {
    platform::LaunchOptions options;
    options.identifier = "org.nimbra.BannerWindow";
    options.delegate = std::make_shared<AppDelegate>();
    return platform::applicationMain(argc, argv, options);
}
