// A banner in a real window loads real ads from nimbra-adserver: the wire
// requests it makes, what it shows and its failures. Reloads on the server's
// schedule are the tap tests'; a banner destroyed mid-load, the unit tests'
// (at every stage).
#include <gtest/gtest.h>

#include "Object/ZELObjectPrivate.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Request/ZELRequest.h"
#include "View/ZELWebView.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/Processes.h"

namespace {

using namespace banner_test;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;
using nlohmann::json;

constexpr const char kAdUnit[] = "a1b2c3d4e5f6a7b";

std::shared_ptr<ZELRequest> requestWithScenario(const std::string& scenario) {
    auto request = ZELRequest::request();
    request->setAdditionalParameters(platform::Dictionary{{"scenario", platform::Value(scenario)}});
    return request;
}

class BannerAdServer : public ServedWindow {
protected:
    BannerAdServer() : ServedWindow({"--refresh-rate", "300"}) {}  // no reloads
    void SetUp() override {
        ServedWindow::SetUp();
        banner = addBanner(kAdUnit, recorder);
    }
    void TearDown() override {
        if (banner) banner->removeFromSuperview();
        banner.reset();
        ServedWindow::TearDown();
    }
    // Loads and waits for the next callback of the banner's delegate; false
    // when none came.
    [[nodiscard]] bool loadAndWait(const std::shared_ptr<ZELRequest>& request) {
        const int before = recorder->callbacks();
        banner->loadRequest(request);
        return spinUntil([&] { return recorder->callbacks() > before; }, kAdTimeout);
    }
    int state() const { return banner->getPrivate()->state(); }
    bool shows(const std::string& text) {
        const auto shown = visibleText(*banner->webView());
        return shown && shown->find(text) != std::string::npos;
    }
    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    std::shared_ptr<ZELBannerView> banner;
};

TEST_F(BannerAdServer, LoadsAndShowsARealAdAndTellsTheServer) {
    nimbra::test::LogCapture log;
    auto request = ZELRequest::request();
    request->addKeyword("café </script>");
    ASSERT_TRUE(loadAndWait(request)) << "no callback";
    ASSERT_EQ(recorder->events, std::vector<std::string>{"receive"});
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_TRUE(shows("Ad #1"));
    EXPECT_EQ(banner->webView()->superview().get(), banner.get());
    // The two impression trackers are fired after the ad is shown.
    ASSERT_TRUE(spinUntil([&] { return counter(*server, "imp") >= 2; }, kAdTimeout));
    const json status = serverStatus(*server);
    EXPECT_EQ(std::tuple(status["counters"]["script"], status["counters"]["ads"], status["counters"]["imp"]), std::tuple(1, 1, 2));
    const auto scripts = requestsTo(status, "script"), ads = requestsTo(status, "ads"), hits = requestsTo(status, "imp");
    ASSERT_EQ(std::tuple(scripts.size(), ads.size(), hits.size()), std::tuple(1u, 1u, 2u));
    EXPECT_EQ(scripts[0]["path"], "/ruma/sdk-core-v40.js");
    EXPECT_EQ(ads[0]["status"], 200);
    const json& query = ads[0]["query"];
    EXPECT_EQ(query["slotname"], kAdUnit);
    EXPECT_EQ(query["js"], ZELRequest::sdkVersion());
    for (const char* key : {"preqs", "session_id", "isu", "app_name", "ad_bounds"})
        EXPECT_TRUE(query.contains(key) && !query[key].is_null()) << key << " in " << query.dump();
    EXPECT_EQ(json::parse(query.value("ad_frame", std::string()), nullptr, false), (json{{"x", 0}, {"y", 361}, {"w", 320}, {"h", 50}}));
    EXPECT_EQ(json::parse(query.value("kw", std::string()), nullptr, false), json::array({"café </script>"}));
    EXPECT_EQ(std::pair(query["u_w"], query["u_h"]), std::pair(json("320"), json("480")));
    // Both trackers of this ad were hit, and each once.
    std::set<std::string> which;
    for (const auto& hit : hits) {
        EXPECT_TRUE(hit["path"].get<std::string>().starts_with("/im/"));
        which.insert(hit["query"].value("n", std::string()));
    }
    EXPECT_EQ(which, (std::set<std::string>{"1", "2"}));
    // The script came before the ad, the ad before its impressions.
    EXPECT_LT(scripts[0]["seq"], ads[0]["seq"]);
    EXPECT_LT(ads[0]["seq"], hits[0]["seq"]);
    EXPECT_EQ(log.countContaining("Server rejected"), 0u);
}

TEST_F(BannerAdServer, ReportsEachKindOfFailureOnceAndLoadsAgainAfterIt) {
    nimbra::test::LogCapture log;
    // An ad unit that is not one: the server refuses the parameters.
    banner->setAdUnitID("A1B2C3D4E5F6A7B");
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    EXPECT_EQ(recorder->codes, std::vector<long>{ZELErrorInvalidRequest});
    EXPECT_EQ(log.countContaining("<Nimbra> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect."), 1u);
    banner->setAdUnitID(kAdUnit);
    // No fill, and the script's own refusals, which never reach the ad server,
    // each from the page made ready after the load before.
    const std::pair<const char*, long> scenarios[] = {
        {"nofill", ZELErrorNoAd}, {"invalid", ZELErrorInvalidRequest}, {"unable", ZELErrorInvalidRequest}, {"errors", ZELErrorInvalidRequest}};
    for (const auto& [scenario, code] : scenarios) {
        SCOPED_TRACE(scenario);
        ASSERT_TRUE(spinUntil([] { return ZELPreparedBuildPage::readyWebView() != nullptr; }, kAdTimeout));
        const auto prepared = ZELPreparedBuildPage::readyWebView();
        const int before = recorder->callbacks();
        banner->loadRequest(requestWithScenario(scenario));
        EXPECT_EQ(banner->getPrivate()->buildAdWebView(), prepared) << "not run in the page made ready";
        ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() > before; }, kAdTimeout)) << "no callback";
        EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(code));
        EXPECT_EQ(state(), kZELStateFailed);
        ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
        EXPECT_EQ(state(), kZELStateShown);
    }
    spinFor(0.3);  // nothing more comes
    EXPECT_EQ(recorder->codes.size(), 5u);
    EXPECT_EQ(recorder->received, 4);
    EXPECT_EQ(counter(*server, "ads"), 1 + 1 + 4);
}

// The page process can end at any moment (a crash, the system reclaiming
// memory): the banner reports it once and its next load gets a working page.
TEST_F(BannerAdServer, SurvivesItsPageProcessEndingWhileShownAndWhileBuilding) {
    auto endPageProcesses = [&] {
        const auto pages = nimbra::test::webProcessesOf(::getpid());
        ASSERT_FALSE(pages.empty()) << "no page process to end";
        nimbra::test::killAll(pages);
    };
    auto loadsAgain = [&] {
        ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback after the process ended";
        EXPECT_EQ(recorder->events.back(), "receive");
        EXPECT_TRUE(shows("Ad #"));
    };
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    endPageProcesses();
    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() >= 2; }, kAdTimeout)) << "the lost ad was not reported";
    EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(ZELErrorNetworkError));
    spinFor(0.5);
    EXPECT_EQ(recorder->callbacks(), 2);
    loadsAgain();
    // The request page runs a script that will never answer: ending its
    // process ends the load at once, not at the time limit.
    banner->loadRequest(requestWithScenario("silent"));
    ASSERT_TRUE(spinUntil([&] { return state() == kZELStateBuildingAdURL; }, kAdTimeout));
    spinFor(0.5);  // the page is loaded and has run the call
    ASSERT_EQ(state(), kZELStateBuildingAdURL);
    const int before = recorder->callbacks();
    endPageProcesses();
    ASSERT_TRUE(spinUntil([&] { return recorder->callbacks() > before; }, ZELObjectPrivate::kBuildAdURLTimeout / 2))
        << "the lost request page was not reported";
    EXPECT_EQ(recorder->events.back(), "fail " + std::to_string(ZELErrorNetworkError));
    EXPECT_EQ(state(), kZELStateFailed);
    loadsAgain();
    EXPECT_EQ(recorder->callbacks(), before + 2);
}

}  // namespace
