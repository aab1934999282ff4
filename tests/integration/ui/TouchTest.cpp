// Real keys (XTest on the virtual display): Ctrl+Right turns the device and
// the window takes the screen's new shape. Sizes the window system gives the
// window (as a window manager sets them): the screens follow, turned or not,
// down to the phone's screen. Real taps on banners and buttons are the banner
// click tests'.
#include <gtest/gtest.h>

#include "integration/support/XInput.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace {

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) override { return true; }
};

// A window on screen with a screen that turns any way.
class TouchTest : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        root = std::make_shared<AnyOrientation>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
        gtkWindow = platform::gtk::widgetForView(*window);
        ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
    }
    void TearDown() override {
        if (window) window->setHidden(true);
    }
    bool windowIs(int width, int height) const {
        return gtk_widget_get_width(gtkWindow) == width && gtk_widget_get_height(gtkWindow) == height;
    }
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<AnyOrientation> root;
    nimbra::test::XInput input;
    GtkWidget* gtkWindow = nullptr;
};

TEST_F(TouchTest, ControlAndRightArrowTurnTheDeviceAndTheWindowTakesTheScreensShape) {
    nimbra::test::spinFor(0.5);
    // Keys go where the pointer is on a display without a window manager.
    ASSERT_TRUE(input.pointAt(*root->view(), 50, 30));
    input.chord({0xffe3 /* Control_L */, 0xff53 /* Right */});
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return windowIs(480, 320); }, 5));
    EXPECT_EQ(platform::Device::current().orientation(), platform::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(root->interfaceOrientation(), platform::InterfaceOrientation::LandscapeRight);
    // Back upright, also for the tests that follow.
    EXPECT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::Portrait));
    EXPECT_TRUE(nimbra::test::spinUntil([&] { return windowIs(320, 480); }, 5));
}

TEST_F(TouchTest, TheScreensFollowTheWindowSystemsSizeTurnedOrNot) {
    using platform::Rect;
    // Whether the window, its root screen and the main screen all have this shape.
    const auto laidOut = [&](int width, int height) {
        return nimbra::test::spinUntil([&] {
            return windowIs(width, height) && window->frame() == Rect(0, 0, width, height) &&
                   root->view()->frame() == Rect(0, 20, width, height - 20) &&
                   platform::Screen::main().bounds() == Rect(0, 0, width, height);
        }, 5);
    };
    ASSERT_TRUE(laidOut(320, 480));
    ASSERT_TRUE(input.resize(*window, 360, 720));
    EXPECT_TRUE(laidOut(360, 720));
    ASSERT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::LandscapeRight));
    EXPECT_TRUE(laidOut(720, 360));
    ASSERT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::Portrait));
    EXPECT_TRUE(laidOut(360, 720));
    // Less than the phone's screen is not taken.
    ASSERT_TRUE(input.resize(*window, 200, 300));
    EXPECT_TRUE(laidOut(320, 480));
}

}  // namespace
