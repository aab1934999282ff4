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
        auto browser = newScreen<ZELBrowserController>();
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

// The landing page's load time and how long it was looked at; the user's
// own navigations on it, https apart, for the next request, once.
TEST_F(BrowserTest, LandingPageFigures) {
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
    // Back, forward and the page's own moves do not count.
    peer->navigate("http://127.0.0.1:8090/landing/2", platform::NavigationType::LinkClicked);
    peer->navigate("https://127.0.0.1:8443/secure", platform::NavigationType::FormSubmitted);
    peer->navigate("http://127.0.0.1:8090/landing", platform::NavigationType::BackForward);
    peer->navigate("http://127.0.0.1:8090/script", platform::NavigationType::Other);
    browser->relinquishScreen();
    settle();
    EXPECT_FALSE(plpd->isActive());
    auto p = statistics->parameters();
    EXPECT_EQ(std::pair(p[kZELParameterPriorLandingPageNavCount], p[kZELParameterPriorLandingPageSSLNavCount]),
              std::pair(platform::Value(1), platform::Value(1)));
    EXPECT_EQ(statistics->parameters().count(kZELParameterPriorLandingPageNavCount), 0u);
}

// The browser stays.
TEST_F(BrowserTest, ViewInSafariSetsTheBreakOutFlagForTheNextRequest) {
    auto browser = present("http://127.0.0.1:8090/landing");
    sim().runUntilIdle();
    browser->openInSafari();
    sim().runUntilIdle();
    EXPECT_EQ(shown<ZELBrowserController>(), browser);
    EXPECT_EQ(ZELStatistics::sharedStatistics()->parameters()[kZELParameterPriorClickBreakOut], platform::Value(1));
    browser->relinquishScreen();
}

TEST_F(BrowserTest, ClosesByItselfOnReturnOnlyWhenNoPageEverLoaded) {
    auto browser = present("http://127.0.0.1:8090/landing");
    settle();
    leaveAndComeBack();
    EXPECT_EQ(shown<ZELBrowserController>(), nullptr) << "an empty browser waits for nobody";
    auto loaded = present("http://127.0.0.1:8090/landing");
    settle();
    SimWebViewPeer::of(*loaded->webView())->finishLoad();
    leaveAndComeBack();
    EXPECT_EQ(shown<ZELBrowserController>(), loaded);
    loaded->relinquishScreen();
}

TEST_F(BrowserTest, DoneWhileAPageLoadsLetsTheBrowserGo) {
    auto browser = present("http://127.0.0.1:8090/landing");
    settle();
    std::weak_ptr<ZELBrowserController> gone = browser;
    browser->toolbar()->items().back()->action()();
    browser.reset();
    settle();
    EXPECT_TRUE(gone.expired());
    EXPECT_EQ(didRelinquish, 1);
}
