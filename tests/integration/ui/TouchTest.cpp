// Real input (XTest on the virtual display): a pointer press is shown to the
// view tree's hit test before the widget under it handles it, a tap on a
// button runs its action, and Ctrl+Right turns the device.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cstring>
#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
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

// The X calls, found at run time so that no X header (and its macros) comes in.
class TouchTest : public ::testing::Test {
protected:
    template <class F>
    static F find(void* lib, const char* name) {
        return reinterpret_cast<F>(dlsym(lib ? lib : RTLD_DEFAULT, name));
    }
    void SetUp() override {
        nimbra::test::gtkBackend();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        GdkDisplay* display = gdk_display_get_default();
        if (!xtst || !motion || !button || !key || !translate || !flush || !rootWindow || !xdisplay || !xid ||
            !keycode || !display || std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkX11Display") != 0)
            GTEST_SKIP() << "no X display with the test extension";
        gtkWindow = platform::gtk::widgetForView(*window);
        ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
        nimbra::test::spinFor(0.5);
        x = xdisplay(display);
    }
    bool windowIs(int width, int height) {
        return gtk_widget_get_width(gtkWindow) == width && gtk_widget_get_height(gtkWindow) == height;
    }
    // Moves the pointer to a point of the root view.
    void pointAt(double px, double py) {
        double wx = 0, wy = 0;
        ASSERT_TRUE(gtk_widget_translate_coordinates(platform::gtk::widgetForView(*root->view()), gtkWindow, px, py,
                                                     &wx, &wy));
        int sx = 0, sy = 0;
        unsigned long child = 0;
        translate(x, xid(gtk_native_get_surface(GTK_NATIVE(gtkWindow))), rootWindow(x), int(wx), int(wy), &sx, &sy,
                  &child);
        motion(x, -1, sx, sy, 0);
    }

    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    int (*motion)(void*, int, int, int, unsigned long) = find<decltype(motion)>(xtst, "XTestFakeMotionEvent");
    int (*button)(void*, unsigned, int, unsigned long) = find<decltype(button)>(xtst, "XTestFakeButtonEvent");
    int (*key)(void*, unsigned, int, unsigned long) = find<decltype(key)>(xtst, "XTestFakeKeyEvent");
    int (*translate)(void*, unsigned long, unsigned long, int, int, int*, int*, unsigned long*) =
        find<decltype(translate)>(nullptr, "XTranslateCoordinates");
    int (*flush)(void*) = find<decltype(flush)>(nullptr, "XFlush");
    unsigned long (*rootWindow)(void*) = find<decltype(rootWindow)>(nullptr, "XDefaultRootWindow");
    unsigned char (*keycode)(void*, unsigned long) = find<decltype(keycode)>(nullptr, "XKeysymToKeycode");
    void* (*xdisplay)(GdkDisplay*) = find<decltype(xdisplay)>(nullptr, "gdk_x11_display_get_xdisplay");
    unsigned long (*xid)(GdkSurface*) = find<decltype(xid)>(nullptr, "gdk_x11_surface_get_xid");

    std::shared_ptr<platform::Window> window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    std::shared_ptr<AnyOrientation> root = std::make_shared<AnyOrientation>();
    GtkWidget* gtkWindow = nullptr;
    void* x = nullptr;
};

TEST_F(TouchTest, PressesReachTheHitTestFirstAndTapsRunButtonActions) {
    auto touchable = std::make_shared<Touchable>(Rect(100, 100, 50, 50));
    auto tapped = std::make_shared<platform::Button>(platform::ButtonType::Custom, Rect(0, 0, 50, 50));
    int taps = 0;
    tapped->addTarget([&] { ++taps; }, platform::kControlEventTouchUpInside);
    touchable->addSubview(tapped);
    root->view()->addSubview(touchable);
    nimbra::test::spinFor(0.1);

    pointAt(110, 110);
    button(x, 1, 1, 0);
    button(x, 1, 0, 0);
    flush(x);
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return taps == 1; }, 5));
    EXPECT_GE(touchable->hits, 1);
    EXPECT_EQ(touchable->touches, touchable->hits);
    EXPECT_EQ(touchable->last.x, 10);
    EXPECT_EQ(touchable->last.y, 10);
}

TEST_F(TouchTest, ControlAndRightArrowTurnTheDeviceAndTheWindowTakesTheScreensShape) {
    // Keys go where the pointer is on a display without a window manager.
    pointAt(50, 30);
    const unsigned control = keycode(x, 0xffe3 /* Control_L */), right = keycode(x, 0xff53 /* Right */);
    key(x, control, 1, 0);
    key(x, right, 1, 0);
    key(x, right, 0, 0);
    key(x, control, 0, 0);
    flush(x);
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return windowIs(480, 320); }, 5));
    EXPECT_EQ(platform::Device::current().orientation(), platform::InterfaceOrientation::LandscapeRight);
    EXPECT_EQ(root->interfaceOrientation(), platform::InterfaceOrientation::LandscapeRight);
    // Back upright, also for the tests that follow.
    EXPECT_TRUE(window->deviceDidRotate(platform::InterfaceOrientation::Portrait));
    EXPECT_TRUE(nimbra::test::spinUntil([&] { return windowIs(320, 480); }, 5));
}

}  // namespace
