// The GTK windows behind Window views, and the one opened before the
// application's interface is built.
#include "UiGtk.h"
#include "ViewWidget.h"

namespace platform::gtk {

namespace {

// The phone's screen: a floating window's default and minimum, upright.
constexpr double kPanelWidth = 320, kPanelHeight = 480;

struct LaunchSlot {
    GRef<GtkWindow> window;
    Size size;
};

LaunchSlot& launchSlot() {
    static auto* slot = new LaunchSlot();
    return *slot;
}

Size& screenSlot() {
    static Size size{kPanelWidth, kPanelHeight};
    return size;
}

GdkToplevelState toplevelState(GtkWindow* window) {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    return surface && GDK_IS_TOPLEVEL(surface) ? gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) : GdkToplevelState(0);
}

void watchToplevelState(GtkWindow* window) {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (!surface) return;
    // Gone with the window (the surface goes first).
    g_signal_connect_object(surface, "notify::state", G_CALLBACK(+[](GtkWindow* w) { applyToplevelPolicy(w); }), window,
                            G_CONNECT_SWAPPED);
    applyToplevelPolicy(window);
}

}  // namespace

Rect screenPanel() { return Rect(0, 0, screenSlot().width, screenSlot().height); }
void setScreenPanel(Size size) {
    if (size.width > 0 && size.height > 0) screenSlot() = size;
}

bool toplevelFillsScreen(GtkWindow* window) {
    return toplevelState(window) & (GDK_TOPLEVEL_STATE_MAXIMIZED | GDK_TOPLEVEL_STATE_FULLSCREEN);
}

bool toplevelSizeIsFixed(GtkWindow* window) {
    return toplevelFillsScreen(window) || (toplevelState(window) & GDK_TOPLEVEL_STATE_TILED);
}

void applyToplevelPolicy(GtkWindow* window) {
    // A phone shell maximises its windows under its own bar: a title bar
    // there would stack a second bar over the application's status bar.
    const bool fills = toplevelFillsScreen(window);
    if (bool(gtk_window_get_decorated(window)) == fills) gtk_window_set_decorated(window, !fills);
    GtkWidget* content = gtk_window_get_child(window);
    if (!content) return;
    // The compositor's size wins where it decides (a phone's screen turned
    // on its side may be lower than the upright minimum).
    if (toplevelSizeIsFixed(window)) {
        gtk_widget_set_size_request(content, -1, -1);
        return;
    }
    const Rect minimum =
        orientedRect(Rect(0, 0, kPanelWidth, kPanelHeight), Application::shared().statusBarOrientation());
    gtk_widget_set_size_request(content, int(minimum.width()), int(minimum.height()));
}

GRef<GtkWindow> newToplevel() {
    installStyles();
    // GTK keeps its own reference to a toplevel until it is destroyed.
    auto window = GRef<GtkWindow>::retain(GTK_WINDOW(gtk_window_new()));
    gtk_window_set_resizable(window.get(), TRUE);
    gtk_window_set_default_size(window.get(), int(kPanelWidth), int(kPanelHeight));
    gtk_window_set_title(window.get(), g_get_application_name() ? g_get_application_name() : "");
    gtk_widget_add_css_class(GTK_WIDGET(window.get()), "nimbra-window");
    if (GtkApplication* app = gtkApplication().gtkApplication()) gtk_window_set_application(window.get(), app);
    g_signal_connect(window.get(), "realize", G_CALLBACK(+[](GtkWindow* w) { watchToplevelState(w); }), nullptr);
    return window;
}

void openLaunchWindow() {
    auto window = newToplevel();
    GtkWidget* placeholder = ViewWidget::newFrame();
    gtk_window_set_child(window.get(), placeholder);
    applyToplevelPolicy(window.get());
    std::optional<Size> given;
    ViewWidget::watchAllocation(placeholder, [&given](int w, int h) { given = Size{double(w), double(h)}; });
    gtk_window_present(window.get());
    // The window system answers within a frame or two; one that never does
    // leaves the application at the default size rather than not starting.
    constexpr gint64 kPatience = 5 * G_USEC_PER_SEC;
    const gint64 deadline = g_get_monotonic_time() + kPatience;
    while (!given && g_get_monotonic_time() < deadline) {
        const auto wake = attachSource(
            g_timeout_source_new(50), [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr);
        g_main_context_iteration(nullptr, TRUE);
    }
    ViewWidget::watchAllocation(placeholder, nullptr);
    if (given) setScreenPanel(*given);
    launchSlot() = {std::move(window), given.value_or(Size{kPanelWidth, kPanelHeight})};
}

std::optional<LaunchWindow> takeLaunchWindow() {
    auto& slot = launchSlot();
    if (!slot.window) return std::nullopt;
    LaunchWindow taken{std::move(slot.window), slot.size};
    slot = {};
    return taken;
}

void discardLaunchWindow() {
    if (auto unused = takeLaunchWindow()) gtk_window_destroy(unused->window.get());
}

}  // namespace platform::gtk
