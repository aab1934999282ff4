// ZELClickTracker on real HTTP: chains of redirects through a loopback server.

#include <gtest/gtest.h>

#include <memory>

#include "Request/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "integration/ads/CacheTestSupport.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using namespace cache_test;

class ClickTrackerHttp : public CacheIntegrationTest {
protected:
    // The loopback server stands in for the ad network, and a click is being
    // timed, so a finished tracking leaves its ticket on the click's timing.
    void SetUp() override {
        CacheIntegrationTest::SetUp();
        ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
        ZELStatistics::sharedStatistics()->startTimingNamed(kZELParameterPriorClickLatency);
    }
    void TearDown() override {
        ZELStatistics::sharedStatistics()->removeTimingNamed(kZELParameterPriorClickLatency);
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        CacheIntegrationTest::TearDown();
    }
    static std::optional<platform::Value> ticket() {
        auto timing = ZELStatistics::sharedStatistics()->timingNamed(kZELParameterPriorClickLatency);
        return timing ? timing->valueForKey(kZELParameterPriorImpressionTicketString) : std::nullopt;
    }
    platform::URL url(const std::string& path) const { return *platform::URL::parse(server.url(path)); }
    void trackToEnd(const std::string& path) {
        tracker->trackURL(url(path));
        EXPECT_TRUE(ZELClickTracker::activeTrackings());
        ASSERT_TRUE(spinUntil([&] { return recorder->finished() > 0; })) << "the tracking never ended";
        spinFor(0.2);  // room for a stray second report
    }

    TestHttpServer server;
    std::shared_ptr<TrackerRecorder> recorder = std::make_shared<TrackerRecorder>();
    std::unique_ptr<ZELClickTracker> tracker = std::make_unique<ZELClickTracker>(recorder);
};

TEST_F(ClickTrackerHttp, FollowsEveryHopToTheLandingPage) {
    server.route("/clk/T-1", redirect("/hop1"));
    server.route("/hop1", redirect(server.url("/hop2"), 301));
    server.route("/hop2", redirect("/landing", 303));
    server.route("/landing", answer(200, "<html>landing</html>"));

    trackToEnd("/clk/T-1");
    ASSERT_EQ(recorder->redirects.size(), 1u);
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(recorder->redirects[0], std::optional<std::string>(server.url("/landing")));
    // The ticket comes from the first URL of the chain, not the last.
    EXPECT_EQ(ticket(), std::optional<platform::Value>("/T-1"));
    for (const char* hop : {"/clk/T-1", "/hop1", "/hop2", "/landing"})
        EXPECT_EQ(countOf(server, hop), 1u) << hop;
    EXPECT_TRUE(tracker->hasTracked());
    EXPECT_FALSE(ZELClickTracker::activeTrackings());
    EXPECT_EQ(tracker->trackingURL(), url("/landing"));
}

TEST_F(ClickTrackerHttp, NonWebEndIsOneSuccess) {
    server.route("/click", redirect("/hop"));
    server.route("/hop", redirect("mensajes-test://open?item=3"));

    trackToEnd("/click");
    ASSERT_EQ(recorder->redirects.size(), 1u);
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(recorder->redirects[0], std::optional<std::string>("mensajes-test://open?item=3"));
    EXPECT_FALSE(ZELClickTracker::activeTrackings());
}

TEST_F(ClickTrackerHttp, NotFoundIsOneFailureWithoutError) {
    server.route("/clk/T-2", redirect("/gone"));

    trackToEnd("/clk/T-2");
    EXPECT_FALSE(ticket()) << "a failed tracking tells the statistics nothing";
    EXPECT_TRUE(recorder->redirects.empty());
    ASSERT_EQ(recorder->failures.size(), 1u);
    EXPECT_FALSE(recorder->failures[0].has_value());
    EXPECT_TRUE(tracker->hasTracked());
    EXPECT_FALSE(ZELClickTracker::activeTrackings());
}

TEST_F(ClickTrackerHttp, SecondTrackingCancelsTheFirstSilently) {
    server.route("/slow", hang());
    server.route("/fast", answer(200));

    tracker->trackURL(url("/slow"));
    ASSERT_TRUE(spinUntil([&] { return countOf(server, "/slow") > 0; }));
    EXPECT_EQ(ZELClickTracker::trackingCount(), 1u);
    trackToEnd("/fast");
    EXPECT_EQ(recorder->redirects, (std::vector<std::optional<std::string>>{server.url("/fast")}));
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(ZELClickTracker::trackingCount(), 0u);
}

}  // namespace
