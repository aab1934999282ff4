// Real keys (XTest on the virtual display): Ctrl+Right turns the device and
// the window takes the screen's new shape. Real taps on banners and buttons
// are the banner click tests'.
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

TEST(TouchTest, ControlAndRightArrowTurnTheDeviceAndTheWindowTakesTheScreensShape) {
    nimbra::test::gtkBackend();
    auto window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
    auto root = std::make_shared<AnyOrientation>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    nimbra::test::XInput input;
    if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
    GtkWidget* gtkWindow = platform::gtk::widgetForView(*window);
    const auto windowIs = [&](int width, int height) {
        return gtk_widget_get_width(gtkWindow) == width && gtk_widget_get_height(gtkWindow) == height;
    };
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
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

}  // namespace
