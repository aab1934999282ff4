// A tap on a banner ad, all the way to the screen it opens: what the ad may
// open and when, and the browser outliving the banner. (A tapped link's
// browser with the banner's reload held under it, and leaving the application
// after the click trackings, are the banner click test's end to end.)

#include "unit/ads/banner/BannerFixture.h"

#include "Browser/ZELBrowserController.h"
#include "platform/Window.h"
#include "platform/sim/SimViews.h"

#include <algorithm>

using platform::percentEncodeUnreserved;
using platform::sim::SimWebViewPeer;

class ClickRoadTest : public BannerTest {
protected:
    void SetUp() override {
        BannerTest::SetUp();
        // The banner's screen is on the phone's screen, as in an application.
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        makeBanner();
        loadAndSettle();
        ASSERT_EQ(state(), kZELStateShown);
        peer = SimWebViewPeer::of(*banner->webView());
        sim().advance(1);
    }
    void tap() { banner->webView()->hitTest(platform::Point{10, 10}, nullptr); }
    std::shared_ptr<ZELBrowserController> browser() {
        return std::dynamic_pointer_cast<ZELBrowserController>(root->modalViewController());
    }
    bool sendOpen(const std::string& query) { return peer->navigate("qmsg://nimbra/open?" + query, platform::NavigationType::Other); }
    void TearDown() override {
        root->dismissModalViewControllerAnimated(false);
        window.reset();
        BannerTest::TearDown();
    }
    std::shared_ptr<platform::Window> window;
    SimWebViewPeer* peer = nullptr;
};

TEST_F(ClickRoadTest, OpenMessagesOpenOnlyWhatATapAskedFor) {
    const std::string landing = "u=" + percentEncodeUnreserved("http://127.0.0.1:8090/landing?ai=tok");
    // The page asks by itself: refused, logged once, nothing counted.
    EXPECT_FALSE(sendOpen("a=browser&" + landing));
    EXPECT_FALSE(sendOpen("a=browser&" + landing));
    EXPECT_FALSE(browser());
    const auto lines = sim().logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("without being tapped") != std::string::npos; }),
              1);
    // Nor does a mail or phone link, or markup by message, get anywhere.
    sim().application().setOpenableSchemes({"http", "https", "tel", "mailto"});
    for (const char* link : {"mailto:ana@example.com", "tel:+34600000000"})
        peer->navigate(link, platform::NavigationType::LinkClicked);
    sendOpen("a=webapp&html=%3Cp%3E");
    sim().advance(1);
    EXPECT_EQ(root->modalViewController(), nullptr);
    EXPECT_TRUE(sim().application().openedURLs().empty());

    tap();
    peer->navigate("tel:+34600000000", platform::NavigationType::LinkClicked);
    sim().advance(1);
    EXPECT_EQ(sim().application().openedURLs().size(), 1u) << "the same link, tapped";
    // Nothing to open: no "u", a "u" that is no URL.
    sendOpen("a=browser");
    sendOpen("a=browser&u=%20");
    EXPECT_FALSE(browser());
    // A video opens in the browser; an unknown orientation code means any.
    sendOpen("a=video&o=x&" + landing);
    auto screen = browser();
    ASSERT_TRUE(screen);
    EXPECT_EQ(screen->supportedOrientations(), kZELOrientationAny);
    // The same message again, at once: one screen.
    sendOpen("a=browser&o=l&" + landing);
    EXPECT_EQ(browser(), screen);
    EXPECT_EQ(screen->modalViewController(), nullptr);
    screen->relinquishScreen();
}

// (A new ad forgetting the last tap is the touched-navigation table's.)
TEST_F(ClickRoadTest, BrowserOutlivesTheBannerThatOpenedIt) {
    tap();
    peer->navigate("http://127.0.0.1:8090/click?ai=tok", platform::NavigationType::LinkClicked);
    auto screen = browser();
    ASSERT_TRUE(screen);
    std::weak_ptr<ZELObjectPrivate> ad = controller();
    banner.reset();
    sim().runUntilIdle();
    EXPECT_TRUE(ad.expired());
    SimWebViewPeer::of(*screen->webView())->finishLoad();
    screen->relinquishScreen();
    std::weak_ptr<ZELBrowserController> gone = screen;
    screen.reset();
    sim().advance(1);
    EXPECT_TRUE(gone.expired());
}
