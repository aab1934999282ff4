// Peers of the plain views, the controls and the window.
#include <algorithm>
#include <ctime>
#include <utility>
#include <vector>

#include "Accessibility.h"
#include "UiGtk.h"
#include "platform/gtk/GtkViews.h"
#include "ViewWidget.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/Button.h"
#include "platform/Label.h"
#include "platform/Localization.h"
#include "platform/RunLoop.h"
#include "platform/ScrollView.h"
#include "platform/WeakPtr.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"

namespace platform::gtk {

namespace {

// The views that watch whether the user sees them. What can change it (a
// frame widget mapped or unmapped, laid out at another size, a window
// minimised or restored) asks for a look on the loop's next turn; the views
// whose visibility changed hear it then.
class VisibilityWatch {
public:
    static VisibilityWatch& shared() {
        static auto* watch = new VisibilityWatch();  // never torn down after the toolkit
        return *watch;
    }
    void add(View& view) {
        remove(view);
        watched_.push_back(view.weak_from_this());
        changed();
    }
    void remove(const View& view) {
        std::erase_if(watched_,
                      [&view](const std::weak_ptr<View>& w) { return w.expired() || w.lock().get() == &view; });
    }
    void changed() {
        if (!watched_.empty()) check_.start(0, [this] { check(); });
    }

private:
    static bool visible(GtkWidget* frame) {
        if (!gtk_widget_get_mapped(frame) || gtk_widget_get_width(frame) <= 0 || gtk_widget_get_height(frame) <= 0)
            return false;
        GtkNative* native = gtk_widget_get_native(frame);
        GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
        return !(surface && GDK_IS_TOPLEVEL(surface) &&
                 (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED));
    }
    void check() {
        // Copy: a view that hears of its change may change the tree.
        const auto watched = watched_;
        for (const auto& weak : watched)
            if (auto view = weak.lock())
                if (auto* widget = ViewWidget::of(*view)) view->setVisibleOnScreen(visible(widget->outer()));
    }
    std::vector<std::weak_ptr<View>> watched_;
    OneShotTimer check_;
};

class BasicPeer : public ViewPeer, public GtkPeer {
public:
    BasicPeer(View& view, GtkWidget* content, GtkWidget* outer = nullptr) : widget_(view, content, outer) {}
    ~BasicPeer() override {
        if (!watching_) return;
        g_signal_handlers_disconnect_by_data(widget_.outer(), this);
        ViewWidget::watchAllocation(widget_.outer(), nullptr);
        VisibilityWatch::shared().remove(widget_.view());
    }
    ViewWidget& viewWidget() override { return widget_; }
    void watchVisibility(bool watch) override {
        if (watching_ == watch) return;
        watching_ = watch;
        GtkWidget* frame = widget_.outer();
        if (!watch) {
            g_signal_handlers_disconnect_by_data(frame, this);
            ViewWidget::watchAllocation(frame, nullptr);
            VisibilityWatch::shared().remove(widget_.view());
            return;
        }
        auto changed = +[](BasicPeer*) { VisibilityWatch::shared().changed(); };
        g_signal_connect_swapped(frame, "map", G_CALLBACK(changed), this);
        g_signal_connect_swapped(frame, "unmap", G_CALLBACK(changed), this);
        ViewWidget::watchAllocation(frame, [size = std::pair(-1, -1)](int w, int h) mutable {
            if (std::exchange(size, std::pair(w, h)) != std::pair(w, h)) VisibilityWatch::shared().changed();
        });
        VisibilityWatch::shared().add(widget_.view());
    }
    void frameChanged() override { widget_.frameChanged(); }
    void propertiesChanged() override {
        widget_.propertiesChanged();
        refresh();
    }
    void subviewsChanged() override { widget_.subviewsChanged(); }
    void accessibilityChanged() override {
        widget_.accessibilityChanged();
        refresh();
    }
    void focusRequested() override { focusViewWidget(widget_); }

protected:
    virtual void refresh() {}
    ViewWidget widget_;
    bool watching_ = false;
};

// ---- Label

void setLabelText(GtkLabel* label, const std::string& text, double size, bool bold, Color color) {
    const GUnique<PangoAttrList, pango_attr_list_unref> attrs(pango_attr_list_new());
    pango_attr_list_insert(attrs.get(), pango_attr_size_new_absolute(int(size * PANGO_SCALE)));
    pango_attr_list_insert(attrs.get(), pango_attr_weight_new(bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL));
    pango_attr_list_insert(attrs.get(),
                           pango_attr_foreground_new(guint16(color.red * 65535), guint16(color.green * 65535),
                                                     guint16(color.blue * 65535)));
    pango_attr_list_insert(attrs.get(), pango_attr_foreground_alpha_new(guint16(color.alpha * 65535)));
    gtk_label_set_attributes(label, attrs.get());
    gtk_label_set_text(label, text.c_str());
}

class LabelPeer final : public BasicPeer {
public:
    explicit LabelPeer(Label& label) : BasicPeer(label, gtk_label_new("")), label_(label) { refresh(); }
    void refresh() override {
        auto* l = GTK_LABEL(widget_.content());
        setLabelText(l, label_.text(), label_.fontSize(), label_.isBold(), label_.textColor());
        float x = label_.textAlignment() == TextAlignment::Center  ? 0.5f
                  : label_.textAlignment() == TextAlignment::Right ? 1.0f
                                                                   : 0.0f;
        gtk_label_set_xalign(l, x);
        gtk_label_set_justify(l, label_.textAlignment() == TextAlignment::Center  ? GTK_JUSTIFY_CENTER
                                 : label_.textAlignment() == TextAlignment::Right ? GTK_JUSTIFY_RIGHT
                                                                                  : GTK_JUSTIFY_LEFT);
        gtk_label_set_wrap(l, label_.numberOfLines() != 1);
        gtk_label_set_wrap_mode(l, PANGO_WRAP_WORD_CHAR);
        gtk_label_set_ellipsize(l, label_.numberOfLines() == 0 ? PANGO_ELLIPSIZE_NONE : PANGO_ELLIPSIZE_END);
        gtk_label_set_lines(l, label_.numberOfLines() == 0 ? -1 : label_.numberOfLines());
        // Narrow minimum so the frame decides the width.
        gtk_label_set_width_chars(l, 0);
        gtk_label_set_max_width_chars(l, 1);
        applyTextAccessibility(widget_.content(), label_, label_.text());
    }

private:
    Label& label_;
};

// ---- Activity indicator

class SpinnerPeer final : public BasicPeer {
public:
    explicit SpinnerPeer(ActivityIndicatorView& v) : BasicPeer(v, newAccessibleSpinner()), spinner_(v) { refresh(); }
    void refresh() override {
        GtkWidget* s = widget_.content();
        gtk_spinner_set_spinning(GTK_SPINNER(s), spinner_.isAnimating());
        applySpinnerAccessibility(s, spinner_);
        gtk_widget_remove_css_class(s, "nimbra-white");
        gtk_widget_remove_css_class(s, "nimbra-gray");
        gtk_widget_add_css_class(s, spinner_.style() == ActivityIndicatorStyle::Gray ? "nimbra-gray" : "nimbra-white");
    }

private:
    ActivityIndicatorView& spinner_;
};

// ---- Scroll view

class ScrollPeer final : public BasicPeer {
public:
    explicit ScrollPeer(ScrollView& v) : BasicPeer(v, gtk_scrolled_window_new()), scroll_(v) {
        document_ = ViewWidget::newFrame();
        gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(widget_.content()), document_);
        widget_.setChildHost(document_);
        for (auto* adj : {hadj(), vadj()})
            scrolled_.emplace_back(adj, "value-changed", G_CALLBACK(+[](GtkAdjustment*, gpointer self) {
                                       static_cast<ScrollPeer*>(self)->userScrolled();
                                   }),
                                   this);
        refresh();
    }
    void refresh() override {
        Size s = scroll_.contentSize();
        gtk_widget_set_size_request(document_, int(s.width + 0.5), int(s.height + 0.5));
        auto policy = scroll_.isScrollEnabled() ? GTK_POLICY_AUTOMATIC : GTK_POLICY_EXTERNAL;
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget_.content()), policy, policy);
        applying_ = true;
        Point o = scroll_.contentOffset();
        if (gtk_adjustment_get_value(hadj()) != o.x) gtk_adjustment_set_value(hadj(), o.x);
        if (gtk_adjustment_get_value(vadj()) != o.y) gtk_adjustment_set_value(vadj(), o.y);
        applying_ = false;
    }

private:
    GtkAdjustment* hadj() { return gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(widget_.content())); }
    GtkAdjustment* vadj() { return gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(widget_.content())); }
    void userScrolled() {
        if (!applying_) scroll_.userDidScroll({gtk_adjustment_get_value(hadj()), gtk_adjustment_get_value(vadj())});
    }
    ScrollView& scroll_;
    GtkWidget* document_;  // the scrolled window's child, which it owns
    bool applying_ = false;
    std::vector<GSignalHandler> scrolled_;
};

// ---- Button

GtkWidget* pictureFor(const Image& image) {
    if (!image.symbolName().empty()) {
        GtkWidget* icon = gtk_image_new_from_icon_name(image.symbolName().c_str());
        gtk_image_set_pixel_size(GTK_IMAGE(icon), int(image.size().height));
        gtk_widget_add_css_class(icon, "nimbra-symbol");
        return icon;
    }
    const GBytesPtr bytes(g_bytes_new(image.pngData().data(), image.pngData().size()));
    const auto texture = GRef<GdkTexture>::adopt(gdk_texture_new_from_bytes(bytes.get(), nullptr));
    if (!texture) return nullptr;  // a damaged picture shows nothing
    GtkWidget* picture = gtk_picture_new_for_paintable(GDK_PAINTABLE(texture.get()));
    gtk_picture_set_can_shrink(GTK_PICTURE(picture), TRUE);
    gtk_picture_set_content_fit(GTK_PICTURE(picture), GTK_CONTENT_FIT_CONTAIN);
    gtk_widget_set_size_request(picture, int(image.size().width + 0.5), int(image.size().height + 0.5));
    return picture;
}

const char* symbolIcon(ButtonSymbol s) {
    switch (s) {
    case ButtonSymbol::Refresh: return "view-refresh-symbolic";
    case ButtonSymbol::Action: return "send-to-symbolic";
    case ButtonSymbol::Stop: return "process-stop-symbolic";
    case ButtonSymbol::Reply: return "mail-reply-sender-symbolic";
    case ButtonSymbol::Add: return "list-add-symbolic";
    case ButtonSymbol::None: break;
    }
    return nullptr;
}

class ButtonPeer final : public BasicPeer {
public:
    explicit ButtonPeer(Button& b)
        : BasicPeer(b, gtk_box_new(GTK_ORIENTATION_VERTICAL, 1), ViewWidget::newButtonFrame()), button_(b) {
        GtkWidget* box = widget_.content();
        gtk_widget_add_css_class(box, "nimbra-button");
        if (b.buttonType() == ButtonType::RoundedRect) gtk_widget_add_css_class(box, "nimbra-rounded");
        gtk_widget_set_valign(box, GTK_ALIGN_FILL);
        hideFromAssistiveTechnology(box);
        // Return, Space and the accessibility action: a tap.
        signals_.emplace_back(
            widget_.outer(), "clicked", G_CALLBACK(+[](ButtonPeer* self) {
                self->later([](Button& b) { b.sendActionsForControlEvents(kControlEventTouchUpInside); });
            }),
            this, G_CONNECT_SWAPPED);
        // The pointer is this gesture's, ahead of the button's own: presses
        // and releases, inside or out, as touches. The widget owns it.
        GtkGesture* click = gtk_gesture_click_new();
        gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(click), GTK_PHASE_CAPTURE);
        gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), GDK_BUTTON_PRIMARY);
        signals_.emplace_back(click, "pressed", G_CALLBACK(+[](GtkGestureClick* g, int, double, double, gpointer self) {
                                  gtk_gesture_set_state(GTK_GESTURE(g), GTK_EVENT_SEQUENCE_CLAIMED);
                                  static_cast<ButtonPeer*>(self)->later([](Button& b) { b.touchDown(); });
                              }),
                              this);
        signals_.emplace_back(
            click, "released", G_CALLBACK(+[](GtkGestureClick*, int, double x, double y, gpointer self) {
                auto* peer = static_cast<ButtonPeer*>(self);
                GtkWidget* w = peer->widget_.outer();
                bool inside = x >= 0 && y >= 0 && x < gtk_widget_get_width(w) && y < gtk_widget_get_height(w);
                peer->later([inside](Button& b) { b.touchUp(inside); });
            }),
            this);
        signals_.emplace_back(click, "stopped", G_CALLBACK(+[](GtkGestureClick*, gpointer self) {
                                  static_cast<ButtonPeer*>(self)->later([](Button& b) {
                                      if (b.isHighlighted()) b.setHighlighted(false);
                                  });
                              }),
                              this);
        gtk_widget_add_controller(widget_.outer(), GTK_EVENT_CONTROLLER(click));
        refresh();
    }

    void refresh() override {
        GtkWidget* box = widget_.content();
        while (GtkWidget* child = gtk_widget_get_first_child(box)) gtk_box_remove(GTK_BOX(box), child);
        bool hasImage = false;
        if (auto image = button_.image()) {
            if (GtkWidget* picture = pictureFor(*image)) {
                gtk_widget_set_halign(picture, GTK_ALIGN_CENTER);
                gtk_widget_set_vexpand(picture, TRUE);
                gtk_widget_set_valign(picture, button_.title().empty() ? GTK_ALIGN_CENTER : GTK_ALIGN_END);
                gtk_box_append(GTK_BOX(box), picture);
                hasImage = true;
            }
        } else if (const char* icon = symbolIcon(button_.symbol())) {
            GtkWidget* image = gtk_image_new_from_icon_name(icon);
            gtk_image_set_pixel_size(GTK_IMAGE(image), 20);
            gtk_widget_add_css_class(image, "nimbra-symbol");
            gtk_widget_set_vexpand(image, TRUE);
            gtk_box_append(GTK_BOX(box), image);
            hasImage = true;
        }
        if (!button_.title().empty()) {
            GtkWidget* label = gtk_label_new("");
            double size = hasImage ? 10 : 15;
            setLabelText(GTK_LABEL(label), button_.title(), size, button_.isBold() || !hasImage, button_.titleColor());
            gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
            gtk_widget_set_vexpand(label, !hasImage);
            gtk_widget_set_valign(label, hasImage ? GTK_ALIGN_START : GTK_ALIGN_CENTER);
            gtk_box_append(GTK_BOX(box), label);
        }
        auto toggle = [box](const char* cls, bool on) {
            if (on) gtk_widget_add_css_class(box, cls);
            else gtk_widget_remove_css_class(box, cls);
        };
        toggle("nimbra-glow", button_.isHighlighted() && button_.showsTouchWhenHighlighted());
        toggle("nimbra-selected", button_.isSelected());
        gtk_widget_set_opacity(box, button_.isEnabled() ? 1.0 : 0.4);
        applyButtonAccessibility(widget_.outer(), button_);
    }

private:
    // Actions may tear down the screen this button is on: run them from the
    // run loop, not from inside GTK's event handling, and only while the
    // button (and with it this peer) still exists.
    template <class F>
    void later(F f) {
        RunLoop::main().postDelayedTask(0, [weak = button_.weak_from_this(), f] {
            if (auto button = std::dynamic_pointer_cast<Button>(weak.lock())) f(*button);
        });
    }
    Button& button_;
    std::vector<GSignalHandler> signals_;
};

}  // namespace

// ---- Window

// The window takes the size the window system gives it (a phone's screen, a
// desktop user's drag) and its view tree follows; the application's own
// sizes (the interface turning) are asked of the window system in turn.
class WindowPeer final : public ViewPeer, public GtkPeer {
public:
    explicit WindowPeer(Window& window) : widget_(window, nullptr), window_(window) {
        installStyles();
        std::optional<Size> launchSize;
        if (auto launched = takeLaunchWindow()) {
            gtkWindow_ = std::move(launched->window);
            launchSize = launched->size;
        } else {
            gtkWindow_ = newToplevel();
        }
        // The root's size is the window's; its minimum is the toplevel policy's.
        gtk_widget_set_size_request(widget_.outer(), -1, -1);
        ViewWidget::watchAllocation(widget_.outer(), [this](int w, int h) { sizeGiven(w, h); });
        GtkWidget* overlay =
            GTK_WIDGET(g_object_new(GTK_TYPE_OVERLAY, "accessible-role", GTK_ACCESSIBLE_ROLE_GENERIC, nullptr));
        gtk_overlay_set_child(GTK_OVERLAY(overlay), widget_.outer());
        buildStatusBar();
        gtk_overlay_add_overlay(GTK_OVERLAY(overlay), statusBar_);
        gtk_window_set_child(gtkWindow(), overlay);
        applyToplevelPolicy(gtkWindow());

        signals_.emplace_back(gtkWindow(), "close-request", G_CALLBACK(+[](GtkWindow* w, gpointer) -> gboolean {
                                  // Closing the phone window ends the application.
                                  ApplicationLifecycle::shared().terminate();
                                  gtk_widget_set_visible(GTK_WIDGET(w), FALSE);
                                  RunLoop::main().quit();
                                  return TRUE;
                              }),
                              this);
        const auto stateChanged = G_CALLBACK(+[](WindowPeer* p) { p->screenStateChanged(); });
        signals_.emplace_back(gtkWindow(), "map", stateChanged, this, G_CONNECT_SWAPPED);
        signals_.emplace_back(gtkWindow(), "unmap", stateChanged, this, G_CONNECT_SWAPPED);
        signals_.emplace_back(gtkWindow(), "realize", G_CALLBACK(+[](WindowPeer* p) { p->watchSurface(); }), this,
                              G_CONNECT_SWAPPED);

        // The window owns its controllers once they are added.
        GtkEventController* keys = gtk_event_controller_key_new();
        // Before the focused widget (a page's text field would take Ctrl+arrows).
        gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
        signals_.emplace_back(
            keys, "key-pressed",
            G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType state, gpointer self) -> gboolean {
                if (!(state & GDK_CONTROL_MASK) || (key != GDK_KEY_Left && key != GDK_KEY_Right)) return FALSE;
                return static_cast<WindowPeer*>(self)->turnDevice(key == GDK_KEY_Right);
            }),
            this);
        gtk_widget_add_controller(GTK_WIDGET(gtkWindow()), keys);
        installWindowKeys(gtkWindow(), window);

        // Every press is shown to the view tree's hit test before the widget
        // under it handles it.
        GtkGesture* touches = gtk_gesture_click_new();
        gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(touches), 0);
        gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(touches), GTK_PHASE_CAPTURE);
        signals_.emplace_back(touches, "pressed",
                              G_CALLBACK(+[](GtkGestureClick*, int, double x, double y, gpointer self) {
                                  static_cast<WindowPeer*>(self)->pressed(x, y);
                              }),
                              this);
        gtk_widget_add_controller(GTK_WIDGET(gtkWindow()), GTK_EVENT_CONTROLLER(touches));

        clockTimer_ = attachSource(
            g_timeout_source_new_seconds(15),
            +[](gpointer self) -> gboolean {
                static_cast<WindowPeer*>(self)->refreshStatusBar();
                return G_SOURCE_CONTINUE;
            },
            this);
        gtkApplication().addWindow(this);
        if (launchSize) {
            // Already on screen at the window system's size: the view takes
            // it now, before anything is built in it.
            shownForLaunch_ = true;
            given_ = *launchSize;
            window.setFrame(Rect(0, 0, given_.width, given_.height));
            watchSurface();
            followCompositorTurn();
        }
        frameChanged();
        propertiesChanged();
        refreshStatusBar();
    }

    ~WindowPeer() override {
        gtkApplication().removeWindow(this);
        // The window emits as it goes (unmap): nothing may reach this peer then.
        signals_.clear();
        surfaceState_.reset();
        ViewWidget::watchAllocation(widget_.outer(), nullptr);
        // The root frame belongs to this peer's view widget: take it out first.
        gtk_overlay_set_child(GTK_OVERLAY(gtk_window_get_child(gtkWindow())), nullptr);
        gtk_window_destroy(gtkWindow());
    }

    ViewWidget& viewWidget() override { return widget_; }
    GtkWindow* gtkWindow() const { return gtkWindow_.get(); }

    void frameChanged() override {
        gtk_widget_queue_allocate(widget_.outer());
        // The minimum turns with the interface.
        applyToplevelPolicy(gtkWindow());
        const Rect f = window_.frame();
        if (Size{f.width(), f.height()} == given_ || toplevelSizeIsFixed(gtkWindow())) return;
        // The application's own size (the interface turned): a floating
        // window takes it.
        gtk_window_set_default_size(gtkWindow(), int(f.width()), int(f.height()));
    }
    void propertiesChanged() override {
        widget_.propertiesChanged();
        gtk_widget_set_visible(widget_.outer(), TRUE);
        bool show = !window_.isHidden();
        if (show) shownForLaunch_ = false;
        if (show && !gtk_widget_get_visible(GTK_WIDGET(gtkWindow()))) gtk_window_present(gtkWindow());
        else if (!show && !shownForLaunch_ && gtk_widget_get_visible(GTK_WIDGET(gtkWindow())))
            gtk_widget_set_visible(GTK_WIDGET(gtkWindow()), FALSE);
    }
    void subviewsChanged() override { widget_.subviewsChanged(); }

    // The launch window stays up while the interface is built in it, then
    // follows its view like any other.
    void launchEnded() {
        if (!shownForLaunch_) return;
        shownForLaunch_ = false;
        propertiesChanged();
    }

    void refreshStatusBar() {
        auto& app = gtkApplication();
        gtk_widget_set_visible(statusBar_, !app.isStatusBarHidden());
        gtk_spinner_set_spinning(GTK_SPINNER(networkSpinner_), app.isNetworkActivityIndicatorVisible());
        gtk_widget_set_visible(networkSpinner_, app.isNetworkActivityIndicatorVisible());
        applySpinnerAccessibility(networkSpinner_, localized("Loading"), app.isNetworkActivityIndicatorVisible());
        char text[16] = "";
        std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local)) std::strftime(text, sizeof text, "%H:%M", &local);
        gtk_label_set_text(GTK_LABEL(clock_), text);
        const auto battery = batteryReading();
        gtk_label_set_text(GTK_LABEL(battery_), battery ? batteryText(*battery).c_str() : "");
        gtk_widget_set_visible(battery_, battery.has_value());
    }

private:
    // Time in the middle, the network activity at the start, the battery at
    // the end: only what the device reports, nothing made up.
    void buildStatusBar() {
        statusBar_ = gtk_center_box_new();
        gtk_widget_add_css_class(statusBar_, "nimbra-statusbar");
        gtk_widget_set_valign(statusBar_, GTK_ALIGN_START);
        gtk_widget_set_halign(statusBar_, GTK_ALIGN_FILL);
        gtk_widget_set_size_request(statusBar_, -1, kStatusBarHeight);
        gtk_widget_set_can_target(statusBar_, FALSE);
        networkSpinner_ = newAccessibleSpinner();
        gtk_widget_add_css_class(networkSpinner_, "nimbra-white");
        gtk_widget_set_size_request(networkSpinner_, 12, 12);
        clock_ = gtk_label_new("");
        battery_ = gtk_label_new("");
        gtk_widget_add_css_class(battery_, "nimbra-battery");
        gtk_center_box_set_start_widget(GTK_CENTER_BOX(statusBar_), networkSpinner_);
        gtk_center_box_set_center_widget(GTK_CENTER_BOX(statusBar_), clock_);
        gtk_center_box_set_end_widget(GTK_CENTER_BOX(statusBar_), battery_);
    }

    void watchSurface() {
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(gtkWindow()));
        if (!surface || surface == surfaceState_.instance()) return;
        surfaceState_ =
            GSignalHandler(surface, "notify::state", G_CALLBACK(+[](WindowPeer* p) { p->screenStateChanged(); }), this,
                           G_CONNECT_SWAPPED);
    }

    void screenStateChanged() {
        VisibilityWatch::shared().changed();  // minimised or restored
        if (!window_.isKeyWindow()) return;
        bool onScreen = gtk_widget_get_mapped(GTK_WIDGET(gtkWindow()));
        if (auto* surface = static_cast<GdkSurface*>(surfaceState_.instance()); surface && GDK_IS_TOPLEVEL(surface))
            onScreen = onScreen && !(gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED);
        // Deliver from the run loop: observers may change windows.
        RunLoop::main().postTask(weakFactory_.getWeakPtr(),
                                 [onScreen](WindowPeer&) { ApplicationLifecycle::shared().setOnScreen(onScreen); });
    }

    // The window system laid the window out at this size: the view tree
    // takes it at once, so its widgets are placed by the new frames.
    void sizeGiven(int width, int height) {
        given_ = Size{double(width), double(height)};
        setScreenPanel(given_);
        const Rect frame(0, 0, width, height);
        if (window_.frame() != frame) window_.setFrame(frame);
        followCompositorTurn();
    }

    // On a phone the compositor turns the screen (its output's transform)
    // and the window it fills with it: a window filling the screen that is
    // wider than high is the device on its side. Back to floating (a desktop's
    // maximised window restored), the device stands up again.
    void followCompositorTurn() {
        const bool fills = toplevelFillsScreen(gtkWindow());
        if (!fills) {
            if (std::exchange(turnedByCompositor_, false) && isLandscape(gtkDevice().orientation()))
                turnTo(InterfaceOrientation::Portrait);
            return;
        }
        if (given_.width == given_.height) return;
        const bool landscape = given_.width > given_.height;
        if (isLandscape(gtkDevice().orientation()) == landscape) return;
        turnedByCompositor_ = landscape;
        turnTo(landscape ? InterfaceOrientation::LandscapeRight : InterfaceOrientation::Portrait);
    }

    // Ctrl+Left / Ctrl+Right on a desktop. Where the compositor decides the
    // window's shape the keys are left to the page.
    bool turnDevice(bool clockwise) {
        if (toplevelSizeIsFixed(gtkWindow())) return false;
        static constexpr InterfaceOrientation kTurn[] = {
            InterfaceOrientation::Portrait, InterfaceOrientation::LandscapeRight,
            InterfaceOrientation::PortraitUpsideDown, InterfaceOrientation::LandscapeLeft};
        int at = 0;
        for (int i = 0; i < 4; ++i)
            if (kTurn[i] == gtkDevice().orientation()) at = i;
        turnTo(kTurn[(at + (clockwise ? 1 : 3)) % 4]);
        return true;
    }

    void turnTo(InterfaceOrientation next) {
        gtkDevice().setOrientation(next);
        RunLoop::main().postDelayedTask(0, [weak = window_.weak_from_this(), next] {
            if (auto w = std::dynamic_pointer_cast<Window>(weak.lock())) w->deviceDidRotate(next);
        });
    }

    void pressed(double x, double y) {
        double px = 0, py = 0;
        if (!gtk_widget_translate_coordinates(GTK_WIDGET(gtkWindow()), widget_.outer(), x, y, &px, &py)) return;
        static const Event touch{Event::Type::Touches};
        if (auto self = window_.weak_from_this().lock()) self->hitTest(Point{px, py}, &touch);
    }

    ViewWidget widget_;
    Window& window_;
    GRef<GtkWindow> gtkWindow_;
    // The content size the window system last gave (0 x 0 before the first).
    Size given_;
    bool shownForLaunch_ = false;
    bool turnedByCompositor_ = false;
    // The status bar and its parts: the window's (the overlay's children).
    GtkWidget* statusBar_ = nullptr;
    GtkWidget* networkSpinner_ = nullptr;
    GtkWidget* clock_ = nullptr;
    GtkWidget* battery_ = nullptr;
    std::vector<GSignalHandler> signals_;  // of the window and its controllers
    GSignalHandler surfaceState_;          // of the window's surface, once it has one
    GAttachedSource clockTimer_;           // the status bar's clock
    WeakPtrFactory<WindowPeer> weakFactory_{this};
};

void refreshWindowStatusBar(WindowPeer* peer) { peer->refreshStatusBar(); }
void windowLaunchEnded(WindowPeer* peer) { peer->launchEnded(); }

GtkWidget* widgetForView(const View& view) {
    if (auto* w = dynamic_cast<WindowPeer*>(view.peer())) return GTK_WIDGET(w->gtkWindow());
    auto* vw = ViewWidget::of(view);
    return vw ? vw->outer() : nullptr;
}
GtkWindow* gtkWindowOf(WindowPeer* peer) { return peer->gtkWindow(); }

std::unique_ptr<ViewPeer> makeGtkViewPeer(View& view) {
    if (auto* w = dynamic_cast<Window*>(&view)) return std::make_unique<WindowPeer>(*w);
    if (auto* l = dynamic_cast<Label*>(&view)) return std::make_unique<LabelPeer>(*l);
    if (auto* b = dynamic_cast<Button*>(&view)) return std::make_unique<ButtonPeer>(*b);
    if (auto* s = dynamic_cast<ActivityIndicatorView*>(&view)) return std::make_unique<SpinnerPeer>(*s);
    if (auto* s = dynamic_cast<ScrollView*>(&view)) return std::make_unique<ScrollPeer>(*s);
    return std::make_unique<BasicPeer>(view, nullptr);
}

}  // namespace platform::gtk
