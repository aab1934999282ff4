// nimbra-adserver over real HTTP on loopback: what the component relies on
// from it and what it must survive. Its scenarios and creatives are the banner,
// fault and tap tests' (they fail when one answers wrong).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "integration/adserver/AdServerProcess.h"

namespace adserver_test {
namespace {

const std::string kAd = "/ads?slotname=a1b2c3d4e5f6a7b";

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
  EXPECT_NE(first.body.find("RUMA_buildAdURL"), std::string::npos);
  const auto lastModified = first.header("last-modified");
  ASSERT_TRUE(lastModified);
  const HttpResponse same = get("/ruma/sdk-core-v40.js", {"If-Modified-Since: " + *lastModified});
  EXPECT_EQ(same.status, 304u);
  EXPECT_TRUE(same.body.empty());
  for (const auto& [since, expected] : {std::pair{"Fri, 31 Dec 2100 00:00:00 GMT", 304u},
                                        {"Tue, 15 Nov 1994 12:45:26 GMT", 200u}, {"not a date", 200u}})
    EXPECT_EQ(get("/ruma/sdk-core-v40.js", {std::string("If-Modified-Since: ") + since}).status, expected) << since;
}

// The visitor cookie is set once; each ad is new, with trackers of its own.
TEST_F(AdServerTest, EachAdIsNewAndTheVisitorCookieIsSetOnce) {
  const HttpResponse ad = get(kAd);
  ASSERT_EQ(ad.status, 200u);
  EXPECT_EQ(ad.header("x-ruma-refresh-rate"), "12.5");
  EXPECT_NE(ad.body.find("Ad #1"), std::string::npos);
  const std::string cookie = ad.header("set-cookie").value_or("");
  ASSERT_TRUE(cookie.starts_with("nimbra_uid=")) << cookie;
  const HttpResponse next = get(kAd, {"Cookie: other=1; " + cookie.substr(0, cookie.find(';'))});
  EXPECT_FALSE(next.header("set-cookie"));
  EXPECT_NE(next.body.find("Ad #2"), std::string::npos);
  EXPECT_NE(next.header("x-ruma-tracking-urls"), ad.header("x-ruma-tracking-urls"));
}

TEST_F(AdServerTest, BadAdUnitsAndScenariosAreRejected) {
  for (const std::string target : {"/ads?slotname=unknown", "/ads?slotname=A1B2C3D4E5F6A7B", "/ads?slotname=a1b2c3d4e5f6a7",
                                   "/ads?slotname=a1b2c3d4e5f6a7bc", "/ads?slotname=g1b2c3d4e5f6a7b", "/ads",
                                   "/ads?slotname=a1b2c3d4e5f6a7b&scenario=bogus"}) {
    const HttpResponse answer = get(target);
    EXPECT_EQ(answer.status, 400u) << target;
    EXPECT_FALSE(answer.header("x-ruma-tracking-urls")) << target;
  }
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
  // No header or markup of the caller's making gets through.
  EXPECT_EQ(get(kAd + "&refresh=7%0d%0aX:1").header("x-ruma-refresh-rate"), "12.5");
  EXPECT_EQ(get("/webapp?seq=%3Cb%3E").body.find("<b>"), std::string::npos);
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

TEST(AdServerProcessTest, CommandLineAndPortConflicts) {
  AdServerProcess first;
  ASSERT_TRUE(first.ok());
  const std::string port = std::to_string(first.port());
  const auto exitStatus = [](std::vector<const char*> argv) {
    argv.insert(argv.begin(), NIMBRA_ADSERVER_PATH);
    argv.push_back(nullptr);
    auto process = platform::gtk::GRef<GSubprocess>::adopt(g_subprocess_newv(argv.data(), static_cast<GSubprocessFlags>(
        G_SUBPROCESS_FLAGS_STDOUT_SILENCE | G_SUBPROCESS_FLAGS_STDERR_SILENCE), nullptr));
    g_subprocess_wait(process.get(), nullptr, nullptr);
    return g_subprocess_get_exit_status(process.get());
  };
  EXPECT_EQ(exitStatus({"--port", port.c_str(), "--exit-after", "5"}), 1);
  for (const auto& wrong : std::vector<std::vector<const char*>>{{"--port", "70000"}, {"--refresh-rate", "soon"},
                                                                  {"--creatives", "normal,,browser"},
                                                                  {"--creatives", "normal,bogus"},
                                                                  {"--script-fault", "bogus"}})
    EXPECT_EQ(exitStatus(wrong), 2) << wrong[0] << " " << wrong[1];
  EXPECT_EQ(exitStatus({"--port", "0", "--exit-after", "0.1"}), 0);
  EXPECT_EQ(first.stop(), 0);
}

}  // namespace
}  // namespace adserver_test
