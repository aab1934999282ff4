// Real keys (XTest on the virtual display): Ctrl+Right turns the device and
// the window takes the screen's new shape. Sizes the window system gives the
// window (as a window manager sets them): the screens follow, turned or not,
// down to the phone's screen. A button acts once for a click, Return, Space or
// the accessibility action, and not at all while disabled.
#include <gtest/gtest.h>

#include "integration/support/XInput.h"
#include "platform/Button.h"

namespace {

using nimbra::test::spinFor;
using nimbra::test::spinUntil;

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) override { return true; }
};

// A window on screen with a screen that turns any way.
class TouchTest : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        root = std::make_shared<AnyOrientation>();
        window = nimbra::test::shownWindow(root);
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
        gtkWindow = platform::gtk::widgetForView(*window);
        ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
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
    spinFor(0.5);
    // Keys go where the pointer is on a display without a window manager.
    ASSERT_TRUE(input.pointAt(*root->view(), 50, 30));
    ASSERT_TRUE(input.key("ctrl+Right"));
    ASSERT_TRUE(spinUntil([&] { return windowIs(480, 320); }, 5));
    EXPECT_EQ(platform::Device::current().orientation(), platform::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(root->interfaceOrientation(), platform::InterfaceOrientation::LandscapeRight);
    // Back upright, also for the tests that follow.
    EXPECT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::Portrait));
    EXPECT_TRUE(spinUntil([&] { return windowIs(320, 480); }, 5));
}

TEST_F(TouchTest, TheScreensFollowTheWindowSystemsSizeTurnedOrNot) {
    using platform::Rect;
    // Whether the window, its root screen and the main screen all have this shape.
    const auto laidOut = [&](int width, int height) {
        return spinUntil(
            [&] {
                return windowIs(width, height) && window->frame() == Rect(0, 0, width, height) &&
                       root->view()->frame() == Rect(0, 20, width, height - 20) &&
                       platform::Screen::main().bounds() == Rect(0, 0, width, height);
            },
            5);
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

TEST_F(TouchTest, AButtonActsOnceForAClickAKeyOrTheAccessibilityActionAndNeverWhileDisabled) {
    auto button =
        std::make_shared<platform::Button>(platform::ButtonType::RoundedRect, platform::Rect(60, 100, 200, 40));
    button->setTitle("Enviar");
    int actions = 0;
    button->addTarget([&] { ++actions; }, platform::kControlEventTouchUpInside);
    root->view()->addSubview(button);
    GtkWidget* widget = platform::gtk::widgetForView(*button);
    ASSERT_TRUE(GTK_IS_BUTTON(widget));
    ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(widget); }));
    spinFor(0.3);
    // Each way in, one action: the toolkit's own handling of the pointer
    // never adds a second.
    const std::function<void()> ways[] = {
        [&] { input.clickAt(*button, 100, 20); },
        [&] {
            button->requestKeyboardFocus();
            input.key("Return");
        },
        [&] { input.key("space"); }, [&] { gtk_widget_activate(widget); },  // what the accessibility action does
    };
    for (size_t i = 0; i < std::size(ways); ++i) {
        SCOPED_TRACE(i);
        ways[i]();
        ASSERT_TRUE(spinUntil([&] { return actions == int(i) + 1; }, 5)) << actions;
        spinFor(0.3);
        EXPECT_EQ(actions, int(i) + 1);
    }
    EXPECT_TRUE(gtk_widget_has_focus(widget));
    button->setEnabled(false);
    EXPECT_FALSE(gtk_widget_is_sensitive(widget)) << "read as disabled";
    gtk_widget_activate(widget);
    input.clickAt(*button, 100, 20);
    spinFor(0.3);
    EXPECT_EQ(actions, int(std::size(ways)));
}

}  // namespace
