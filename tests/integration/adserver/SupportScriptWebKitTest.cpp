// The support script in a real web engine: the hidden request page built
// the way the component builds it, with every answer caught at the
// navigation policy hook, as the component's web view delegate sees it.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "integration/adserver/AdServerProcess.h"

namespace adserver_test {
namespace {

struct Capture {
  std::vector<std::string> messages;
  std::size_t wanted = 0;
  GMainLoop* loop = nullptr;
  std::string afterLoad;  // evaluated once the page has loaded
};

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* capture = static_cast<Capture*>(data);
  if (event != WEBKIT_LOAD_FINISHED || capture->afterLoad.empty()) return;
  webkit_web_view_evaluate_javascript(view, capture->afterLoad.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
}

gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                        gpointer data) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (!uri || !g_str_has_prefix(uri, "qmsg:")) return FALSE;
  auto* capture = static_cast<Capture*>(data);
  capture->messages.emplace_back(uri);
  webkit_policy_decision_ignore(decision);
  if (capture->messages.size() >= capture->wanted) g_main_loop_quit(capture->loop);
  return TRUE;
}

gboolean onGuard(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

// Runs the page (and then afterLoad in it) and collects message URLs until
// `wanted` arrived (or a generous guard expires, which the caller sees as
// missing messages).
std::vector<std::string> runHiddenPage(const std::string& page, const std::string& baseURL, std::size_t wanted,
                                       const std::string& afterLoad = {}) {
  GtkWidget* view = webkit_web_view_new();
  g_object_ref_sink(view);
  Capture capture;
  capture.wanted = wanted;
  capture.loop = g_main_loop_new(nullptr, FALSE);
  capture.afterLoad = afterLoad;
  g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), &capture);
  g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), &capture);
  webkit_web_view_load_html(WEBKIT_WEB_VIEW(view), page.c_str(), baseURL.c_str());
  const guint guard = g_timeout_add_seconds(30, onGuard, capture.loop);
  g_main_loop_run(capture.loop);
  if (capture.messages.size() >= wanted) g_source_remove(guard);
  g_signal_handlers_disconnect_by_data(view, &capture);
  g_object_unref(view);
  g_main_loop_unref(capture.loop);
  return capture.messages;
}

// The query of a message URL as decoded items, in order.
std::vector<std::pair<std::string, std::string>> messageQuery(const std::string& url) {
  std::vector<std::pair<std::string, std::string>> items;
  const std::size_t question = url.find('?');
  if (question == std::string::npos) return items;
  gchar** pieces = g_strsplit(url.c_str() + question + 1, "&", -1);
  for (gchar** piece = pieces; *piece; ++piece) {
    const std::string item = *piece;
    const std::size_t eq = item.find('=');
    items.emplace_back(percentDecodeForTest(item.substr(0, eq)),
                       eq == std::string::npos ? "" : percentDecodeForTest(item.substr(eq + 1)));
  }
  g_strfreev(pieces);
  return items;
}

TEST(SupportScriptWebKitTest, BuildsAdURLAndSendsEveryAnswer) {
  if (!gtk_init_check()) GTEST_SKIP() << "no display";
  AdServerProcess server;
  ASSERT_TRUE(server.ok());
  const HttpResponse script = httpRequest(server.port(), "/ruma/sdk-core-v40.js");
  ASSERT_EQ(script.status, 200u);

  const nlohmann::json params = {
      {"slotname", "a1b2c3d4e5f6a7b"}, {"net", "wifi"}, {"preqs", 3}, {"kw", {"a", "b"}},
      {"ad_frame", {{"x", 0.0}, {"y", 361.0}, {"w", 320.0}, {"h", 50.0}}}, {"u_sd", 1.5}};
  // Four answers back to back: none may be lost, and they keep their order.
  const std::string page = "<html><head><script>" + script.body + "</script><script>RUMA_buildAdURL(" +
                           params.dump() +
                           ");RUMA_buildAdURL({\"js\":\"x\"});"
                           "RUMA_buildAdURL({\"slotname\":\"invalid\"});"
                           "RUMA_buildAdURL({\"slotname\":\"a1b2c3d4e5f6a7b\",\"extras\":{\"scenario\":\"unable\"}});"
                           "</script></head><body></body></html>";
  const auto messages = runHiddenPage(page, server.origin() + "/", 4);
  ASSERT_EQ(messages.size(), 4u);

  ASSERT_TRUE(messages[0].starts_with("qmsg://nimbra/loadAdURL?")) << messages[0];
  const auto answer = messageQuery(messages[0]);
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_EQ(answer[0].first, "url");
  EXPECT_EQ(answer[1], (std::pair<std::string, std::string>{"type", "pexmark"}));
  const std::string target = targetOf(answer[0].second, server.port());
  ASSERT_TRUE(target.starts_with("/ads?")) << answer[0].second;

  EXPECT_TRUE(messages[1].starts_with("qmsg://nimbra/loadAdURL?errors=")) << messages[1];
  EXPECT_TRUE(messages[2].starts_with("qmsg://nimbra/invalidRequest?reason=")) << messages[2];
  EXPECT_TRUE(messages[3].starts_with("qmsg://nimbra/unableToServe?reason=")) << messages[3];

  // The ad URL the script built is one the server serves, with every
  // parameter intact.
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

// A page loaded with the script alone, called afterwards: the lone answer
// leaves by the page's own navigation, and a later one still arrives.
TEST(SupportScriptWebKitTest, PageLoadedAheadAnswersLaterCalls) {
  if (!gtk_init_check()) GTEST_SKIP() << "no display";
  AdServerProcess server;
  ASSERT_TRUE(server.ok());
  const HttpResponse script = httpRequest(server.port(), "/ruma/sdk-core-v40.js");
  ASSERT_EQ(script.status, 200u);
  const std::string page = "<html><head><script>" + script.body + "</script></head><body></body></html>";
  const std::string call = "RUMA_buildAdURL({\"slotname\":\"a1b2c3d4e5f6a7b\"});"
                           "setTimeout(function () { RUMA_buildAdURL({\"slotname\":\"invalid\"}); }, 0);";
  const auto messages = runHiddenPage(page, server.origin() + "/", 2, call);
  ASSERT_EQ(messages.size(), 2u);
  const std::set<std::string> names = {messages[0].substr(0, messages[0].find('?')),
                                        messages[1].substr(0, messages[1].find('?'))};
  EXPECT_EQ(names, (std::set<std::string>{"qmsg://nimbra/loadAdURL", "qmsg://nimbra/invalidRequest"}));
  for (const auto& m : messages) {
    if (!m.starts_with("qmsg://nimbra/loadAdURL?")) continue;
    const auto answer = messageQuery(m);
    ASSERT_EQ(answer.size(), 2u) << m;
    EXPECT_TRUE(targetOf(answer[0].second, server.port()).starts_with("/ads?slotname=a1b2c3d4e5f6a7b")) << m;
  }
}

}  // namespace
}  // namespace adserver_test
