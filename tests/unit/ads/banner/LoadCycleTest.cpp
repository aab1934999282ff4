// The banner's load cycle on the sim backend: states, failures, the stored
// support script and the hidden page's answers.

#include "unit/ads/banner/BannerFixture.h"

#include <filesystem>
#include <fstream>

#include "Statistics/ZELStatisticsCore.h"

using platform::sim::SimResponse;
using platform::sim::SimWebViewPeer;
using Codes = std::vector<long>;

// The wire requests, impressions and their order are the banner load test's
// on the real server; here the states on the way and what the load leaves.
TEST_F(BannerTest, SuccessfulLoadShowsTheAdReportsOnceAndLeavesNoHiddenPage) {
    sim().http().route(kAdURL, SimResponse::ok("<a href='http://127.0.0.1:8090/click?ai=tok'>ad</a>",
                                               {{"X-Ruma-Tracking-Urls", "http://127.0.0.1:8090/im/1 http://127.0.0.1:8090/im/2"}})
                                   .after(1));
    makeBanner();
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(state(), kZELStateFetchingSupportScript);
    sim().runUntilIdle();
    EXPECT_EQ(state(), kZELStateLoadingAd);
    banner->loadRequest(ZELRequest::request());  // in flight: dropped
    sim().advance(1);
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_EQ(delegate->received, 1);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    // The markup went into the banner's web view with the ad URL as base.
    auto* peer = SimWebViewPeer::of(*banner->webView());
    ASSERT_TRUE(peer && peer->lastLoad());
    EXPECT_EQ(peer->lastLoad()->baseURL->absoluteString(), kAdURL);
    EXPECT_EQ(controller()->buildAdWebView(), nullptr) << "the hidden page goes once it has answered";
    // The ad's own later loads are no second ad.
    peer->navigate("http://127.0.0.1:8090/inner", platform::NavigationType::Other);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 1);
}

TEST_F(BannerTest, StoredScriptIsUsedWhileFreshAndWhenTheServerFails) {
    makeBanner();
    loadAndSettle();
    sim().http().route(kScriptURL, SimResponse::failure());
    makeBanner();  // a new controller finds the script stored and fresh
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(state(), kZELStateBuildingAdURL);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kScriptURL), 1u);
    EXPECT_EQ(state(), kZELStateShown);
    // Expired, and the server unreachable: the stored copy still builds.
    ZELStatisticsCore store("ZELObjectPrivate");
    store.setDate(platform::Value(platform::Date::now().addingSeconds(-10)), "expireDate");
    store.synchronize();
    sim().advance(31);  // the reload timer fires
    sim().runUntilIdle();
    EXPECT_EQ(pagesBuilt, 3);
    EXPECT_EQ(delegate->received, 3);
    EXPECT_TRUE(delegate->failures.empty());
    // A failed fetch extends nothing: the next load asks the server again,
    // and only an answer makes the copy fresh.
    EXPECT_LT(*ZELStatisticsCore("ZELObjectPrivate").dateForKey("expireDate"), platform::Date::now());
    sim().http().route(kScriptURL, SimResponse::withStatus(304));
    sim().advance(31);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kScriptURL), 3u);
    EXPECT_GT(*ZELStatisticsCore("ZELObjectPrivate").dateForKey("expireDate"), platform::Date::now().addingSeconds(86000));
}

// Files of the old layout (a folder per host, 32-bit names that any URL of
// the host could take) are removed at the start; the script comes again once.
TEST_F(BannerTest, TheOldLayoutGoesAndTheScriptIsFetchedOnce) {
    const std::filesystem::path old = std::filesystem::path(*platform::Paths::current().cachesDirectory()) / "127.0.0.1";
    std::filesystem::create_directories(old);
    std::ofstream(old / "5d1a9c02") << "function RUMA_buildAdURL(p){}";
    ZELStatisticsCore store("ZELObjectPrivate");
    store.setDate(platform::Value(platform::Date::now().addingSeconds(3600)), "expireDate");
    store.synchronize();
    makeBanner();
    EXPECT_FALSE(std::filesystem::exists(old));
    loadAndSettle();
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(delegate->received, 2);
    EXPECT_EQ(sim().http().countOf(kScriptURL), 1u);
}

// A script that cannot be had, or an empty stored one, is a network error
// (state 2, which takes the next load), not a build and not a loop.
TEST_F(BannerTest, UnusableScriptGivesANetworkErrorAndTheNextLoadRuns) {
    for (const auto& answer : {SimResponse::failure(), SimResponse::ok("")}) {
        sim().http().route(kScriptURL, answer);
        ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
        delegate->failures.clear();
        makeBanner();
        loadAndSettle();
        sim().http().route(kScriptURL, SimResponse::failure());
        ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
        loadAndSettle();  // with the empty file stored, if any
        EXPECT_EQ(pagesBuilt, 0);
        EXPECT_EQ(delegate->failures, (Codes{ZELErrorNetworkError, ZELErrorNetworkError}));
        EXPECT_EQ(state(), kZELStateSupportScriptFailed);
    }
    sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}"));
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateShown);
}

// Every failure reaches the delegate once, ends in state 7 without the hidden
// page, and the next load runs. (A refused request, no fill, the script's
// refusals, a cut or silent server, a script that throws or never answers and
// a page that dies while it renders are the banner load and faults tests' on
// the real server.)
TEST_F(BannerTest, EachFailureIsReportedOnceThenTheNextLoadRuns) {
    const std::string goodAnswer = pageAnswer;
    auto ad = [&](SimResponse response) { return [&, response] { sim().http().route(kAdURL, response); }; };
    struct Case {
        std::function<void()> arrange;
        long code;
        double refresh = 0;  // kept for the next try
    } cases[] = {
        {ad(SimResponse::withStatus(404, "missing")), ZELErrorServerError},
        {ad(SimResponse::ok(" \n\t \r\n ", {{"X-Ruma-Refresh-Rate", "45"}})), ZELErrorNoAd, 45},  // blank
        {[&] { pageAnswer = "qmsg://nimbra/loadAdURL?url=not%20a%20url&type=pexmark"; }, ZELErrorNetworkError},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        c.arrange();
        delegate->failures.clear();
        makeBanner();
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateFailed);
        EXPECT_EQ(delegate->failures, Codes{c.code});
        EXPECT_EQ(controller()->buildAdWebView(), nullptr);
        if (c.refresh) { EXPECT_TRUE(controller()->isReloadTimerScheduled() && controller()->reloadSeconds() == c.refresh); }
        pageAnswer = goodAnswer;
        serveAd("<p>ad</p>", {});
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateShown);
        EXPECT_EQ(delegate->failures.size(), 1u);
    }
}

TEST_F(BannerTest, AdThatNeverFinishesLoadingFailsOnceAndTheReloadGoesOn) {
    // A resource that never comes keeps the page loading; the reload timer
    // fires meanwhile and finds the load in flight.
    sim().web().setAutoFinish(false);
    serveAd("<img src='http://127.0.0.1:8090/never'>", {{"X-Ruma-Refresh-Rate", "5"}});
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateRendering);
    sim().advance(ZELObjectPrivate::kRenderTimeout + 1);
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, Codes{ZELErrorNetworkError});
    EXPECT_FALSE(controller()->webView()->isLoading());
    sim().web().setAutoFinish(true);
    sim().advance(6);
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_EQ(delegate->received, 1);
    EXPECT_EQ(delegate->failures.size(), 1u);
}

TEST_F(BannerTest, NoRootViewControllerOrAnApplicationInTheBackgroundLoadsNothing) {
    banner = ZELBannerView::initWithFrame(platform::Rect(0, 0, 320, 50));
    banner->setDelegate(delegate);
    loadAndSettle();
    EXPECT_EQ(delegate->failures, Codes{ZELErrorInvalidRequest});
    EXPECT_TRUE(sim().logContains("<Nimbra> Must set the rootViewController property of ZELBannerView"));
    sim().application().postDidFinishLaunching();
    makeBanner();
    sim().application().setApplicationState(platform::ApplicationState::Background);
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateIdle);
    EXPECT_TRUE(sim().http().requests().empty());
    sim().application().setApplicationState(platform::ApplicationState::Active);
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateShown);
}
