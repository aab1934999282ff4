// A banner in a real window loads real ads from nimbra-adserver: the wire
// requests it makes, what it shows, and its page process ending.
#include <gtest/gtest.h>

#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequest.h"
#include "WebView/ZELWebView.h"
#include "integration/banner/BannerSupport.h"

namespace {

using namespace banner_test;
using nlohmann::json;

constexpr const char kAdUnit[] = "a1b2c3d4e5f6a7b";

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
    ZELObjectState state() const { return banner->getPrivate()->state(); }
    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    std::shared_ptr<ZELBannerView> banner;
};

// What of the request's parameters reaches the server through a real page.
TEST_F(BannerAdServer, ShowsARealAd) {
    auto request = ZELRequest::request();
    request->addKeyword("café </script>");
    ASSERT_TRUE(loadAndWait(request)) << "no callback";
    ASSERT_EQ(recorder->events, std::vector<std::string>{"receive"});
    EXPECT_EQ(state(), kZELStateShown);
    EXPECT_TRUE(shows(*banner->webView(), "Ad #1"));
    // The two impression trackers are fired after the ad is shown, each once.
    ASSERT_TRUE(spinUntil([&] { return server->counter("imp") >= 2; }, kAdTimeout));
    const auto ads = server->requestsTo("ads"), hits = server->requestsTo("imp");
    ASSERT_EQ(std::pair(ads.size(), hits.size()), std::pair(size_t(1), size_t(2)));
    EXPECT_NE(hits[0]["query"].value("n", ""), hits[1]["query"].value("n", "")) << "one tracker hit twice";
    const json& query = ads[0]["query"];
    EXPECT_EQ(query["slotname"], kAdUnit);
    EXPECT_EQ(nimbra::test::queryJson(ads[0], "ad_frame"), (json{{"x", 0}, {"y", 361}, {"w", 320}, {"h", 50}}));
    // A keyword that would end a script element arrives as it was given.
    EXPECT_EQ(nimbra::test::queryJson(ads[0], "kw"), json::array({"café </script>"}));
    // The screen's size as the GTK backend reports it.
    EXPECT_EQ(std::pair(query["u_w"], query["u_h"]), std::pair(json("320"), json("480")));
}

// An ad unit the server refuses: told once, with the likely cause logged.
TEST_F(BannerAdServer, AnAdUnitTheServerRefusesIsToldOnceWithTheCause) {
    nimbra::test::LogCapture log;
    banner->setAdUnitID("A1B2C3D4E5F6A7B");
    ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback";
    spinFor(0.3);  // nothing more comes
    EXPECT_EQ(recorder->events, std::vector<std::string>{"fail " + std::to_string(ZELErrorInvalidRequest)});
    EXPECT_EQ(log.countContaining(
                  "<Nimbra> Server rejected ad parameters.  Typically this is because the ad unit ID is incorrect."),
              1u);
}

// The page process can end at any moment (a crash, the system reclaiming
// memory): the banner reports it once and its next load gets a working page.
// While shown and while building.
TEST_F(BannerAdServer, SurvivesItsPageProcessEnding) {
    auto endPageProcesses = [&] {
        const auto pages = nimbra::test::webProcessesOf(::getpid());
        ASSERT_FALSE(pages.empty()) << "no page process to end";
        for (pid_t page : pages) ::kill(page, SIGKILL);
    };
    auto loadsAgain = [&] {
        ASSERT_TRUE(loadAndWait(ZELRequest::request())) << "no callback after the process ended";
        EXPECT_EQ(recorder->events.back(), "receive");
        EXPECT_TRUE(shows(*banner->webView(), "Ad #"));
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
    auto silent = ZELRequest::request();
    silent->setAdditionalParameters(platform::Dictionary{{"scenario", platform::Value("silent")}});
    banner->loadRequest(silent);
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
