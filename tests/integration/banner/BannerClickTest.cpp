// A person taps a banner in mensajes (a real pointer click on the virtual
// display): the in-app browser comes up over the window with the landing
// page, Done takes it away, and the banner goes on reloading.
// NIMBRA_BROWSER_SCREENSHOT=<file.png> saves the browser over the application.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "Browser/ZELBrowserController.h"
#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequest.h"
#include "View/ZELBannerView.h"
#include "View/ZELWebView.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/XInput.h"
#include "platform/Application.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"

namespace {

using adserver_test::AdServerProcess;
using banner_test::kAdTimeout;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

constexpr double kRefreshSeconds = 3;

class BannerClick : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        platform::ApplicationLifecycle::shared().reset();
        ZELObjectPrivate::resetProcessState();
        server = std::make_unique<AdServerProcess>(std::vector<std::string>{
            "--refresh-rate", std::to_string(int(kRefreshSeconds)), "--creatives", "browser,open-browser"});
        ASSERT_TRUE(server->ok()) << "nimbra-adserver did not start";
        environment = std::make_unique<banner_test::ServerEnvironment>(server->origin(), server->origin());
        mensajes::registerClasses();
        platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
        std::string error;
        ASSERT_TRUE(platform::launchApplication("MainWindow", &error)) << error;
        window = platform::Window::keyWindow();
        ASSERT_TRUE(window);
        tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
        ASSERT_TRUE(tabs);
        first = std::dynamic_pointer_cast<FirstViewController>(tabs->selectedViewController());
        ASSERT_TRUE(first && first->banner());
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
    }
    void TearDown() override {
        if (tabs) tabs->dismissModalViewControllerAnimated(false);
        first.reset();
        tabs.reset();
        if (window) window->setHidden(true);
        window.reset();
        spinFor(0.2);
        environment.reset();
        server.reset();
        platform::ApplicationLifecycle::shared().reset();
        banner_test::forgetVisitorCookie();
    }

    std::shared_ptr<ZELBannerView> banner() const { return first->banner(); }
    int received() const { return banner()->getPrivate()->state() == kZELStateShown ? 1 : 0; }
    std::shared_ptr<ZELBrowserController> browser() const {
        return std::dynamic_pointer_cast<ZELBrowserController>(tabs->modalViewController());
    }
    // Waits for a shown ad of the given number, then taps it as a person would.
    void tapAdNumber(int number) {
        const std::string label = "Ad #" + std::to_string(number);
        ASSERT_TRUE(spinUntil(
            [&] {
                if (banner()->getPrivate()->state() != kZELStateShown) return false;
                auto text = banner_test::visibleText(*banner()->webView());
                return text && text->find(label) != std::string::npos;
            },
            kAdTimeout))
            << "no " << label << " on the first tab";
        spinFor(0.3);  // a tap in the ad's first moment is no click
        ASSERT_TRUE(input.clickAt(*banner(), 160, 25));
    }
    // The browser comes up and shows the first landing page.
    std::shared_ptr<ZELBrowserController> waitForLandingPage() {
        std::shared_ptr<ZELBrowserController> shown;
        spinUntil(
            [&] {
                shown = browser();
                if (!shown || !shown->webView() || shown->webView()->isLoading()) return false;
                auto request = shown->webView()->request();
                return request && request->url.absoluteString().find("/landing?") != std::string::npos;
            },
            kAdTimeout);
        return shown;
    }
    void tapDone(ZELBrowserController& shown) {
        auto done = shown.toolbar()->items().back()->representedView();
        ASSERT_TRUE(done);
        // A screen takes taps once it is all the way up.
        ASSERT_TRUE(spinUntil([&] { return shown.view()->isUserInteractionEnabled(); }, 5));
        ASSERT_TRUE(input.clickAt(*done, done->bounds().width() / 2, done->bounds().height() / 2));
        ASSERT_TRUE(spinUntil([&] { return !tabs->modalViewController(); }, 10)) << "Done left the browser up";
    }

    std::unique_ptr<AdServerProcess> server;
    std::unique_ptr<banner_test::ServerEnvironment> environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::TabBarController> tabs;
    std::shared_ptr<FirstViewController> first;
    nimbra::test::XInput input;
};

TEST_F(BannerClick, TappedAdsOpenTheBrowserAndTheBannerGoesOnAfterDone) {
    auto& application = platform::Application::shared();
    // A plain link in an ad without click-tracking URLs.
    tapAdNumber(1);
    auto shown = waitForLandingPage();
    ASSERT_TRUE(shown) << "no browser with the landing page over the application";
    EXPECT_TRUE(application.isStatusBarHidden());
    EXPECT_TRUE(application.isIdleTimerDisabled());
    EXPECT_FALSE(banner()->getPrivate()->isReloadTimerScheduled());
    auto status = banner_test::serverStatus(*server);
    const auto landings = banner_test::requestsTo(status, "landing");
    ASSERT_EQ(landings.size(), 1u);
    const std::string referrer = landings[0]["headers"].value("Referer", std::string());
    EXPECT_EQ(referrer.rfind(server->origin() + "/ads?", 0), 0u) << "the landing page does not know the ad it came from";
    EXPECT_EQ(status["counters"]["ctrack"], 0);

    if (const char* shot = std::getenv("NIMBRA_BROWSER_SCREENSHOT")) {
        spinFor(1.0);
        std::string command = std::string("xwd -root -silent | convert xwd:- -crop 320x480+0+0 png:") + shot;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    // Nothing reloads behind the browser.
    spinFor(kRefreshSeconds + 1);
    EXPECT_EQ(banner_test::counter(*server, "ads"), 1);

    tapDone(*shown);
    shown.reset();
    EXPECT_FALSE(application.isStatusBarHidden());
    EXPECT_FALSE(application.isIdleTimerDisabled());

    // The banner reloads on schedule; the next ad asks by message, and its
    // click-tracking URLs are reported.
    tapAdNumber(2);
    shown = waitForLandingPage();
    ASSERT_TRUE(shown) << "the open message did not bring the browser up";
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ctrack") >= 2; }, kAdTimeout));
    tapDone(*shown);
    shown.reset();
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ads") >= 3; }, kRefreshSeconds + kAdTimeout))
        << "the banner stopped reloading after the browser";
}

}  // namespace
