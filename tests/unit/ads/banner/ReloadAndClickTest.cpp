// The banner's reloads, its click test and its lifetime in the middle of its
// work, on the sim backend.

#include "unit/ads/banner/BannerFixture.h"

// When the next ad comes is the reload scheduler's; here that the banner
// follows the server's rate from one ad to the next.
TEST_F(BannerTest, NextAdComesAtTheServersLastRate) {
    serveAd("<p>ad</p>", {{"X-Ruma-Refresh-Rate", "12.5"}});
    showAd();
    const double shown = sim().runLoop().now();
    serveAd("<p>second</p>", {});
    // Each ad is shown the moment its reload fires: the next one is due
    // 12.5 s after it.
    for (double at : {12.5, 25.0}) {
        const size_t loads = sim().http().countOf(kAdURL);
        sim().advance(shown + at - 0.1 - sim().runLoop().now());
        EXPECT_EQ(sim().http().countOf(kAdURL), loads);
        sim().advance(0.2);
        EXPECT_EQ(sim().http().countOf(kAdURL), loads + 1);
    }
    EXPECT_TRUE(banner->hasAutoRefreshed());
}

// A navigation of the shown ad is a click only after a touch, past the ad's
// first moment, and not back/forward or reload; a click never navigates the
// banner. Each case starts on a new ad, which forgets the last touch.
TEST_F(BannerTest, OnlyATouchedNavigationPastTheFirstMomentIsAClick) {
    using enum platform::NavigationType;
    const std::string page = "http://127.0.0.1:8090/elsewhere";
    // clang-format off
    struct Case { const char* what; bool touched; double after; std::string url; platform::NavigationType type; bool loadsInBanner; int clicks; } cases[] = {
        {"untouched", false, 1, page, LinkClicked, true, 0},
        {"touched in the first moment", true, 0.1, page, LinkClicked, true, 0},
        {"back or forward", true, 1, page, BackForward, true, 0},
        {"reload", true, 1, page, Reload, true, 0},
        {"touched link", true, 1, "http://127.0.0.1:8090/click?ai=tok", LinkClicked, false, 1},
        {"untouched after a click", false, 1, page, LinkClicked, true, 0},
        {"message: served, never loaded", true, 1, "qmsg://nimbra/click?u=http%3A%2F%2F127.0.0.1%3A8090%2Fct%2Fxyz12", LinkClicked, false, 0},
    };
    // clang-format on
    makeBanner();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        root->dismissModalViewControllerAnimated(false);  // what the last click opened
        loadAndSettle();
        ASSERT_EQ(state(), kZELStateShown);
        EXPECT_FALSE(banner->webView()->touched());
        if (c.touched) banner->webView()->hitTest(platform::Point{10, 10}, nullptr);
        sim().advance(c.after);
        EXPECT_EQ(platform::sim::SimWebViewPeer::of(*banner->webView())->navigate(c.url, c.type), c.loadsInBanner);
        EXPECT_EQ(countedClicks(), c.clicks);
    }
}

// Destroying the banner at any moment of its work: no crash, no callback to
// a destroyed object, nothing left running.
TEST_F(BannerTest, DestroyedAtAnyStageLeavesNothingBehind) {
    const std::string script = "function RUMA_buildAdURL(p){}";
    // clang-format off
    struct Stage { const char* what; std::function<void()> arrange; ZELObjectState state; } stages[] = {
        {"the script download", [&] { sim().http().route(kScriptURL, SimResponse::ok(script).after(5)); }, kZELStateFetchingSupportScript},
        {"the hidden page at work", [&] { pageAnswers = false; }, kZELStateBuildingAdURL},
        {"the page made ready at work", [&] { showAd(); pageAnswers = false; }, kZELStateBuildingAdURL},
        {"the markup download", [&] { sim().http().route(kAdURL, SimResponse::ok("<p>ad</p>").after(5)); }, kZELStateLoadingAd},
        {"the reload timer pending", [] {}, kZELStateShown},
        {"trackers in flight", [&] { sim().http().routePrefix("http://127.0.0.1:8090/im/", SimResponse::ok("ok").after(10)); }, kZELStateShown},
    };
    // clang-format on
    for (const auto& stage : stages) {
        SCOPED_TRACE(stage.what);
        sim().http().route(kScriptURL, SimResponse::ok(script));
        serveAd("<p>ad</p>", {{"X-Ruma-Refresh-Rate", "30"}});
        sim().http().routePrefix("http://127.0.0.1:8090/im/", SimResponse::ok("ok"));
        pageAnswers = true;
        stage.arrange();
        showAd();
        ASSERT_EQ(state(), stage.state);
        const size_t heard = delegate->received + delegate->failures.size(), requests = sim().http().requests().size();
        std::weak_ptr<ZELObjectPrivate> weakController = controller();
        dropBanner();
        sim().advance(200);
        EXPECT_TRUE(weakController.expired());
        EXPECT_EQ(delegate->received + delegate->failures.size(), heard);
        EXPECT_EQ(sim().http().requests().size(), requests);
        EXPECT_EQ(sim().http().inFlightCount(), 0u);
    }
}

// The controller stays for the rest of the callback in which the
// application lets its banner go, then goes.
TEST_F(BannerTest, ReleasedInsideEachDelegateCallback) {
    std::weak_ptr<ZELObjectPrivate> weakController;
    int aliveAfterRelease = 0;
    delegate->onReceive = delegate->onFailure = [&] {
        dropBanner();
        aliveAfterRelease += !weakController.expired();
    };
    // The first load has no stored script to fall back on.
    const std::function<void()> endings[] = {
        [&] { sim().http().route(kScriptURL, SimResponse::failure()); },
        [&] { sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}")); },
        [&] { sim().http().route(kAdURL, SimResponse::withStatus(500)); },
        [&] { sim().http().route(kAdURL, SimResponse::ok("  ")); },
        [&] { pageAnswer = "qmsg://nimbra/invalidRequest?reason=x"; },
    };
    for (const auto& ending : endings) {
        ending();
        makeBanner();
        weakController = banner->getPrivate();
        banner->loadRequest(ZELRequest::request());
        sim().advance(100);
        EXPECT_TRUE(weakController.expired());
    }
    EXPECT_EQ(delegate->received, 1);
    EXPECT_EQ(delegate->failures.size(), 4u);
    EXPECT_EQ(aliveAfterRelease, 5);
}

// Hidden, the banner asks for nothing more and counts no impression; seen
// again, it counts the ad it got meanwhile and reloads at once, its time
// having run out. Reloading while hidden keeps the server's plain schedule.
TEST_F(BannerTest, AHiddenBannerWaitsUntilItIsSeen) {
    const std::string impressions = "http://127.0.0.1:8090/im/";
    for (bool reloadsWhileHidden : {false, true}) {
        SCOPED_TRACE(reloadsWhileHidden);
        sim().http().clearRequests();
        makeBanner();
        banner->setReloadsWhileHidden(reloadsWhileHidden);
        sim().display().setMinimized(*window, true);
        loadAndSettle();
        sim().advance(100);
        const size_t ads = reloadsWhileHidden ? 4 : 1;  // every 30 s, or none
        EXPECT_EQ(sim().http().countOf(kAdURL), ads);
        EXPECT_EQ(sim().http().countOf(impressions), reloadsWhileHidden ? 2 * ads : 0);
        sim().display().setMinimized(*window, false);
        sim().runUntilIdle();
        EXPECT_EQ(sim().http().countOf(kAdURL), reloadsWhileHidden ? ads : ads + 1);
        EXPECT_EQ(sim().http().countOf(impressions), 2 * sim().http().countOf(kAdURL));
    }
}

// A load that could not reach the server is told as before, logged once with
// its cause (made fit for one line), and tried again after 5 s, then at once
// when the network comes back; an answer that was an error waits for the
// server's schedule.
TEST_F(BannerTest, AServerThatCannotBeReachedIsAskedAgain) {
    // logged: null when not retried
    // clang-format off
    const struct { const char* url; SimResponse answer; long code; const char* logged; } cases[] = {
        {kScriptURL, SimResponse::failure(platform::kURLErrorCannotConnectToHost, "refused\n<Nimbra> forged"), 2, "could not be reached (refused<Nimbra> forged); trying again in "},
        {kAdURL, SimResponse::failure(platform::kURLErrorTimedOut, "timed out"), 2, "(timed out)"},
        {kAdURL, SimResponse::failure(platform::kURLErrorCannotFindHost, "no such host"), 2, "(no such host)"},
        {kAdURL, SimResponse::withStatus(503), 3, nullptr},
        {kAdURL, SimResponse::failure(platform::kURLErrorBadServerResponse, "garbled"), 2, nullptr},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged ? c.logged : "not retried");
        dropBanner();
        sim().http().clearRequests();
        sim().clearLog();
        delegate->failures.clear();
        sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}"));
        sim().http().route(c.url, c.answer);
        sim().network().setFlags(0);
        showAd();
        auto asked = [&] { return sim().http().countOf(c.url); };
        sim().advance(4.9);
        EXPECT_EQ(asked(), 1u);
        sim().advance(0.2);
        EXPECT_EQ(asked(), c.logged ? 2u : 1u);
        sim().network().setFlags(platform::kReachabilityFlagReachable);
        sim().runUntilIdle();
        EXPECT_EQ(asked(), c.logged ? 3u : 1u);
        EXPECT_EQ(delegate->failures, std::vector<long>(asked(), c.code));
        size_t logged = 0;
        for (const auto& line : sim().logLines()) logged += c.logged && line.find(c.logged) != std::string::npos;
        EXPECT_EQ(logged, c.logged ? asked() : 0u);
    }
}
