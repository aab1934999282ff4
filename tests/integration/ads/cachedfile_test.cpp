// ZELCachedFile and ZELClickTracker on real HTTP: libsoup underneath, real
// files in the test's caches directory, and at the other end nimbra-adserver
// (the real wire contract) or loopback servers scripted for the odd cases.

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <regex>

#include "Request/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"
#include "platform/Date.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using adserver_test::AdServerProcess;
using nimbra::test::RawTcpServer;
using nimbra::test::spinFor;
using nimbra::test::TestHttpServer;

class CacheOnHttp : public ::testing::Test {
protected:
    static void SetUpTestSuite() { adServer = std::make_unique<AdServerProcess>(); }
    static void TearDownTestSuite() { adServer.reset(); }
    void SetUp() override {
        nimbra::test::gtkBackend();
        ASSERT_TRUE(adServer->ok()) << "nimbra-adserver did not start";
        adserver_test::httpRequest(adServer->port(), "/status/reset", "POST");
    }
    // Released connections and kept objects go before the next test.
    void TearDown() override { spinFor(0.05); }

    // A path on the ad server, or an absolute URL.
    static platform::URL url(const std::string& text) {
        return *platform::URL::parse(text.starts_with("/") ? adServer->origin() + text : text);
    }
    static nlohmann::json counters() {
        auto status = adserver_test::httpRequest(adServer->port(), "/status");
        return nlohmann::json::parse(status.body, nullptr, false)["counters"];
    }
    static bool spinUntil(const std::function<bool()>& done) { return nimbra::test::spinUntil(done, 30); }
    void fetch(ZELCachedFile& file) {
        const size_t before = files->finished();
        file.validate();
        ASSERT_TRUE(spinUntil([&] { return files->finished() > before; })) << "the fetch never ended";
    }
    void track(ZELClickTracker& tracker, const std::string& target) {
        const size_t before = trackers->redirects.size() + trackers->failures.size();
        tracker.trackURL(url(target));
        ASSERT_TRUE(spinUntil([&] { return trackers->redirects.size() + trackers->failures.size() > before; }));
        spinFor(0.2);  // room for a stray second report
    }

    static inline std::unique_ptr<AdServerProcess> adServer;
    TestHttpServer server;
    std::shared_ptr<FileRecorder> files = std::make_shared<FileRecorder>();
    std::shared_ptr<TrackerRecorder> trackers = std::make_shared<TrackerRecorder>();
};

TEST_F(CacheOnHttp, SupportScriptIsStoredWithTheServerTimeThenRevalidated) {
    ZELCachedFile file(files, url("/ruma/sdk-core-v40.js"));
    file.invalidate();
    fetch(file);
    ASSERT_EQ(files->ends(), 1);
    EXPECT_NE(file.content().value_or("").find("RUMA_buildAdURL"), std::string::npos);
    ASSERT_TRUE(file.httpHeaders());
    const auto lastModified = platform::parseDate(file.httpHeaders()->at("Last-Modified").substr(0, 25),
                                                  "EEE, dd MMM yyyy HH:mm:ss", platform::TimeZone::GMT);
    ASSERT_TRUE(lastModified);
    EXPECT_EQ(cache_test::modificationTime(*file.filePath()), static_cast<time_t>(lastModified->unixTime()));

    fetch(file);
    EXPECT_EQ(files->ends(), 2);
    EXPECT_EQ(file.httpStatusCode(), 304);
    EXPECT_EQ(counters()["script"], 1);
    EXPECT_EQ(counters()["script_304"], 1);
}

TEST_F(CacheOnHttp, BrokenAnswersFailOnceAndKeepTheOldFile) {
    server.route("/f", TestHttpServer::answer(200, "good"));
    ZELCachedFile file(files, url(server.url("/f")));
    fetch(file);
    ASSERT_EQ(files->ends(), 1);

    // (The ad server's "reset" scenario would leave its visitor cookie in the
    // shared session for every later test on 127.0.0.1; the raw server cuts answers.)
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nContent-Type: text/plain\r\n";
    using enum RawTcpServer::Ending;
    struct Case {
        std::string adServerTarget, raw;
        RawTcpServer::Ending ending;
        bool withError;
    } cases[] = {{"/ads?slotname=500", "", Close, false},
                 {"/ads?slotname=redirectloop", "", Close, true},
                 {"", head + "Connection: close\r\n\r\nonly the start", Close, true},
                 {"", std::string("\x00\xff not http at all\r\n\r\n", 22), Close, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.adServerTarget + c.raw);
        RawTcpServer raw({c.raw}, c.ending);
        server.route("/f", TestHttpServer::redirect(c.raw.empty() ? adServer->origin() + c.adServerTarget : raw.url("/f")));
        files->events.clear();
        fetch(file);
        spinFor(0.2);  // nothing more arrives later
        EXPECT_EQ(files->finished(), 1u);
        ASSERT_EQ(files->fails(), 1);
        EXPECT_EQ(files->events[0].error.has_value(), c.withError);
        EXPECT_EQ(file.content(), std::optional<std::string>("good"));
        EXPECT_FALSE(file.isFetching());
    }
}

TEST_F(CacheOnHttp, ClickChainsEndAtTheLandingPageOrInAnotherApplication) {
    // Fetched outside the shared session, so the visitor cookie stays out of it.
    const auto ad = adserver_test::httpRequest(adServer->port(), "/ads?slotname=a1b2c3d4e5f6a7b");
    const auto clickOf = [](const std::string& markup) {
        std::smatch match;
        std::regex_search(markup, match, std::regex("href=\"([^\"]*)\""));
        return std::regex_replace(match[1].str(), std::regex("&amp;"), "&");
    };
    const std::string click = clickOf(ad.body);
    ASSERT_TRUE(click.starts_with(adServer->origin() + "/click?ai=")) << click;
    const std::string token = click.substr(click.find("ai=") + 3, 16);

    auto tracker = ZELClickTracker::create(trackers);
    track(*tracker, click);
    track(*tracker, clickOf(adserver_test::httpRequest(adServer->port(), "/ads?slotname=nonweb").body));
    ASSERT_EQ(trackers->redirects.size(), 2u);
    EXPECT_TRUE(trackers->redirects[0].value_or("").starts_with(adServer->origin() + "/landing?ai=" + token));
    EXPECT_EQ(trackers->redirects[1], std::optional<std::string>("market://details?id=com.nimbra.demo"));

    // The second click-tracking URL takes one hop; the ticket of its first URL
    // reaches the click's timing.
    ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->startTimingNamed(kZELParameterPriorClickLatency);
    const std::string tracking = ad.header("x-ruma-click-tracking-urls").value_or("");
    const std::string second = tracking.substr(tracking.find(' ') + 1);
    track(*tracker, second);
    auto timing = statistics->timingNamed(kZELParameterPriorClickLatency);
    ASSERT_TRUE(timing);
    EXPECT_EQ(timing->valueForKey(kZELParameterPriorImpressionTicketString),
              std::optional<platform::Value>(second.substr(second.find("/ct/") + 4, 16)));
    statistics->removeTimingNamed(kZELParameterPriorClickLatency);
    ZELStatistics::setAdNetworkDomainSuffixForTesting("");

    EXPECT_TRUE(trackers->failures.empty());
    const auto seen = counters();
    EXPECT_EQ(seen["click"], 2);
    EXPECT_EQ(seen["hop"], 5);
    EXPECT_EQ(seen["landing"], 1);
    EXPECT_EQ(seen["ctrack"], 1);
}

}  // namespace
