// The statistics that ride on the next ad request (latencies, clicks and
// their tickets, counters and flags, kept across restarts in their core
// store), and the request that carries them: its parameters, copies and
// errors.

#include <cstdlib>
#include <ranges>

#include "Network/ZELNetworkChecker.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "signals/Signals.h"
#include "unit/support/SimTest.h"

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Value;

// A fresh statistics object on a freshly reset sim for every test, and a
// signals provider the tests can script.
class ScriptedSignals : public SignalsProvider {
public:
    bool gmcs(const std::string& clickString, std::string& output) override {
        clickStrings.push_back(clickString);
        if (clickSignals) output = *clickSignals;
        return clickSignals.has_value();
    }
    std::optional<std::string> clickSignals;
    std::vector<std::string> clickStrings;
};

class StatisticsFixture : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // The previous test's instance saves itself as it goes; start clean.
        ZELStatistics::releaseSharedStatistics();
        sim().userDefaults().reset();
        ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
        zel_signals_set_provider(&signals);
        ZELNetworkChecker::sharedChecker().setNetworkTypeFromFlags(platform::kReachabilityFlagReachable);
    }
    void TearDown() override {
        zel_signals_set_provider(nullptr);
        ZELStatistics::setAdNetworkDomainSuffixForTesting("");
        ZELStatistics::releaseSharedStatistics();
        SimTest::TearDown();
    }
    std::shared_ptr<ZELStatistics> stats() { return ZELStatistics::sharedStatistics(); }
    ScriptedSignals signals;
};

std::set<std::string> keysOf(const Dictionary& d) {
    const auto keys = std::views::keys(d);
    return {keys.begin(), keys.end()};
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
    // A click that opened something: counted, and the URL it opened.
    std::optional<platform::URL> click(const std::string& link) {
        stats()->countClick(url(link));
        return stats()->clickURL(url(link));
    }
};

// Drawn from the system, leaving the process's random() sequence alone.
TEST_F(StatisticsTest, SessionNumberDoesNotReseedTheProcess) {
    srandom(7);
    const long expected = random();
    srandom(7);
    ZELStatistics::releaseSharedStatistics();
    const uint32_t first = stats()->sessionId();
    EXPECT_EQ(random(), expected);
    EXPECT_NE(ZELStatistics::randomSessionId(), first) << "1 in 4 billion by chance";
}

TEST_F(StatisticsTest, AClickIsReportedOnceWithAllItsPieces) {
    loadAndShowAd(0.5);
    sim().advance(3);
    EXPECT_EQ(click("http://127.0.0.1:8090/click?ai=AX12&x=1"), url("http://127.0.0.1:8090/click?ai=AX12&x=1"));
    sim().advance(1);
    stats()->addClickTrackingURL(url("http://127.0.0.1:8090/ct/TICKET-77"));
    sim().advance(4);
    // clang-format off
    EXPECT_EQ(stats()->parameters(), (Dictionary{{"session_id", stats()->sessionId()}, {"preqs", 1}, {"ptime", "8500"},
        {"prl", "500"}, {"ppcl", "3000"}, {"pcl", "5000"}, {"pcrl", "0"}, {"pai", "AX12"}, {"pit", "TICKET-77"}, {"pcc", 1}}));
    // clang-format on
    EXPECT_EQ(signals.clickStrings, std::vector<std::string>{"AX12"});
    // The next period starts cleared but for the request total and "ptime".
    EXPECT_EQ(keysOf(stats()->parameters()), (std::set<std::string>{"session_id", "preqs", "ptime"}));
}

// Ticket and all, but both are counted.
TEST_F(StatisticsTest, ALaterClickReplacesTheFirst) {
    click("http://127.0.0.1/c?ai=first");
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/T1"));
    click("http://127.0.0.1/c?ai=second");
    Dictionary p = stats()->parameters();
    EXPECT_EQ(std::tuple(p["pcc"], p["pai"], p.count("pit")), std::tuple(Value(2), Value("second"), 0u));
}

TEST_F(StatisticsTest, OnlyTheAdNetworksTrackingGivesATicket) {
    click("http://127.0.0.1/c?ai=a");
    for (const char* notATicket : {"http://127.0.0.1/ct/", "http://tracker.example/ct/X1"})
        stats()->addClickTrackingURL(url(notATicket));
    stats()->addClickTrackingURL(std::nullopt);
    EXPECT_EQ(stats()->peekParameters().count("pit"), 0u);
    stats()->addClickTrackingURL(url("http://127.0.0.1/ct/Q"));
    EXPECT_EQ(stats()->parameters()["pit"], Value("Q"));
}

TEST_F(StatisticsTest, OnlyWebPagesAreClicks) {
    for (const char* link : {"qmsg://ad/open?url=x", "orvik://ad/close", "about:blank"})
        EXPECT_EQ(click(link), url(link));
    EXPECT_EQ(keysOf(stats()->peekParameters()), std::set<std::string>{"session_id"});
}

// With the click signals of its "ai", when it has one and they make a URL.
TEST_F(StatisticsTest, AClickOpensItsURLWithTheClickSignals) {
    signals.clickSignals = "dG9rZW4";
    stats()->countClick(std::nullopt);  // a web app from markup: a click without a URL
    EXPECT_FALSE(stats()->clickURL(std::nullopt));
    EXPECT_EQ(click("http://127.0.0.1/c?ai=&b=2")->absoluteString(), "http://127.0.0.1/c?ai=&b=2");
    EXPECT_TRUE(signals.clickStrings.empty());  // no usable "ai": the library is not asked
    EXPECT_EQ(click("http://127.0.0.1/c?ai=Z9")->absoluteString(), "http://127.0.0.1/c?ai=Z9&dG9rZW4");
    signals.clickSignals = "not a query item";  // would make an invalid URL
    EXPECT_EQ(click("http://127.0.0.1/c?ai=Z9")->absoluteString(), "http://127.0.0.1/c?ai=Z9");
    EXPECT_EQ(stats()->parameters()["pcc"], Value(4));
}

// Reported once: only when set, and cleared by the request that carries them.
TEST_F(StatisticsTest, EachCountIsReportedOnceWhenSet) {
    // A click that sent the application to the background: milliseconds since
    // the click, as a number.
    click("http://127.0.0.1/c?ai=a");
    stats()->setClickBackgroundedApp();
    sim().advance(7.5);
    for (int i = 0; i < 2; ++i) stats()->incrementPageNavigationCount();
    stats()->incrementSSLPageNavigationCount();
    stats()->resetSSLPageNavigationCount();
    stats()->setBreakOutToSafari();
    Dictionary p = stats()->parameters();
    EXPECT_EQ(keysOf(p), (std::set<std::string>{"session_id", "plpnc", "pcbo", "pcc", "pcl", "pcrl", "pai", "pclb"}));
    EXPECT_EQ(std::tuple(p["plpnc"], p["pcl"], p["pclb"]), std::tuple(Value(2), Value(7500), Value(1)));
    EXPECT_EQ(keysOf(stats()->parameters()), std::set<std::string>{"session_id"});
}

TEST_F(StatisticsTest, CountersSurviveARestartOnlyAfterSynchronize) {
    stats()->incrementClickCount();
    stats()->setBreakOutToSafari();
    stats()->setAdRequestCount(41);
    stats()->synchronize();
    stats()->incrementClickCount();
    stats()->incrementPageNavigationCount();
    endProcess();
    Dictionary p = stats()->parameters();
    EXPECT_EQ(std::tuple(p["pcc"], p["pcbo"], p.count("plpnc")), std::tuple(Value(1), Value(1), 0u));
    EXPECT_EQ(stats()->adRequestCount(), 41);  // "preqs" outlives parameters
    stats()->setAdRequestCount(9);
    endProcess();
    EXPECT_EQ(stats()->adRequestCount(), 41);
}

// The next save replaces it.
TEST_F(StatisticsTest, StoredJunkIsIgnored) {
    sim().userDefaults().setObject("garbage", "nimbra_stats_shared");
    {
        ZELStatisticsCore core("shared");
        EXPECT_TRUE(core.allValues().empty());
        core.setNumber(1, "pcc");
    }
    EXPECT_EQ(sim().userDefaults().objectForKey("nimbra_stats_shared"), Value(Dictionary{{"pcc", 1}}));
    // (The stores refuse a null inside a dictionary, so none can be stored.)
    const Dictionary stored{{"pcc", "3"}, {"preqs", Dictionary{}}, {"pcbo", 1}, {"plpnc", 2.9}, {"plpsnc", Array{}}};
    sim().userDefaults().setObject(stored, "nimbra_stats_shared");
    Dictionary p = stats()->parameters();
    for (const char* junk : {"pcc", "preqs", "plpsnc"}) EXPECT_EQ(p.count(junk), 0u) << junk;
    EXPECT_EQ(std::pair(p["pcbo"], p["plpnc"]), std::pair(Value(1), Value(2.9)));
    EXPECT_EQ(stats()->incrementAdRequestCount(), 1);
}

using RequestTest = StatisticsFixture;

std::shared_ptr<ZELRequestPrivate> privateRequest() {
    return std::dynamic_pointer_cast<ZELRequestPrivate>(ZELRequest::request());
}

// The device's, the version's, the network's and the statistics' entries,
// and its number.
TEST_F(RequestTest, AFreshRequestsParameters) {
    auto request = privateRequest();
    Dictionary expected = ZELIdentifierUtilities::sharedInstance().parameters();
    for (auto [key, value] :
         Dictionary{{"js", "ruma-sdk-i-v4.1.1"}, {"net", "wi"}, {"session_id", stats()->sessionId()}, {"preqs", 0}})
        expected[key] = value;
    EXPECT_EQ(request->parameters(), expected);
}

TEST_F(RequestTest, ItsOwnNumberWinsOverTheStatisticsTotal) {
    auto request = privateRequest();
    stats()->setAdRequestCount(12);
    request->setCounter(5);
    EXPECT_EQ(request->parameters()["preqs"], Value(5));
}

// An invalid birthday or place keeps what was set before it.
TEST_F(RequestTest, TargetingBecomesTypedParameters) {
    auto request = privateRequest();
    request->setGender(3);
    EXPECT_EQ(request->parameters().count("cust_gender"), 0u);
    request->setGender(ZELRequest::kGenderFemale);
    for (auto [month, day, year] : {std::tuple(2, 29, 2000), {2, 30, 2001}, {13, 1, 2001}})
        request->setBirthdayWithMonth(month, day, year);
    for (const char* keyword : {"a", "", "a"}) request->addKeyword(keyword);
    request->setAdditionalParameters(Dictionary{{"color", "red"}, {"n", 2}});
    request->setLocationWithDescription("Plaza \"Mayor\"");
    request->setLocationWithLatitude(0, 20, 5);
    request->setLocationWithLatitude(90.5, 20, 5);
    request->setLocationWithDescription("");
    Dictionary p = request->parameters();
    EXPECT_EQ(std::pair(p["cust_gender"], p["cust_age"]), std::pair(Value("f"), Value("20000229")));
    EXPECT_EQ(p["kw"], Value(Array{"a", "a"}));
    EXPECT_EQ(p["extras"], Value(Dictionary{{"color", "red"}, {"n", 2}}));
    ASSERT_TRUE(p["uule"].asString());
    EXPECT_EQ(p["uule"].asString()->rfind("a+", 0), 0u);
    request->setLocationWithLatitude(45.5, -73.25, 12.5);
    EXPECT_EQ(request->parameters()["uule"].asString()->rfind("e1+", 0), 0u);
}

// By the application's own identifier of the device (the one "isu" hashes),
// never by the machine id.
TEST_F(RequestTest, TestModeOnlyForThisDevice) {
    auto request = privateRequest();
    const std::string device = platform::Device::current().uniqueIdentifier();
    request->setTestDevices(std::vector<std::string>{"someone-else", sim().device().machineIdentifier(), ""});
    EXPECT_EQ(request->parameters().count("adtest"), 0u);
    request->setTestDevices(std::vector<std::string>{"someone-else", device});
    EXPECT_EQ(request->parameters()["adtest"], Value("on"));
    sim().device().setMachineIdentifier("not a machine id");
    request->setTestDevices(std::vector<std::string>{""});
    EXPECT_EQ(request->parameters().count("adtest"), 0u) << "no identifier matches nothing";
}

TEST_F(RequestTest, CopyIsANewWorkingRequestWithSettingsButCounterZero) {
    auto original = privateRequest();
    original->setGender(ZELRequest::kGenderMale);
    original->addKeyword("k");
    original->setLocationWithDescription("Lima");
    original->setAdditionalParameters(Dictionary{{"x", "y"}});
    original->setInterstitialAd(true);
    original->setCounter(9);
    auto copy = std::dynamic_pointer_cast<ZELRequestPrivate>(original->copy());
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->isInterstitialAd());
    EXPECT_EQ(copy->counter(), 0);
    Dictionary expected = original->peekParameters();
    expected["preqs"] = 0;
    EXPECT_EQ(copy->peekParameters(), expected);
    copy->addKeyword("more");
    EXPECT_EQ(original->keywords()->size(), 1u);
}

TEST_F(RequestTest, OnlyAnInvalidRequestErrorCarriesTheParameters) {
    auto request = privateRequest();
    request->addKeyword("shoes");
    request->setCounter(3);
    EXPECT_EQ(ZELRequestError::errorWithCode(ZELErrorNoAd, request.get()).userInfo().count("kw"), 0u);
    ZELRequestError invalid = ZELRequestError::errorWithCode(ZELErrorInvalidRequest, request.get());
    Dictionary expected = request->peekParameters();
    expected[kZELLocalizedDescriptionKey] = expected[kZELLocalizedFailureReasonErrorKey] =
        invalid.localizedDescription();
    EXPECT_EQ(invalid.userInfo(), expected);
    EXPECT_EQ(invalid.userInfo().at("kw"), Value(Array{"shoes"}));
}

// The error reads the statistics without using them up: the next request
// still reports them.
TEST_F(RequestTest, AnErrorLeavesTheStatisticsToTheNextRequest) {
    stats()->incrementClickCount();
    stats()->startTimingNamed("prl");
    stats()->endTimingNamed("prl");
    auto request = privateRequest();
    EXPECT_EQ(ZELRequestError::errorWithCode(ZELErrorInvalidRequest, request.get()).userInfo().at("pcc"), Value(1));
    Dictionary next = request->parameters();
    EXPECT_EQ(std::pair(next["pcc"], next.count("prl")), std::pair(Value(1), size_t{1}));
}

}  // namespace
