// The in-app browser on its own: the landing-page figures it keeps, and when
// it closes by itself. (The page it loads with its referrer, and Done, are the
// banner click test's; its toolbar is what a person sees at once.)

#include "unit/ads/screens/ScreensFixture.h"

#include "Browser/ZELBrowserController.h"
#include "Utility/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "WebView/ZELWebView.h"
#include "platform/sim/SimViews.h"

using platform::sim::SimWebViewPeer;

class BrowserTest : public ScreensTest {
protected:
    std::shared_ptr<ZELBrowserController> present(const char* page) {
        auto browser = ZELBrowserController::init();
        browser->setDelegateManager(manager);
        browser->load(platform::URL::parse(page));
        browser->presentFromViewController(root);
        return browser;
    }
    void leaveAndComeBack() {
        sim().application().setApplicationState(platform::ApplicationState::Background);
        sim().application().setApplicationState(platform::ApplicationState::Active);
        settle();
    }
};

TEST_F(BrowserTest, LandingPageFiguresAndTheBreakOutFlag) {
    auto statistics = ZELStatistics::sharedStatistics();
    auto browser = present("http://127.0.0.1:8090/click");
    auto* peer = SimWebViewPeer::of(*browser->webView());
    sim().runUntilIdle();
    auto plpl = statistics->timingNamed("plpl");
    ASSERT_TRUE(plpl);
    // A redirect on the way starts the load again: the timing is the first one.
    peer->navigate("http://127.0.0.1:8090/landing", platform::NavigationType::Other);
    EXPECT_EQ(statistics->timingNamed("plpl"), plpl);
    peer->finishLoad();
    EXPECT_FALSE(plpl->isActive());
    auto plpd = statistics->timingNamed("plpd");
    ASSERT_TRUE(plpd && plpd->isActive());
    // What the user follows counts; back, forward and the page's own moves do not.
    peer->navigate("http://127.0.0.1:8090/landing/2", platform::NavigationType::LinkClicked);
    peer->navigate("https://127.0.0.1:8443/secure", platform::NavigationType::FormSubmitted);
    peer->navigate("http://127.0.0.1:8090/landing", platform::NavigationType::BackForward);
    peer->navigate("http://127.0.0.1:8090/script", platform::NavigationType::Other);
    // Open outside: the browser stays.
    browser->openInSafari();
    sim().runUntilIdle();
    EXPECT_EQ(shown<ZELBrowserController>(), browser);
    // Leaving the screen ends the landing page's duration; the counts and the
    // break-out flag ride on the next request, once.
    browser->relinquishScreen();
    settle();
    EXPECT_FALSE(plpd->isActive());
    auto p = statistics->parameters();
    EXPECT_EQ(std::tuple(p[kZELParameterPriorLandingPageNavCount], p[kZELParameterPriorLandingPageSSLNavCount],
                         p[kZELParameterPriorClickBreakOut]),
              std::tuple(platform::Value(1), platform::Value(1), platform::Value(1)));
    EXPECT_EQ(statistics->parameters().count(kZELParameterPriorClickBreakOut), 0u);
}

TEST_F(BrowserTest, ClosesByItselfOnReturnOnlyWhenNoPageEverLoadedAndDoneWhileLoading) {
    auto browser = present("http://127.0.0.1:8090/landing");
    settle();
    leaveAndComeBack();
    EXPECT_EQ(shown<ZELBrowserController>(), nullptr) << "an empty browser waits for nobody";
    auto loaded = present("http://127.0.0.1:8090/landing");
    settle();
    SimWebViewPeer::of(*loaded->webView())->finishLoad();
    leaveAndComeBack();
    EXPECT_EQ(shown<ZELBrowserController>(), loaded);
    // Done while a page still loads.
    loaded->reload();
    std::weak_ptr<ZELBrowserController> gone = loaded;
    loaded->toolbar()->items().back()->action()();
    loaded.reset();
    settle();
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(didRelinquish, 2);
}
