// A banner in a real window loads real ads from nimbra-adserver: the wire
// requests it makes, what it shows, its reload, its failures and its death in
// the middle of a load.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Object/ZELObjectPrivate.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Request/ZELRequest.h"
#include "View/ZELBannerView.h"
#include "View/ZELWebView.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/Processes.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace {

using adserver_test::AdServerProcess;
using banner_test::BannerRecorder;
using banner_test::kAdTimeout;
using banner_test::ServerEnvironment;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;
using nlohmann::json;

constexpr const char kAdUnit[] = "a1b2c3d4e5f6a7b";

std::shared_ptr<ZELRequest> requestWithScenario(const std::string& scenario, const std::string& delay = {}) {
    auto request = ZELRequest::request();
    platform::Dictionary extras{{"scenario", platform::Value(scenario)}};
    if (!delay.empty()) extras["delay"] = platform::Value(delay);
    request->setAdditionalParameters(extras);
    return request;
}

// A loopback port nothing listens on.
unsigned closedPort() {
    GSocketListener* listener = g_socket_listener_new();
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* any = g_inet_socket_address_new(loopback, 0);
    GSocketAddress* bound = nullptr;
    unsigned port = 0;
    if (g_socket_listener_add_address(listener, any, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr, &bound,
                                      nullptr))
        port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    if (bound) g_object_unref(bound);
    g_socket_listener_close(listener);
    g_object_unref(listener);
    g_object_unref(any);
    g_object_unref(loopback);
    return port;
}

class BannerAdServer : public ::testing::Test {
protected:
    // Long enough that no reload comes during a test unless it asks for one.
    virtual std::vector<std::string> serverArguments() const { return {"--refresh-rate", "300"}; }

    void SetUp() override {
        nimbra::test::gtkBackend();
        ZELObjectPrivate::resetProcessState();  // a page made for another test's server
        application = std::make_unique<banner_test::ActiveApplication>();
        server = std::make_unique<AdServer>(serverArguments());
        ASSERT_TRUE(server->ok()) << "nimbra-adserver did not start";
        environment = std::make_unique<ServerEnvironment>(server->origin(), server->origin());
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        root = std::make_shared<platform::ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        banner = makeBanner(kAdUnit);
    }
    void TearDown() override {
        for (auto& b : banners) {
            if (b) b->removeFromSuperview();
            b.reset();
        }
        banner.reset();
        // Let released web views and connections go before the server does.
        spinFor(0.1);
        window.reset();
        root.reset();
        environment.reset();
        server.reset();
        banner_test::forgetVisitorCookie();
        application.reset();
    }

    std::shared_ptr<ZELBannerView> makeBanner(const std::string& adUnit) {
        auto b = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
        b->setAdUnitID(adUnit);
        b->setRootViewController(root);
        b->setDelegate(recorder);
        root->view()->addSubview(b);
        banners.push_back(b);
        return b;
    }

    // Loads and waits for the next callback of the banner's delegate; false
    // when none came.
    [[nodiscard]] bool loadAndWait(const std::shared_ptr<ZELRequest>& request) {
        const int before = recorder->callbacks();
        banner->loadRequest(request);
        return spinUntil([&] { return recorder->callbacks() > before; }, kAdTimeout);
    }

    int state() const { return banner->getPrivate()->state(); }

    using AdServer = AdServerProcess;
    std::unique_ptr<banner_test::ActiveApplication> application;
    std::unique_ptr<AdServer> server;
    std::unique_ptr<ServerEnvironment> environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> root;
    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    std::shared_ptr<ZELBannerView> banner;
    std::vector<std::shared_ptr<ZELBannerView>> banners;
};

TEST_F(BannerAdServer, LoadsAndShowsARealAdAndTellsTheServer) {
    nimbra::test::LogCapture log;
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    ASSERT_EQ(recorder->events, std::vector<std::string>{"receive"});
    EXPECT_EQ(state(), kZELStateShown);

    // The two impression trackers are fired after the ad is shown.
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "imp") >= 2; }, kAdTimeout));
    const json status = banner_test::serverStatus(*server);
    EXPECT_EQ(status["counters"]["script"], 1);
    EXPECT_EQ(status["counters"]["ads"], 1);
    EXPECT_EQ(status["counters"]["imp"], 2);
    const auto scripts = banner_test::requestsTo(status, "script");
    ASSERT_EQ(scripts.size(), 1u);
    EXPECT_EQ(scripts[0]["path"], "/ruma/sdk-core-v40.js");

    const auto ads = banner_test::requestsTo(status, "ads");
    ASSERT_EQ(ads.size(), 1u);
    EXPECT_EQ(ads[0]["status"], 200);
    const json& query = ads[0]["query"];
    EXPECT_EQ(query["slotname"], kAdUnit);
    EXPECT_EQ(query["js"], ZELRequest::sdkVersion());
    for (const char* key : {"preqs", "session_id", "isu", "app_name", "ad_bounds"}) {
        ASSERT_TRUE(query.contains(key)) << key << " in " << query.dump();
        EXPECT_FALSE(query[key].is_null()) << key;
    }
    const json frame = json::parse(query.value("ad_frame", std::string()), nullptr, false);
    ASSERT_TRUE(frame.is_object()) << query.dump();
    EXPECT_EQ(frame, (json{{"x", 0}, {"y", 361}, {"w", 320}, {"h", 50}}));
    EXPECT_EQ(query["u_w"], "320");
    EXPECT_EQ(query["u_h"], "480");
    // Both trackers of this ad were hit, and each once.
    const auto hits = banner_test::requestsTo(status, "imp");
    ASSERT_EQ(hits.size(), 2u);
    std::set<std::string> which;
    for (const auto& hit : hits) {
        EXPECT_TRUE(hit["path"].get<std::string>().starts_with("/im/"));
        which.insert(hit["query"].value("n", std::string()));
    }
    EXPECT_EQ(which, (std::set<std::string>{"1", "2"}));
    // The script came before the ad, the ad before its impressions.
    EXPECT_LT(scripts[0]["seq"], ads[0]["seq"]);
    EXPECT_LT(ads[0]["seq"], hits[0]["seq"]);

    auto web = banner->webView();
    ASSERT_TRUE(web);
    EXPECT_TRUE(web->superview().get() == banner.get());
    const auto text = banner_test::visibleText(*web);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Ad #1"), std::string::npos) << *text;
    EXPECT_EQ(log.countContaining("Server rejected"), 0u);
}

TEST_F(BannerAdServer, NextLoadRunsInThePagePreparedAfterTheFirst) {
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    ASSERT_TRUE(spinUntil([] { return ZELPreparedBuildPage::readyWebView() != nullptr; }, kAdTimeout))
        << "no page was prepared after the load";
    const auto prepared = ZELPreparedBuildPage::readyWebView();

    const int before = recorder->callbacks();
    banner->loadRequest(ZELRequest::request());
    EXPECT_EQ(banner->getPrivate()->buildAdWebView(), prepared);
    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() > before; }, kAdTimeout)) << "no callback";
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"receive", "receive"}));
    EXPECT_EQ(state(), kZELStateShown);

    // The call in the prepared page got the whole request.
    const auto ads = banner_test::requestsTo(banner_test::serverStatus(*server), "ads");
    ASSERT_EQ(ads.size(), 2u);
    for (const char* key : {"slotname", "ad_frame", "ad_bounds", "session_id", "isu"})
        EXPECT_EQ(ads[1]["query"][key], ads[0]["query"][key]) << key;
    const auto text = banner_test::visibleText(*banner->webView());
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Ad #2"), std::string::npos) << *text;
}

class BannerReload : public BannerAdServer {
protected:
    std::vector<std::string> serverArguments() const override { return {"--refresh-rate", "2"}; }
};

TEST_F(BannerReload, ReloadsAtTheServersRateWithANewAd) {
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    ASSERT_EQ(recorder->received, 1);
    EXPECT_FALSE(banner->hasAutoRefreshed());
    EXPECT_TRUE(banner->getPrivate()->isReloadTimerScheduled());

    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() >= 2; }, kAdTimeout)) << "no reload";
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"receive", "receive"}));
    EXPECT_TRUE(banner->hasAutoRefreshed());
    EXPECT_EQ(state(), kZELStateShown);

    const json status = banner_test::serverStatus(*server);
    const auto ads = banner_test::requestsTo(status, "ads");
    ASSERT_GE(ads.size(), 2u);
    // The reload reuses the stored script, stays in the session and counts
    // the earlier request.
    EXPECT_EQ(status["counters"]["script"], 1);
    EXPECT_EQ(ads[1]["query"]["slotname"], kAdUnit);
    EXPECT_EQ(ads[1]["query"]["session_id"], ads[0]["query"]["session_id"]);
    const auto prior = [](const json& r) { return std::stoi(r["query"].value("preqs", std::string("-1"))); };
    EXPECT_EQ(prior(ads[1]), prior(ads[0]) + 1);
    const auto text = banner_test::visibleText(*banner->webView());
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Ad #2"), std::string::npos) << *text;
}

TEST_F(BannerAdServer, ReportsEachKindOfFailureAndLoadsAgainAfterIt) {
    nimbra::test::LogCapture log;
    // An ad unit that is not one: the server refuses the parameters.
    banner->setAdUnitID("A1B2C3D4E5F6A7B");
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    EXPECT_EQ(recorder->codes, std::vector<long>{ZELErrorInvalidRequest});
    EXPECT_EQ(log.countContaining(
                  "<Nimbra> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect."),
              1u);
    EXPECT_EQ(state(), kZELStateFailed);

    banner->setAdUnitID(kAdUnit);
    ASSERT_TRUE(loadAndWait(requestWithScenario("nofill"))) << "no callback";
    EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(ZELErrorNoAd));
    EXPECT_EQ(state(), kZELStateFailed);

    // The script's own refusals end the load too: the next one runs.
    for (const char* scenario : {"invalid", "unable", "errors"}) {
        SCOPED_TRACE(scenario);
        const size_t failures = recorder->codes.size();
        ASSERT_TRUE(loadAndWait(requestWithScenario(scenario))) << "no callback";
        ASSERT_EQ(recorder->codes.size(), failures + 1);
        EXPECT_EQ(recorder->codes.back(), ZELErrorInvalidRequest);
        EXPECT_EQ(state(), kZELStateFailed);

        const int received = recorder->received;
        ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
        EXPECT_EQ(recorder->received, received + 1);
        EXPECT_EQ(state(), kZELStateShown);
    }
    // Each failure was told once, and nothing more came.
    spinFor(0.3);
    EXPECT_EQ(recorder->codes.size(), 5u);
    EXPECT_EQ(recorder->received, 3);
    // The script's refusals never reached the ad server.
    EXPECT_EQ(banner_test::counter(*server, "ads"), 2 + 3);
}

TEST_F(BannerAdServer, UnreachableStaticServerWithoutStoredScriptIsANetworkError) {
    const unsigned port = closedPort();
    ASSERT_NE(port, 0u);
    ServerEnvironment unreachable("http://127.0.0.1:" + std::to_string(port), server->origin());
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    EXPECT_EQ(recorder->codes, std::vector<long>{ZELErrorNetworkError});
    EXPECT_EQ(recorder->received, 0);
    spinFor(0.3);
    EXPECT_EQ(recorder->callbacks(), 1);
    EXPECT_EQ(banner_test::counter(*server, "ads"), 0);
}

TEST_F(BannerAdServer, DestroyedWhileItsHiddenPageRunsHearsNothing) {
    std::weak_ptr<ZELObjectPrivate> controller = banner->getPrivate();
    banner->loadRequest(ZELRequest::request());
    ASSERT_TRUE(spinUntil([&] { return state() >= kZELStateBuildingAdURL; }, kAdTimeout));
    ASSERT_EQ(state(), kZELStateBuildingAdURL);
    ASSERT_TRUE(banner->getPrivate()->buildAdWebView());
    banner->removeFromSuperview();
    banner.reset();
    banners.clear();
    // Long enough for the page to answer and an ad to be fetched.
    spinFor(3);
    EXPECT_EQ(recorder->callbacks(), 0);
    EXPECT_TRUE(controller.expired()) << "the controller outlived its banner";
    EXPECT_EQ(banner_test::counter(*server, "imp"), 0);
}

TEST_F(BannerAdServer, DestroyedWhileTheMarkupDownloadsHearsNothing) {
    std::weak_ptr<ZELObjectPrivate> controller = banner->getPrivate();
    banner->loadRequest(requestWithScenario("slow", "2"));
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ads") >= 1; }, kAdTimeout));
    EXPECT_EQ(state(), kZELStateLoadingAd);
    banner->removeFromSuperview();
    banner.reset();
    banners.clear();
    // Past the moment the slow answer arrives.
    spinFor(3.5);
    EXPECT_EQ(recorder->callbacks(), 0);
    EXPECT_TRUE(controller.expired()) << "the controller outlived its banner";
    EXPECT_EQ(banner_test::counter(*server, "imp"), 0);
}

// The page process can end at any moment (a crash, the system reclaiming
// memory): the banner reports it once and its next load gets a working page.
TEST_F(BannerAdServer, SurvivesItsPageProcessEndingWhileShownAndWhileBuilding) {
    const pid_t self = ::getpid();
    auto killPageProcesses = [&] {
        const auto pages = nimbra::test::webProcessesOf(self);
        ASSERT_FALSE(pages.empty()) << "no page process to end";
        nimbra::test::killAll(pages);
    };
    auto loadsAgain = [&] {
        const int received = recorder->received;
        ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback after the process ended";
        EXPECT_EQ(recorder->received, received + 1);
        EXPECT_EQ(state(), kZELStateShown);
        const auto text = banner_test::visibleText(*banner->webView());
        ASSERT_TRUE(text);
        EXPECT_NE(text->find("Ad #"), std::string::npos) << *text;
    };

    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    ASSERT_EQ(state(), kZELStateShown);
    killPageProcesses();
    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() >= 2; }, kAdTimeout)) << "the lost ad was not reported";
    EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(ZELErrorNetworkError));
    spinFor(0.5);
    EXPECT_EQ(recorder->callbacks(), 2);
    loadsAgain();

    // The request page is running a script that will never answer: ending
    // its process ends the load at once, not at the time limit.
    banner->loadRequest(requestWithScenario("silent"));
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "script") + banner_test::counter(*server, "script_304") >= 1 &&
                                       state() == kZELStateBuildingAdURL; },
                          kAdTimeout));
    spinFor(0.5);  // the page is loaded and has run the call
    ASSERT_EQ(state(), kZELStateBuildingAdURL);
    const int before = recorder->callbacks();
    killPageProcesses();
    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() > before; }, ZELObjectPrivate::kBuildAdURLTimeout / 2))
        << "the lost request page was not reported";
    EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(ZELErrorNetworkError));
    EXPECT_EQ(state(), kZELStateFailed);
    loadsAgain();
    EXPECT_EQ(recorder->callbacks(), before + 2);
}

}  // namespace
