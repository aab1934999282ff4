// The full-screen ad screen base: what it takes from the application while it
// is up (status bar, idle timer, the banners' reload), what it tells whom,
// and that it gives everything back however it goes.

#include "unit/ads/screens/ScreensFixture.h"

#include "ViewController/ZELViewController.h"
#include "platform/Application.h"

// The key window's root presents, whatever controller is given; the screen
// keeps itself while it is up, and a second tap on Done changes nothing.
TEST_F(ScreensTest, FirstScreenReportsItsLife) {
    std::weak_ptr<ZELViewController> first;
    {
        auto screen = newScreen<ZELViewController>();
        first = screen;
        screen->presentFromViewController(std::make_shared<platform::ViewController>());
        settle();
        ASSERT_EQ(shown<ZELViewController>(), screen);
        EXPECT_EQ(screen->presentingViewController(), root);
    }
    first.lock()->relinquishScreen();
    first.lock()->relinquishScreen();
    settle();
    EXPECT_TRUE(first.expired()) << "the screen kept itself after it went";
    EXPECT_EQ(events->events, (std::vector<std::string>{"willPresent", "willDismiss", "didDismiss"}));
    EXPECT_EQ(std::pair(willPresent, didRelinquish), std::pair(1, 1));
}

// It still pauses the banners.
TEST_F(ScreensTest, AScreenFromAScreenTellsTheApplicationNothing) {
    auto first = newScreen<ZELViewController>();
    first->presentFromViewController(root);
    settle();
    events->events.clear();
    std::weak_ptr<ZELViewController> second;
    {
        auto screen = newScreen<ZELViewController>();
        second = screen;
        screen->presentFromViewController(first);
        settle();
        screen->relinquishScreen();
    }
    settle();
    EXPECT_TRUE(second.expired());
    EXPECT_TRUE(events->events.empty());
    EXPECT_EQ(std::pair(willPresent, didRelinquish), std::pair(2, 1));
    first->relinquishScreen();
}

TEST_F(ScreensTest, WhatTheScreenTookComesBackAsTheApplicationHadIt) {
    auto& application = platform::Application::shared();
    // Unequal pairs: each value must come back to its own setting.
    for (const auto& [barHidden, idleOff] : {std::pair(false, true), std::pair(true, false)}) {
        SCOPED_TRACE(barHidden);
        application.setStatusBarHidden(barHidden, false);
        application.setIdleTimerDisabled(idleOff);
        auto screen = newScreen<ZELViewController>();
        screen->presentFromViewController(root);
        EXPECT_TRUE(application.isStatusBarHidden() && application.isIdleTimerDisabled());
        settle();
        screen->relinquishScreen();
        settle();
        EXPECT_EQ(std::pair(application.isStatusBarHidden(), application.isIdleTimerDisabled()),
                  std::pair(barHidden, idleOff));
    }
}

TEST_F(ScreensTest, NothingIsLeftHalfDoneWhenAScreenCannotOrDoesNotGoTheUsualWay) {
    auto& application = platform::Application::shared();
    // From nothing: a log line and nothing else.
    auto lost = newScreen<ZELViewController>();
    lost->presentFromViewController(nullptr);
    EXPECT_TRUE(sim().logContains("<Nimbra> No UIViewController supplied to the ad.  Cannot continue."));
    EXPECT_EQ(willPresent, 0);

    // A second screen asked for while the first is still coming up is not shown.
    std::weak_ptr<ZELViewController> refused;
    {
        auto first = newScreen<ZELViewController>();
        first->presentFromViewController(root);
        auto second = newScreen<ZELViewController>();
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
