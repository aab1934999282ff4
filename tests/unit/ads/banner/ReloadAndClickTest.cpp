// The reload timer, the click test and the banner's lifetime in the middle
// of its work, on the sim backend.

#include "unit/ads/banner/BannerFixture.h"

#include "Opener/ZELOpener.h"
#include "View/ZELBannerWebViewDelegate.h"
#include "platform/NotificationCenter.h"

using platform::sim::SimResponse;

TEST_F(BannerTest, RefreshThirtyThenNoHeaderThenZero) {
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(controller()->reloadSeconds(), 30);
    serveAd("<p>second</p>", {});
    sim().advance(29.9);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    sim().advance(0.2);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 2u);
    EXPECT_TRUE(banner->hasAutoRefreshed());
    // No header: the last interval again.
    EXPECT_TRUE(controller()->isReloadTimerScheduled());
    serveAd("<p>third</p>", {{"X-Ruma-Refresh-Rate", "0"}});
    sim().advance(30.1);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 3u);
    // Zero stops reloading but keeps the last interval for a later activation.
    EXPECT_FALSE(controller()->isReloadTimerScheduled());
    sim().advance(120);
    EXPECT_EQ(sim().http().countOf(kAdURL), 3u);
    EXPECT_EQ(controller()->reloadSeconds(), 30);
    sim().application().setApplicationState(platform::ApplicationState::Background);
    sim().application().setApplicationState(platform::ApplicationState::Active);
    EXPECT_TRUE(controller()->isReloadTimerScheduled());
}

TEST_F(BannerTest, RefreshRateTextIsReadAsANumber) {
    EXPECT_DOUBLE_EQ(ZELObjectPrivate::floatValueOfText("12.5"), 12.5);
    EXPECT_DOUBLE_EQ(ZELObjectPrivate::floatValueOfText(" 7s"), 7);
    EXPECT_DOUBLE_EQ(ZELObjectPrivate::floatValueOfText("soon"), 0);
    EXPECT_DOUBLE_EQ(ZELObjectPrivate::floatValueOfText("inf"), 0);
    EXPECT_DOUBLE_EQ(ZELObjectPrivate::floatValueOfText("-5"), -5);

    serveAd("<p>ad</p>", {{"X-Ruma-Refresh-Rate", "12.5"}});
    makeBanner();
    loadAndSettle();
    sim().advance(12.4);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    sim().advance(0.2);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 2u);

    // Garbage and negative rates schedule nothing (no reload storm).
    for (const char* rate : {"garbage", "-3"}) {
        serveAd("<p>ad</p>", {{"X-Ruma-Refresh-Rate", rate}});
        makeBanner();
        loadAndSettle();
        EXPECT_FALSE(controller()->isReloadTimerScheduled()) << rate;
    }
}

TEST_F(BannerTest, BackgroundAndFullScreenPauseTheTimer) {
    sim().application().postDidFinishLaunching();
    makeBanner();
    loadAndSettle();
    ASSERT_TRUE(controller()->isReloadTimerScheduled());

    sim().application().setApplicationState(platform::ApplicationState::Background);
    EXPECT_FALSE(controller()->isReloadTimerScheduled());
    sim().advance(100);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    sim().application().setApplicationState(platform::ApplicationState::Active);
    EXPECT_TRUE(controller()->isReloadTimerScheduled());

    int screen = 0;
    platform::NotificationCenter::defaultCenter().post("ZELViewControllerWillPresentFullScreen", &screen);
    EXPECT_FALSE(controller()->isReloadTimerScheduled());
    sim().advance(100);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    platform::NotificationCenter::defaultCenter().post("ZELViewControllerDidRelinquishFullScreen", &screen);
    // The full interval starts again from the activation.
    sim().advance(29);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    sim().advance(1.5);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 2u);
}

TEST_F(BannerTest, TrackerLeavesTheSetAfterFailure) {
    sim().http().routePrefix("http://127.0.0.1:8090/im/", SimResponse::withStatus(404));
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(controller()->trackerCount(), 0u);
    EXPECT_EQ(sim().http().countOf("http://127.0.0.1:8090/im/"), 2u);
}

class ClickTest : public BannerTest {
protected:
    void SetUp() override {
        BannerTest::SetUp();
        makeBanner();
        loadAndSettle();
        peer = platform::sim::SimWebViewPeer::of(*banner->webView());
        ASSERT_EQ(state(), kZELStateShown);
    }
    bool click(const std::string& url, platform::NavigationType type = platform::NavigationType::LinkClicked) {
        return peer->navigate(url, type);
    }
    int clickCount() {
        auto stats = ZELStatistics::sharedStatistics()->peekParameters();
        auto it = stats.find("pcc");
        return it == stats.end() ? 0 : static_cast<int>(it->second.asInteger().value_or(0));
    }
    platform::sim::SimWebViewPeer* peer = nullptr;
};

TEST_F(ClickTest, UntouchedNavigationLoadsInsideTheBanner) {
    sim().advance(1);
    EXPECT_TRUE(click("http://127.0.0.1:8090/elsewhere"));
    EXPECT_EQ(clickCount(), 0);
}

TEST_F(ClickTest, TouchWithinTheFirstMomentIsNotAClick) {
    banner->webView()->hitTest(platform::Point{10, 10}, nullptr);
    sim().advance(0.1);
    EXPECT_TRUE(click("http://127.0.0.1:8090/elsewhere"));
    EXPECT_EQ(clickCount(), 0);
}

TEST_F(ClickTest, BackForwardAndReloadAreNotClicks) {
    sim().advance(1);
    banner->webView()->hitTest(platform::Point{10, 10}, nullptr);
    EXPECT_TRUE(click("http://127.0.0.1:8090/a", platform::NavigationType::BackForward));
    EXPECT_TRUE(click("http://127.0.0.1:8090/a", platform::NavigationType::Reload));
    EXPECT_EQ(clickCount(), 0);
}

TEST_F(ClickTest, TouchedLinkIsAClickThatNeverNavigatesTheBanner) {
    sim().advance(1);
    banner->webView()->hitTest(platform::Point{10, 10}, nullptr);
    EXPECT_FALSE(click("http://127.0.0.1:8090/click?ai=tok"));
    EXPECT_EQ(clickCount(), 1);
    // A message URL clicked is counted and never loaded.
    EXPECT_FALSE(click("qmsg://nimbra/click?u=http%3A%2F%2F127.0.0.1%3A8090%2Fct%2Fxyz12"));
}

TEST_F(ClickTest, ShowingANewAdClearsTheTouch) {
    banner->webView()->hitTest(platform::Point{10, 10}, nullptr);
    EXPECT_TRUE(banner->webView()->touched());
    sim().advance(31);
    sim().runUntilIdle();
    EXPECT_FALSE(banner->webView()->touched());
}

// Destroying the banner at any moment of its work: no crash, no callback to
// a destroyed object, nothing left running.
class BannerLifetimeTest : public BannerTest {
protected:
    void destroyAndDrain() {
        std::weak_ptr<ZELObjectPrivate> weakController = banner->getPrivate();
        banner.reset();
        sim().advance(200);
        sim().runUntilIdle();
        EXPECT_TRUE(weakController.expired());
    }
};

TEST_F(BannerLifetimeTest, DuringTheScriptDownload) {
    sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}").after(5));
    makeBanner();
    banner->loadRequest(ZELRequest::request());
    ASSERT_EQ(state(), kZELStateFetchingSupportScript);
    destroyAndDrain();
    EXPECT_EQ(delegate->received, 0);
}

TEST_F(BannerLifetimeTest, WhileTheHiddenPageRuns) {
    pageAnswers = false;
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateBuildingAdURL);
    destroyAndDrain();
    EXPECT_TRUE(delegate->failures.empty());
}

TEST_F(BannerLifetimeTest, WithTheAnswerOnItsWay) {
    makeBanner();
    sim().web().setPageBehaviour([this](platform::sim::SimWebViewPeer& peer, const platform::sim::SimWebLoad& load) {
        if (load.html.find("<script>RUMA_buildAdURL(") == std::string::npos) return;
        peer.navigate(pageAnswer, platform::NavigationType::Other);
        banner.reset();  // the message is posted on the next turn
    });
    banner->loadRequest(ZELRequest::request());
    std::weak_ptr<ZELObjectPrivate> weakController = banner->getPrivate();
    sim().advance(200);
    EXPECT_TRUE(weakController.expired());
    EXPECT_EQ(sim().http().countOf(kAdURL), 0u);
}

TEST_F(BannerLifetimeTest, DuringTheMarkupDownload) {
    sim().http().route(kAdURL, SimResponse::ok("<p>ad</p>").after(5));
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateLoadingAd);
    destroyAndDrain();
    EXPECT_EQ(delegate->received, 0);
}

TEST_F(BannerLifetimeTest, WithTheReloadTimerPending) {
    makeBanner();
    loadAndSettle();
    ASSERT_TRUE(controller()->isReloadTimerScheduled());
    destroyAndDrain();
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
}

TEST_F(BannerLifetimeTest, WithTrackersInFlight) {
    sim().http().routePrefix("http://127.0.0.1:8090/im/", SimResponse::ok("ok").after(10));
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(controller()->trackerCount(), 2u);
    destroyAndDrain();
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(BannerLifetimeTest, InsideEachDelegateCallback) {
    delegate->onReceive = [this] { banner.reset(); };
    makeBanner();
    std::weak_ptr<ZELObjectPrivate> weakController = banner->getPrivate();
    banner->loadRequest(ZELRequest::request());
    sim().advance(100);
    EXPECT_EQ(delegate->received, 1);
    EXPECT_TRUE(weakController.expired());

    delegate->onFailure = [this] { banner.reset(); };
    for (auto response : {SimResponse::withStatus(500), SimResponse::ok("  ")}) {
        sim().http().route(kAdURL, response);
        makeBanner();
        weakController = banner->getPrivate();
        banner->loadRequest(ZELRequest::request());
        sim().advance(100);
        EXPECT_TRUE(weakController.expired());
    }
    // Support script failure and a script error, released inside the report.
    sim().http().route(kAdURL, SimResponse::ok("<p>ad</p>"));
    pageAnswer = "qmsg://nimbra/invalidRequest?reason=x";
    makeBanner();
    weakController = banner->getPrivate();
    banner->loadRequest(ZELRequest::request());
    sim().advance(100);
    EXPECT_TRUE(weakController.expired());
}
