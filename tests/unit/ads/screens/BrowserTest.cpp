// The in-app browser on its own: the page it loads and when, the landing-page
// figures it keeps, and when it closes by itself. (Its toolbar is what a
// person sees at once; Done is the banner click test's.)

#include "unit/ads/screens/ScreensFixture.h"

#include "Browser/ZELBrowserController.h"
#include "Request/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "View/ZELWebView.h"
#include "platform/sim/SimViews.h"

using platform::sim::SimWebViewPeer;

namespace {

platform::URL url(const char* text) { return *platform::URL::parse(text); }

int countOf(const char* key) {
    auto stats = ZELStatistics::sharedStatistics()->peekParameters();
    auto it = stats.find(key);
    return it == stats.end() ? 0 : static_cast<int>(it->second.asInteger().value_or(0));
}

}  // namespace

class BrowserTest : public ScreensTest {
protected:
    std::shared_ptr<ZELBrowserController> present(std::optional<platform::URL> page,
                                                  std::optional<platform::URL> referrer = std::nullopt) {
        auto browser = ZELBrowserController::init();
        browser->setDelegateManager(manager);
        browser->load(page, referrer);
        browser->presentFromViewController(root);
        return browser;
    }
    SimWebViewPeer* page(const ZELBrowserController& browser) { return SimWebViewPeer::of(*browser.webView()); }
};

TEST_F(BrowserTest, URLGivenBeforeTheScreenIsLoadedOnceWithItsReferrer) {
    auto browser = ZELBrowserController::init();
    browser->load(std::nullopt);
    browser->load(url("http://127.0.0.1:8090/first"), url("http://127.0.0.1:8090/ad"));
    browser->load(url("http://127.0.0.1:8090/second"));  // the later one wins, without a referrer
    EXPECT_EQ(browser->webView(), nullptr);
    browser->presentFromViewController(root);
    ASSERT_TRUE(browser->webView());
    auto loads = page(*browser)->loads();
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].request.url.absoluteString(), "http://127.0.0.1:8090/second");
    EXPECT_FALSE(loads[0].request.valueForHTTPHeaderField("Referer"));

    // Once the page exists a URL loads at once, with the referrer it came with.
    browser->load(url("http://127.0.0.1:8090/third"), url("http://127.0.0.1:8090/ad"));
    loads = page(*browser)->loads();
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(loads[1].request.valueForHTTPHeaderField("Referer"), "http://127.0.0.1:8090/ad");
    settle();
    browser->relinquishScreen();
}

TEST_F(BrowserTest, LandingPageFiguresAndTheBreakOutFlag) {
    auto statistics = ZELStatistics::sharedStatistics();
    auto browser = present(url("http://127.0.0.1:8090/click"));
    auto* peer = page(*browser);
    sim().runUntilIdle();
    auto plpl = statistics->timingNamed("plpl");
    ASSERT_TRUE(plpl);
    // A redirect on the way starts the load again: the timing is the first one.
    peer->navigate("http://127.0.0.1:8090/landing", platform::NavigationType::Other);
    EXPECT_EQ(statistics->timingNamed("plpl"), plpl);
    EXPECT_FALSE(statistics->timingNamed("plpd"));
    peer->finishLoad();
    EXPECT_FALSE(plpl->isActive());
    auto plpd = statistics->timingNamed("plpd");
    ASSERT_TRUE(plpd && plpd->isActive());

    // What the user follows counts; back, forward and the page's own moves do not.
    peer->navigate("http://127.0.0.1:8090/landing/2", platform::NavigationType::LinkClicked);
    peer->navigate("https://127.0.0.1:8443/secure", platform::NavigationType::FormSubmitted);
    peer->navigate("http://127.0.0.1:8090/landing", platform::NavigationType::BackForward);
    peer->navigate("http://127.0.0.1:8090/script", platform::NavigationType::Other);
    EXPECT_EQ(countOf(kZELParameterPriorLandingPageNavCount), 1);
    EXPECT_EQ(countOf(kZELParameterPriorLandingPageSSLNavCount), 1);

    // Open outside: the page leaves the application, the browser stays.
    browser->openInSafari();
    sim().runUntilIdle();
    ASSERT_EQ(sim().application().openedURLs().size(), 1u);
    EXPECT_EQ(shown<ZELBrowserController>(), browser);

    // Leaving the screen ends the landing page's duration; the break-out flag
    // rides on the next request, once.
    browser->relinquishScreen();
    settle();
    EXPECT_FALSE(plpd->isActive());
    EXPECT_EQ(statistics->parameters().at(kZELParameterPriorClickBreakOut), platform::Value(int64_t{1}));
    EXPECT_EQ(statistics->parameters().count(kZELParameterPriorClickBreakOut), 0u);
}

TEST_F(BrowserTest, ClosesByItselfOnReturnOnlyWhenNoPageEverLoadedAndDoneWhileLoading) {
    auto browser = present(url("http://127.0.0.1:8090/landing"));
    settle();
    sim().application().setApplicationState(platform::ApplicationState::Background);
    sim().application().setApplicationState(platform::ApplicationState::Active);
    settle();
    EXPECT_EQ(shown<ZELBrowserController>(), nullptr) << "an empty browser waits for nobody";

    auto loaded = present(url("http://127.0.0.1:8090/landing"));
    settle();
    page(*loaded)->finishLoad();
    sim().application().setApplicationState(platform::ApplicationState::Background);
    sim().application().setApplicationState(platform::ApplicationState::Active);
    settle();
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
