#pragma once
// Real input on the virtual display through the X test extension (xdotool):
// pointer clicks at a point of a view, and keys; and window sizes and
// minimising as a window manager does them. The window's X id is found at run
// time so that no X header (and its macros) comes in.

#include <dlfcn.h>
#include <gtk/gtk.h>

#include <cstring>
#include <optional>
#include <string>
#include <tuple>

#include "integration/support/Processes.h"
#include "platform/View.h"
#include "platform/gtk/GtkViews.h"

namespace nimbra::test {

class XInput {
public:
    // False without an X display (or before the toolkit has one: a window
    // made) or without xdotool.
    bool available() const {
        GdkDisplay* display = gdk_display_get_default();
        return xid_ && display && std::strcmp(G_OBJECT_TYPE_NAME(display), "GdkX11Display") == 0 &&
               installed("xdotool");
    }
    // Moves the pointer to a point of the view (its own coordinates); with
    // `press`, presses and releases the first button there.
    bool pointAt(const platform::View& view, double px, double py, bool press = false) {
        const auto at = place(view, px, py);
        if (!at || !xdotool({"mousemove", "--window", std::to_string(std::get<0>(*at)),
                             std::to_string(std::get<1>(*at)), std::to_string(std::get<2>(*at))}))
            return false;
        spinFor(0.05);  // the toolkit sees the pointer arrive before the press
        return !press || xdotool({"click", "1"});
    }
    bool clickAt(const platform::View& view, double px, double py) { return pointAt(view, px, py, true); }
    // The view's X window, and where a point of the view (its own
    // coordinates) is in that window.
    std::optional<std::tuple<unsigned long, int, int>> place(const platform::View& view, double px, double py) const {
        GtkWidget* widget = platform::gtk::widgetForView(view);
        GtkRoot* top = widget ? gtk_widget_get_root(widget) : nullptr;
        double x = 0, y = 0;
        if (!top || !gtk_widget_translate_coordinates(widget, GTK_WIDGET(top), px, py, &x, &y)) return std::nullopt;
        return std::tuple{xid_(gtk_native_get_surface(GTK_NATIVE(top))), int(x), int(y)};
    }
    // Resizes the view's X window as a window manager or a user would.
    bool resize(const platform::View& view, int width, int height) {
        const auto at = place(view, 0, 0);
        return at &&
               xdotool({"windowsize", std::to_string(std::get<0>(*at)), std::to_string(width), std::to_string(height)});
    }
    // Takes the view's X window off the screen and puts it back, as a window
    // manager minimises and restores it.
    bool minimize(const platform::View& view, bool minimized) {
        const auto at = place(view, 0, 0);
        return at && xdotool({minimized ? "windowunmap" : "windowmap", std::to_string(std::get<0>(*at))});
    }
    // Presses keys together and lets them go ("ctrl+Right", "Return").
    bool key(const std::string& keys) { return xdotool({"key", keys}); }

private:
    static bool xdotool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "xdotool");
        return runCommand(arguments);
    }
    unsigned long (*xid_)(GdkSurface*) = reinterpret_cast<decltype(xid_)>(dlsym(RTLD_DEFAULT,
                                                                                "gdk_x11_surface_get_xid"));
};

}  // namespace nimbra::test
