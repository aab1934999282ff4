// ZELCachedFile and ZELClickTracker on real HTTP: libsoup underneath, real
// files in the test's caches directory, and nimbra-adserver at the other end.
// Broken answers are the transport's (SoupConnectionTest) and the unit tests'.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "Request/ZELRequestParameters.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/support/GtkTestEnvironment.h"
#include "platform/Date.h"
#include "unit/ads/cachedfile/Recorders.h"

namespace {

using adserver_test::httpRequest;
using nimbra::test::spinUntil;

class CacheOnHttp : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        ASSERT_TRUE(server.ok()) << "nimbra-adserver did not start";
    }
    void TearDown() override { nimbra::test::spinFor(0.05); }  // released connections go first
    platform::URL url(const std::string& text) {
        return *platform::URL::parse(text.starts_with("/") ? server.origin() + text : text);
    }
    nlohmann::json counters() { return nlohmann::json::parse(httpRequest(server.port(), "/status").body)["counters"]; }
    adserver_test::AdServerProcess server;
};

TEST_F(CacheOnHttp, SupportScriptIsStoredWithTheServerTimeThenRevalidated) {
    auto files = std::make_shared<FileRecorder>();
    ZELCachedFile file(files, url("/ruma/sdk-core-v40.js"));
    file.invalidate();
    for (int fetches = 1; fetches <= 2; ++fetches) {
        file.validate();
        ASSERT_TRUE(spinUntil([&] { return files->finished() == size_t(fetches); }, 30)) << "the fetch never ended";
    }
    EXPECT_EQ(files->ends(), 2);
    EXPECT_EQ(file.httpStatusCode(), 304);
    EXPECT_NE(file.content().value_or("").find("RUMA_buildAdURL"), std::string::npos);
    const auto lastModified = platform::parseDate(file.httpHeaders()->at("Last-Modified").substr(0, 25),
                                                  "EEE, dd MMM yyyy HH:mm:ss", platform::TimeZone::GMT);
    ASSERT_TRUE(lastModified);
    EXPECT_EQ(cache_test::modificationTime(*file.filePath()), static_cast<time_t>(lastModified->unixTime()));
    EXPECT_EQ(counters()["script"], 1);
    EXPECT_EQ(counters()["script_304"], 1);
}

TEST_F(CacheOnHttp, ClickChainsEndAtTheLandingPageOrInAnotherApplicationWithTheTicket) {
    // Fetched outside the shared session, so the visitor cookie stays out of it.
    const auto clickOf = [&](const std::string& target) {
        std::smatch match;
        const std::string markup = httpRequest(server.port(), target).body;
        std::regex_search(markup, match, std::regex("href=\"([^\"]*)\""));
        return std::regex_replace(match[1].str(), std::regex("&amp;"), "&");
    };
    const auto ad = httpRequest(server.port(), "/ads?slotname=a1b2c3d4e5f6a7b");
    const std::string tracking = ad.header("x-ruma-click-tracking-urls").value_or("");
    const std::string second = tracking.substr(tracking.find(' ') + 1);  // one hop
    const std::string click = clickOf("/ads?slotname=a1b2c3d4e5f6a7b");
    ASSERT_TRUE(click.starts_with(server.origin() + "/click?ai=")) << click;
    ZELStatistics::setAdNetworkDomainSuffixForTesting("127.0.0.1");
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->startTimingNamed(kZELParameterPriorClickLatency);
    auto trackers = std::make_shared<TrackerRecorder>();
    auto tracker = ZELClickTracker::create(trackers);
    for (const std::string& target : {click, clickOf("/ads?slotname=nonweb"), second}) {
        const size_t before = trackers->finished();
        tracker->trackURL(url(target));
        ASSERT_TRUE(spinUntil([&] { return trackers->finished() > before; }, 30)) << target;
    }
    nimbra::test::spinFor(0.2);  // room for a stray second report
    ASSERT_EQ(trackers->redirects.size(), 3u);
    EXPECT_TRUE(trackers->failures.empty());
    const std::string token = click.substr(click.find("ai=") + 3, 16);
    EXPECT_TRUE(trackers->redirects[0].value_or("").starts_with(server.origin() + "/landing?ai=" + token));
    EXPECT_EQ(trackers->redirects[1], std::optional<std::string>("market://details?id=com.nimbra.demo"));
    auto timing = statistics->timingNamed(kZELParameterPriorClickLatency);
    ASSERT_TRUE(timing);
    EXPECT_EQ(timing->valueForKey(kZELParameterPriorImpressionTicketString),
              std::optional<platform::Value>(second.substr(second.find("/ct/") + 4, 16)));
    statistics->removeTimingNamed(kZELParameterPriorClickLatency);
    ZELStatistics::setAdNetworkDomainSuffixForTesting("");
    const auto seen = counters();
    EXPECT_EQ(std::tuple(seen["click"], seen["hop"], seen["landing"], seen["ctrack"]), std::tuple(2, 5, 1, 1));
}

}  // namespace
