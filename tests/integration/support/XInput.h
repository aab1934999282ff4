#pragma once
// Real input on the virtual display through the X test extension: pointer
// clicks at a point of a view, and keys; and window sizes and minimising as a
// window manager does them. The X calls are found at run time so
// that no X header (and its macros) comes in.

#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cstring>
#include <optional>
#include <utility>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/View.h"
#include "platform/gtk/GtkViews.h"

namespace nimbra::test {

class XInput {
public:
    // Needs the toolkit started (a window made); before that it is unavailable.
    XInput() { available(); }
    // False without an X display that has the test extension.
    bool available() {
        if (x_) return true;
        GdkDisplay* display = gdk_display_get_default();
        if (!xtst_ || !motion_ || !button_ || !key_ || !translate_ || !flush_ || !resize_ || !rootWindow_ ||
            !xdisplay_ || !xid_ || !keycode_ || !display ||
            std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkX11Display") != 0)
            return false;
        x_ = xdisplay_(display);
        return x_ != nullptr;
    }
    // Moves the pointer to a point of the view (its own coordinates); with
    // `press`, presses and releases the first button there.
    bool pointAt(const platform::View& view, double px, double py, bool press = false) {
        const auto at = screenPoint(view, px, py);
        if (!at) return false;
        motion_(x_, -1, at->first, at->second, 0);
        flush_(x_);
        if (!press) return true;
        spinFor(0.05);  // the toolkit sees the pointer arrive before the press
        button_(x_, 1, 1, 0);
        button_(x_, 1, 0, 0);
        flush_(x_);
        return true;
    }
    bool clickAt(const platform::View& view, double px, double py) { return pointAt(view, px, py, true); }
    // Where a point of the view (its own coordinates) is on the screen.
    std::optional<std::pair<int, int>> screenPoint(const platform::View& view, double px, double py) {
        GtkWidget* widget = platform::gtk::widgetForView(view);
        GtkRoot* top = widget ? gtk_widget_get_root(widget) : nullptr;
        double wx = 0, wy = 0;
        if (!top || !gtk_widget_translate_coordinates(widget, GTK_WIDGET(top), px, py, &wx, &wy)) return std::nullopt;
        int sx = 0, sy = 0;
        unsigned long child = 0;
        translate_(x_, xid_(gtk_native_get_surface(GTK_NATIVE(top))), rootWindow_(x_), int(wx), int(wy), &sx, &sy,
                   &child);
        return std::pair{sx, sy};
    }
    // Resizes the view's X window as a window manager or a user would.
    bool resize(const platform::View& view, int width, int height) {
        GtkWidget* widget = platform::gtk::widgetForView(view);
        GtkRoot* top = widget ? gtk_widget_get_root(widget) : nullptr;
        if (!top) return false;
        resize_(x_, xid_(gtk_native_get_surface(GTK_NATIVE(top))), unsigned(width), unsigned(height));
        flush_(x_);
        return true;
    }
    // Takes the view's X window off the screen and puts it back, as a window
    // manager minimises and restores it.
    bool minimize(const platform::View& view, bool minimized) {
        GtkWidget* widget = platform::gtk::widgetForView(view);
        GtkRoot* top = widget ? gtk_widget_get_root(widget) : nullptr;
        if (!top || !unmap_ || !map_) return false;
        (minimized ? unmap_ : map_)(x_, xid_(gtk_native_get_surface(GTK_NATIVE(top))));
        flush_(x_);
        return true;
    }
    // Presses the keys (X key symbols) in order, then lets them go in reverse.
    void chord(std::initializer_list<unsigned long> keysyms) {
        for (unsigned long k : keysyms) key_(x_, keycode_(x_, k), 1, 0);
        for (auto it = std::rbegin(keysyms); it != std::rend(keysyms); ++it) key_(x_, keycode_(x_, *it), 0, 0);
        flush_(x_);
    }

private:
    template <class F>
    static F find(void* lib, const char* name) {
        return reinterpret_cast<F>(dlsym(lib ? lib : RTLD_DEFAULT, name));
    }
    void* xtst_ = dlopen("libXtst.so.6", RTLD_NOW);
    int (*motion_)(void*, int, int, int, unsigned long) = find<decltype(motion_)>(xtst_, "XTestFakeMotionEvent");
    int (*button_)(void*, unsigned, int, unsigned long) = find<decltype(button_)>(xtst_, "XTestFakeButtonEvent");
    int (*key_)(void*, unsigned, int, unsigned long) = find<decltype(key_)>(xtst_, "XTestFakeKeyEvent");
    int (*translate_)(void*, unsigned long, unsigned long, int, int, int*, int*,
                      unsigned long*) = find<decltype(translate_)>(nullptr, "XTranslateCoordinates");
    int (*flush_)(void*) = find<decltype(flush_)>(nullptr, "XFlush");
    int (*resize_)(void*, unsigned long, unsigned, unsigned) = find<decltype(resize_)>(nullptr, "XResizeWindow");
    int (*unmap_)(void*, unsigned long) = find<decltype(unmap_)>(nullptr, "XUnmapWindow");
    int (*map_)(void*, unsigned long) = find<decltype(map_)>(nullptr, "XMapWindow");
    unsigned long (*rootWindow_)(void*) = find<decltype(rootWindow_)>(nullptr, "XDefaultRootWindow");
    unsigned char (*keycode_)(void*, unsigned long) = find<decltype(keycode_)>(nullptr, "XKeysymToKeycode");
    void* (*xdisplay_)(GdkDisplay*) = find<decltype(xdisplay_)>(nullptr, "gdk_x11_display_get_xdisplay");
    unsigned long (*xid_)(GdkSurface*) = find<decltype(xid_)>(nullptr, "gdk_x11_surface_get_xid");
    void* x_ = nullptr;
};

}  // namespace nimbra::test
