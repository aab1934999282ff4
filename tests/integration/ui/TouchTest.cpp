// A real pointer press (XTest on the virtual display) is shown to the view
// tree's hit test before the widget under it handles it, and a tap on a
// button runs its action.
#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cstring>
#include <gtest/gtest.h>

#include "integration/support/GtkTestEnvironment.h"
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

// The X calls, found at run time so that no X header (and its macros) comes in.
struct FakeInput {
    using Motion = int (*)(void*, int, int, int, unsigned long);
    using ButtonFn = int (*)(void*, unsigned, int, unsigned long);
    using Translate = int (*)(void*, unsigned long, unsigned long, int, int, int*, int*, unsigned long*);
    using Flush = int (*)(void*);
    using RootWindow = unsigned long (*)(void*);
    using XDisplayOf = void* (*)(GdkDisplay*);
    using XidOf = unsigned long (*)(GdkSurface*);
    template <class F>
    static F find(void* lib, const char* name) {
        return reinterpret_cast<F>(dlsym(lib ? lib : RTLD_DEFAULT, name));
    }
    void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
    Motion motion = xtst ? find<Motion>(xtst, "XTestFakeMotionEvent") : nullptr;
    ButtonFn button = xtst ? find<ButtonFn>(xtst, "XTestFakeButtonEvent") : nullptr;
    Translate translate = find<Translate>(nullptr, "XTranslateCoordinates");
    Flush flush = find<Flush>(nullptr, "XFlush");
    RootWindow rootWindow = find<RootWindow>(nullptr, "XDefaultRootWindow");
    XDisplayOf xdisplay = find<XDisplayOf>(nullptr, "gdk_x11_display_get_xdisplay");
    XidOf xid = find<XidOf>(nullptr, "gdk_x11_surface_get_xid");
    bool usable(GdkDisplay* d) const {
        return motion && button && translate && flush && rootWindow && xdisplay && xid && d &&
               std::strcmp(G_OBJECT_TYPE_NAME(d), "GdkX11Display") == 0;
    }
};

TEST(TouchTest, PressesReachTheHitTestFirstAndTapsRunButtonActions) {
    nimbra::test::gtkBackend();
    auto window = std::make_shared<platform::Window>(Rect(0, 0, 320, 480));
    auto root = std::make_shared<platform::ViewController>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto touchable = std::make_shared<Touchable>(Rect(100, 100, 50, 50));
    auto button = std::make_shared<platform::Button>(platform::ButtonType::Custom, Rect(0, 0, 50, 50));
    int taps = 0;
    button->addTarget([&] { ++taps; }, platform::kControlEventTouchUpInside);
    touchable->addSubview(button);
    root->view()->addSubview(touchable);

    FakeInput input;
    GdkDisplay* display = gdk_display_get_default();
    if (!input.usable(display)) GTEST_SKIP() << "no X display with the test extension";
    GtkWidget* gtkWindow = platform::gtk::widgetForView(*window);
    ASSERT_TRUE(nimbra::test::spinUntil([&] { return gtk_widget_get_mapped(gtkWindow); }));
    nimbra::test::spinFor(0.5);
    void* x = input.xdisplay(display);
    unsigned long xid = input.xid(gtk_native_get_surface(GTK_NATIVE(gtkWindow)));
    // Where the root view's (110, 110) is on the screen.
    GtkWidget* rootFrame = platform::gtk::widgetForView(*root->view());
    double wx = 0, wy = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(rootFrame, gtkWindow, 110, 110, &wx, &wy));
    int sx = 0, sy = 0;
    unsigned long child = 0;
    input.translate(x, xid, input.rootWindow(x), int(wx), int(wy), &sx, &sy, &child);
    input.motion(x, -1, sx, sy, 0);
    input.button(x, 1, 1, 0);
    input.button(x, 1, 0, 0);
    input.flush(x);

    ASSERT_TRUE(nimbra::test::spinUntil([&] { return taps == 1; }, 5));
    EXPECT_GE(touchable->hits, 1);
    EXPECT_EQ(touchable->touches, touchable->hits);
    EXPECT_EQ(touchable->last.x, 10);
    EXPECT_EQ(touchable->last.y, 10);
}

}  // namespace
