#include "Accessibility.h"

#include <webkit/webkit.h>

#include <optional>
#include <vector>

#include "ViewWidget.h"
#include "platform/RunLoop.h"
#include "platform/gtk/GRef.h"

namespace platform::gtk {
namespace {

constexpr const char kRoleSetKey[] = "nimbra-role-set";
constexpr const char kModalStateKey[] = "nimbra-modal-state";
constexpr const char kReturnFocusKey[] = "nimbra-return-focus";
constexpr const char kWebLabelKey[] = "nimbra-web-label";
constexpr const char kTabKeysKey[] = "nimbra-tab-keys";

// An empty label rather than none: without one the toolkit reads out the
// widget's class name.
void setLabel(GtkWidget* widget, const std::string& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
}

// GTK takes one change of a widget's role, away from its class's; a view's
// role is decided once, so a later change is left out.
void setRole(GtkWidget* widget, GtkAccessibleRole role) {
    if (gtk_accessible_get_accessible_role(GTK_ACCESSIBLE(widget)) == role ||
        g_object_get_data(G_OBJECT(widget), kRoleSetKey))
        return;
    g_object_set_data(G_OBJECT(widget), kRoleSetKey, GINT_TO_POINTER(1));
    g_object_set(widget, "accessible-role", role, nullptr);
}

GRef<GtkWidget> takeWeak(GWeakRef* ref) { return GRef<GtkWidget>::adopt(static_cast<GtkWidget*>(g_weak_ref_get(ref))); }

// A weak reference kept as an object's data, freed with it.
void keepWeakly(GObject* owner, const char* key, GtkWidget* target) {
    auto* ref = g_new0(GWeakRef, 1);
    g_weak_ref_init(ref, target);
    g_object_set_data_full(
        owner, key, ref, +[](gpointer p) {
            g_weak_ref_clear(static_cast<GWeakRef*>(p));
            g_free(p);
        });
}

// ---- Tab lists: the arrows between the tabs

gboolean tabListKeyPressed(GtkEventControllerKey* controller, guint keyval, guint, GdkModifierType state, gpointer) {
    if (state & (GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_ALT_MASK)) return FALSE;
    GtkWidget* list = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
    GtkRoot* root = gtk_widget_get_root(list);
    GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
    std::vector<GtkWidget*> tabs;
    std::optional<size_t> at;
    for (GtkWidget* child = gtk_widget_get_first_child(list); child; child = gtk_widget_get_next_sibling(child)) {
        if (!GTK_IS_BUTTON(child) || !gtk_widget_get_visible(child) || !gtk_widget_is_sensitive(child)) continue;
        if (focus && (focus == child || gtk_widget_is_ancestor(focus, child))) at = tabs.size();
        tabs.push_back(child);
    }
    if (!at) return FALSE;
    const size_t count = tabs.size();
    size_t next = *at;
    switch (keyval) {
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: next = (*at + count - 1) % count; break;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: next = (*at + 1) % count; break;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: next = 0; break;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: next = count - 1; break;
    default: return FALSE;
    }
    // The tab chosen becomes the selected one (and so the focusable one).
    gtk_widget_set_focusable(tabs[next], TRUE);
    gtk_widget_grab_focus(tabs[next]);
    gtk_widget_activate(tabs[next]);
    return TRUE;
}

void installTabListKeys(GtkWidget* list) {
    if (g_object_get_data(G_OBJECT(list), kTabKeysKey)) return;
    g_object_set_data(G_OBJECT(list), kTabKeysKey, GINT_TO_POINTER(1));
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(tabListKeyPressed), nullptr);
    gtk_widget_add_controller(list, keys);
}

// ---- Modality

void setReachable(GtkWidget* widget, bool reachable) {
    if (gtk_widget_get_can_focus(widget) == reachable) return;
    gtk_widget_set_can_focus(widget, reachable);
    gtk_accessible_update_state(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_STATE_HIDDEN, !reachable, -1);
}

// The modal subview on top of a host, as last seen.
struct ModalState {
    ModalState() { g_weak_ref_init(&top, nullptr); }
    ~ModalState() { g_weak_ref_clear(&top); }
    GWeakRef top;
};

ModalState& modalStateOf(GtkWidget* host) {
    auto* state = static_cast<ModalState*>(g_object_get_data(G_OBJECT(host), kModalStateKey));
    if (!state) {
        state = new ModalState();
        g_object_set_data_full(
            G_OBJECT(host), kModalStateKey, state, +[](gpointer p) { delete static_cast<ModalState*>(p); });
    }
    return *state;
}

// Into the first control of the widget; with none there, nowhere (never left
// behind in what the widget covers).
void moveFocusInto(GtkRoot* root, GtkWidget* widget) {
    if (!gtk_widget_child_focus(widget, GTK_DIR_TAB_FORWARD)) gtk_root_set_focus(root, nullptr);
}

// ---- Window keys

// Lives with the GtkWindow's key controller; the window's peer destroys the
// GtkWindow before the window goes.
struct WindowKeys {
    explicit WindowKeys(Window& window) : window(window) { g_weak_ref_init(&focusAtTab, nullptr); }
    ~WindowKeys() { g_weak_ref_clear(&focusAtTab); }
    Window& window;
    // The last Tab seen, and where the focus was then.
    guint32 tabTime = 0;
    guint tabKey = 0;
    GWeakRef focusAtTab;
};

std::optional<KeyCommand> keyCommandFor(guint keyval, GdkModifierType state) {
    const auto modifiers = state & (GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_ALT_MASK | GDK_SUPER_MASK);
    if (keyval == GDK_KEY_Escape && !modifiers) return KeyCommand::Cancel;
    if (modifiers != GDK_CONTROL_MASK) return std::nullopt;
    if (keyval == GDK_KEY_Page_Down || keyval == GDK_KEY_KP_Page_Down) return KeyCommand::NextTab;
    if (keyval == GDK_KEY_Page_Up || keyval == GDK_KEY_KP_Page_Up) return KeyCommand::PreviousTab;
    return std::nullopt;
}

gboolean windowKeyPressed(GtkEventControllerKey* controller, guint keyval, guint, GdkModifierType state,
                          gpointer data) {
    auto& keys = *static_cast<WindowKeys*>(data);
    if (keyval == GDK_KEY_Tab || keyval == GDK_KEY_ISO_Left_Tab || keyval == GDK_KEY_KP_Tab) {
        // A web page that passes the focus on to the next control also hands
        // the Tab back to the window as unhandled: the same event again. The
        // focus has already moved once for it; moving it again would skip a
        // control.
        GtkRoot* root = GTK_ROOT(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller)));
        GtkWidget* focus = gtk_root_get_focus(root);
        const guint32 time = gtk_event_controller_get_current_event_time(GTK_EVENT_CONTROLLER(controller));
        if (time != 0 && time == keys.tabTime && keyval == keys.tabKey)
            return takeWeak(&keys.focusAtTab).get() != focus;
        keys.tabTime = time;
        keys.tabKey = keyval;
        g_weak_ref_set(&keys.focusAtTab, focus);
        return FALSE;
    }
    const auto command = keyCommandFor(keyval, state);
    if (!command || !keys.window.keyCommandTarget(*command)) return FALSE;
    // From the run loop: the command may take the screen down.
    RunLoop::main().postDelayedTask(0, [weak = keys.window.weak_from_this(), command = *command] {
        if (auto w = std::dynamic_pointer_cast<Window>(weak.lock()))
            if (auto target = w->keyCommandTarget(command)) target->performKeyCommand(command);
    });
    return TRUE;
}

// ---- Web views

void refreshWebViewName(GtkWidget* web) {
    const auto* label = static_cast<const std::string*>(g_object_get_data(G_OBJECT(web), kWebLabelKey));
    const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(web));
    setLabel(web, label && !label->empty() ? *label : std::string(title ? title : ""));
}

}  // namespace

void applyFrameAccessibility(ViewWidget& widget) {
    GtkWidget* frame = widget.outer();
    if (GTK_IS_BUTTON(frame)) return;  // the button's own (applyButtonAccessibility)
    const View& view = widget.view();
    // A view shown by a content widget (label, spinner, page) is read there.
    const bool labelled = !view.accessibilityLabel().empty() && !widget.content();
    GtkAccessibleRole role = GTK_ACCESSIBLE_ROLE_GENERIC;
    switch (view.accessibilityRole()) {
    case AccessibilityRole::TabList: role = GTK_ACCESSIBLE_ROLE_TAB_LIST; break;
    case AccessibilityRole::Toolbar: role = GTK_ACCESSIBLE_ROLE_TOOLBAR; break;
    case AccessibilityRole::Group:
    case AccessibilityRole::Advertisement: role = GTK_ACCESSIBLE_ROLE_GROUP; break;
    case AccessibilityRole::None: role = labelled ? GTK_ACCESSIBLE_ROLE_GROUP : GTK_ACCESSIBLE_ROLE_GENERIC; break;
    case AccessibilityRole::Button:
    case AccessibilityRole::Tab:
    case AccessibilityRole::ProgressIndicator: break;  // their widgets carry them
    }
    setRole(frame, role);
    setLabel(frame, labelled ? view.accessibilityLabel() : std::string());
    // A scrolled area, say, is read by the view's label. Its bars are not
    // read: the toolkit has nothing for them but their class names, and the
    // area scrolls by itself as the focus moves.
    if (widget.content() && !view.accessibilityLabel().empty()) setLabel(widget.content(), view.accessibilityLabel());
    if (auto* scrolled = GTK_IS_SCROLLED_WINDOW(widget.content()) ? GTK_SCROLLED_WINDOW(widget.content()) : nullptr)
        for (GtkWidget* bar :
             {gtk_scrolled_window_get_hscrollbar(scrolled), gtk_scrolled_window_get_vscrollbar(scrolled)})
            if (bar) gtk_accessible_update_state(GTK_ACCESSIBLE(bar), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
    if (role == GTK_ACCESSIBLE_ROLE_TAB_LIST) installTabListKeys(frame);
}

void applyButtonAccessibility(GtkWidget* frame, const Button& button) {
    const bool tab = button.accessibilityRole() == AccessibilityRole::Tab;
    setRole(frame, tab ? GTK_ACCESSIBLE_ROLE_TAB : GTK_ACCESSIBLE_ROLE_BUTTON);
    setLabel(frame, button.accessibilityLabel().empty() ? button.title() : button.accessibilityLabel());
    gtk_widget_set_sensitive(frame, button.isEnabled());
    if (tab) {
        gtk_accessible_update_state(GTK_ACCESSIBLE(frame), GTK_ACCESSIBLE_STATE_SELECTED, button.isSelected(), -1);
        gtk_widget_set_focusable(frame, button.isSelected());
    }
}

void applyTextAccessibility(GtkWidget* label, const View& view, const std::string& text) {
    setLabel(label, view.accessibilityLabel().empty() ? text : view.accessibilityLabel());
}

GtkWidget* newAccessibleSpinner() {
    return GTK_WIDGET(g_object_new(GTK_TYPE_SPINNER, "accessible-role", GTK_ACCESSIBLE_ROLE_PROGRESS_BAR, nullptr));
}

void applySpinnerAccessibility(GtkWidget* spinner, const std::string& label, bool busy) {
    setLabel(spinner, label);
    gtk_accessible_update_state(GTK_ACCESSIBLE(spinner), GTK_ACCESSIBLE_STATE_BUSY, busy, -1);
}

void applySpinnerAccessibility(GtkWidget* spinner, const ActivityIndicatorView& view) {
    applySpinnerAccessibility(spinner, view.accessibilityLabel(), view.isAnimating());
}

void hideFromAssistiveTechnology(GtkWidget* widget) { setRole(widget, GTK_ACCESSIBLE_ROLE_PRESENTATION); }

void applyModality(ViewWidget& host) {
    const auto& subviews = host.view().subviews();
    std::optional<size_t> top;
    for (size_t i = subviews.size(); i-- > 0 && !top;)
        if (subviews[i]->accessibilityViewIsModal() && !subviews[i]->isHidden() && ViewWidget::of(*subviews[i]))
            top = i;
    GtkWidget* topWidget = top ? ViewWidget::of(*subviews[*top])->outer() : nullptr;
    for (size_t i = 0; i < subviews.size(); ++i)
        if (auto* sub = ViewWidget::of(*subviews[i])) setReachable(sub->outer(), !top || i >= *top);
    if (host.content()) setReachable(host.content(), !top);

    if (!topWidget && !g_object_get_data(G_OBJECT(host.outer()), kModalStateKey)) return;
    ModalState& state = modalStateOf(host.outer());
    const GRef<GtkWidget> previous = takeWeak(&state.top);
    if (previous.get() == topWidget) return;
    g_weak_ref_set(&state.top, topWidget);
    GtkRoot* root = gtk_widget_get_root(host.outer());
    if (!root) return;  // in no window: no focus to move
    GtkWidget* focus = gtk_root_get_focus(root);
    const bool came = topWidget && (!previous || gtk_widget_get_parent(previous.get()) == host.childHost());
    if (came) {
        if (!focus || !gtk_widget_is_ancestor(focus, topWidget))
            keepWeakly(G_OBJECT(topWidget), kReturnFocusKey, focus);
        moveFocusInto(root, topWidget);
        return;
    }
    // The screen that was on top went: the focus goes back to where it was
    // before it came, or else into what is on top now.
    auto* returnTo =
        previous ? static_cast<GWeakRef*>(g_object_get_data(G_OBJECT(previous.get()), kReturnFocusKey)) : nullptr;
    const GRef<GtkWidget> back = returnTo ? takeWeak(returnTo) : GRef<GtkWidget>();
    if (back && gtk_widget_get_root(back.get()) == root && gtk_widget_grab_focus(back.get())) return;
    moveFocusInto(root, topWidget ? topWidget : host.outer());
}

void focusViewWidget(ViewWidget& widget) {
    GtkWidget* target = widget.outer();
    GtkRoot* root = gtk_widget_get_root(target);
    GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
    if (!root || (focus && (focus == target || gtk_widget_is_ancestor(focus, target)))) return;
    if (gtk_widget_get_focusable(target)) gtk_widget_grab_focus(target);
    else gtk_widget_child_focus(target, GTK_DIR_TAB_FORWARD);
}

void installWindowKeys(GtkWindow* gtkWindow, Window& window) {
    GtkEventController* keys = gtk_event_controller_key_new();
    // Before the focused widget: a page would take Escape for itself.
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect_data(
        keys, "key-pressed", G_CALLBACK(windowKeyPressed), new WindowKeys(window),
        +[](gpointer data, GClosure*) { delete static_cast<WindowKeys*>(data); }, GConnectFlags(0));
    gtk_widget_add_controller(GTK_WIDGET(gtkWindow), keys);
}

void prepareWebViewAccessibility(GtkWidget* web) {
    // The engine keeps a text view of its own inside the web view (to read key
    // bindings). Were it focusable, the focus leaving the page would land in it
    // and stay: it takes Tab as text.
    for (GtkWidget* child = gtk_widget_get_first_child(web); child; child = gtk_widget_get_next_sibling(child))
        gtk_widget_set_can_focus(child, FALSE);
    g_signal_connect(web, "notify::title",
                     G_CALLBACK(+[](GtkWidget* w, GParamSpec*, gpointer) { refreshWebViewName(w); }), nullptr);
    refreshWebViewName(web);
}

void applyWebViewAccessibility(GtkWidget* web, const std::string& label) {
    g_object_set_data_full(
        G_OBJECT(web), kWebLabelKey, new std::string(label), +[](gpointer p) { delete static_cast<std::string*>(p); });
    refreshWebViewName(web);
}

}  // namespace platform::gtk
