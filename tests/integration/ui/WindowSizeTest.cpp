// The window takes the size the window system gives it and the screens follow
// it; turning the interface asks for the same area on its side; the phone's
// screen is the least it takes.
#include <gtest/gtest.h>

#include "integration/support/XInput.h"
#include "platform/Application.h"
#include "platform/ViewController.h"
#include "platform/Window.h"

namespace {

using platform::InterfaceOrientation;
using platform::Rect;

class AnyOrientation : public platform::ViewController {
public:
    bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation) override { return true; }
};

TEST(WindowSize, TheScreensFollowTheWindowSystemsSizeTurnedOrNot) {
    nimbra::test::gtkBackend();
    auto window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    auto root = std::make_shared<AnyOrientation>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    nimbra::test::XInput input;
    if (!input.available()) GTEST_SKIP() << "no X display";
    GtkWidget* gtkWindow = platform::gtk::widgetForView(*window);
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
    // Whether the window, its root screen and the main screen all have this shape.
    const auto laidOut = [&](int width, int height) {
        return nimbra::test::spinUntil([&] {
            return gtk_widget_get_width(gtkWindow) == width && gtk_widget_get_height(gtkWindow) == height &&
                   window->frame() == Rect(0, 0, width, height) &&
                   root->view()->frame() == Rect(0, 20, width, height - 20) &&
                   platform::Screen::main().bounds() == Rect(0, 0, width, height);
        }, 5);
    };
    ASSERT_TRUE(laidOut(320, 480));
    ASSERT_TRUE(input.resize(*window, 360, 720));
    EXPECT_TRUE(laidOut(360, 720));
    ASSERT_TRUE(window->deviceDidRotate(InterfaceOrientation::LandscapeRight));
    EXPECT_TRUE(laidOut(720, 360));
    ASSERT_TRUE(window->deviceDidRotate(InterfaceOrientation::Portrait));
    EXPECT_TRUE(laidOut(360, 720));
    // Less than the phone's screen is not taken.
    ASSERT_TRUE(input.resize(*window, 200, 300));
    EXPECT_TRUE(laidOut(320, 480));
    window->setHidden(true);
}

}  // namespace
