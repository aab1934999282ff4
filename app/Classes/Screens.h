#pragma once
// The four screens. Their layouts live in interface files of the same name
// (without "Controller"); the code connects to the outlets below.

#include <memory>
#include <string>

#include "LoadWatch.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/RunLoop.h"
#include "platform/ScrollView.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"

class ZELBannerView;

// A web screen that carries a banner in the strip at its bottom and polls its
// page's loading for the spinner: the first and the bundled-page screens.
class BannerWebScreen : public platform::ViewController {
public:
    ~BannerWebScreen() override;

    // Places the banner; its first request follows on the next turn.
    void viewDidLoad() override;
    // Releases the banner.
    void viewDidUnload() override;
    // Upright portrait only.
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;

    void checkLoad() { watch_.checkLoad(); }
    void checkNotLoad() { watch_.checkNotLoad(); }
    const std::shared_ptr<ZELBannerView>& banner() const { return bannerView_; }

protected:
    BannerWebScreen(std::string interfaceName, bool drivesNetworkIndicator);
    mensajes::LoadWatch watch_;

private:
    std::shared_ptr<ZELBannerView> bannerView_;
    platform::OneShotTimer firstRequest_;
};

// First tab: the carrier's message form.
class FirstViewController : public BannerWebScreen {
public:
    explicit FirstViewController(std::string interfaceName = "FirstView");

    void viewWillAppear(bool animated) override;
    // Hands the contact address to the desktop's mail client.
    void mailto();

    std::shared_ptr<platform::WebView> webView;
    std::shared_ptr<platform::ActivityIndicatorView> cargando;
};

// Second tab: a messaging service's page, no spinner.
class ThirdViewController : public platform::ViewController {
public:
    explicit ThirdViewController(std::string interfaceName = "ThirdView");
    void viewWillAppear(bool animated) override;
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation orientation) override;

    std::shared_ptr<platform::WebView> webView2;
};

// Third tab: the bundled page.
class FourthViewController : public BannerWebScreen {
public:
    explicit FourthViewController(std::string interfaceName = "FourthView");

    void viewWillAppear(bool animated) override;

    std::shared_ptr<platform::WebView> webView3;
    std::shared_ptr<platform::ActivityIndicatorView> activado;
};

// Fourth tab: the scrolling help text with the mail button.
class AyudaViewController : public platform::ViewController {
public:
    explicit AyudaViewController(std::string interfaceName = "AyudaView");
    void viewDidLoad() override;

    std::shared_ptr<platform::ScrollView> scrollview;

    static constexpr double kContentWidth = 320;
    static constexpr double kContentHeight = 452;
};
