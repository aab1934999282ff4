// nimbra-adserver over real HTTP on loopback: the wire contract that the
// component and the other tests rely on (docs/ad-server.md).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "integration/adserver/AdServerProcess.h"

namespace adserver_test {
namespace {

const std::string kAd = "/ads?slotname=a1b2c3d4e5f6a7b";

std::vector<std::string> splitAtBlank(const std::string& text) {
  std::vector<std::string> pieces;
  for (std::size_t start = 0, blank = 0; blank != std::string::npos; start = blank + 1) {
    blank = text.find(' ', start);
    pieces.push_back(text.substr(start, blank - start));
  }
  return pieces;
}

class AdServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.ok()) << "nimbra-adserver did not start"; }
  HttpResponse get(const std::string& target, const std::vector<std::string>& headers = {}) {
    return httpRequest(server_.port(), target, "GET", headers);
  }
  nlohmann::json status() { return nlohmann::json::parse(get("/status").body, nullptr, false); }
  std::string targetOfLocation(const HttpResponse& answer) {
    return targetOf(answer.header("location").value_or(""), server_.port());
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

  const HttpResponse same = get("/ruma/sdk-core-v40.js", {"If-Modified-Since: " + *lastModified});
  EXPECT_EQ(same.status, 304u);
  EXPECT_TRUE(same.body.empty());
  EXPECT_EQ(same.header("last-modified"), lastModified);
  for (const auto& [since, expected] : {std::pair{"Fri, 31 Dec 2100 00:00:00 GMT", 304u},
                                        {"Tue, 15 Nov 1994 12:45:26 GMT", 200u}, {"not a date", 200u}})
    EXPECT_EQ(get("/ruma/sdk-core-v40.js", {std::string("If-Modified-Since: ") + since}).status, expected) << since;
  const auto counters = status()["counters"];
  EXPECT_EQ(counters["script"], 3);
  EXPECT_EQ(counters["script_304"], 2);
}

TEST_F(AdServerTest, GoodAdUnitGetsMarkupAndAllHeaders) {
  const HttpResponse ad = get(kAd);
  ASSERT_EQ(ad.status, 200u);
  EXPECT_EQ(ad.header("content-type"), "text/html; charset=utf-8");
  EXPECT_EQ(ad.header("x-ruma-orientation"), "portrait");
  EXPECT_EQ(ad.header("x-ruma-interstitial-timeout"), "5");
  EXPECT_EQ(ad.header("x-ruma-refresh-rate"), "12.5");
  EXPECT_NE(ad.body.find("Ad #1"), std::string::npos);

  // Tickets: the path after its first four characters ("/im/", "/ct/").
  const auto impressions = splitAtBlank(ad.header("x-ruma-tracking-urls").value_or(""));
  const auto clickTracking = splitAtBlank(ad.header("x-ruma-click-tracking-urls").value_or(""));
  ASSERT_EQ(impressions.size(), 2u);
  ASSERT_EQ(clickTracking.size(), 2u);
  for (const std::string& url : impressions) {
    EXPECT_TRUE(std::regex_match(targetOf(url, server_.port()), std::regex("/im/[0-9a-f]{16}\\?.*"))) << url;
    EXPECT_EQ(get(targetOf(url, server_.port())).status, 200u);
  }
  for (const std::string& url : clickTracking)
    EXPECT_TRUE(std::regex_match(targetOf(url, server_.port()), std::regex("/ct/[0-9a-f]{16}\\?.*"))) << url;

  // A visitor cookie is set once; a request that carries it gets none. Each ad is new.
  const std::string cookie = ad.header("set-cookie").value_or("");
  ASSERT_TRUE(cookie.starts_with("nimbra_uid=")) << cookie;
  const HttpResponse next = get(kAd, {"Cookie: other=1; " + cookie.substr(0, cookie.find(';'))});
  EXPECT_FALSE(next.header("set-cookie"));
  EXPECT_NE(next.body.find("Ad #2"), std::string::npos);
  EXPECT_NE(next.header("x-ruma-tracking-urls"), ad.header("x-ruma-tracking-urls"));
  EXPECT_EQ(status()["counters"]["imp"], 2);
}

TEST_F(AdServerTest, BadAdUnitsAndScenariosAreRejected) {
  for (const std::string target : {"/ads?slotname=unknown", "/ads?slotname=A1B2C3D4E5F6A7B", "/ads?slotname=a1b2c3d4e5f6a7",
                                   "/ads?slotname=a1b2c3d4e5f6a7bc", "/ads?slotname=g1b2c3d4e5f6a7b", "/ads",
                                   "/ads?slotname=a1b2c3d4e5f6a7b&scenario=bogus"}) {
    const HttpResponse answer = get(target);
    EXPECT_EQ(answer.status, 400u) << target;
    EXPECT_EQ(answer.header("x-ruma-refresh-rate"), "12.5") << target;
    EXPECT_FALSE(answer.header("x-ruma-tracking-urls")) << target;
  }
}

TEST_F(AdServerTest, ScenariosShapeTheAnswer) {
  // The application's extra parameters travel as JSON text in "extras".
  for (const std::string& target : {std::string("/ads?slotname=nofill"), kAd + "&extras=%7B%22scenario%22%3A%22nofill%22%7D"}) {
    const HttpResponse nofill = get(target);
    EXPECT_EQ(nofill.status, 200u);
    EXPECT_EQ(nofill.body, "  \n  ");
    EXPECT_TRUE(nofill.header("x-ruma-tracking-urls"));
    EXPECT_EQ(nofill.header("x-ruma-refresh-rate"), "12.5");
  }
  EXPECT_EQ(get("/ads?slotname=404").status, 404u);
  EXPECT_EQ(get("/ads?slotname=500").status, 500u);

  const HttpResponse norefresh = get("/ads?slotname=norefresh");
  EXPECT_EQ(norefresh.status, 200u);
  EXPECT_FALSE(norefresh.header("x-ruma-refresh-rate"));
  EXPECT_EQ(get(kAd + "&refresh=7").header("x-ruma-refresh-rate"), "7");
  EXPECT_EQ(get(kAd + "&refresh=7%0d%0aX:1").header("x-ruma-refresh-rate"), "12.5");

  const HttpResponse redirected = get(kAd + "&scenario=redirect");
  ASSERT_EQ(redirected.status, 302u);
  EXPECT_TRUE(redirected.header("x-ruma-tracking-urls"));
  const HttpResponse final = get(targetOfLocation(redirected));
  EXPECT_EQ(final.status, 200u);
  EXPECT_TRUE(final.header("x-ruma-click-tracking-urls"));

  EXPECT_EQ(get("/ads?slotname=big&size=5000").body.size(), 5000u);
  EXPECT_NE(get("/ads?slotname=trackreset").header("x-ruma-tracking-urls").value_or("").find("&cut=body"), std::string::npos);
  EXPECT_NE(get("/ads?slotname=slowrender&delay=1").body.find("/pixel?delay=1\""), std::string::npos);

  std::string target = "/ads?slotname=redirectloop";
  for (const char* expected : {"/loop/a", "/loop/b", "/loop/a"}) {
    const HttpResponse hop = get(target);
    ASSERT_EQ(hop.status, 302u);
    EXPECT_EQ(target = targetOfLocation(hop), expected);
  }
}

TEST_F(AdServerTest, StatusRecordsTheLatestRequestsInOrderAndResets) {
  get("/ruma/sdk-core-v40.js", {"User-Agent: TestAgent/1.0", "Cookie: a=b", "Referer: http://x/"});
  get(kAd + "&kw=%5B%22a%20b%22%5D&bare&empty=");
  get("/nowhere");
  auto report = status();
  ASSERT_TRUE(report.is_object());
  auto requests = report["requests"];
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0]["path"], "/ruma/sdk-core-v40.js");
  EXPECT_EQ(requests[0]["headers"], (nlohmann::json{{"User-Agent", "TestAgent/1.0"}, {"Cookie", "a=b"}, {"Referer", "http://x/"}}));
  EXPECT_EQ(requests[1]["method"], "GET");
  EXPECT_EQ(requests[1]["query"], (nlohmann::json{{"slotname", "a1b2c3d4e5f6a7b"}, {"kw", "[\"a b\"]"}, {"bare", nullptr}, {"empty", ""}}));
  EXPECT_EQ(requests[2]["status"], 404);
  EXPECT_EQ(report["counters"]["other"], 1);

  for (int i = 0; i < 1000; ++i) get("/im/t?i=" + std::to_string(i));
  report = status();
  EXPECT_EQ(report["counters"]["imp"], 1000);
  ASSERT_EQ(report["requests"].size(), 1000u);
  EXPECT_EQ(report["requests"][0]["query"]["i"], "0");
  EXPECT_EQ(report["requests"][999]["query"]["i"], "999");

  EXPECT_EQ(httpRequest(server_.port(), "/status/reset", "POST").status, 200u);
  report = status();
  EXPECT_TRUE(report["requests"].empty());
  EXPECT_EQ(report["counters"]["imp"], 0);
  EXPECT_EQ(report["counters"]["script"], 0);
}

TEST_F(AdServerTest, ResetScenarioCutsTheConnection) {
  const HttpResponse body = get("/ads?slotname=reset");
  EXPECT_EQ(body.status, 200u);
  EXPECT_TRUE(body.headersComplete);
  EXPECT_FALSE(body.body.empty());
  EXPECT_FALSE(body.complete());
  EXPECT_FALSE(get(kAd + "&scenario=reset&cut=headers").headersComplete);
  EXPECT_EQ(get(kAd).status, 200u) << "server still serving";
}

TEST_F(AdServerTest, SlowAnswerDoesNotHoldUpOthers) {
  // A request held for a minute must not delay one sent after it.
  std::atomic<bool> slowAnswered{false};
  std::thread slow([port = server_.port(), &slowAnswered] {
    httpRequest(port, "/ads?slotname=slow&delay=60");
    slowAnswered = true;
  });
  for (int i = 0; i < 5000 && status()["counters"]["ads"] != 1; ++i) g_usleep(1000);
  EXPECT_EQ(get("/landing?ai=q").status, 200u);
  EXPECT_FALSE(slowAnswered);
  // Stopping the server with the answer still pending ends that connection.
  EXPECT_EQ(server_.stop(), 0);
  slow.join();

  AdServerProcess other;
  ASSERT_TRUE(other.ok());
  const HttpResponse delayed = httpRequest(other.port(), "/ads?slotname=slow&delay=0.2");
  EXPECT_TRUE(delayed.complete());
  EXPECT_NE(delayed.body.find("Ad #1"), std::string::npos);
}

TEST_F(AdServerTest, HostileRequestsGetErrorsNotCrashes) {
  for (const auto& [target, expected] :
       std::vector<std::pair<std::string, unsigned>>{{"/ads?slotname=%zz", 400},
                                                     {"/ads?slotname=%4", 400},
                                                     {"/ads?slotname=" + std::string(40000, 'a'), 414},
                                                     {kAd + "&extras=" + std::string(5000, '['), 200},
                                                     {"/click?dest=%0d%0aX-Evil:%201", 400},
                                                     {"/click?dest=//elsewhere/", 400},
                                                     {"/track/hop?left=x", 400},
                                                     {"/im/bad%2Fticket", 404},
                                                     {"/ct/", 404},
                                                     {"/../../etc/passwd", 404}})
    EXPECT_EQ(get(target).status, expected) << target.substr(0, 60);
  EXPECT_FALSE(get("/ads?slotname=" + std::string(70000, 'a')).complete());
  EXPECT_EQ(httpRequest(server_.port(), "/ads?slotname=a", "POST").status, 405u);
  rawExchange(server_.port(), "GARBAGE\r\n\r\n");
  rawExchange(server_.port(), "GET /landing?ai=\xff\xfe HTTP/1.1\r\nHost: \x01\r\nConnection: close\r\n\r\n");
  get("/landing?ai=%ff%fe%3Cscript%3E");

  const HttpResponse report = get("/status");
  ASSERT_EQ(report.status, 200u);
  EXPECT_TRUE(nlohmann::json::accept(report.body)) << "status stays valid JSON";
  EXPECT_EQ(server_.stop(), 0) << "server exits cleanly after hostile input";
}

// Creatives and where a tap on each leads: the two landing pages, the web-app
// page and its event beacon; and the --creatives rotation a demo uses.
TEST(AdServerCreativesTest, CreativesRotateAndLeadToTheirDestinations) {
  AdServerProcess server({"--creatives", "browser,open-browser,normal"});
  ASSERT_TRUE(server.ok());
  const unsigned port = server.port();
  const auto attribute = [](const std::string& html, const std::string& name) {
    std::smatch match;
    if (!std::regex_search(html, match, std::regex(name + "=\"([^\"]*)\""))) return std::string();
    return std::regex_replace(match[1].str(), std::regex("&amp;"), "&");
  };
  const auto item = [](const std::string& url, const std::string& key) {
    std::smatch match;
    if (!std::regex_search(url, match, std::regex("[?&]" + key + "=([^&]*)"))) return std::string("(none)");
    return percentDecodeForTest(match[1].str());
  };
  // Follows redirects on this server; the last answer.
  const auto follow = [port](std::string target) {
    HttpResponse answer = httpRequest(port, target);
    for (int hop = 0; hop < 5 && answer.status == 302; ++hop)
      answer = httpRequest(port, target = targetOf(answer.header("location").value_or(""), port));
    return answer;
  };

  // Ad numbers 1, 2, 4 follow the list; 3 asked for a scenario and is not rotated.
  const HttpResponse browser = httpRequest(port, kAd);
  const HttpResponse openBrowser = httpRequest(port, kAd);
  const HttpResponse asked = httpRequest(port, kAd + "&scenario=ok");
  const HttpResponse again = httpRequest(port, kAd);
  EXPECT_FALSE(browser.header("x-ruma-click-tracking-urls"));
  EXPECT_TRUE(openBrowser.header("x-ruma-click-tracking-urls"));
  EXPECT_TRUE(asked.header("x-ruma-click-tracking-urls"));
  EXPECT_FALSE(again.header("x-ruma-click-tracking-urls"));
  EXPECT_TRUE(attribute(again.body, "data-message").empty());
  EXPECT_FALSE(httpRequest(port, "/ads?slotname=browser").header("x-ruma-click-tracking-urls"));

  // browser: one plain link into the click chain, ending at landing page 1.
  ASSERT_TRUE(browser.header("x-ruma-tracking-urls"));
  const std::string link = targetOf(attribute(browser.body, "href"), port);
  ASSERT_TRUE(link.starts_with("/click?ai=")) << link;
  const std::string landing = "/landing?ai=" + item(link, "ai") + "&seq=1";
  EXPECT_EQ(item(link, "dest"), server.origin() + landing);
  const HttpResponse page1 = follow(link);
  EXPECT_NE(page1.body.find("Page 1 of 2"), std::string::npos);

  // open-browser: a tap sends "open" for the browser with the click chain as "u".
  EXPECT_EQ(attribute(openBrowser.body, "href"), "#");
  const std::string message = attribute(openBrowser.body, "data-message");
  ASSERT_TRUE(message.starts_with("qmsg://nimbra/open?")) << message;
  EXPECT_EQ(item(message, "a"), "browser");
  EXPECT_EQ(item(message, "o"), "p");
  const std::string opened = targetOf(item(message, "u"), port);
  ASSERT_TRUE(opened.starts_with("/click?ai=")) << opened;
  EXPECT_EQ(item(opened, "dest"), server.origin() + "/landing?ai=" + item(opened, "ai") + "&seq=2");
  EXPECT_NE(follow(opened).body.find("Ad #2"), std::string::npos);

  // Page 1 links to page 2, which links back; both show the ad number.
  const std::string next = targetOf(attribute(page1.body, "href"), port);
  EXPECT_EQ(next, "/landing/2" + landing.substr(8));
  const HttpResponse page2 = httpRequest(port, next);
  EXPECT_NE(page2.body.find("Page 2 of 2"), std::string::npos);
  EXPECT_NE(page2.body.find("Ad #1"), std::string::npos);
  EXPECT_EQ(targetOf(attribute(page2.body, "href"), port), landing);
  auto counters = nlohmann::json::parse(httpRequest(port, "/status").body)["counters"];
  EXPECT_EQ(counters["click"], 2);
  EXPECT_EQ(counters["landing"], 2);
  EXPECT_EQ(counters["landing2"], 1);

  // The other destinations by name (ads 6 to 10): the link or the "open"
  // message ("http": into the click chain), and the page it leads to.
  std::vector<std::string> webApps;
  for (const auto& [kind, a, link, shows] : std::vector<std::array<std::string, 4>>{
           {"webapp", "(none)", "http", "Web app &middot; Ad #6"},
           {"webapp-html", "webapp", "(none)", "Web app &middot; Ad #7"},
           {"app", "app", "http", "Page 1 of 2"},
           {"call", "call", "tel:+34600000000", "(none)"},
           {"mail", "(none)", "mailto:ventas@nimbra.example?cc=info@nimbra.example,soporte@nimbra.example"
                              "&subject=Ad%20%2310", "(none)"}}) {
    const HttpResponse ad = httpRequest(port, "/ads?slotname=" + kind);
    EXPECT_TRUE(ad.header("x-ruma-click-tracking-urls")) << kind;
    const std::string message = attribute(ad.body, "data-message");
    EXPECT_EQ(item(message, "a"), a) << kind;
    EXPECT_EQ(item(message, "o"), a == "(none)" ? a : "p") << kind;
    const std::string to = a == "(none)" ? attribute(ad.body, "href") : item(message, "u");
    const std::string target = targetOf(to, port);
    EXPECT_EQ(target.starts_with("/click?") ? "http" : to, link) << kind;
    const std::string page = target.empty() ? item(message, "html") : follow(target).body;
    EXPECT_NE(page.find(shows), std::string::npos) << kind;
    if (kind.starts_with("webapp")) webApps.push_back(page);
  }
  // Both web-app pages keep the page's side of the contract and report its events.
  for (const std::string& page : webApps) {
    for (const char* piece : {"window.nimbraWebApp={onshow:0,onhide:0,log:[]}", "href=\"qmsg://nimbra/close\"",
                              "window.RUMA_ReceiveMessage=function(name,payload)",
                              "new Image().src=document.body.dataset.beacon+'&name='"})
      EXPECT_NE(page.find(piece), std::string::npos) << piece;
    const std::string beacon = targetOf(attribute(page, "data-beacon"), port);
    EXPECT_TRUE(beacon.starts_with("/webapp/event?ai=")) << beacon;
    EXPECT_EQ(httpRequest(port, beacon + "&name=onshow").status, 200u);
  }
  EXPECT_EQ(httpRequest(port, "/webapp?seq=%3Cb%3E").body.find("<b>"), std::string::npos);
  counters = nlohmann::json::parse(httpRequest(port, "/status").body)["counters"];
  EXPECT_EQ(counters["webapp"], 2);
  EXPECT_EQ(counters["webapp_event"], 2);
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
  EXPECT_EQ(exitStatus({"--creatives", "normal,,browser"}), 2);
  EXPECT_EQ(exitStatus({"--creatives", "normal,bogus"}), 2);
  EXPECT_EQ(exitStatus({"--script-fault", "bogus"}), 2);
  EXPECT_EQ(exitStatus({"--port", "0", "--exit-after", "0.1"}), 0);
  EXPECT_EQ(first.stop(), 0);
}

}  // namespace
}  // namespace adserver_test
