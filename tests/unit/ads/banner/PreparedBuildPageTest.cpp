// The page made ready after a load: the next load of any banner calls the
// entry point in it instead of loading a page of its own, each page serves one
// request, and every way it can be unusable falls back to a fresh page.

#include "unit/ads/banner/BannerFixture.h"

#include "Statistics/ZELStatisticsCore.h"

namespace {

constexpr const char* kScript = "function RUMA_buildAdURL(p){}";

// A page holding the script alone, without the call.
SimWebViewPeer* preparedPeer(platform::sim::SimBackend& sim, const std::string& script = kScript) {
    return sim.web().findByHTML("<script>" + script + "</script></head>");
}

int callsEvaluatedIn(const SimWebViewPeer& peer) {
    return int(
        std::ranges::count_if(peer.scripts(), [](const std::string& s) { return s.starts_with("RUMA_buildAdURL("); }));
}

std::weak_ptr<platform::View> viewOf(SimWebViewPeer* peer) { return peer->view().weak_from_this(); }

}  // namespace

class PreparedPageTest : public BannerTest {
protected:
    // The next run of the program, which finds the script stored.
    void restart() {
        dropBanner();
        sim().runUntilIdle();
        ZELObjectPrivate::resetProcessState();
    }
    void reload() {
        sim().advance(31);
        sim().runUntilIdle();
    }
    // After a shown ad, a page made ready whose load has not finished (its
    // view held, so the peer stays for the test to drive).
    SimWebViewPeer* shownAdThenAPageStillLoading() {
        showAd();
        ZELPreparedBuildPage::discard();
        sim().web().setAutoFinish(false);
        ZELPreparedBuildPage::prepare(kScript, *platform::URL::parse("http://127.0.0.1:8090/"));
        // The load starts on the next turn: it must start while loads do not
        // finish by themselves, or the page is ready by the reload.
        sim().runUntilIdle();
        SimWebViewPeer* loading = preparedPeer(sim());
        held_ = viewOf(loading).lock();
        return loading;
    }
    void TearDown() override {
        held_.reset();
        BannerTest::TearDown();
    }
    std::shared_ptr<platform::View> held_;
};

// Waiting for it costs less than a page of its own.
TEST_F(PreparedPageTest, APageStillLoadingRunsTheCallOnceLoaded) {
    SimWebViewPeer* loading = shownAdThenAPageStillLoading();
    ASSERT_TRUE(loading->view().isLoading());
    EXPECT_EQ(ZELPreparedBuildPage::readyWebView(), nullptr);
    const int calls = callsEvaluated;
    reload();
    EXPECT_EQ(std::pair(callsEvaluated, pagesBuilt), std::pair(calls, 1)) << "no call before the page has loaded";
    sim().web().setAutoFinish(true);
    ASSERT_TRUE(loading->finishLoad());
    sim().runUntilIdle();
    EXPECT_EQ(std::pair(callsEvaluated, delegate->received), std::pair(calls + 1, 2));
}

TEST_F(PreparedPageTest, APageLostBeforeItLoadedGivesWayToAFreshPage) {
    SimWebViewPeer* loading = shownAdThenAPageStillLoading();
    reload();
    sim().web().setAutoFinish(true);
    ASSERT_TRUE(loading->failLoad(platform::Error{"WebKitNetworkError", 302, "lost"}));
    sim().runUntilIdle();
    EXPECT_EQ(std::pair(delegate->received, pagesBuilt), std::pair(2, 2)) << "the fresh page's inline call";
    EXPECT_TRUE(delegate->failures.empty());
}

// Once loaded, the page runs the script: losing it then ends the load at once.
TEST_F(PreparedPageTest, APageLostAfterItLoadedFailsTheLoad) {
    SimWebViewPeer* loading = shownAdThenAPageStillLoading();
    pageAnswers = false;
    reload();
    ASSERT_TRUE(loading->finishLoad());
    sim().runUntilIdle();
    loading->endProcess();
    sim().runUntilIdle();
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
    EXPECT_EQ(pagesBuilt, 2) << "no fresh page after the call ran";
}

// The first load of a process finds no script stored: a page without one
// loads while the script downloads and runs it when it comes, then the call.
TEST_F(PreparedPageTest, TheFirstLoadRunsTheScriptInABlankPageMadeReady) {
    makeBanner();
    sim().runUntilIdle();
    SimWebViewPeer* blank = preparedPeer(sim(), "");
    ASSERT_TRUE(blank);
    const auto held = viewOf(blank).lock();  // the peer lives with its view
    EXPECT_TRUE(sim().http().requests().empty()) << "nothing asked before the load";
    loadAndSettle();
    const auto& scripts = blank->scripts();
    ASSERT_GE(scripts.size(), 2u);
    EXPECT_EQ(scripts[scripts.size() - 2], kScript) << "the script, then the call";
    EXPECT_TRUE(scripts.back().starts_with("RUMA_buildAdURL({"));
    EXPECT_EQ(std::pair(callsEvaluated, state()), std::pair(1, kZELStateShown));
}

TEST_F(PreparedPageTest, APageForAnotherScriptIsNotUsed) {
    showAd();
    const auto old = viewOf(preparedPeer(sim()));
    const std::string newScript = "function RUMA_buildAdURL(p){ /* v2 */ }";
    sim().http().route(kScriptURL, SimResponse::ok(newScript));
    ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
    const int calls = callsEvaluated;
    reload();
    EXPECT_EQ(callsEvaluated, calls);
    EXPECT_TRUE(old.expired()) << "the page for the old script was kept";
    EXPECT_EQ(callsEvaluatedIn(*preparedPeer(sim(), newScript)), 0) << "the next page is for the new script";
}

TEST_F(PreparedPageTest, TheEngineStartsOncePerProcessForOutsideContent) {
    makeBanner();
    makeBanner();
    EXPECT_EQ(sim().web().prewarms(), 1);
    EXPECT_EQ(sim().web().lastPrewarm(), platform::WebContent::Outside);
}

// Read from the disk only: nothing goes to the server before a load asks.
TEST_F(PreparedPageTest, AStoredScriptsPageIsMadeReadyWithoutTheServer) {
    makeBanner();
    sim().runUntilIdle();
    EXPECT_TRUE(preparedPeer(sim(), "")) << "nothing stored yet: a blank page";
    loadAndSettle();
    restart();
    const size_t requests = sim().http().requests().size();
    makeBanner();
    sim().runUntilIdle();
    ASSERT_TRUE(preparedPeer(sim()));
    EXPECT_EQ(preparedPeer(sim())->lastLoad()->baseURL->absoluteString(), "http://127.0.0.1:8090/");
    EXPECT_EQ(preparedPeer(sim())->view().content(), platform::WebContent::Outside) << "the script is outside code";
    EXPECT_EQ(sim().http().requests().size(), requests);
}

// Each page serves one request: nothing a script keeps reaches the next one.
TEST_F(PreparedPageTest, TheNextLoadRunsInThePageMadeReadyThenLetsItGo) {
    showAd();
    const auto prepared = viewOf(preparedPeer(sim()));
    const int calls = callsEvaluated;
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(std::static_pointer_cast<platform::View>(controller()->buildAdWebView()), prepared.lock());
    sim().runUntilIdle();
    EXPECT_EQ(std::pair(callsEvaluated, state()), std::pair(calls + 1, kZELStateShown));
    EXPECT_TRUE(prepared.expired());
    EXPECT_EQ(callsEvaluatedIn(*preparedPeer(sim())), 0) << "a new page waits";
}

// As when the page's process has ended since it was made ready.
TEST_F(PreparedPageTest, APageThatCannotRunTheCallGivesWayToAFreshPage) {
    showAd();
    sim().web().setScriptBehaviour(nullptr);
    sim().web().setScriptResponder([](const std::string& script) -> std::optional<std::string> {
        if (script.rfind("RUMA_buildAdURL(", 0) == 0) return std::nullopt;
        return std::string();
    });
    reload();
    EXPECT_EQ(delegate->received, 2);
    EXPECT_EQ(pagesBuilt, 2);  // the fresh page's inline call
}

// One banner gets the page made ready, the other builds its own.
TEST_F(PreparedPageTest, TwoBannersShareOnePreparedPage) {
    showAd();
    auto first = banner;
    const auto prepared = viewOf(preparedPeer(sim()));
    makeBanner();
    first->loadRequest(ZELRequest::request());
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(std::static_pointer_cast<platform::View>(first->getPrivate()->buildAdWebView()), prepared.lock());
    const auto second = std::static_pointer_cast<platform::View>(controller()->buildAdWebView());
    EXPECT_NE(second, prepared.lock());
    sim().runUntilIdle();
    EXPECT_EQ(std::tuple(first->getPrivate()->state(), state()), std::tuple(kZELStateShown, kZELStateShown));
}

TEST_F(PreparedPageTest, ThePreparedPageGoesWithTheLastBanner) {
    makeBanner();
    auto first = banner;
    showAd();
    const auto page = viewOf(preparedPeer(sim()));
    first.reset();
    sim().runUntilIdle();
    EXPECT_TRUE(ZELPreparedBuildPage::hasPreparedPage()) << "one banner is still there";
    dropBanner();
    EXPECT_FALSE(ZELPreparedBuildPage::hasPreparedPage());
    sim().runUntilIdle();
    EXPECT_TRUE(page.expired());
}
