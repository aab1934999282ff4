// The WebKitGTK web view keeps the semantics the component relies on: every
// navigation of every frame is offered to should-start with its type and
// User-Agent, and a refused navigation never ends or fails the loading page.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/WebView.h"
#include "platform/Window.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"

namespace {

using nimbra::test::spinFor;
using nimbra::test::spinUntil;
using nimbra::test::TestHttpServer;
using platform::NavigationType;

struct Offer {
    std::string url;
    NavigationType type;
    std::string userAgent;
};

class Recorder : public platform::WebViewDelegate {
public:
    bool webViewShouldStartLoadWithRequest(platform::WebView&, const platform::URLRequest& r,
                                           NavigationType type) override {
        offers.push_back({r.url.absoluteString(), type, r.valueForHTTPHeaderField("User-Agent").value_or("")});
        auto scheme = platform::toLowerASCII(r.url.scheme());
        return scheme == "http" || scheme == "https" || scheme == "about";
    }
    void webViewDidStartLoad(platform::WebView&) override { ++starts; }
    void webViewDidFinishLoad(platform::WebView&) override { ++finishes; }
    void webViewDidFailLoadWithError(platform::WebView&, const platform::Error& e) override { fails.push_back(e); }

    const Offer* offerFor(const std::string& fragment) const {
        for (auto& o : offers)
            if (o.url.find(fragment) != std::string::npos) return &o;
        return nullptr;
    }
    std::vector<Offer> offers;
    int starts = 0, finishes = 0;
    std::vector<platform::Error> fails;
};

class WebViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        web->setDelegate(recorder);
    }

    void page(const std::string& path, const std::string& html) {
        server.route(path, [html](SoupServerMessage* m, const TestHttpServer::Request&) {
            soup_server_message_set_status(m, 200, nullptr);
            soup_server_message_set_response(m, "text/html; charset=utf-8", SOUP_MEMORY_COPY, html.data(), html.size());
        });
    }
    void load(const std::string& path) { web->loadRequest(platform::URLRequest(*platform::URL::parse(server.url(path)))); }
    bool waitForFinishes(int n) { return spinUntil([&] { return recorder->finishes >= n; }, 20); }
    // Exactly one load started and how it ended, once things have settled.
    void expectOneLoad(int finishes, size_t fails) {
        spinFor(0.3);
        EXPECT_EQ(recorder->starts, 1);
        EXPECT_EQ(recorder->finishes, finishes);
        EXPECT_EQ(recorder->fails.size(), fails);
        EXPECT_FALSE(web->isLoading());
    }
    std::optional<std::string> evaluate(const std::string& script) {
        std::optional<std::string> result;
        bool done = false;
        web->evaluateJavaScript(script, [&](std::optional<std::string> r) {
            result = r;
            done = true;
        });
        EXPECT_TRUE(spinUntil([&] { return done; }, 10));
        return result;
    }

    TestHttpServer server;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<platform::WebView> web = std::make_shared<platform::WebView>(platform::Rect(0, 0, 320, 400));
};

TEST_F(WebViewTest, RefusedNavigationsOfAPageOrItsFramesNeverEndOrFailIt) {
    // The page's own image is still on its way while the navigations are made.
    server.route("/slow.png", [](SoupServerMessage* m, const TestHttpServer::Request&) {
        soup_server_message_pause(m);
        g_timeout_add_once(600, [](gpointer msg) {
            auto* message = static_cast<SoupServerMessage*>(msg);
            TestHttpServer::respond(message, 404);
            soup_server_message_unpause(message);
        }, m);
    });
    const std::pair<const char*, std::string> pages[] = {
        {"nimbra-unknown://open", "<script>location.href='nimbra-unknown://open?x=1';</script>"},
        {"qmsg://loadAdURL", "<iframe id='m' style='display:none' src='about:blank'></iframe><script>"
                             "document.getElementById('m').src = 'qmsg://loadAdURL?url=http%3A%2F%2Fexample.com%2F';"
                             "</script>"}};
    for (const auto& [offered, body] : pages) {
        SCOPED_TRACE(offered);
        recorder = std::make_shared<Recorder>();
        web->setDelegate(recorder);
        page("/start", "<html><body><img src='/slow.png'>" + body + "</body></html>");
        load("/start");
        ASSERT_TRUE(waitForFinishes(1));
        ASSERT_TRUE(spinUntil([&] { return recorder->offerFor(offered) != nullptr; }, 5));
        expectOneLoad(1, 0);
        EXPECT_EQ(recorder->offerFor(offered)->type, NavigationType::Other);
        EXPECT_NE(web->request()->url.absoluteString().find("/start"), std::string::npos);
    }
}

TEST_F(WebViewTest, NavigationTypesAndUserAgentReachTheDelegate) {
    page("/one", "<html><body><a id='l' href='/two'>two</a>"
                 "<form id='f' action='/three' method='get'><input name='q' value='1'></form></body></html>");
    page("/two", "<html><body>two</body></html>");
    page("/three", "<html><body>three</body></html>");
    const std::vector<std::pair<std::function<void()>, NavigationType>> steps = {
        {[&] { load("/one"); }, NavigationType::Other},
        {[&] { web->evaluateJavaScript("document.getElementById('l').click()"); }, NavigationType::LinkClicked},
        {[&] { web->goBack(); }, NavigationType::BackForward},
        {[&] { web->evaluateJavaScript("document.getElementById('f').submit()"); }, NavigationType::FormSubmitted},
        {[&] { web->reload(); }, NavigationType::Reload},
    };
    const char* urls[] = {"/one", "/two", "/one", "/three?q=1", "/three?q=1"};
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(urls[i]);
        steps[i].first();
        ASSERT_TRUE(waitForFinishes(static_cast<int>(i) + 1));
        EXPECT_EQ(recorder->offers.back().type, steps[i].second);
        EXPECT_NE(recorder->offers.back().url.find(urls[i]), std::string::npos);
    }
    for (auto& o : recorder->offers) EXPECT_FALSE(o.userAgent.empty()) << o.url;
    EXPECT_TRUE(recorder->fails.empty());
}

TEST_F(WebViewTest, RefusedLoadIsNeverStartedAndAFailedOneIsReportedOnce) {
    web->loadRequest(platform::URLRequest(*platform::URL::parse("qmsg://close")));
    ASSERT_TRUE(spinUntil([&] { return !recorder->offers.empty(); }, 5));
    spinFor(0.5);
    EXPECT_EQ(recorder->starts + recorder->finishes + recorder->fails.size(), 0u);
    EXPECT_FALSE(web->isLoading());

    // A host that never resolves.
    web->loadRequest(platform::URLRequest(*platform::URL::parse("http://nowhere.invalid/nothing")));
    ASSERT_TRUE(spinUntil([&] { return !recorder->fails.empty(); }, 20));
    expectOneLoad(0, 1);
}

TEST_F(WebViewTest, HiddenWebViewInNoWindowRunsItsScript) {
    web = std::make_shared<platform::WebView>(platform::Rect(0, 0, 1, 1));
    web->setHidden(true);
    web->setDelegate(recorder);
    web->loadHTMLString("<html><head><script>location.href='qmsg://done?sum=' + (40 + 2);</script></head></html>",
                        platform::URL::parse(server.url("/base/")));
    ASSERT_TRUE(spinUntil([&] { return recorder->offerFor("qmsg://done?sum=42") != nullptr; }, 20));
    EXPECT_EQ(evaluate("6 * 7"), "42");
    EXPECT_TRUE(recorder->fails.empty());
}

TEST_F(WebViewTest, ScriptErrorGivesNoResultAndNoCompletionRunsAfterTheViewIsGone) {
    page("/p", "<html><body>p</body></html>");
    load("/p");
    ASSERT_TRUE(waitForFinishes(1));
    EXPECT_EQ(evaluate("throw new Error('x')"), std::nullopt);

    bool called = false;
    web->evaluateJavaScript("1 + 1", [&](std::optional<std::string>) { called = true; });
    web.reset();
    spinFor(0.5);
    EXPECT_FALSE(called);
}

TEST_F(WebViewTest, PagesWiderThanTheViewAreZoomedOutOnlyWhenAskedTo) {
    auto window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    window->addSubview(web);
    window->makeKeyAndVisible();
    page("/wide", "<html><body style='margin:0'><div style='width:960px;height:10px'></div></body></html>");
    load("/wide");
    ASSERT_TRUE(waitForFinishes(1));
    auto innerWidth = [&] { return std::atof(evaluate("window.innerWidth").value_or("0").c_str()); };
    ASSERT_TRUE(spinUntil([&] { return innerWidth() == 320; }, 5));

    web->setScalesPageToFit(true);
    web->reload();
    ASSERT_TRUE(waitForFinishes(2));
    ASSERT_TRUE(spinUntil([&] { return innerWidth() > 900; }, 5));
    EXPECT_NEAR(innerWidth(), 960, 10);
    web->removeFromSuperview();
}

}  // namespace
