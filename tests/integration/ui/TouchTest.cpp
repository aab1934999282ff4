// Real input (XTest on the virtual display): a pointer press is shown to the
// view tree's hit test before the widget under it handles it, a tap on a
// button runs its action, and Ctrl+Right turns the device.
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/XInput.h"
#include "platform/Application.h"
#include "platform/Button.h"
#include "platform/ViewController.h"
#include "platform/Window.h"
#include "platform/gtk/GtkViews.h"

namespace {

using platform::Rect;

class Touchable : public platform::View {
public:
    using View::View;
    std::shared_ptr<platform::View> hitTest(platform::Point p, const platform::Event* event) override {
        ++hits;
        last = p;
        touches += event && event->type == platform::Event::Type::Touches;
        return View::hitTest(p, event);
    }
    int hits = 0, touches = 0;
    platform::Point last;
};

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation) override { return true; }
};

class TouchTest : public ::testing::Test {
protected:
    void SetUp() override {
        nimbra::test::gtkBackend();
        window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
        root = std::make_shared<AnyOrientation>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
        gtkWindow = platform::gtk::widgetForView(*window);
        ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
        nimbra::test::spinFor(0.5);
    }
    bool windowIs(int width, int height) {
        return gtk_widget_get_width(gtkWindow) == width && gtk_widget_get_height(gtkWindow) == height;
    }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<AnyOrientation> root;
    GtkWidget* gtkWindow = nullptr;
    nimbra::test::XInput input;
};

TEST_F(TouchTest, PressesReachTheHitTestFirstAndTapsRunButtonActions) {
    auto touchable = std::make_shared<Touchable>(Rect(100, 100, 50, 50));
    auto tapped = std::make_shared<platform::Button>(platform::ButtonType::Custom, Rect(0, 0, 50, 50));
    int taps = 0;
    tapped->addTarget([&] { ++taps; }, platform::kControlEventTouchUpInside);
    touchable->addSubview(tapped);
    root->view()->addSubview(touchable);
    nimbra::test::spinFor(0.1);

    ASSERT_TRUE(input.clickAt(*root->view(), 110, 110));
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return taps == 1; }, 5));
    EXPECT_GE(touchable->hits, 1);
    EXPECT_EQ(touchable->touches, touchable->hits);
    EXPECT_EQ(touchable->last.x, 10);
    EXPECT_EQ(touchable->last.y, 10);
}

TEST_F(TouchTest, ControlAndRightArrowTurnTheDeviceAndTheWindowTakesTheScreensShape) {
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

}  // namespace
