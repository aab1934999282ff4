#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "unit/support/SimTest.h"

using namespace platform;
using platform::sim::SimWebLoad;
using platform::sim::SimWebViewPeer;

namespace {

// Lets everything through except message URLs, and records every call.
class PageDelegate : public WebViewDelegate {
public:
    std::vector<std::string> events;
    std::vector<std::string> userAgents;
    std::function<void()> onStart;
    bool webViewShouldStartLoadWithRequest(WebView&, const URLRequest& r, NavigationType type) override {
        events.push_back("should " + r.url.absoluteString() + " " + std::to_string(static_cast<int>(type)));
        userAgents.push_back(r.valueForHTTPHeaderField("User-Agent").value_or(""));
        return r.url.scheme() != "qmsg";
    }
    void webViewDidStartLoad(WebView&) override {
        events.push_back("start");
        if (onStart) onStart();
    }
    void webViewDidFinishLoad(WebView&) override { events.push_back("finish"); }
    void webViewDidFailLoadWithError(WebView&, const Error& e) override {
        events.push_back("fail " + std::to_string(e.code));
    }
};

}  // namespace

class SimWebViewTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        web = std::make_shared<WebView>(Rect(0, 0, 320, 50));
        web->setDelegate(delegate);
        peer = SimWebViewPeer::of(*web);
        ASSERT_NE(peer, nullptr);
    }
    std::shared_ptr<PageDelegate> delegate = std::make_shared<PageDelegate>();
    std::shared_ptr<WebView> web;
    SimWebViewPeer* peer = nullptr;
    static URLRequest request_(const std::string& url) { return URLRequest(*URL::parse(url)); }
};

TEST_F(SimWebViewTest, LoadsAreOfferedOnALaterTurnAndEndOnce) {
    web->loadHTMLString("<script>RUMA_buildAdURL({})</script>", URL::parse("http://ads.example/"));
    EXPECT_TRUE(delegate->events.empty()) << "the engine answers on a later turn";
    EXPECT_TRUE(web->isLoading()) << "loading from the moment the load is asked for";
    sim().runUntilIdle();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"should http://ads.example/ 5", "start"}));
    EXPECT_FALSE(delegate->userAgents[0].empty());
    EXPECT_EQ(web->request()->url.absoluteString(), "http://ads.example/");
    ASSERT_TRUE(peer->finishLoad());
    EXPECT_FALSE(web->isLoading());
    EXPECT_FALSE(peer->finishLoad()) << "only a load in progress can finish";
    EXPECT_EQ(delegate->events.back(), "finish");

    web->loadRequest(request_("http://a/"));
    sim().runUntilIdle();
    EXPECT_TRUE(peer->failLoad(Error{kURLErrorDomain, kURLErrorTimedOut, "timed out"}));
    EXPECT_EQ(delegate->events.back(), "fail -1001");
    EXPECT_FALSE(web->isLoading());
    sim().web().setAutoFinish(true);
    web->loadRequest(request_("http://b/"));
    sim().runUntilIdle();
    EXPECT_EQ(delegate->events.back(), "finish");
}

TEST_F(SimWebViewTest, PageBehaviourSendsAMessageThatIsRefused) {
    sim().web().setPageBehaviour([](SimWebViewPeer& page, const SimWebLoad& load) {
        if (load.html.find("RUMA_buildAdURL") != std::string::npos)
            page.navigate("qmsg://x/loadAdURL?url=http%3A%2F%2Fad%2F", NavigationType::Other);
    });
    web->loadHTMLString("<script>RUMA_buildAdURL({})</script>", std::nullopt);
    sim().runUntilIdle();
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"should about:blank 5", "start",
                                                          "should qmsg://x/loadAdURL?url=http%3A%2F%2Fad%2F 5"}));
    EXPECT_TRUE(web->isLoading()) << "a refused navigation leaves the page loading";
    EXPECT_EQ(web->request()->url.absoluteString(), "about:blank");
}

TEST_F(SimWebViewTest, AllowedNavigationsReplaceTheLoadRefusedOnesChangeNothing) {
    web->loadRequest(request_("http://a/1"));
    sim().runUntilIdle();
    EXPECT_TRUE(peer->navigate("http://a/2", NavigationType::LinkClicked));
    EXPECT_EQ(delegate->events, (std::vector<std::string>{"should http://a/1 5", "start", "should http://a/2 0",
                                                          "fail -999", "start"}));
    EXPECT_FALSE(peer->navigate("qmsg://x/close", NavigationType::LinkClicked));
    peer->finishLoad();
    web->loadRequest(request_("qmsg://x/refused"));
    sim().runUntilIdle();
    EXPECT_FALSE(web->isLoading()) << "a refused load is not under way";
    EXPECT_EQ(web->request()->url.absoluteString(), "http://a/2") << "request() follows allowed loads only";
    EXPECT_TRUE(peer->navigate("http://frame/", NavigationType::Other, false));
    EXPECT_EQ(web->request()->url.absoluteString(), "http://a/2") << "a subframe does not change the page";
}

TEST_F(SimWebViewTest, ScriptsAreAnsweredAfterTheCallAndNeverToAGoneView) {
    sim().web().setScriptResponder([](const std::string& script) -> std::optional<std::string> {
        if (script == "bad(") return std::nullopt;
        return "ok:" + script;
    });
    std::vector<std::optional<std::string>> results;
    auto keep = [&](std::optional<std::string> r) { results.push_back(r); };
    web->evaluateJavaScript("go()", keep);
    web->evaluateJavaScript("bad(", keep);
    EXPECT_TRUE(results.empty());
    sim().runUntilIdle();
    EXPECT_EQ(results, (std::vector<std::optional<std::string>>{"ok:go()", std::nullopt}));

    web->evaluateJavaScript("late", keep);
    EXPECT_EQ(peer->scripts().size(), 3u);
    web.reset();  // the view goes before the answer
    sim().runUntilIdle();
    EXPECT_EQ(results.size(), 2u);
}

TEST_F(SimWebViewTest, DelegateThatDropsTheViewDuringACallbackIsSafe) {
    // The owner releases the web view when the page starts: nothing may touch
    // it afterwards, neither the pending behaviour nor auto-finish.
    delegate->onStart = [this] { web.reset(); };
    int behaviourRuns = 0;
    sim().web().setPageBehaviour([&](SimWebViewPeer&, const SimWebLoad&) { ++behaviourRuns; });
    sim().web().setAutoFinish(true);
    web->loadRequest(request_("http://a/"));
    sim().runUntilIdle();
    EXPECT_EQ(web, nullptr);
    EXPECT_EQ(behaviourRuns, 0);
}
