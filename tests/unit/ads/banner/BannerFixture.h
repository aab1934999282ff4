#pragma once
// A banner on the sim backend with a scripted static server, ad server and
// request-building page.

#include "Delegate/ZELBannerViewDelegate.h"
#include "Object/ZELObjectPrivate.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Request/ZELRequest.h"
#include "Request/ZELRequestError.h"
#include "Statistics/ZELStatistics.h"
#include "View/ZELBannerView.h"
#include "WebView/ZELWebView.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "unit/support/SimTest.h"

using platform::sim::SimResponse;
using platform::sim::SimWebViewPeer;

class RecordingBannerDelegate : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        ++received;
        if (onReceive) onReceive();
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        failures.push_back(error.code);
        if (onFailure) onFailure();
    }
    int received = 0;
    std::vector<long> failures;
    std::function<void()> onReceive;
    std::function<void()> onFailure;
};

class BannerTest : public SimTest {
protected:
    static constexpr const char* kScriptURL = "http://127.0.0.1:8090/ruma/sdk-core-v40.js";
    static constexpr const char* kAdURL = "http://127.0.0.1:8090/ads?slot=1";
    static constexpr const char* kAdUnit = "a1b2c3d4e5f6a7b";
    // What the hidden page answers with, as a message URL.
    std::string pageAnswer = "qmsg://nimbra/loadAdURL?url=http%3A%2F%2F127.0.0.1%3A8090%2Fads%3Fslot%3D1&type=pexmark";
    bool pageAnswers = true;
    int pagesBuilt = 0;      // requests built, in a fresh page or in one made ready
    int callsEvaluated = 0;  // of those, in a page made ready
    void SetUp() override {
        // The statistics save themselves when released: before the reset.
        ZELObjectPrivate::resetProcessState();
        SimTest::SetUp();
        sim().web().setAutoFinish(true);
        // The hidden page runs the call either inline in a fresh page or,
        // in a page made ready ahead, as an evaluated script.
        auto answerCall = [this](SimWebViewPeer& peer) {
            ++pagesBuilt;
            if (pageAnswers) peer.navigate(pageAnswer, platform::NavigationType::Other);
        };
        sim().web().setPageBehaviour([answerCall](SimWebViewPeer& peer, const platform::sim::SimWebLoad& load) {
            if (load.html.find("<script>RUMA_buildAdURL(") != std::string::npos) answerCall(peer);
        });
        sim().web().setScriptBehaviour([this, answerCall](SimWebViewPeer& peer, const std::string& script) {
            if (script.rfind("RUMA_buildAdURL(", 0) != 0) return;
            ++callsEvaluated;
            answerCall(peer);
        });
        sim().http().route(kScriptURL, SimResponse::ok("function RUMA_buildAdURL(p){}"));
        serveAd("<a href='http://127.0.0.1:8090/click?ai=tok'>ad</a>",
                {{"X-Ruma-Tracking-Urls", "http://127.0.0.1:8090/im/one http://127.0.0.1:8090/im/two"},
                 {"X-Ruma-Refresh-Rate", "30"}});
        sim().http().routePrefix("http://127.0.0.1:8090/im/", SimResponse::ok("ok"));
        root = std::make_shared<platform::ViewController>();
        delegate = std::make_shared<RecordingBannerDelegate>();
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        window->setHidden(false);
    }
    void TearDown() override {
        dropBanner();
        window.reset();
        sim().runUntilIdle();
        ZELObjectPrivate::resetProcessState();
        SimTest::TearDown();
    }
    void serveAd(std::string body, platform::HeaderMap headers) {
        sim().http().route(kAdURL, SimResponse::ok(std::move(body), std::move(headers)));
    }
    // A banner in a shown window, one the user can see, in place of the last.
    std::shared_ptr<ZELBannerView> makeBanner() {
        if (banner) banner->removeFromSuperview();
        banner = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
        banner->setAdUnitID(kAdUnit);
        banner->setRootViewController(root);
        banner->setDelegate(delegate);
        window->addSubview(banner);
        return banner;
    }
    // The application lets its banner go.
    void dropBanner() {
        if (banner) banner->removeFromSuperview();
        banner.reset();
    }
    std::shared_ptr<ZELObjectPrivate> controller() { return banner->getPrivate(); }
    // Clicks counted since the statistics last went out ("pcc").
    static long countedClicks() {
        const auto stats = ZELStatistics::sharedStatistics()->peekParameters();
        return stats.count("pcc") ? stats.at("pcc").asInteger().value_or(0) : 0;
    }
    ZELObjectState state() { return controller()->state(); }
    void loadAndSettle() {
        banner->loadRequest(ZELRequest::request());
        sim().runUntilIdle();
    }
    // A new banner's first load, settled.
    void showAd() {
        makeBanner();
        loadAndSettle();
    }
    std::shared_ptr<platform::ViewController> root;
    std::shared_ptr<RecordingBannerDelegate> delegate;
    std::shared_ptr<ZELBannerView> banner;
    std::shared_ptr<platform::Window> window;
};
