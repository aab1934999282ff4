// The banner's load cycle on the sim backend: states, failures, the stored
// support script, the hidden page's answers and the parameters it receives.

#include "unit/ads/banner/BannerFixture.h"

#include "Statistics/ZELStatisticsCore.h"
#include "platform/NotificationCenter.h"

using platform::sim::SimResponse;

namespace {
std::string escaped(const std::string& url) {
    std::string out;
    for (char c : url) {
        if (isalnum(static_cast<unsigned char>(c))) {
            out += c;
        } else {
            char buf[4];
            snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            out += buf;
        }
    }
    return out;
}
}  // namespace

TEST_F(BannerTest, SuccessfulLoadShowsTheAdReportsOnceAndTracksImpressions) {
    makeBanner();
    std::vector<int> states;
    banner->loadRequest(ZELRequest::request());
    states.push_back(state());
    sim().runUntilIdle();

    EXPECT_EQ(states.front(), kZELStateFetchingSupportScript);
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_EQ(delegate->received, 1);
    EXPECT_TRUE(delegate->failures.empty());
    EXPECT_FALSE(banner->webView()->isHidden());
    EXPECT_EQ(sim().http().countOf(kScriptURL), 1u);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    EXPECT_EQ(sim().http().countOf("http://127.0.0.1:8090/im/"), 2u);
    // The markup went into the banner's web view with the ad URL as base.
    auto* peer = platform::sim::SimWebViewPeer::of(*banner->webView());
    ASSERT_TRUE(peer && peer->lastLoad());
    EXPECT_NE(peer->lastHTML()->find("click?ai=tok"), std::string::npos);
    EXPECT_EQ(peer->lastLoad()->baseURL->absoluteString(), kAdURL);
    // The hidden page is gone once it has answered.
    EXPECT_EQ(controller()->buildAdWebView(), nullptr);
}

TEST_F(BannerTest, SecondLoadWhileOneIsInFlightIsDropped) {
    makeBanner();
    banner->loadRequest(ZELRequest::request());
    banner->loadRequest(ZELRequest::request());
    sim().runUntilIdle();
    EXPECT_EQ(pagesBuilt, 1);
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    EXPECT_EQ(delegate->received, 1);
}

TEST_F(BannerTest, FreshStoredScriptIsUsedWithoutNetwork) {
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateShown);
    sim().http().clearRequests();
    sim().http().route(kScriptURL, SimResponse::failure());

    // A second banner (a new controller) finds the script stored and fresh.
    auto first = banner;
    makeBanner();
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(state(), kZELStateBuildingAdURL);  // straight to building, no fetch
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kScriptURL), 0u);
    EXPECT_EQ(state(), kZELStateShown);
}

TEST_F(BannerTest, FailedScriptDownloadWithStoredCopyStillBuilds) {
    makeBanner();
    loadAndSettle();
    // Expire the stored script, then make the server unreachable.
    ZELStatisticsCore store("ZELObjectPrivate");
    store.setDate(platform::Value(platform::Date::now().addingSeconds(-10)), "expireDate");
    store.synchronize();
    sim().http().route(kScriptURL, SimResponse::failure());
    sim().advance(31);  // the reload timer fires
    sim().runUntilIdle();
    EXPECT_EQ(pagesBuilt, 2);
    EXPECT_EQ(delegate->received, 2);
    EXPECT_TRUE(delegate->failures.empty());
}

TEST_F(BannerTest, MissingScriptGivesNetworkErrorAndStateTwo) {
    sim().http().route(kScriptURL, SimResponse::failure());
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateSupportScriptFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
    EXPECT_EQ(pagesBuilt, 0);
    // State 2 accepts the next load.
    sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}"));
    ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateShown);
}

TEST_F(BannerTest, EmptyStoredScriptIsNotUsedAndDoesNotLoopForever) {
    sim().http().route(kScriptURL, SimResponse::ok(""));
    makeBanner();
    loadAndSettle();
    // An empty script is written, but the component must not build from it.
    sim().http().route(kScriptURL, SimResponse::failure());
    ZELStatisticsCore("ZELObjectPrivate").removeObjectForKey("expireDate");
    delegate->failures.clear();
    loadAndSettle();
    EXPECT_EQ(pagesBuilt, 0);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
}

TEST_F(BannerTest, HiddenPageReceivesFrameBoundsSlotAndRequestParameters) {
    makeBanner();
    loadAndSettle();
    ASSERT_TRUE(lastParameters.is_object());
    EXPECT_EQ(lastParameters["slotname"], kAdUnit);
    EXPECT_EQ(lastParameters["ad_frame"]["x"].get<double>(), 0.0);
    EXPECT_EQ(lastParameters["ad_frame"]["y"].get<double>(), 361.0);
    EXPECT_EQ(lastParameters["ad_frame"]["w"].get<double>(), 320.0);
    EXPECT_EQ(lastParameters["ad_frame"]["h"].get<double>(), 50.0);
    EXPECT_EQ(lastParameters["ad_bounds"]["x"].get<double>(), 0.0);
    EXPECT_EQ(lastParameters["ad_bounds"]["y"].get<double>(), 0.0);
    EXPECT_EQ(lastParameters["ad_bounds"]["w"].get<double>(), 320.0);
    EXPECT_EQ(lastParameters["ad_bounds"]["h"].get<double>(), 50.0);
    EXPECT_EQ(lastParameters["preqs"], 1);
    EXPECT_TRUE(lastParameters.contains("js"));
    EXPECT_TRUE(lastParameters.contains("session_id"));
}

TEST_F(BannerTest, KeywordsCannotCloseTheScriptElement) {
    makeBanner();
    auto request = ZELRequest::request();
    request->addKeyword("</script><script>alert(1)");
    banner->loadRequest(request);
    sim().runUntilIdle();
    ASSERT_TRUE(lastParameters.is_object()) << "the JSON argument was cut short";
    EXPECT_EQ(lastParameters["kw"][0], "</script><script>alert(1)");
}

TEST_F(BannerTest, BlankMarkupIsNoAdWithTheTimerStillScheduled) {
    serveAd(" \n\t \r\n ", {{"X-Ruma-Refresh-Rate", "45"}});
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNoAd});
    EXPECT_TRUE(controller()->isReloadTimerScheduled());
    EXPECT_EQ(controller()->reloadSeconds(), 45);
    sim().advance(45);
    sim().runUntilIdle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 2u);
}

TEST_F(BannerTest, MarkupStatusMapsToErrorCodes) {
    struct Case {
        SimResponse response;
        long code;
        bool logsRejection;
    } cases[] = {
        {SimResponse::withStatus(400, "bad"), ZELErrorInvalidRequest, true},
        {SimResponse::withStatus(404, "missing"), ZELErrorServerError, false},
        {SimResponse::withStatus(500, "oops"), ZELErrorServerError, false},
        {SimResponse::failure(), ZELErrorNetworkError, false},
    };
    for (auto& c : cases) {
        sim().clearLog();
        sim().http().route(kAdURL, c.response);
        delegate->failures.clear();
        makeBanner();
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateFailed);
        EXPECT_EQ(delegate->failures, std::vector<long>{c.code});
        EXPECT_EQ(sim().logContains("Server rejected ad parameters.  Typically"), c.logsRejection);
    }
}

TEST_F(BannerTest, HeadersOnRedirectAndFinalAnswerAccumulate) {
    sim().http().route(kAdURL, [](const platform::URLRequest&) {
        auto r = SimResponse::redirect("http://127.0.0.1:8090/final");
        r.headers["X-Ruma-Tracking-Urls"] = "http://127.0.0.1:8090/im/redirect";
        return r;
    });
    sim().http().route("http://127.0.0.1:8090/final",
                       SimResponse::ok("<p>ad</p>", {{"X-Ruma-Tracking-Urls", "http://127.0.0.1:8090/im/final %% http://127.0.0.1:8090/im/third"},
                                                     {"X-Ruma-Click-Tracking-Urls", "http://127.0.0.1:8090/ct/abcd1"},
                                                     {"X-Ruma-Orientation", "landscape"}}));
    makeBanner();
    banner->loadRequest(ZELRequest::request());
    sim().web().setAutoFinish(false);
    sim().runUntilIdle();
    auto pending = controller()->pendingTrackingURLs();
    ASSERT_EQ(pending.size(), 3u);  // the piece that is no URL is skipped
    EXPECT_EQ(pending[0].absoluteString(), "http://127.0.0.1:8090/im/redirect");
    EXPECT_EQ(pending[1].absoluteString(), "http://127.0.0.1:8090/im/final");
    EXPECT_EQ(pending[2].absoluteString(), "http://127.0.0.1:8090/im/third");
    EXPECT_EQ(controller()->pendingClickURLs().size(), 1u);
    EXPECT_EQ(controller()->supportedOrientations(), 3);
    EXPECT_EQ(controller()->adHTMLBaseURL()->absoluteString(), "http://127.0.0.1:8090/final");
}

TEST_F(BannerTest, ScriptErrorsEndInStateSevenAndTheNextLoadRuns) {
    const char* answers[] = {"qmsg://nimbra/loadAdURL?errors=missing%20slot", "qmsg://nimbra/invalidRequest?reason=x",
                             "qmsg://nimbra/unableToServe?reason=y"};
    for (const char* answer : answers) {
        pageAnswer = answer;
        delegate->failures.clear();
        makeBanner();
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateFailed) << answer;
        EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorInvalidRequest}) << answer;
        EXPECT_EQ(controller()->buildAdWebView(), nullptr);
        pageAnswer = std::string("qmsg://nimbra/loadAdURL?url=") + escaped(kAdURL) + "&type=pexmark";
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateShown) << answer;
    }
    EXPECT_TRUE(sim().logContains("<Nimbra> Invalid Request: "));
    EXPECT_TRUE(sim().logContains("<Nimbra> Unable to serve: "));
}

TEST_F(BannerTest, ScriptThatNeverAnswersTimesOutAndFrees) {
    pageAnswers = false;
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateBuildingAdURL);
    sim().advance(ZELObjectPrivate::kBuildAdURLTimeout + 1);
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorTimeout});
    EXPECT_EQ(controller()->buildAdWebView(), nullptr);
}

TEST_F(BannerTest, ScriptAnsweringTwiceLoadsOnce) {
    makeBanner();
    sim().web().setPageBehaviour([this](platform::sim::SimWebViewPeer& peer, const platform::sim::SimWebLoad& load) {
        if (load.html.find("RUMA_buildAdURL(") == std::string::npos) return;
        peer.navigate(pageAnswer, platform::NavigationType::Other);
        peer.navigate(pageAnswer, platform::NavigationType::Other);
        peer.navigate("qmsg://nimbra/unknownMessage?x=1", platform::NavigationType::Other);
    });
    loadAndSettle();
    EXPECT_EQ(sim().http().countOf(kAdURL), 1u);
    EXPECT_EQ(delegate->received, 1);
    EXPECT_TRUE(delegate->failures.empty());
}

TEST_F(BannerTest, UnusableAdURLIsANetworkError) {
    pageAnswer = "qmsg://nimbra/loadAdURL?url=not%20a%20url&type=pexmark";
    makeBanner();
    loadAndSettle();
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
}

TEST_F(BannerTest, MarkupThatFailsToRenderIsANetworkError) {
    makeBanner();
    sim().web().setAutoFinish(false);
    banner->loadRequest(ZELRequest::request());
    sim().runUntilIdle();
    ASSERT_EQ(state(), kZELStateRendering);
    platform::sim::SimWebViewPeer::of(*banner->webView())->failLoad(platform::Error{"x", -1, "broken"});
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
}

TEST_F(BannerTest, SecondFinishedLoadSendsNoSecondReceive) {
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(delegate->received, 1);
    auto* peer = platform::sim::SimWebViewPeer::of(*banner->webView());
    peer->navigate("http://127.0.0.1:8090/inner", platform::NavigationType::Other);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->received, 1);
    EXPECT_EQ(state(), kZELStateShown);
}

TEST_F(BannerTest, MissingRootViewControllerIsReportedAndLogged) {
    banner = ZELBannerView::initWithFrame(platform::Rect(0, 0, 320, 50));
    banner->setDelegate(delegate);
    banner->loadRequest(ZELRequest::request());
    sim().runUntilIdle();
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorInvalidRequest});
    EXPECT_TRUE(sim().logContains("<Nimbra> Must set the rootViewController property of ZELBannerView"));
    EXPECT_EQ(sim().http().requests().size(), 0u);
}

TEST_F(BannerTest, BannerMadeWithInitHasEmptyFrames) {
    banner = ZELBannerView::init();
    EXPECT_EQ(banner->frame(), platform::Rect());
    EXPECT_EQ(banner->webView()->frame().size, platform::Size());
}

TEST_F(BannerTest, NoLoadWhileInBackground) {
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

// The engine process behind the pages can end at any moment (a crash, the
// system killing it): each time the load ends with one network error and the
// next load works again.
TEST_F(BannerTest, EndedPageProcessFailsTheLoadOnceAndTheNextLoadWorks) {
    auto settleAgain = [this] {
        sim().web().setAutoFinish(true);
        pageAnswers = true;
        delegate->failures.clear();
        loadAndSettle();
        EXPECT_EQ(state(), kZELStateShown);
        EXPECT_FALSE(banner->webView()->isHidden());
    };
    makeBanner();
    loadAndSettle();
    ASSERT_EQ(state(), kZELStateShown);

    // While the ad is shown.
    platform::sim::SimWebViewPeer::of(*banner->webView())->endProcess();
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
    EXPECT_TRUE(banner->webView()->isHidden());
    EXPECT_TRUE(controller()->isReloadTimerScheduled());
    settleAgain();

    // While the markup renders.
    sim().web().setAutoFinish(false);
    banner->loadRequest(ZELRequest::request());
    sim().runUntilIdle();
    ASSERT_EQ(state(), kZELStateRendering);
    platform::sim::SimWebViewPeer::of(*banner->webView())->endProcess();
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
    settleAgain();

    // While the hidden page builds the request: no wait for the time limit.
    ZELPreparedBuildPage::discard();
    pageAnswers = false;
    banner->loadRequest(ZELRequest::request());
    sim().runUntilIdle();
    ASSERT_EQ(state(), kZELStateBuildingAdURL);
    platform::sim::SimWebViewPeer::of(*controller()->buildAdWebView())->endProcess();
    EXPECT_EQ(state(), kZELStateFailed);
    EXPECT_EQ(delegate->failures, std::vector<long>{ZELErrorNetworkError});
    EXPECT_EQ(controller()->buildAdWebView(), nullptr);
    sim().advance(ZELObjectPrivate::kBuildAdURLTimeout + 1);
    EXPECT_EQ(delegate->failures.size(), 1u);
    settleAgain();

    // The page made ready ahead: dropped, and the next load builds its own.
    auto ready = ZELPreparedBuildPage::readyWebView();
    ASSERT_TRUE(ready);
    platform::sim::SimWebViewPeer::of(*ready)->endProcess();
    EXPECT_FALSE(ZELPreparedBuildPage::hasPreparedPage());
    ready.reset();
    settleAgain();
    EXPECT_TRUE(delegate->failures.empty());
}
