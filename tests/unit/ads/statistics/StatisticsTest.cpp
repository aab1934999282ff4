#include <set>

#include "Request/ZELRequestParameters.h"
#include "StatisticsTestSupport.h"
#include "Timing/ZELTiming.h"

namespace {

std::set<std::string> keysOf(const platform::Dictionary& d) {
    std::set<std::string> keys;
    for (const auto& [key, value] : d) keys.insert(key);
    return keys;
}

std::string text(const platform::Dictionary& d, const std::string& key) {
    auto it = d.find(key);
    if (it == d.end() || !it->second.asString()) return "<absent or not a string>";
    return *it->second.asString();
}

class StatisticsTest : public StatisticsFixture {
protected:
    // What the ad controller and the banner do around one shown ad.
    void loadAndShowAd(double secondsToArrive) {
        stats()->incrementAdRequestCount();
        if (!stats()->timingNamed(kZELParameterTimeSinceFirstRequest)) {
            stats()->startTimingNamed(kZELParameterTimeSinceFirstRequest);
        }
        stats()->startTimingNamed(kZELParameterPriorRequestLatency);
        sim().advance(secondsToArrive);
        stats()->endTimingNamed(kZELParameterPriorRequestLatency);
        stats()->startTimingNamed(kZELParameterPriorPreClickLatency);
    }

    // A process that dies: the statistics object goes, but what it would
    // save on the way never reaches disk; the next process reads the disk.
    void endProcess() {
        sim().userDefaults().setSynchronizeFails(true);
        ZELStatistics::releaseSharedStatistics();
        sim().userDefaults().simulateRestart();
        sim().userDefaults().setSynchronizeFails(false);
    }
};

TEST_F(StatisticsTest, AdShownButNotClickedReportsOnlyItsLatency) {
    loadAndShowAd(0.25);
    sim().advance(2);

    platform::Dictionary p = stats()->parameters();

    EXPECT_EQ(keysOf(p), (std::set<std::string>{"session_id", "preqs", "ptime", "prl"}));
    EXPECT_EQ(text(p, "prl"), "250");
    EXPECT_EQ(text(p, "ptime"), "2250");
    EXPECT_EQ(p["preqs"], platform::Value(1));
    EXPECT_EQ(p["session_id"], platform::Value(stats()->sessionId()));
}

TEST_F(StatisticsTest, ClickIsReportedOnceWithAllItsPieces) {
    loadAndShowAd(0.5);
    sim().advance(3);
    std::optional<platform::URL> opened = stats()->urlForClick(url("http://127.0.0.1:8090/click?ai=AX12&x=1"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->absoluteString(), "http://127.0.0.1:8090/click?ai=AX12&x=1");
    EXPECT_TRUE(stats()->isTimingClick());
    sim().advance(1);
    stats()->addClickTrackingURL(url("http://127.0.0.1:8090/ct/TICKET-77"));
    sim().advance(4);

    platform::Dictionary first = stats()->parameters();
    EXPECT_EQ(keysOf(first), (std::set<std::string>{"session_id", "preqs", "ptime", "prl", "ppcl", "pcl", "pcrl",
                                                    "pai", "pit", "pcc"}));
    EXPECT_EQ(text(first, "ppcl"), "3000");
    EXPECT_EQ(text(first, "pcl"), "5000");  // still running: counts up to now
    EXPECT_EQ(text(first, "pcrl"), "0");
    EXPECT_EQ(text(first, "pai"), "AX12");
    EXPECT_EQ(text(first, "pit"), "TICKET-77");
    EXPECT_EQ(first["pcc"], platform::Value(1));
    EXPECT_EQ(signals.clickStrings, std::vector<std::string>{"AX12"});

    // The next period starts cleared, except the request count and the
    // time since the first request.
    platform::Dictionary second = stats()->parameters();
    EXPECT_EQ(keysOf(second), (std::set<std::string>{"session_id", "preqs", "ptime"}));
    EXPECT_FALSE(stats()->isTimingClick());
}

TEST_F(StatisticsTest, SecondClickReplacesTheFirstButBothAreCounted) {
    loadAndShowAd(0.1);
    stats()->urlForClick(url("http://127.0.0.1/c?ai=first"));
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/T1"));
    sim().advance(1);
    stats()->urlForClick(url("http://127.0.0.1/c?ai=second"));

    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p["pcc"], platform::Value(2));
    EXPECT_EQ(text(p, "pai"), "second");
    EXPECT_EQ(p.count("pit"), 0u);  // the ticket went with the first click
    EXPECT_EQ(p.count("date"), 0u);
}

TEST_F(StatisticsTest, MessageAndBlankURLsAreNotClicks) {
    loadAndShowAd(0.1);
    for (const char* link : {"qmsg://ad/open?url=x", "orvik://ad/close", "about:blank"}) {
        std::optional<platform::URL> opened = stats()->urlForClick(url(link));
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->absoluteString(), link);
    }
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p.count("pcc"), 0u);
    EXPECT_EQ(p.count("pcl"), 0u);
    EXPECT_EQ(p.count("ppcl"), 0u);
}

TEST_F(StatisticsTest, ClickWithoutUsableClickStringIsStillCountedAndTimed) {
    signals.clickSignals = "sig";
    stats()->urlForClick(url("http://127.0.0.1/c?ai=&b=2"));
    std::optional<platform::URL> none = stats()->urlForClick(std::nullopt);
    EXPECT_FALSE(none);
    EXPECT_TRUE(signals.clickStrings.empty());  // no "ai": the library is not asked

    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p["pcc"], platform::Value(2));
    EXPECT_EQ(p.count("pcl"), 1u);
    EXPECT_EQ(p.count("pcrl"), 1u);
    EXPECT_EQ(p.count("pai"), 0u);
}

TEST_F(StatisticsTest, ClickSignalsAreAppendedAsABareQueryItem) {
    signals.clickSignals = "dG9rZW4";
    std::optional<platform::URL> opened = stats()->urlForClick(url("http://127.0.0.1/c?ai=Z9"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->absoluteString(), "http://127.0.0.1/c?ai=Z9&dG9rZW4");

    // A signal text that would make an invalid URL leaves the click alone.
    signals.clickSignals = "bad value";
    opened = stats()->urlForClick(url("http://127.0.0.1/c?ai=Z9"));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->absoluteString(), "http://127.0.0.1/c?ai=Z9");
}

TEST_F(StatisticsTest, ImpressionTicketNeedsTheAdNetworkHostALongEnoughPathAndAClick) {
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/EARLY"));  // no click yet
    stats()->urlForClick(url("http://127.0.0.1/c?ai=a"));
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/"));         // 4 characters
    stats()->addClickTrackingURL(url("http://tracker.example/ct/X1"));  // another domain
    stats()->addClickTrackingURL(std::nullopt);
    EXPECT_EQ(stats()->parameters().count("pit"), 0u);

    stats()->urlForClick(url("http://127.0.0.1/c?ai=a"));
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/Q"));  // 5 characters
    EXPECT_EQ(text(stats()->parameters(), "pit"), "Q");
}

TEST_F(StatisticsTest, BackgroundedClickReportsMillisecondsSinceTheClickAsANumber) {
    stats()->urlForClick(url("http://127.0.0.1/c?ai=a"));
    stats()->setClickBackgroundedApp();
    sim().advance(7.5);

    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p["pcl"], platform::Value(7500));
    EXPECT_EQ(p["pclb"], platform::Value(1));
    EXPECT_EQ(p.count("date"), 0u);
    EXPECT_EQ(stats()->parameters().count("pclb"), 0u);
}

TEST_F(StatisticsTest, CountersAndFlagsAreReportedOnlyWhenNotZeroAndThenCleared) {
    stats()->incrementPageNavigationCount();
    stats()->incrementPageNavigationCount();
    stats()->incrementSSLPageNavigationCount();
    stats()->resetSSLPageNavigationCount();
    stats()->setBreakOutToSafari();
    stats()->setAppOpenInterstitialTimeOut();
    stats()->setAppOpenInterstitialNoFill();
    stats()->resetAppOpenInterstitialNoFill();

    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(keysOf(p), (std::set<std::string>{"session_id", "plpnc", "pcbo", "aoi_timedout"}));
    EXPECT_EQ(p["plpnc"], platform::Value(2));
    EXPECT_EQ(keysOf(stats()->parameters()), std::set<std::string>{"session_id"});
}

TEST_F(StatisticsTest, PeekingLeavesEverythingForTheNextRequest) {
    loadAndShowAd(0.2);
    stats()->urlForClick(url("http://127.0.0.1/c?ai=a"));
    stats()->setBreakOutToSafari();

    platform::Dictionary peeked = stats()->peekParameters();
    platform::Dictionary reported = stats()->parameters();
    EXPECT_EQ(peeked, reported);
    EXPECT_EQ(reported["pcc"], platform::Value(1));
    EXPECT_EQ(reported["pcbo"], platform::Value(1));
}

TEST_F(StatisticsTest, PreClickTimeIsDroppedWithoutAClick) {
    loadAndShowAd(0.2);
    EXPECT_EQ(stats()->peekParameters().count("ppcl"), 0u);
    stats()->parameters();
    // Dropped, not kept for later.
    stats()->urlForClick(url("http://127.0.0.1/c?ai=a"));
    EXPECT_EQ(stats()->parameters().count("ppcl"), 0u);
}

TEST_F(StatisticsTest, CountersSurviveARestartOnlyAfterSynchronize) {
    stats()->incrementClickCount();
    stats()->setBreakOutToSafari();
    stats()->setAdRequestCount(41);
    stats()->synchronize();
    stats()->incrementClickCount();
    stats()->setAppOpenInterstitialNoFill();
    // The process ends here: nothing after the last synchronize reaches disk.
    endProcess();

    EXPECT_EQ(stats()->adRequestCount(), 41);
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p["pcc"], platform::Value(1));
    EXPECT_EQ(p["pcbo"], platform::Value(1));
    EXPECT_EQ(p.count("aoi_nofill"), 0u);
}

TEST_F(StatisticsTest, NothingSurvivesARestartWithoutSynchronize) {
    stats()->incrementClickCount();
    stats()->setAdRequestCount(9);
    endProcess();
    EXPECT_EQ(stats()->adRequestCount(), 0);
    EXPECT_EQ(stats()->parameters().count("pcc"), 0u);
}

TEST_F(StatisticsTest, RunningTimingsCarryOverARestart) {
    loadAndShowAd(0.1);
    stats()->synchronize();
    endProcess();
    sim().advance(2);

    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(text(p, "ptime"), "2100");
    EXPECT_EQ(text(p, "prl"), "100");
}

TEST_F(StatisticsTest, SessionNumberIsFixedForTheObjectAndRedrawnForANewOne) {
    std::shared_ptr<ZELStatistics> first = stats();
    EXPECT_EQ(first.get(), stats().get());
    const uint32_t id = first->sessionId();
    EXPECT_EQ(stats()->sessionId(), id);
    EXPECT_EQ(stats()->parameters()["session_id"], platform::Value(id));
    ZELStatistics::releaseSharedStatistics();
    EXPECT_NE(stats().get(), nullptr);
    EXPECT_EQ(stats()->parameters().count("session_id"), 1u);
}

TEST_F(StatisticsTest, AdRequestCountIsKeptAcrossParameters) {
    EXPECT_EQ(stats()->adRequestCount(), 0);
    EXPECT_EQ(stats()->incrementAdRequestCount(), 1);
    EXPECT_EQ(stats()->incrementAdRequestCount(), 2);
    stats()->parameters();
    EXPECT_EQ(stats()->adRequestCount(), 2);
    stats()->setAdRequestCount(2147483647);
    EXPECT_EQ(stats()->incrementAdRequestCount(), -2147483647 - 1);  // wraps as a 32-bit counter
}

TEST_F(StatisticsTest, TimingOperationsOnMissingNamesDoNothing) {
    stats()->endTimingNamed("nothing");
    stats()->removeTimingNamed("nothing");
    EXPECT_EQ(stats()->timingNamed("nothing"), nullptr);
    EXPECT_FALSE(stats()->isTimingClick());
    stats()->startTimingNamed("x");
    ASSERT_NE(stats()->timingNamed("x"), nullptr);
    EXPECT_TRUE(stats()->timingNamed("x")->isActive());
}

}  // namespace
