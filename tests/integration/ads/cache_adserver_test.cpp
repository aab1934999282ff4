// The cached file and the click tracker against nimbra-adserver, the peer that
// speaks the real wire contract (support script with 304s, click chains,
// broken answers).

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <memory>

#include "Request/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/ads/CacheTestSupport.h"
#include "platform/Date.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using adserver_test::AdServerProcess;

class CacheAgainstAdServer : public CacheIntegrationTest {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<AdServerProcess>(); }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        CacheIntegrationTest::SetUp();
        ASSERT_TRUE(server_ && server_->ok()) << "nimbra-adserver did not start";
        adserver_test::httpRequest(server_->port(), "/status/reset", "POST");
    }

    static platform::URL url(const std::string& target) { return *platform::URL::parse(server_->origin() + target); }
    static nlohmann::json counters() {
        auto status = adserver_test::httpRequest(server_->port(), "/status");
        return nlohmann::json::parse(status.body, nullptr, false)["counters"];
    }
    void fetch(ZELCachedFile& file) {
        const size_t before = files->finished();
        file.validate();
        ASSERT_TRUE(spinUntil([&] { return files->finished() > before; })) << "the fetch never ended";
    }
    void track(ZELClickTracker& tracker, const std::string& target) {
        const size_t before = trackers->finished();
        tracker.trackURL(url(target));
        ASSERT_TRUE(spinUntil([&] { return trackers->finished() > before; })) << "the tracking never ended";
        spinFor(0.2);
    }

    static std::unique_ptr<AdServerProcess> server_;
    std::shared_ptr<FileRecorder> files = std::make_shared<FileRecorder>();
    std::shared_ptr<TrackerRecorder> trackers = std::make_shared<TrackerRecorder>();
};

std::unique_ptr<AdServerProcess> CacheAgainstAdServer::server_;

TEST_F(CacheAgainstAdServer, SupportScriptIsStoredThenRevalidated) {
    ZELCachedFile file(files, url("/ruma/sdk-core-v40.js"));
    file.invalidate();
    fetch(file);
    ASSERT_EQ(files->ends(), 1);
    ASSERT_TRUE(file.content());
    EXPECT_NE(file.content()->find("RUMA_buildAdURL"), std::string::npos);
    ASSERT_TRUE(file.httpHeaders());
    const auto lastModified = platform::parseDate(file.httpHeaders()->at("Last-Modified").substr(0, 25),
                                                  "EEE, dd MMM yyyy HH:mm:ss", platform::TimeZone::GMT);
    ASSERT_TRUE(lastModified);
    struct stat st {};
    ASSERT_EQ(::stat(file.filePath()->c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, static_cast<time_t>(lastModified->unixTime()));

    fetch(file);
    EXPECT_EQ(files->ends(), 2);
    EXPECT_EQ(file.httpStatusCode(), 304);
    EXPECT_EQ(counters()["script"], 1);
    EXPECT_EQ(counters()["script_304"], 1);
}

TEST_F(CacheAgainstAdServer, BrokenAdAnswersFailOnce) {
    // (The "reset" scenario cuts a filled answer whose cookie the shared
    // session would keep for every later test on 127.0.0.1; the raw-server
    // tests cover cut answers.)
    struct Case {
        const char* scenario;
        bool withError;
    } cases[] = {{"404", false}, {"500", false}, {"redirectloop", true}};
    for (const auto& c : cases) {
        files->events.clear();
        ZELCachedFile file(files, url(std::string("/ads?slotname=") + c.scenario));
        fetch(file);
        spinFor(0.1);
        EXPECT_EQ(files->finished(), 1u) << c.scenario;
        ASSERT_EQ(files->fails(), 1) << c.scenario;
        EXPECT_EQ(files->events[0].error.has_value(), c.withError) << c.scenario;
        EXPECT_FALSE(file.hasContent()) << c.scenario;
    }
}

TEST_F(CacheAgainstAdServer, ClickChainsEndAtTheLandingPageOrInAnotherApplication) {
    ZELClickTracker tracker(trackers);
    track(tracker, "/click?ai=0123456789abcdef&seq=1&hops=3");
    track(tracker, "/click?ai=00ff&seq=2&hops=2&dest=market%3A%2F%2Fdetails%3Fid%3Dcom.nimbra.demo");
    EXPECT_EQ(trackers->redirects,
              (std::vector<std::optional<std::string>>{server_->origin() + "/landing?ai=0123456789abcdef&seq=1",
                                                       std::string("market://details?id=com.nimbra.demo")}));
    EXPECT_TRUE(trackers->failures.empty());
    const auto seen = counters();
    EXPECT_EQ(seen["click"], 2);
    EXPECT_EQ(seen["hop"], 5);
    EXPECT_EQ(seen["landing"], 1);
}

TEST_F(CacheAgainstAdServer, ClickTrackingTicketReachesTheStatistics) {
    ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->startTimingNamed(kZELParameterPriorClickLatency);
    ZELClickTracker tracker(trackers);
    track(tracker, "/ct/89abcdef01234567?seq=3&n=2&hops=1");
    EXPECT_EQ(trackers->redirects.size(), 1u);
    auto timing = statistics->timingNamed(kZELParameterPriorClickLatency);
    ASSERT_TRUE(timing);
    EXPECT_EQ(timing->valueForKey(kZELParameterPriorImpressionTicketString),
              std::optional<platform::Value>("89abcdef01234567"));
    statistics->removeTimingNamed(kZELParameterPriorClickLatency);
    ZELStatistics::setAdNetworkDomainSuffixForTesting("");
}

}  // namespace
