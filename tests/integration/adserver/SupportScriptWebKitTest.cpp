// The support script in a real web engine: a hidden page built the way the
// component builds it, every answer caught at should-start as the component's
// web view delegate sees it. Calls made later into a page loaded ahead are the
// banner tests' (BannerLoadTest).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "contract/WebViewContract.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/support/GtkDriver.h"

namespace adserver_test {
namespace {

using SupportScriptWebKitTest = nimbra::contract::WebViewContract<nimbra::test::GtkDriver>;

TEST_F(SupportScriptWebKitTest, BuildsAdURLAndSendsEveryAnswerInOrder) {
  AdServerProcess server;
  ASSERT_TRUE(server.ok());
  const HttpResponse script = httpRequest(server.port(), "/ruma/sdk-core-v40.js");
  ASSERT_EQ(script.status, 200u);
  const nlohmann::json params = {
      {"slotname", "a1b2c3d4e5f6a7b"}, {"net", "wifi"}, {"preqs", 3}, {"kw", {"a", "b"}},
      {"ad_frame", {{"x", 0.0}, {"y", 361.0}, {"w", 320.0}, {"h", 50.0}}}, {"u_sd", 1.5}};
  // Four answers back to back: none may be lost, and they keep their order.
  web->loadHTMLString("<html><head><script>" + script.body + "</script><script>RUMA_buildAdURL(" + params.dump() +
                          ");RUMA_buildAdURL({\"js\":\"x\"});RUMA_buildAdURL({\"slotname\":\"invalid\"});"
                          "RUMA_buildAdURL({\"slotname\":\"a1b2c3d4e5f6a7b\",\"extras\":{\"scenario\":\"unable\"}});"
                          "</script></head><body></body></html>",
                      platform::URL::parse(server.origin() + "/"));
  std::vector<std::string> messages;
  ASSERT_TRUE(driver.runUntil([&] {
    messages.clear();
    for (const auto& offer : recorder->offers)
      if (offer.url.starts_with("qmsg:")) messages.push_back(offer.url);
    return messages.size() == 4;
  }, 30));
  ASSERT_TRUE(messages[0].starts_with("qmsg://nimbra/loadAdURL?url=")) << messages[0];
  EXPECT_TRUE(messages[0].ends_with("&type=pexmark")) << messages[0];
  EXPECT_TRUE(messages[1].starts_with("qmsg://nimbra/loadAdURL?errors=")) << messages[1];
  EXPECT_TRUE(messages[2].starts_with("qmsg://nimbra/invalidRequest?reason=")) << messages[2];
  EXPECT_TRUE(messages[3].starts_with("qmsg://nimbra/unableToServe?reason=")) << messages[3];

  // The ad URL the script built is one the server serves, with every
  // parameter intact.
  const std::string url = percentDecodeForTest(messages[0].substr(28, messages[0].find('&') - 28));
  const std::string target = targetOf(url, server.port());
  ASSERT_TRUE(target.starts_with("/ads?")) << url;
  httpRequest(server.port(), "/status/reset", "POST");
  EXPECT_EQ(httpRequest(server.port(), target).status, 200u);
  const auto report = nlohmann::json::parse(httpRequest(server.port(), "/status").body, nullptr, false);
  ASSERT_EQ(report["requests"].size(), 1u);
  const auto& query = report["requests"][0]["query"];
  EXPECT_EQ(query["slotname"], "a1b2c3d4e5f6a7b");
  EXPECT_EQ(query["net"], "wifi");
  EXPECT_EQ(query["preqs"], "3");
  EXPECT_EQ(query["u_sd"], "1.5");
  EXPECT_EQ(nlohmann::json::parse(query["kw"].get<std::string>()), params["kw"]);
  EXPECT_EQ(nlohmann::json::parse(query["ad_frame"].get<std::string>()), params["ad_frame"]);
}

}  // namespace
}  // namespace adserver_test
