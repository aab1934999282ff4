// mensajes in this process as a person sees it: four tabs in a phone-sized
// window, the bundled page on the third tab, and real ads from
// nimbra-adserver in the bottom strip of the two screens with a banner.
// NIMBRA_BANNER_SCREENSHOT=<file.png> saves the first tab with its ad.
#include <gtest/gtest.h>

#include "Classes/Constants.h"
#include "Classes/Mensajes.h"
#include "Classes/Screens.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequest.h"
#include "View/ZELBannerView.h"
#include "View/ZELWebView.h"
#include "integration/banner/BannerSupport.h"
#include "platform/ApplicationMain.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/Window.h"

namespace {

using banner_test::kAdTimeout;
using nimbra::test::spinUntil;

void expectAdOnScreen(const std::shared_ptr<ZELBannerView>& banner, platform::View& screen) {
    ASSERT_TRUE(spinUntil([&] { return banner->getPrivate()->state() == kZELStateShown; }, kAdTimeout)) << "no ad";
    EXPECT_EQ(banner->frame(), platform::Rect(0, 361, 320, 50));
    EXPECT_EQ(banner->superview().get(), &screen);
    EXPECT_EQ(banner->adUnitID(), mensajes::kAdUnitID);
    const auto text = banner_test::visibleText(*banner->webView());
    EXPECT_NE(text.value_or("").find("Ad #"), std::string::npos) << text.value_or("");
}

TEST(MensajesApp, StartsWithFourTabsTheBundledPageAndRealAdsOnBothBannerScreens) {
    nimbra::test::gtkBackend();
    // The launch runs once per lifecycle: start from an unlaunched one and
    // leave one behind, whichever test of the process launches too.
    platform::ApplicationLifecycle::shared().reset();
    struct LeaveClean {
        ~LeaveClean() {
            platform::ApplicationLifecycle::shared().reset();
            banner_test::forgetVisitorCookie();
        }
    } leaveClean;
    // No reload during the test, nor later into another test's server.
    adserver_test::AdServerProcess server({"--refresh-rate", "600"});
    ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
    banner_test::ServerEnvironment environment(server.origin(), server.origin());
    mensajes::registerClasses();
    platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
    std::string error;
    ASSERT_TRUE(platform::launchApplication("MainWindow", &error)) << error;
    EXPECT_EQ(platform::ApplicationLifecycle::shared().state(), platform::ApplicationState::Active);
    auto window = platform::Window::keyWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->frame(), platform::Rect(0, 0, 320, 480));
    auto tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
    ASSERT_TRUE(tabs);
    std::vector<std::string> titles;
    for (auto& b : tabs->tabBar()->buttons()) titles.push_back(b->title());
    EXPECT_EQ(titles, (std::vector<std::string>{"SMS Aurora", "SMS Web", "Sin conexión", "Ayuda"}));
    EXPECT_EQ(tabs->view()->frame(), platform::Rect(0, 20, 320, 460));
    auto first = std::dynamic_pointer_cast<FirstViewController>(tabs->selectedViewController());
    ASSERT_TRUE(first && first->banner());
    // Only in a test process that launched before: the component has seen a
    // launch already, so the first screen's banner, made while the window is
    // not yet on screen, refused its load; load it again now it is.
    const int afterLaunch = first->banner()->getPrivate()->state();
    if (afterLaunch == kZELStateIdle || afterLaunch == kZELStateFailed) first->banner()->loadRequest(ZELRequest::request());
    expectAdOnScreen(first->banner(), *first->view());
    // The other banner screen, chosen by a tap as a person would, shows the
    // bundled page with its own ad.
    tabs->tabBar()->buttons()[2]->touchDown();
    tabs->tabBar()->buttons()[2]->touchUp(true);
    auto fourth = std::dynamic_pointer_cast<FourthViewController>(tabs->selectedViewController());
    ASSERT_TRUE(fourth && fourth->banner() && fourth->webView3);
    EXPECT_EQ(fourth->webView3->frame(), platform::Rect(0, 0, 320, 361));
    ASSERT_TRUE(spinUntil([&] {
        auto r = fourth->webView3->request();
        return r && r->url.absoluteString().ends_with("auroramovil.html") && !fourth->webView3->isLoading();
    }, 20));
    std::optional<std::string> title;
    fourth->webView3->evaluateJavaScript("document.title", [&](std::optional<std::string> t) { title = t; });
    ASSERT_TRUE(spinUntil([&] { return title.has_value(); }, 10));
    EXPECT_EQ(*title, "Aurora Móvil · Mensajes");
    EXPECT_TRUE(spinUntil([&] { return !fourth->activado->isAnimating(); }, 5)) << "the spinner stops once the page is idle";
    expectAdOnScreen(fourth->banner(), *fourth->view());
    EXPECT_NE(fourth->banner(), first->banner());
    // One ad request per banner, and their impressions.
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(server, "imp") >= 4; }, kAdTimeout));
    const auto status = banner_test::serverStatus(server);
    EXPECT_EQ(banner_test::requestsTo(status, "ads").size(), 2u);
    EXPECT_EQ(status["counters"]["imp"], 4);
    if (const char* shot = std::getenv("NIMBRA_BANNER_SCREENSHOT")) {
        tabs->tabBar()->buttons()[0]->touchDown();
        tabs->tabBar()->buttons()[0]->touchUp(true);
        spinUntil([&] { return !first->webView || !first->webView->isLoading(); }, 10);
        nimbra::test::spinFor(1.5);
        EXPECT_EQ(std::system((std::string("xwd -root -silent | convert xwd:- -crop 320x480+0+0 png:") + shot).c_str()), 0);
    }
}

}  // namespace
