// ZELClickTracker on scripted HTTP: how chains end, what the statistics hear,
// the process-wide count of trackings, and trackers that die mid-way.

#include <filesystem>

#include "Network/ZELClickTracker.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "Utility/ZELRequestParameters.h"
#include "unit/support/SimTest.h"

namespace {

using platform::sim::SimResponse;
using Ends = std::vector<std::optional<std::string>>;

struct TrackerRecorder : ZELClickTrackerDelegate {
    std::vector<std::optional<std::string>> redirects;  // where each success ended
    std::vector<std::optional<platform::Error>> failures;
    std::function<void(ZELClickTracker&)> onRedirect, onFail;
    void trackerDidRedirect(ZELClickTracker& tracker, const std::optional<platform::URL>& url) override {
        redirects.push_back(url ? std::optional<std::string>(url->absoluteString()) : std::nullopt);
        if (onRedirect) onRedirect(tracker);
    }
    void trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>& error) override {
        failures.push_back(error);
        if (onFail) onFail(tracker);
    }
    size_t finished() const { return redirects.size() + failures.size(); }
};

// The ad network's own host: a finished tracking of it carries a ticket.
constexpr const char kClick[] = "http://t.ads.nimbra.org/clk/TICKET-7";
constexpr const char kHop[] = "https://hop.example.net/r";
constexpr const char kLanding[] = "https://shop.example.com/landing";

class ClickTrackerTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ZELStatistics::setAdNetworkDomainSuffixForTesting("ads.nimbra.org");
    }
    void TearDown() override {
        tracker.reset();
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        ZELStatistics::sharedStatistics()->removeTimingNamed(kZELParameterPriorClickLatency);
        SimTest::TearDown();
    }
    // The ticket the last finished tracking gave the click's timing.
    static std::optional<platform::Value> ticket() {
        auto timing = ZELStatistics::sharedStatistics()->timingNamed(kZELParameterPriorClickLatency);
        return timing ? timing->valueForKey(kZELParameterPriorImpressionTicketString) : std::nullopt;
    }
    // A click chain ending in `end`, tracked from a fresh click timing.
    void track(SimResponse end) {
        ZELStatistics::sharedStatistics()->startTimingNamed(kZELParameterPriorClickLatency);
        sim().http().route(kClick, SimResponse::redirect(kHop));
        sim().http().route(kHop, SimResponse::redirect(kLanding, 301));
        sim().http().route(kLanding, std::move(end));
        tracker->trackURL(url(kClick));
    }
    std::shared_ptr<TrackerRecorder> recorder = std::make_shared<TrackerRecorder>();
    std::shared_ptr<ZELClickTracker> tracker = ZELClickTracker::create(recorder);
};

// Every http(s) redirect is followed, in any case; another scheme ends the
// chain as a success there. Only a success tells the statistics the ticket of
// the tracked URL.
TEST_F(ClickTrackerTest, EachChainEndsOnceAsASuccessOrAFailure) {
    const char* app = "shopapp://item/42";
    // clang-format off
    struct Case { SimResponse end; std::optional<std::string> success; std::optional<long> failure; } cases[] = {
        {SimResponse::ok("<html>shop</html>"), kLanding, {}},
        {SimResponse::redirect(app), app, {}},
        {SimResponse::redirect("HTTPS://other.example/"), {}, platform::kURLErrorCannotConnectToHost},
        {SimResponse::withStatus(404), {}, {}},
        {SimResponse::failure(platform::kURLErrorCannotFindHost), {}, platform::kURLErrorCannotFindHost},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.success.value_or("failure"));
        *recorder = TrackerRecorder();
        track(c.end);
        sim().runUntilIdle();
        EXPECT_EQ(recorder->redirects, c.success ? Ends{c.success} : Ends{});
        ASSERT_EQ(recorder->failures.size(), c.success ? 0u : 1u);
        const auto& failure = c.success ? std::nullopt : recorder->failures[0];
        EXPECT_EQ(failure ? std::optional(failure->code) : std::nullopt, c.failure);
        EXPECT_EQ(ticket(), c.success ? std::optional<platform::Value>("/TICKET-7") : std::nullopt)
            << "from the tracked URL";
    }
    EXPECT_EQ(sim().http().countOf("shopapp:"), 0u);
}

// A tracking counts from its start to its end, once, however it ends.
TEST_F(ClickTrackerTest, CountFollowsEveryTracking) {
    sim().http().route(kClick, SimResponse::ok("slow").after(10));
    sim().http().route(kLanding, SimResponse::ok("fast").after(2));
    auto other = ZELClickTracker::create(recorder);
    other->trackURL(url(kLanding));
    tracker->trackURL(url(kClick));
    EXPECT_EQ(ZELClickTracker::trackingCount(), 2u);
    sim().advance(2.5);
    EXPECT_EQ(ZELClickTracker::trackingCount(), 1u);
    sim().advance(30);
    EXPECT_EQ(ZELClickTracker::trackingCount(), 0u);
    tracker->reset();
    other.reset();
    EXPECT_EQ(ZELClickTracker::trackingCount(), 0u) << "ended trackings give nothing back twice";
    EXPECT_TRUE(std::filesystem::is_empty(*platform::Paths::current().cachesDirectory())) << "answers are not stored";
}

TEST_F(ClickTrackerTest, ANewTrackingOrAResetDropsTheRunningOneSilently) {
    sim().http().route(kClick, SimResponse::ok("slow").after(10));
    sim().http().route(kLanding, SimResponse::ok("fast").after(2));
    tracker->trackURL(url(kClick));
    sim().advance(1);
    tracker->trackURL(url(kLanding));  // the slow one goes
    tracker->trackURL(std::nullopt);   // no URL: nothing starts and nothing stops
    EXPECT_EQ(ZELClickTracker::trackingCount(), 1u);
    sim().advance(30);
    EXPECT_EQ(recorder->redirects, (Ends{kLanding}));
    tracker->trackURL(url(kClick));
    tracker->reset();
    tracker->reset();
    EXPECT_EQ(ZELClickTracker::trackingCount(), 0u);
    EXPECT_FALSE(tracker->hasTracked() || tracker->trackingURL());
    sim().advance(15);
    EXPECT_EQ(recorder->finished(), 1u);
}

// A tracker's owner may drop it mid-chain or drop or reuse it from inside its
// callbacks.
TEST_F(ClickTrackerTest, DestroyedOrReusedInsideItsCallbacksOrDroppedMidChain) {
    recorder->onRedirect = recorder->onFail = [&](ZELClickTracker&) { tracker.reset(); };
    for (const auto& end :
         {SimResponse::ok("page"), SimResponse::redirect("otherapp://open"), SimResponse::withStatus(500)}) {
        tracker = ZELClickTracker::create(recorder);
        track(end);
        sim().runUntilIdle();
        EXPECT_FALSE(tracker);
        EXPECT_EQ(ZELClickTracker::trackingCount(), 0u);
    }
    EXPECT_EQ(recorder->finished(), 3u);
    // Starting the next tracking from the report of the last one.
    *recorder = TrackerRecorder();
    tracker = ZELClickTracker::create(recorder);
    int rounds = 0;
    recorder->onRedirect = [&](ZELClickTracker& t) {
        if (++rounds < 3) t.trackURL(url(kHop));
        EXPECT_EQ(ZELClickTracker::trackingCount(), 1u) << "still held while its report runs";
    };
    track(SimResponse::redirect("otherapp://open"));
    sim().runUntilIdle();
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(recorder->redirects.size(), 3u);
    EXPECT_EQ(ZELClickTracker::trackingCount(), 0u) << "each tracking gave its unit back exactly once";
    // Dropped between two hops: nothing more is asked or told.
    *recorder = TrackerRecorder();
    sim().http().clearRequests();
    sim().http().route(kHop, SimResponse::redirect(kLanding).after(5));
    tracker->trackURL(url(kClick));
    sim().advance(1);
    ASSERT_EQ(tracker->trackingURL(), url(kHop));
    tracker.reset();
    EXPECT_FALSE(ZELClickTracker::activeTrackings());
    sim().advance(10);
    EXPECT_TRUE(recorder->redirects.empty());
    EXPECT_EQ(sim().http().countOf(kLanding), 0u);
}

}  // namespace
