// The banner's load cycle on the sim backend: the states of a load, its
// failures, and what it leaves. (The wire requests and their order are the
// banner load test's on the real server; a support script that cannot be had
// is the faults test's.)

#include "unit/ads/banner/BannerFixture.h"

#include <filesystem>
#include <fstream>

using Codes = std::vector<long>;

TEST_F(BannerTest, OneLoadAtATimeThroughItsStates) {
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
}

TEST_F(BannerTest, MarkupIsShownWithItsURLAsBase) {
    showAd();
    EXPECT_EQ(SimWebViewPeer::of(*banner->webView())->lastLoad()->baseURL->absoluteString(), kAdURL);
}

TEST_F(BannerTest, HiddenPageGoesWithItsAnswer) {
    showAd();
    EXPECT_EQ(controller()->buildAdWebView(), nullptr);
}

TEST_F(BannerTest, TheAdsOwnNavigationsAreNoSecondAd) {
    showAd();
    SimWebViewPeer::of(*banner->webView())->navigate("http://127.0.0.1:8090/inner", platform::NavigationType::Other);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 1);
}

// Files of the old layout (a folder per host, 32-bit names that any URL of
// the host could take) are removed when the process's first banner is made.
TEST_F(BannerTest, FirstBannerRemovesTheOldLayout) {
    const auto old = std::filesystem::path(*platform::Paths::current().cachesDirectory()) / "127.0.0.1";
    std::filesystem::create_directories(old);
    std::ofstream(old / "5d1a9c02") << "function RUMA_buildAdURL(p){}";
    makeBanner();
    EXPECT_FALSE(std::filesystem::exists(old));
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

class StuckRenderTest : public BannerTest {
protected:
    // A resource that never comes keeps the page loading; the reload timer
    // fires meanwhile and finds the load in flight.
    void renderUntilTheLimit() {
        makeBanner();
        sim().runUntilIdle();  // the request page made ready has loaded
        sim().web().setAutoFinish(false);
        serveAd("<img src='http://127.0.0.1:8090/never'>", {{"X-Ruma-Refresh-Rate", "5"}});
        loadAndSettle();
        ASSERT_EQ(state(), kZELStateRendering);
        sim().advance(ZELObjectPrivate::kRenderTimeout + 1);
    }
};

TEST_F(StuckRenderTest, IsGivenUpOnceAtItsLimit) {
    renderUntilTheLimit();
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, Codes{ZELErrorNetworkError});
    EXPECT_FALSE(controller()->webView()->isLoading());
}

TEST_F(StuckRenderTest, LeavesTheServersScheduleRunning) {
    renderUntilTheLimit();
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
