// What only the scripted engine has: navigations that tests make, the
// auto-finish setting, and its own pending work against a view that goes
// away. The web view's contract is in SimContractTest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contract/WebViewContract.h"
#include "unit/support/SimTest.h"

using namespace platform;
using nimbra::contract::PageRecorder;
using platform::sim::SimWebLoad;
using platform::sim::SimWebViewPeer;

class SimWebViewTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        web = std::make_shared<WebView>(Rect(0, 0, 320, 50));
        web->setDelegate(delegate);
        peer = SimWebViewPeer::of(*web);
    }
    void load(const std::string& url) { web->loadRequest(URLRequest(*URL::parse(url))); }
    std::shared_ptr<PageRecorder> delegate = std::make_shared<PageRecorder>();
    std::shared_ptr<WebView> web;
    SimWebViewPeer* peer = nullptr;
};

TEST_F(SimWebViewTest, AllowedNavigationsReplaceTheLoadRefusedOnesChangeNothing) {
    load("http://a/1");
    sim().runUntilIdle();
    EXPECT_TRUE(peer->navigate("http://a/2", NavigationType::LinkClicked));
    EXPECT_EQ(delegate->offers.back().type, NavigationType::LinkClicked);
    ASSERT_EQ(delegate->fails.size(), 1u);
    EXPECT_EQ(delegate->fails[0].code, kURLErrorCancelled) << "the interrupted load fails as cancelled";
    EXPECT_EQ(delegate->starts, 2);
    EXPECT_FALSE(peer->navigate("qmsg://x/close", NavigationType::LinkClicked));
    ASSERT_TRUE(peer->finishLoad());
    EXPECT_FALSE(peer->finishLoad()) << "only a load in progress can finish";
    load("qmsg://x/refused");
    sim().runUntilIdle();
    EXPECT_EQ(web->request()->url.absoluteString(), "http://a/2") << "request() follows allowed loads only";
    EXPECT_TRUE(peer->navigate("http://frame/", NavigationType::Other, false));
    EXPECT_EQ(web->request()->url.absoluteString(), "http://a/2") << "a subframe does not change the page";

    sim().web().setAutoFinish(true);
    load("http://b/");
    sim().runUntilIdle();
    EXPECT_EQ(delegate->finishes, 2);
}

TEST_F(SimWebViewTest, DelegateThatDropsTheViewDuringACallbackIsSafe) {
    // The owner releases the web view when the page starts: nothing may touch
    // it afterwards, neither the pending behaviour nor auto-finish.
    struct Dropper : PageRecorder {
        std::shared_ptr<WebView>* web = nullptr;
        void webViewDidStartLoad(WebView&) override { web->reset(); }
    };
    auto dropper = std::make_shared<Dropper>();
    dropper->web = &web;
    web->setDelegate(dropper);
    int behaviourRuns = 0;
    sim().web().setPageBehaviour([&](SimWebViewPeer&, const SimWebLoad&) { ++behaviourRuns; });
    sim().web().setAutoFinish(true);
    load("http://a/");
    sim().runUntilIdle();
    EXPECT_EQ(web, nullptr);
    EXPECT_EQ(behaviourRuns, 0);
}
