// The web-app screen: "onshow" once and "onhide" each time, however the
// load and the screen's appearances interleave (the close button and both
// kinds of page are the tap tests'); the page outliving the screen.

#include "unit/ads/screens/ScreensFixture.h"

#include "WebView/ZELWebView.h"
#include "WebApp/ZELWebAppViewController.h"
#include "WebApp/ZELWebAppWebViewDelegate.h"
#include "platform/sim/SimViews.h"

using platform::sim::SimWebViewPeer;

namespace {

int messagesTo(const SimWebViewPeer& page, const std::string& name) {
    const std::string call = "RUMA_ReceiveMessage('" + name + "'";
    return int(std::ranges::count_if(page.scripts(), [&](const std::string& s) { return s.starts_with(call); }));
}

}  // namespace

class WebAppTest : public ScreensTest {
protected:
    SimWebViewPeer* page(const ZELWebAppViewController& screen) { return SimWebViewPeer::of(*screen.webView()); }
    // A page loaded before its screen appeared, then on screen.
    std::shared_ptr<ZELWebAppViewController> presentLoaded() {
        auto screen = newScreen<ZELWebAppViewController>();
        screen->loadHTML("<p>app</p>", std::nullopt);
        screen->presentFromViewController(root);
        peer = page(*screen);
        sim().runUntilIdle();
        peer->finishLoad();
        EXPECT_EQ(messagesTo(*peer, "onshow"), 0) << "loaded, not yet on screen";
        settle();
        return screen;
    }
    void coverAndUncover(const std::shared_ptr<ZELWebAppViewController>& screen) {
        auto cover = ZELViewController::init();
        cover->presentFromViewController(screen);
        settle();
        cover->relinquishScreen();
        settle();
    }
    SimWebViewPeer* peer = nullptr;
};

// Loaded before the screen has appeared: "onshow" when it appears, and never
// again, whatever loads in it or covers it later; "onhide" each time the
// screen goes, covered or closed.
TEST_F(WebAppTest, OnShowOnceOnHideEachTimeTheScreenGoes) {
    auto screen = presentLoaded();
    EXPECT_EQ(messagesTo(*peer, "onshow"), 1);
    peer->navigate("http://127.0.0.1:8090/next", platform::NavigationType::LinkClicked);
    peer->finishLoad();
    coverAndUncover(screen);
    EXPECT_EQ(messagesTo(*peer, "onshow"), 1);
    EXPECT_EQ(messagesTo(*peer, "onhide"), 1);
    screen->relinquishScreen();
    settle();
    EXPECT_EQ(messagesTo(*peer, "onhide"), 2);
}

// (Told when the load finishes after the appearance is the web-app tap
// test's.)
TEST_F(WebAppTest, APageStillLoadingWhenTheScreenGoesIsNeverShown) {
    auto closed = newScreen<ZELWebAppViewController>();
    closed->load(url("http://127.0.0.1:8090/slow"));
    closed->presentFromViewController(root);
    settle();
    auto* closedPeer = page(*closed);
    closed->relinquishScreen();
    closed.reset();
    settle();
    closedPeer->finishLoad();
    EXPECT_EQ(messagesTo(*closedPeer, "onshow"), 0);
}

TEST_F(WebAppTest, PageOutlivesTheScreenByTwoSeconds) {
    std::shared_ptr<platform::WebView> web;
    std::weak_ptr<platform::WebViewDelegate> delegate;
    std::weak_ptr<ZELWebAppViewController> gone;
    {
        auto screen = newScreen<ZELWebAppViewController>();
        screen->load(url("http://127.0.0.1:8090/app"));
        screen->presentFromViewController(root);
        settle();
        web = screen->webView();
        delegate = screen->webView()->delegate();
        gone = screen;
        // The page closes its own screen.
        page(*screen)->navigate("qmsg://nimbra/close", platform::NavigationType::Other);
    }
    ASSERT_TRUE(sim().runUntil([&] { return gone.expired(); }, 1));
    sim().advance(ZELWebAppWebViewDelegate::kReleaseDelay - 0.1);
    EXPECT_EQ(web->delegate(), delegate.lock()) << "callbacks in flight would find no delegate";
    sim().advance(0.2);
    EXPECT_EQ(web->delegate(), nullptr);
    EXPECT_EQ(SimWebViewPeer::of(*web)->lastHTML(), std::optional<std::string>(""));
    EXPECT_TRUE(delegate.expired());
    std::weak_ptr<platform::WebView> released = web;
    web.reset();
    EXPECT_TRUE(released.expired());
}
