// The page made ready after a load: the next load of any banner calls the
// entry point in it instead of loading a page of its own, each page serves one
// request, and every way it can be unusable falls back to a fresh page.

#include "unit/ads/banner/BannerFixture.h"

#include "Statistics/ZELStatisticsCore.h"

using platform::sim::SimResponse;
using platform::sim::SimWebViewPeer;

namespace {

constexpr const char* kScript = "function RUMA_buildAdURL(p){}";

// A page holding the script alone, without the call.
SimWebViewPeer* preparedPeer(platform::sim::SimBackend& sim, const std::string& script = kScript) {
    return sim.web().findByHTML("<script>" + script + "</script></head>");
}

int callsEvaluatedIn(const SimWebViewPeer& peer) {
    int n = 0;
    for (const auto& s : peer.scripts()) n += s.rfind("RUMA_buildAdURL(", 0) == 0;
    return n;
}

}  // namespace

TEST_F(BannerTest, PreparedPageIsUsedOnlyLoadedAndForTheSameScript) {
    makeBanner();
    loadAndSettle();
    ASSERT_TRUE(ZELPreparedBuildPage::hasPreparedPage());

    // Still loading: the load builds its own page and leaves this one be.
    ZELPreparedBuildPage::discard();
    sim().web().setAutoFinish(false);
    ZELPreparedBuildPage::prepare(kScript, *platform::URL::parse("http://127.0.0.1:8090/"));
    // The load starts on the next turn: it must start while loads do not
    // finish by themselves, or the page is ready by the reload.
    sim().runUntilIdle();
    ASSERT_TRUE(preparedPeer(sim()) && preparedPeer(sim())->view().isLoading());
    // Held weakly: whether the page lives on is what is checked.
    const std::weak_ptr<platform::View> loading = preparedPeer(sim())->view().weak_from_this();
    EXPECT_EQ(ZELPreparedBuildPage::readyWebView(), nullptr);
    sim().web().setAutoFinish(true);
    sim().advance(31);  // the reload
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 2);
    ASSERT_FALSE(loading.expired()) << "the loading page was used or dropped";
    SimWebViewPeer* prepared = preparedPeer(sim());
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->view().content(), platform::WebContent::Outside) << "the support script is outside code";
    EXPECT_EQ(&prepared->view(), loading.lock().get());
    EXPECT_EQ(callsEvaluatedIn(*prepared), 0);

    // A new script: the page made for the old one is not used, and the next
    // page is made for the new one.
    prepared->finishLoad();
    const std::string newScript = "function RUMA_buildAdURL(p){ /* v2 */ }";
    sim().http().route(kScriptURL, SimResponse::ok(newScript));
    ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
    sim().advance(31);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 3);
    EXPECT_EQ(pagesBuilt, 3);
    EXPECT_TRUE(loading.expired()) << "the old page was kept";
    ASSERT_TRUE(preparedPeer(sim(), newScript));
    EXPECT_EQ(callsEvaluatedIn(*preparedPeer(sim(), newScript)), 0);
}

// The next load of any banner calls the entry point in the page made ready
// instead of loading one of its own.
TEST_F(BannerTest, FirstBannerOfAProcessStartsTheEngineAndPreparesAStoredScriptsPage) {
    // Nothing stored: the engine starts (ads' own), no page, nothing asked of the server.
    makeBanner();
    EXPECT_EQ(sim().web().prewarms(), 1);
    EXPECT_EQ(sim().web().lastPrewarm(), platform::WebContent::Outside);
    EXPECT_FALSE(ZELPreparedBuildPage::hasPreparedPage());
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateShown);

    // The next run of the program finds the script stored.
    banner.reset();
    sim().runUntilIdle();
    ZELObjectPrivate::resetProcessState();
    const size_t requestsBefore = sim().http().requests().size();
    makeBanner();
    makeBanner();
    EXPECT_EQ(sim().web().prewarms(), 2) << "once per process";
    sim().runUntilIdle();
    SimWebViewPeer* prepared = preparedPeer(sim());
    ASSERT_TRUE(prepared);
    EXPECT_EQ(prepared->lastLoad()->baseURL->absoluteString(), "http://127.0.0.1:8090/");
    EXPECT_EQ(sim().http().requests().size(), requestsBefore);
    std::weak_ptr<platform::View> preparedView = prepared->view().weak_from_this();
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(std::static_pointer_cast<platform::View>(controller()->buildAdWebView()), preparedView.lock());
    sim().runUntilIdle();
    EXPECT_EQ(state(), kZELStateShown);
    // The used page is gone, not kept for another request; a new one waits.
    EXPECT_TRUE(preparedView.expired());
    ASSERT_TRUE(preparedPeer(sim()));
    EXPECT_EQ(callsEvaluatedIn(*preparedPeer(sim())), 0);
}

// Also what a load meets when the page's process has ended since it was made
// ready.
TEST_F(BannerTest, PreparedPageThatCannotRunTheCallFallsBackToAFreshPage) {
    makeBanner();
    loadAndSettle();
    ASSERT_TRUE(preparedPeer(sim()));
    // The page's process is gone: the call is not run and reports no result.
    sim().web().setScriptBehaviour(nullptr);
    sim().web().setScriptResponder([](const std::string& script) -> std::optional<std::string> {
        if (script.rfind("RUMA_buildAdURL(", 0) == 0) return std::nullopt;
        return std::string();
    });
    sim().advance(31);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 2);
    EXPECT_EQ(pagesBuilt, 2);  // the fresh page's inline call
}

// One banner gets the page made ready, the other builds its own; the page
// goes with the last banner.
TEST_F(BannerTest, TwoBannersShareOnePreparedPageThatGoesWithTheLastOfThem) {
    makeBanner();
    loadAndSettle();
    auto first = banner;
    ASSERT_TRUE(preparedPeer(sim()));
    auto preparedView = preparedPeer(sim())->view().weak_from_this().lock();
    makeBanner();
    first->loadRequest(ZELRequest::request());
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(std::static_pointer_cast<platform::View>(first->getPrivate()->buildAdWebView()), preparedView);
    auto secondPage = std::static_pointer_cast<platform::View>(controller()->buildAdWebView());
    EXPECT_TRUE(secondPage && secondPage != preparedView);
    secondPage.reset();
    preparedView.reset();
    sim().runUntilIdle();
    EXPECT_EQ(std::tuple(pagesBuilt, delegate->received, first->getPrivate()->state(), state()),
              std::tuple(3, 3, kZELStateShown, kZELStateShown));
    ASSERT_TRUE(ZELPreparedBuildPage::hasPreparedPage());
    std::weak_ptr<platform::View> page = preparedPeer(sim())->view().weak_from_this();
    first.reset();
    sim().runUntilIdle();
    EXPECT_TRUE(ZELPreparedBuildPage::hasPreparedPage()) << "one banner is still there";
    banner.reset();
    EXPECT_FALSE(ZELPreparedBuildPage::hasPreparedPage());
    sim().runUntilIdle();
    EXPECT_TRUE(page.expired());
}
