// The statistics that ride on the next ad request: latencies, clicks and their
// tickets, counters and flags, kept across restarts in their core store.

#include "Request/ZELRequestParameters.h"
#include "Timing/ZELTiming.h"
#include "unit/ads/statistics/StatisticsTestSupport.h"

namespace {

std::set<std::string> keysOf(const platform::Dictionary& d) {
    std::set<std::string> keys;
    for (const auto& [key, value] : d) keys.insert(key);
    return keys;
}

class StatisticsTest : public StatisticsFixture {
protected:
    // What the ad controller and the banner do around one shown ad.
    void loadAndShowAd(double secondsToArrive) {
        stats()->incrementAdRequestCount();
        if (!stats()->timingNamed("ptime")) stats()->startTimingNamed("ptime");
        stats()->startTimingNamed("prl");
        sim().advance(secondsToArrive);
        stats()->endTimingNamed("prl");
        stats()->startTimingNamed("ppcl");
    }
    // A process that dies: what the statistics would save on the way out
    // never reaches disk, and the next process reads the disk.
    void endProcess() {
        sim().userDefaults().setSynchronizeFails(true);
        ZELStatistics::releaseSharedStatistics();
        sim().userDefaults().simulateRestart();
        sim().userDefaults().setSynchronizeFails(false);
    }
    std::optional<platform::URL> click(const std::string& link) { return stats()->urlForClick(url(link)); }
};

TEST_F(StatisticsTest, AdShownButNotClickedReportsOnlyItsLatency) {
    loadAndShowAd(0.25);
    sim().advance(2);
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p, (platform::Dictionary{{"session_id", stats()->sessionId()}, {"preqs", 1}, {"ptime", "2250"},
                                       {"prl", "250"}}));
    // The pre-click time went unreported and is gone, not kept for later.
    click("http://127.0.0.1/c?ai=a");
    EXPECT_EQ(stats()->parameters().count("ppcl"), 0u);
}

TEST_F(StatisticsTest, ClickIsReportedOnceWithAllItsPieces) {
    loadAndShowAd(0.5);
    sim().advance(3);
    EXPECT_EQ(click("http://127.0.0.1:8090/click?ai=AX12&x=1"), url("http://127.0.0.1:8090/click?ai=AX12&x=1"));
    sim().advance(1);
    stats()->addClickTrackingURL(url("http://127.0.0.1:8090/ct/TICKET-77"));
    sim().advance(4);
    platform::Dictionary first = stats()->parameters();
    EXPECT_EQ(first, (platform::Dictionary{{"session_id", stats()->sessionId()}, {"preqs", 1}, {"ptime", "8500"},
                                           {"prl", "500"}, {"ppcl", "3000"}, {"pcl", "5000"}, {"pcrl", "0"},
                                           {"pai", "AX12"}, {"pit", "TICKET-77"}, {"pcc", 1}}));
    EXPECT_EQ(signals.clickStrings, std::vector<std::string>{"AX12"});
    // The next period starts cleared but for the request total and "ptime".
    EXPECT_EQ(keysOf(stats()->parameters()), (std::set<std::string>{"session_id", "preqs", "ptime"}));
    EXPECT_FALSE(stats()->isTimingClick());
    // A second click replaces the first, ticket and all, but both are counted.
    // A ticket needs the ad network's host and five characters.
    click("http://127.0.0.1/c?ai=first");
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/T1"));
    click("http://127.0.0.1/c?ai=second");
    for (const char* notATicket : {"http://127.0.0.1/ct/", "http://tracker.example/ct/X1"})
        stats()->addClickTrackingURL(url(notATicket));
    stats()->addClickTrackingURL(std::nullopt);
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(std::tuple(p["pcc"], p["pai"], p.count("pit")), std::tuple(platform::Value(2), platform::Value("second"), 0u));
    click("http://127.0.0.1/c?ai=a");
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/Q"));
    EXPECT_EQ(stats()->parameters()["pit"], platform::Value("Q"));
}

TEST_F(StatisticsTest, WhatCountsAsAClickAndHowItIsRewritten) {
    for (const char* link : {"qmsg://ad/open?url=x", "orvik://ad/close", "about:blank"})
        EXPECT_EQ(click(link), url(link));
    EXPECT_EQ(keysOf(stats()->peekParameters()), std::set<std::string>{"session_id"});
    signals.clickSignals = "dG9rZW4";
    EXPECT_FALSE(stats()->urlForClick(std::nullopt));
    EXPECT_EQ(click("http://127.0.0.1/c?ai=&b=2")->absoluteString(), "http://127.0.0.1/c?ai=&b=2");
    EXPECT_TRUE(signals.clickStrings.empty());  // no usable "ai": the library is not asked
    EXPECT_EQ(click("http://127.0.0.1/c?ai=Z9")->absoluteString(), "http://127.0.0.1/c?ai=Z9&dG9rZW4");
    signals.clickSignals = "not a query item";  // would make an invalid URL
    EXPECT_EQ(click("http://127.0.0.1/c?ai=Z9")->absoluteString(), "http://127.0.0.1/c?ai=Z9");
    EXPECT_EQ(stats()->parameters()["pcc"], platform::Value(4));
}

TEST_F(StatisticsTest, CountersAndFlagsAreReportedOnlyWhenNotZeroAndThenCleared) {
    // A click that sent the application to the background: milliseconds since
    // the click, as a number.
    click("http://127.0.0.1/c?ai=a");
    stats()->setClickBackgroundedApp();
    sim().advance(7.5);
    stats()->incrementPageNavigationCount();
    stats()->incrementPageNavigationCount();
    stats()->incrementSSLPageNavigationCount();
    stats()->resetSSLPageNavigationCount();
    stats()->setBreakOutToSafari();
    stats()->setAppOpenInterstitialTimeOut();
    stats()->setAppOpenInterstitialNoFill();
    stats()->resetAppOpenInterstitialNoFill();
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(keysOf(p), (std::set<std::string>{"session_id", "plpnc", "pcbo", "aoi_timedout", "pcc", "pcl", "pcrl", "pai", "pclb"}));
    EXPECT_EQ(std::tuple(p["plpnc"], p["pcl"], p["pclb"]), std::tuple(platform::Value(2), platform::Value(7500), platform::Value(1)));
    EXPECT_EQ(keysOf(stats()->parameters()), std::set<std::string>{"session_id"});
}

TEST_F(StatisticsTest, CountersSurviveARestartOnlyAfterSynchronize) {
    stats()->incrementClickCount();
    stats()->setBreakOutToSafari();
    stats()->setAdRequestCount(41);
    stats()->synchronize();
    stats()->incrementClickCount();
    stats()->setAppOpenInterstitialNoFill();
    endProcess();
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(std::tuple(p["pcc"], p["pcbo"], p.count("aoi_nofill")), std::tuple(platform::Value(1), platform::Value(1), 0u));
    EXPECT_EQ(stats()->adRequestCount(), 41);  // "preqs" outlives parameters
    stats()->setAdRequestCount(9);
    endProcess();
    EXPECT_EQ(stats()->adRequestCount(), 41);
}

TEST_F(StatisticsTest, StoredJunkIsIgnoredAndReplacedByTheNextSave) {
    sim().userDefaults().setObject("garbage", "nimbra_stats_shared");
    {
        ZELStatisticsCore core("shared");
        EXPECT_TRUE(core.allValues().empty());
        core.setNumber(1, "pcc");
    }
    EXPECT_EQ(sim().userDefaults().objectForKey("nimbra_stats_shared"), platform::Value(platform::Dictionary{{"pcc", 1}}));
    // (The stores refuse a null inside a dictionary, so none can be stored.)
    sim().userDefaults().setObject(platform::Dictionary{{"pcc", "3"}, {"preqs", platform::Dictionary{}}, {"pcbo", 1},
                                              {"plpnc", 2.9}, {"plpsnc", platform::Array{}}},
                         "nimbra_stats_shared");
    platform::Dictionary p = stats()->parameters();
    for (const char* junk : {"pcc", "preqs", "plpsnc"}) EXPECT_EQ(p.count(junk), 0u) << junk;
    EXPECT_EQ(p["pcbo"], platform::Value(1));
    EXPECT_EQ(p["plpnc"], platform::Value(2.9));
    EXPECT_EQ(stats()->incrementAdRequestCount(), 1);
}

}  // namespace
