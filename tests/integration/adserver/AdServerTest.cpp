// nimbra-adserver over real HTTP on loopback: the wire contract that the
// component and the other tests rely on (docs/ad-server.md).
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <nlohmann/json.hpp>
#include <atomic>
#include <regex>
#include <thread>
#include <sstream>

#include "integration/adserver/AdServerProcess.h"

namespace adserver_test {
namespace {

constexpr const char kAdUnit[] = "a1b2c3d4e5f6a7b";

std::vector<std::string> splitAtBlank(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t blank = text.find(' ', start);
    pieces.push_back(text.substr(start, blank - start));
    if (blank == std::string::npos) return pieces;
    start = blank + 1;
  }
}

std::string hrefOf(const std::string& markup) {
  std::smatch match;
  if (!std::regex_search(markup, match, std::regex("href=\"([^\"]*)\""))) return {};
  return std::regex_replace(match[1].str(), std::regex("&amp;"), "&");
}

nlohmann::json status(const AdServerProcess& server) {
  const HttpResponse response = httpRequest(server.port(), "/status");
  return nlohmann::json::parse(response.body, nullptr, false);
}

class AdServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()) << "nimbra-adserver did not start"; }
  HttpResponse get(const std::string& target, const std::vector<std::string>& headers = {}) {
    return httpRequest(server_.port(), target, "GET", headers);
  }
  AdServerProcess server_{{"--refresh-rate", "12.5"}};
};

TEST_F(AdServerTest, SupportScriptHonoursIfModifiedSince) {
  const HttpResponse first = get("/ruma/sdk-core-v40.js");
  ASSERT_EQ(first.status, 200u);
  EXPECT_EQ(first.header("content-type"), "application/javascript; charset=utf-8");
  EXPECT_NE(first.body.find("RUMA_buildAdURL"), std::string::npos);
  EXPECT_NE(first.body.find("RUMA_ReceiveMessage"), std::string::npos);
  const auto lastModified = first.header("last-modified");
  ASSERT_TRUE(lastModified);
  GDateTime* stamp = soup_date_time_new_from_http_string(lastModified->c_str());
  ASSERT_NE(stamp, nullptr);
  GDateTime* earlier = g_date_time_add_seconds(stamp, -1);
  GDateTime* later = g_date_time_add_seconds(stamp, 3600);
  const auto http = [](GDateTime* date) {
    char* text = soup_date_time_to_string(date, SOUP_DATE_HTTP);
    std::string result = text;
    g_free(text);
    return result;
  };
  const std::string earlierText = http(earlier), laterText = http(later);
  g_date_time_unref(stamp);
  g_date_time_unref(earlier);
  g_date_time_unref(later);

  const HttpResponse same = get("/ruma/sdk-core-v40.js", {"If-Modified-Since: " + *lastModified});
  EXPECT_EQ(same.status, 304u);
  EXPECT_TRUE(same.body.empty());
  EXPECT_EQ(same.header("last-modified"), lastModified);
  EXPECT_EQ(get("/ruma/sdk-core-v40.js", {"If-Modified-Since: " + laterText}).status, 304u);
  EXPECT_EQ(get("/ruma/sdk-core-v40.js", {"If-Modified-Since: " + earlierText}).status, 200u);
  EXPECT_EQ(get("/ruma/sdk-core-v40.js", {"If-Modified-Since: not a date"}).status, 200u);

  const auto report = status(server_);
  EXPECT_EQ(report["counters"]["script"], 3);
  EXPECT_EQ(report["counters"]["script_304"], 2);
}

TEST_F(AdServerTest, GoodAdUnitGetsMarkupAndAllHeaders) {
  const HttpResponse ad = get(std::string("/ads?slotname=") + kAdUnit);
  ASSERT_EQ(ad.status, 200u);
  EXPECT_EQ(ad.header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(ad.header("x-ruma-orientation"), "portrait");
  EXPECT_EQ(ad.header("x-ruma-interstitial-timeout"), "5");
  EXPECT_EQ(ad.header("x-ruma-refresh-rate"), "12.5");
  EXPECT_NE(ad.body.find("Ad #1"), std::string::npos);

  const auto impressions = splitAtBlank(ad.header("x-ruma-tracking-urls").value_or(""));
  const auto clickTracking = splitAtBlank(ad.header("x-ruma-click-tracking-urls").value_or(""));
  ASSERT_EQ(impressions.size(), 2u);
  ASSERT_FALSE(clickTracking.empty());
  // Tickets: the path after its first four characters ("/im/", "/ct/").
  const std::regex impression("/im/([0-9a-f]{16})\\?.*"), tracking("/ct/([0-9a-f]{16})\\?.*");
  for (const std::string& url : impressions) {
    const std::string target = targetOf(url, server_.port());
    EXPECT_TRUE(std::regex_match(target, impression)) << url;
    EXPECT_EQ(get(target).status, 200u);
  }
  for (const std::string& url : clickTracking) {
    EXPECT_TRUE(std::regex_match(targetOf(url, server_.port()), tracking)) << url;
  }

  // A visitor cookie is set once; a request that carries it gets none.
  const auto cookie = ad.header("set-cookie");
  ASSERT_TRUE(cookie);
  EXPECT_TRUE(cookie->starts_with("nimbra_uid=")) << *cookie;
  const std::string visitor = cookie->substr(0, cookie->find(';'));

  // Each ad is new: its own number and ticket.
  const HttpResponse next = get(std::string("/ads?slotname=") + kAdUnit, {"Cookie: other=1; " + visitor});
  EXPECT_FALSE(next.header("set-cookie"));
  EXPECT_NE(next.body.find("Ad #2"), std::string::npos);
  EXPECT_NE(next.header("x-ruma-tracking-urls"), ad.header("x-ruma-tracking-urls"));
  EXPECT_EQ(status(server_)["counters"]["imp"], 2);
}

TEST_F(AdServerTest, BadAdUnitsAreRejected) {
  for (const std::string unit : {"unknown", "A1B2C3D4E5F6A7B", "a1b2c3d4e5f6a7", "a1b2c3d4e5f6a7bc", "g1b2c3d4e5f6a7b"}) {
    const HttpResponse answer = get("/ads?slotname=" + unit);
    EXPECT_EQ(answer.status, 400u) << unit;
    EXPECT_EQ(answer.header("x-ruma-refresh-rate"), "12.5") << unit;
    EXPECT_FALSE(answer.header("x-ruma-tracking-urls")) << unit;
  }
  EXPECT_EQ(get("/ads").status, 400u);
  EXPECT_EQ(get(std::string("/ads?slotname=") + kAdUnit + "&scenario=bogus").status, 400u);
}

TEST_F(AdServerTest, ScenariosShapeTheAnswer) {
  const HttpResponse nofill = get("/ads?slotname=nofill");
  EXPECT_EQ(nofill.status, 200u);
  EXPECT_EQ(nofill.body, "  \n  ");
  EXPECT_TRUE(nofill.header("x-ruma-tracking-urls"));
  EXPECT_EQ(nofill.header("x-ruma-refresh-rate"), "12.5");

  EXPECT_EQ(get("/ads?slotname=404").status, 404u);
  EXPECT_EQ(get("/ads?slotname=500").status, 500u);

  const HttpResponse norefresh = get("/ads?slotname=norefresh");
  EXPECT_EQ(norefresh.status, 200u);
  EXPECT_FALSE(norefresh.header("x-ruma-refresh-rate"));
  EXPECT_EQ(get(std::string("/ads?slotname=") + kAdUnit + "&refresh=7").header("x-ruma-refresh-rate"), "7");
  EXPECT_EQ(get(std::string("/ads?slotname=") + kAdUnit + "&refresh=7%0d%0aX:1").header("x-ruma-refresh-rate"),
            "12.5");

  // The application's extra parameters travel as JSON text in "extras".
  const HttpResponse viaExtras =
      get(std::string("/ads?slotname=") + kAdUnit + "&extras=%7B%22scenario%22%3A%22nofill%22%7D");
  EXPECT_EQ(viaExtras.body, "  \n  ");

  const HttpResponse redirected = get(std::string("/ads?slotname=") + kAdUnit + "&scenario=redirect");
  ASSERT_EQ(redirected.status, 302u);
  EXPECT_TRUE(redirected.header("x-ruma-tracking-urls"));
  const HttpResponse final = get(targetOf(redirected.header("location").value_or(""), server_.port()));
  EXPECT_EQ(final.status, 200u);
  EXPECT_TRUE(final.header("x-ruma-click-tracking-urls"));

  std::string target = "/ads?slotname=redirectloop";
  for (const char* expected : {"/loop/a", "/loop/b", "/loop/a"}) {
    const HttpResponse hop = get(target);
    ASSERT_EQ(hop.status, 302u);
    target = targetOf(hop.header("location").value_or(""), server_.port());
    EXPECT_EQ(target, expected);
  }
}

TEST_F(AdServerTest, ClickChainRedirectsThroughHopsToLanding) {
  const std::string click = hrefOf(get(std::string("/ads?slotname=") + kAdUnit).body);
  std::string target = targetOf(click, server_.port());
  ASSERT_TRUE(target.starts_with("/click?ai=")) << click;
  const std::string clickToken = target.substr(10, target.find('&') - 10);

  std::vector<std::string> path;
  HttpResponse answer;
  for (int step = 0; step < 10; ++step) {
    answer = get(target);
    if (answer.status != 302) break;
    target = targetOf(answer.header("location").value_or(""), server_.port());
    ASSERT_FALSE(target.empty()) << "redirect leaves the server";
    path.push_back(target.substr(0, target.find('?')));
  }
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(path, (std::vector<std::string>{"/track/hop", "/track/hop", "/landing"}));
  EXPECT_NE(answer.body.find(clickToken), std::string::npos);

  // A non-web destination ends the chain with a redirect out of the web.
  target = targetOf(hrefOf(get("/ads?slotname=nonweb").body), server_.port());
  for (int step = 0; step < 10 && !target.empty(); ++step) {
    answer = get(target);
    ASSERT_EQ(answer.status, 302u);
    target = targetOf(answer.header("location").value_or(""), server_.port());
  }
  EXPECT_EQ(answer.header("location"), "market://details?id=com.nimbra.demo");

  // The second click-tracking URL takes one hop, then answers.
  const auto tracking = splitAtBlank(get(std::string("/ads?slotname=") + kAdUnit).header("x-ruma-click-tracking-urls").value_or(""));
  ASSERT_EQ(tracking.size(), 2u);
  const HttpResponse tracked = get(targetOf(tracking[1], server_.port()));
  ASSERT_EQ(tracked.status, 302u);
  EXPECT_EQ(get(targetOf(tracked.header("location").value_or(""), server_.port())).status, 200u);

  const auto counters = status(server_)["counters"];
  EXPECT_EQ(counters["click"], 2);
  EXPECT_EQ(counters["landing"], 1);
  EXPECT_EQ(counters["ctrack"], 1);
  EXPECT_EQ(counters["hop"], 5);
}

TEST_F(AdServerTest, StatusRecordsRequestsInOrderAndResets) {
  get("/ruma/sdk-core-v40.js", {"User-Agent: TestAgent/1.0", "Cookie: a=b", "Referer: http://x/"});
  get(std::string("/ads?slotname=") + kAdUnit + "&kw=%5B%22a%20b%22%5D&bare&empty=");
  get("/nowhere");
  auto report = status(server_);
  ASSERT_TRUE(report.is_object());
  const auto& requests = report["requests"];
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0]["path"], "/ruma/sdk-core-v40.js");
  EXPECT_EQ(requests[0]["headers"]["User-Agent"], "TestAgent/1.0");
  EXPECT_EQ(requests[0]["headers"]["Cookie"], "a=b");
  EXPECT_EQ(requests[0]["headers"]["Referer"], "http://x/");
  EXPECT_EQ(requests[1]["method"], "GET");
  EXPECT_EQ(requests[1]["query"]["slotname"], kAdUnit);
  EXPECT_EQ(requests[1]["query"]["kw"], "[\"a b\"]");
  EXPECT_TRUE(requests[1]["query"]["bare"].is_null());
  EXPECT_EQ(requests[1]["query"]["empty"], "");
  EXPECT_EQ(requests[2]["status"], 404);
  EXPECT_EQ(report["counters"]["other"], 1);

  EXPECT_EQ(httpRequest(server_.port(), "/status/reset", "POST").status, 200u);
  report = status(server_);
  EXPECT_TRUE(report["requests"].empty());
  EXPECT_EQ(report["counters"]["script"], 0);
  EXPECT_EQ(report["counters"]["ads"], 0);
}

TEST_F(AdServerTest, StatusKeepsOnlyTheLatestRequests) {
  for (int i = 0; i < 1005; ++i) get("/im/t?i=" + std::to_string(i));
  const auto report = status(server_);
  EXPECT_EQ(report["counters"]["imp"], 1005);
  ASSERT_EQ(report["requests"].size(), 1000u);
  EXPECT_EQ(report["requests"][0]["query"]["i"], "5");
  EXPECT_EQ(report["requests"][999]["query"]["i"], "1004");
}

TEST_F(AdServerTest, ResetScenarioCutsTheConnection) {
  const HttpResponse body = get("/ads?slotname=reset");
  EXPECT_EQ(body.status, 200u);
  EXPECT_TRUE(body.headersComplete);
  EXPECT_FALSE(body.body.empty());
  EXPECT_FALSE(body.complete());

  const HttpResponse headers = get(std::string("/ads?slotname=") + kAdUnit + "&scenario=reset&cut=headers");
  EXPECT_FALSE(headers.headersComplete);

  EXPECT_EQ(get(std::string("/ads?slotname=") + kAdUnit).status, 200u) << "server still serving";
}

TEST_F(AdServerTest, SlowAnswerDoesNotHoldUpOthers) {
  // A request held for a minute must not delay one sent after it.
  std::atomic<bool> slowAnswered{false};
  std::thread slow([port = server_.port(), &slowAnswered] {
    rawExchange(port, "GET /ads?slotname=slow&delay=60 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    slowAnswered = true;
  });
  // Wait until the server has seen the slow request.
  for (int i = 0; i < 5000 && status(server_)["counters"]["ads"] != 1; ++i) g_usleep(1000);
  const HttpResponse quick = get("/landing?ai=q");
  EXPECT_EQ(quick.status, 200u);
  EXPECT_FALSE(slowAnswered);
  // Stopping the server with the answer still pending ends that connection.
  EXPECT_EQ(server_.stop(), 0);
  slow.join();

  AdServerProcess other;
  ASSERT_TRUE(other.ok());
  const HttpResponse delayed = httpRequest(other.port(), "/ads?slotname=slow&delay=0.2");
  EXPECT_EQ(delayed.status, 200u);
  EXPECT_TRUE(delayed.complete());
  EXPECT_NE(delayed.body.find("Ad #1"), std::string::npos);
}

TEST_F(AdServerTest, HostileRequestsGetErrorsNotCrashes) {
  EXPECT_EQ(get("/ads?slotname=%zz").status, 400u);
  EXPECT_EQ(get("/ads?slotname=%4").status, 400u);
  EXPECT_EQ(get("/ads?slotname=" + std::string(40000, 'a')).status, 414u);
  EXPECT_FALSE(get("/ads?slotname=" + std::string(70000, 'a')).complete());
  const std::string deep = "/ads?slotname=" + std::string(kAdUnit) + "&extras=" + std::string(5000, '[');
  EXPECT_EQ(get(deep).status, 200u);
  EXPECT_EQ(get("/click?dest=%0d%0aX-Evil:%201").status, 400u);
  EXPECT_EQ(get("/click?dest=//elsewhere/").status, 400u);
  EXPECT_EQ(get("/track/hop?left=x").status, 400u);
  EXPECT_EQ(get("/im/bad%2Fticket").status, 404u);
  EXPECT_EQ(get("/ct/").status, 404u);
  EXPECT_EQ(httpRequest(server_.port(), "/ads?slotname=a", "POST").status, 405u);
  EXPECT_EQ(get("/../../etc/passwd").status, 404u);
  rawExchange(server_.port(), "GARBAGE\r\n\r\n");
  rawExchange(server_.port(), std::string("GET /landing?ai=\xff\xfe HTTP/1.1\r\nHost: \x01\r\nConnection: close\r\n\r\n"));
  get("/landing?ai=%ff%fe%3Cscript%3E");

  const HttpResponse report = get("/status");
  ASSERT_EQ(report.status, 200u);
  EXPECT_TRUE(nlohmann::json::accept(report.body)) << "status stays valid JSON";
  EXPECT_EQ(server_.stop(), 0) << "server exits cleanly after hostile input";
}

TEST(AdServerProcessTest, CommandLineAndPortConflicts) {
  AdServerProcess first;
  ASSERT_TRUE(first.ok());
  const std::string port = std::to_string(first.port());
  const auto exitStatus = [](std::vector<const char*> argv) {
    argv.insert(argv.begin(), NIMBRA_ADSERVER_PATH);
    argv.push_back(nullptr);
    GSubprocess* process = g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr);
    g_subprocess_wait(process, nullptr, nullptr);
    const int status = g_subprocess_get_exit_status(process);
    g_object_unref(process);
    return status;
  };
  EXPECT_EQ(exitStatus({"--port", port.c_str(), "--exit-after", "5"}), 1);
  EXPECT_EQ(exitStatus({"--port", "70000"}), 2);
  EXPECT_EQ(exitStatus({"--refresh-rate", "soon"}), 2);
  EXPECT_EQ(exitStatus({"--port", "0", "--exit-after", "0.1"}), 0);
  EXPECT_EQ(first.stop(), 0);
}

}  // namespace
}  // namespace adserver_test
