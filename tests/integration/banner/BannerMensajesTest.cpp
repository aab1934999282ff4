// The mensajes application shows real ads from nimbra-adserver in the bottom
// strip of its first and third tabs (the two screens with a banner).
// NIMBRA_BANNER_SCREENSHOT=<file.png> saves the first tab with its ad.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

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

using adserver_test::AdServerProcess;
using banner_test::kAdTimeout;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

bool showsAd(const std::shared_ptr<ZELBannerView>& banner) {
    return banner && banner->getPrivate()->state() == kZELStateShown;
}

void expectAdOnScreen(const std::shared_ptr<ZELBannerView>& banner, platform::View& screen) {
    EXPECT_EQ(banner->frame(), platform::Rect(0, 361, 320, 50));
    EXPECT_EQ(banner->superview().get(), &screen);
    ASSERT_TRUE(banner->webView());
    const auto text = banner_test::visibleText(*banner->webView());
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Ad #"), std::string::npos) << *text;
}

TEST(BannerMensajesApp, FirstAndThirdTabsShowRealAds) {
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
    AdServerProcess server({"--refresh-rate", "600"});
    ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
    banner_test::ServerEnvironment environment(server.origin(), server.origin());

    mensajes::registerClasses();
    platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
    std::string error;
    ASSERT_TRUE(platform::launchApplication("MainWindow", &error)) << error;
    auto window = platform::Window::keyWindow();
    ASSERT_TRUE(window);
    auto tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->viewControllers().size(), 4u);

    auto first = std::dynamic_pointer_cast<FirstViewController>(tabs->selectedViewController());
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->banner());
    EXPECT_EQ(first->banner()->adUnitID(), mensajes::kAdUnitID);
    // Only in a test process that launched before: the component has seen a
    // launch already, so the first screen's banner, made while the window is
    // not yet on screen, refused its load; load it again now it is.
    const int afterLaunch = first->banner()->getPrivate()->state();
    if (afterLaunch == kZELStateIdle || afterLaunch == kZELStateFailed)
        first->banner()->loadRequest(ZELRequest::request());
    ASSERT_TRUE(spinUntil([&] { return showsAd(first->banner()); }, kAdTimeout)) << "no ad on the first tab";
    expectAdOnScreen(first->banner(), *first->view());

    // The other banner screen, chosen by a tap as a person would.
    tabs->tabBar()->buttons()[2]->touchDown();
    tabs->tabBar()->buttons()[2]->touchUp(true);
    auto fourth = std::dynamic_pointer_cast<FourthViewController>(tabs->selectedViewController());
    ASSERT_TRUE(fourth);
    ASSERT_TRUE(fourth->banner());
    ASSERT_TRUE(spinUntil([&] { return showsAd(fourth->banner()); }, kAdTimeout)) << "no ad on the third tab";
    expectAdOnScreen(fourth->banner(), *fourth->view());
    EXPECT_NE(fourth->banner(), first->banner());

    // One ad request per banner, each with the application's ad unit, and
    // their impressions.
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(server, "imp") >= 4; }, kAdTimeout));
    const auto status = banner_test::serverStatus(server);
    const auto ads = banner_test::requestsTo(status, "ads");
    ASSERT_EQ(ads.size(), 2u);
    for (const auto& ad : ads) {
        EXPECT_EQ(ad["query"]["slotname"], mensajes::kAdUnitID);
        EXPECT_EQ(ad["status"], 200);
    }
    EXPECT_EQ(status["counters"]["imp"], 4);

    if (const char* shot = std::getenv("NIMBRA_BANNER_SCREENSHOT")) {
        tabs->tabBar()->buttons()[0]->touchDown();
        tabs->tabBar()->buttons()[0]->touchUp(true);
        ASSERT_EQ(tabs->selectedViewController(), first);
        spinUntil([&] { return !first->webView || !first->webView->isLoading(); }, 10);
        spinFor(1.5);
        std::string command = std::string("xwd -root -silent | convert xwd:- -crop 320x480+0+0 png:") + shot;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
}

}  // namespace
