// The full-screen ad screen base: what it takes from the application while it
// is up (status bar, idle timer, the banners' reload), what it tells whom,
// and that it gives everything back however it goes.

#include "unit/ads/screens/ScreensFixture.h"

#include "ViewController/ZELViewController.h"
#include "platform/Application.h"

static std::shared_ptr<ZELViewController> makeScreen(const std::shared_ptr<ZELDelegateManager>& manager) {
    auto screen = ZELViewController::init();
    screen->setDelegateManager(manager);
    return screen;
}

// The key window's root presents, whatever controller is given.
TEST_F(ScreensTest, FirstScreenReportsItsLifeAndAScreenFromAScreenDoesNot) {
    std::weak_ptr<ZELViewController> first, second;
    {
        auto a = makeScreen(manager);
        first = a;
        a->presentFromViewController(std::make_shared<platform::ViewController>());
        settle();
        ASSERT_EQ(shown<ZELViewController>(), a);
        EXPECT_EQ(a->presentingViewController(), root);

        auto b = makeScreen(manager);
        second = b;
        b->presentFromViewController(a);
        settle();
        b->relinquishScreen();
    }
    settle();
    // The second screen is gone and said nothing; the first is still up.
    EXPECT_TRUE(second.expired());
    EXPECT_EQ(events->events, std::vector<std::string>{"willPresent"});
    ASSERT_FALSE(first.expired());
    first.lock()->relinquishScreen();
    first.lock()->relinquishScreen();  // a second tap on Done changes nothing
    settle();
    EXPECT_TRUE(first.expired()) << "the screen kept itself after it went";
    EXPECT_EQ(events->events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
    EXPECT_EQ(willPresent, 2);
    EXPECT_EQ(didRelinquish, 2);
}

TEST_F(ScreensTest, StatusBarAndIdleTimerComeBackAsTheApplicationHadThem) {
    auto& application = platform::Application::shared();
    // Unequal pairs: each value must come back to its own setting.
    for (const auto& [barHidden, idleOff] : {std::pair(false, true), std::pair(true, false)}) {
        SCOPED_TRACE(barHidden);
        application.setStatusBarHidden(barHidden, false);
        application.setIdleTimerDisabled(idleOff);
        auto screen = makeScreen(manager);
        screen->presentFromViewController(root);
        EXPECT_TRUE(application.isStatusBarHidden() && application.isIdleTimerDisabled());
        settle();
        screen->relinquishScreen();
        settle();
        EXPECT_EQ(std::pair(application.isStatusBarHidden(), application.isIdleTimerDisabled()), std::pair(barHidden, idleOff));
    }
}

TEST_F(ScreensTest, NothingIsLeftHalfDoneWhenAScreenCannotOrDoesNotGoTheUsualWay) {
    auto& application = platform::Application::shared();
    // From nothing: a log line and nothing else.
    auto lost = makeScreen(manager);
    lost->presentFromViewController(nullptr);
    EXPECT_TRUE(sim().logContains("<Nimbra> No UIViewController supplied to the ad.  Cannot continue."));
    EXPECT_EQ(willPresent, 0);

    // A second screen asked for while the first is still coming up is not shown.
    std::weak_ptr<ZELViewController> refused;
    {
        auto first = makeScreen(manager);
        first->presentFromViewController(root);
        auto second = makeScreen(manager);
        refused = second;
        second->presentFromViewController(root);
        EXPECT_EQ(shown<ZELViewController>(), first);
    }
    sim().runUntilIdle();
    EXPECT_TRUE(refused.expired()) << "a reference kept for a screen that never showed";
    EXPECT_EQ(willPresent, 1);

    // Taken away by its presenter instead of relinquished: everything comes back.
    settle();
    std::weak_ptr<ZELViewController> dismissed = shown<ZELViewController>();
    root->dismissModalViewControllerAnimated(true);
    settle();
    EXPECT_TRUE(dismissed.expired());
    EXPECT_EQ(didRelinquish, 1);
    EXPECT_FALSE(application.isStatusBarHidden() || application.isIdleTimerDisabled());
    EXPECT_EQ(events->events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
}
