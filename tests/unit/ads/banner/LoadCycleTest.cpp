// The banner's load cycle on the sim backend: the states of a load, its
// failures, and what it leaves. (The wire requests and their order are the
// banner load test's on the real server; a support script that cannot be had
// is the faults test's.)

#include "unit/ads/banner/BannerFixture.h"

using Codes = std::vector<long>;

// Once shown, the ad is its markup at its URL as base, the hidden page gone
// with its answer; the ad's own navigations are no second ad.
TEST_F(BannerTest, OneLoadAtATimeThroughItsStatesToTheAd) {
    sim().http().route(kAdURL, SimResponse::ok("<p>ad</p>").after(1));
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
    auto* ad = SimWebViewPeer::of(*banner->webView());
    EXPECT_EQ(ad->lastLoad()->baseURL->absoluteString(), kAdURL);
    EXPECT_EQ(controller()->buildAdWebView(), nullptr);
    ad->navigate("http://127.0.0.1:8090/inner", platform::NavigationType::Other);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 1);
}

// Every failure reaches the delegate once and ends the load in state 7,
// without the hidden page, so the next load runs. (The script's refusals, a
// cut or silent server, a script that throws or never answers and a page
// that dies while it renders are the banner load and faults tests' on the
// real server.)
TEST_F(BannerTest, EachFailureEndsTheLoadWithOneReport) {
    const std::string goodAnswer = pageAnswer;
    auto ad = [&](SimResponse response) { return [&, response] { sim().http().route(kAdURL, response); }; };
    // refresh: the server's rate, kept for the next try.
    // clang-format off
    struct Case { std::function<void()> arrange; long code; double refresh = 0; } cases[] = {
        {ad(SimResponse::withStatus(404, "missing")), ZELErrorServerError},
        {ad(SimResponse::ok(" \n\t \r\n ", {{"X-Ruma-Refresh-Rate", "45"}})), ZELErrorNoAd, 45},  // blank
        {[&] { pageAnswer = "qmsg://nimbra/loadAdURL?url=not%20a%20url&type=pexmark"; }, ZELErrorNetworkError},
    };
    // clang-format on
    for (auto& c : cases) {
        SCOPED_TRACE(c.code);
        c.arrange();
        delegate->failures.clear();
        showAd();
        EXPECT_EQ(state(), kZELStateFailed);
        EXPECT_EQ(delegate->failures, Codes{c.code});
        EXPECT_EQ(controller()->buildAdWebView(), nullptr);
        EXPECT_EQ(c.refresh ? controller()->reloadSeconds() : 0, c.refresh);
        pageAnswer = goodAnswer;
        serveAd("<p>ad</p>", {});
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateShown);
    }
}

// A resource that never comes keeps the page loading; the reload timer fires
// meanwhile and finds the load in flight. Given up once at its limit, the
// server's schedule goes on.
TEST_F(BannerTest, AStuckRenderIsGivenUpOnceAtItsLimit) {
    makeBanner();
    sim().runUntilIdle();  // the request page made ready has loaded
    sim().web().setAutoFinish(false);
    serveAd("<img src='http://127.0.0.1:8090/never'>", {{"X-Ruma-Refresh-Rate", "5"}});
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateRendering);
    sim().advance(ZELObjectPrivate::kRenderTimeout + 1);
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, Codes{ZELErrorNetworkError});
    EXPECT_FALSE(controller()->webView()->isLoading());
    sim().web().setAutoFinish(true);
    // The request page made ready after the failure began loading meanwhile.
    ASSERT_TRUE(sim().web().findByHTML("<script>function RUMA_buildAdURL(p){}</script></head>")->finishLoad());
    sim().advance(6);
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_EQ(delegate->failures.size(), 1u);
}

TEST_F(BannerTest, WithoutARootViewControllerNothingLoads) {
    banner = ZELBannerView::initWithFrame(platform::Rect(0, 0, 320, 50));
    banner->setDelegate(delegate);
    loadAndSettle();
    EXPECT_EQ(delegate->failures, Codes{ZELErrorInvalidRequest});
    EXPECT_TRUE(sim().logContains("<Nimbra> Must set the rootViewController property of ZELBannerView"));
    EXPECT_TRUE(sim().http().requests().empty());
}

// Once the launch is over; during it the application counts as active.
TEST_F(BannerTest, NothingLoadsWhileTheApplicationIsInTheBackground) {
    sim().application().postDidFinishLaunching();
    makeBanner();
    sim().application().setApplicationState(platform::ApplicationState::Background);
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateIdle);
    EXPECT_TRUE(sim().http().requests().empty());
}
