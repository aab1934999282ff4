#include "ViewWidget.h"

#include <algorithm>
#include <functional>

#include "Accessibility.h"

namespace platform::gtk {

// ---- The frame widget

namespace {
constexpr const char* kViewWidgetKey = "nimbra-view-widget";
constexpr const char* kFillKey = "nimbra-fill";
constexpr const char* kAllocationKey = "nimbra-allocation-watch";
using AllocationWatch = std::function<void(int, int)>;
}  // namespace

struct NimbraFrame {
    GtkWidget parent_instance;
};
struct NimbraFrameClass {
    GtkWidgetClass parent_class;
};

G_DEFINE_TYPE(NimbraFrame, nimbra_frame, GTK_TYPE_WIDGET)

static void nimbra_frame_measure(GtkWidget*, GtkOrientation, int, int* minimum, int* natural, int* minBaseline,
                                 int* natBaseline) {
    // Sizes come from frames (size requests), never from the children.
    *minimum = *natural = 0;
    *minBaseline = *natBaseline = -1;
}

static void allocateChild(GtkWidget* child, int x, int y, int width, int height) {
    int minW = 0, minH = 0, nat = 0;
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &minW, &nat, nullptr, nullptr);
    int w = std::max(width, minW);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, w, &minH, &nat, nullptr, nullptr);
    GtkAllocation a{x, y, w, std::max(height, minH)};
    gtk_widget_size_allocate(child, &a, -1);
}

static void nimbra_frame_size_allocate(GtkWidget* widget, int width, int height, int) {
    // The watcher may move the children (a window's root sets its view's
    // frame): it hears first, and they are placed where it left them.
    if (auto* watch = static_cast<AllocationWatch*>(g_object_get_data(G_OBJECT(widget), kAllocationKey)))
        (*watch)(width, height);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (!gtk_widget_get_visible(child)) continue;
        if (auto* vw = static_cast<ViewWidget*>(g_object_get_data(G_OBJECT(child), kViewWidgetKey))) {
            Rect f = vw->view().frame();
            allocateChild(child, int(f.x()), int(f.y()), int(f.width() + 0.5), int(f.height() + 0.5));
        } else {
            allocateChild(child, 0, 0, width, height);
        }
    }
}

static void nimbra_frame_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
    if (auto* vw = static_cast<ViewWidget*>(g_object_get_data(G_OBJECT(widget), kViewWidgetKey))) {
        Color c = vw->view().backgroundColor();
        if (c.alpha > 0) {
            GdkRGBA rgba{float(c.red), float(c.green), float(c.blue), float(c.alpha)};
            graphene_rect_t r =
                GRAPHENE_RECT_INIT(0, 0, float(gtk_widget_get_width(widget)), float(gtk_widget_get_height(widget)));
            gtk_snapshot_append_color(snapshot, &rgba, &r);
        }
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        gtk_widget_snapshot_child(widget, child, snapshot);
}

static void unparentChildren(GObject* object) {
    GtkWidget* widget = GTK_WIDGET(object);
    while (GtkWidget* child = gtk_widget_get_first_child(widget)) gtk_widget_unparent(child);
}

// Frames and button frames are measured, laid out and drawn alike.
static void useFrameLayout(GtkWidgetClass* widgetClass) {
    widgetClass->measure = nimbra_frame_measure;
    widgetClass->size_allocate = nimbra_frame_size_allocate;
    widgetClass->snapshot = nimbra_frame_snapshot;
}

static void nimbra_frame_dispose(GObject* object) {
    unparentChildren(object);
    G_OBJECT_CLASS(nimbra_frame_parent_class)->dispose(object);
}

static void nimbra_frame_class_init(NimbraFrameClass* klass) {
    GtkWidgetClass* widgetClass = GTK_WIDGET_CLASS(klass);
    useFrameLayout(widgetClass);
    G_OBJECT_CLASS(klass)->dispose = nimbra_frame_dispose;
    // A layout box: nothing to read (what it holds is).
    gtk_widget_class_set_accessible_role(widgetClass, GTK_ACCESSIBLE_ROLE_GENERIC);
}

static void nimbra_frame_init(NimbraFrame*) {}

GtkWidget* ViewWidget::newFrame() { return GTK_WIDGET(g_object_new(nimbra_frame_get_type(), nullptr)); }

void ViewWidget::watchAllocation(GtkWidget* frame, std::function<void(int, int)> allocated) {
    if (!allocated) {
        g_object_set_data(G_OBJECT(frame), kAllocationKey, nullptr);
        return;
    }
    g_object_set_data_full(G_OBJECT(frame), kAllocationKey, new AllocationWatch(std::move(allocated)),
                           [](gpointer watch) { delete static_cast<AllocationWatch*>(watch); });
}

// A button's frame: GtkButton's keys, focus and accessibility, laid out and
// drawn as a frame.
struct NimbraButton {
    GtkButton parent_instance;
};
struct NimbraButtonClass {
    GtkButtonClass parent_class;
};

G_DEFINE_TYPE(NimbraButton, nimbra_button, GTK_TYPE_BUTTON)

static void nimbra_button_dispose(GObject* object) {
    unparentChildren(object);
    G_OBJECT_CLASS(nimbra_button_parent_class)->dispose(object);
}

static void nimbra_button_class_init(NimbraButtonClass* klass) {
    useFrameLayout(GTK_WIDGET_CLASS(klass));
    G_OBJECT_CLASS(klass)->dispose = nimbra_button_dispose;
}

static void nimbra_button_init(NimbraButton* self) {
    GtkWidget* widget = GTK_WIDGET(self);
    gtk_widget_add_css_class(widget, "nimbra-control");
    // The pointer is the button view's own (touch down, up inside or out):
    // GtkButton's click handling would make every tap a second "clicked".
    // Its keys and its activation stay.
    const auto controllers = GRef<GListModel>::adopt(gtk_widget_observe_controllers(widget));
    for (guint i = 0; i < g_list_model_get_n_items(controllers.get()); ++i) {
        const auto controller = GRef<GtkEventController>::adopt(
            static_cast<GtkEventController*>(g_list_model_get_item(controllers.get(), i)));
        if (GTK_IS_GESTURE_CLICK(controller.get()))
            gtk_event_controller_set_propagation_phase(controller.get(), GTK_PHASE_NONE);
    }
}

GtkWidget* ViewWidget::newButtonFrame() { return GTK_WIDGET(g_object_new(nimbra_button_get_type(), nullptr)); }

// ---- ViewWidget

ViewWidget::ViewWidget(View& view, GtkWidget* content, GtkWidget* frame)
    : view_(view),
      outer_(GRef<GtkWidget>::sink(frame ? frame : newFrame())),
      content_(GRef<GtkWidget>::sink(content)),
      childHost_(outer()) {
    g_object_set_data(G_OBJECT(outer()), kViewWidgetKey, this);
    if (content) {
        g_object_set_data(G_OBJECT(content), kFillKey, GINT_TO_POINTER(1));
        gtk_widget_set_parent(content, outer());
    }
    propertiesChanged();
    frameChanged();
    accessibilityChanged();
}

ViewWidget::~ViewWidget() {
    g_object_set_data(G_OBJECT(outer()), kViewWidgetKey, nullptr);
    if (GtkWidget* parent = gtk_widget_get_parent(outer())) {
        gtk_widget_unparent(outer());
        gtk_widget_queue_allocate(parent);
    }
    // Children of this frame belong to views that may live on.
    while (GtkWidget* child = gtk_widget_get_first_child(childHost_)) {
        if (child == content()) break;
        gtk_widget_unparent(child);
    }
    if (content_ && gtk_widget_get_parent(content())) gtk_widget_unparent(content());
}

ViewWidget* ViewWidget::of(const View& view) {
    auto* peer = dynamic_cast<GtkPeer*>(view.peer());
    return peer ? &peer->viewWidget() : nullptr;
}

void ViewWidget::frameChanged() {
    Rect f = view_.frame();
    gtk_widget_set_size_request(outer(), int(f.width() + 0.5), int(f.height() + 0.5));
    if (GtkWidget* parent = gtk_widget_get_parent(outer())) gtk_widget_queue_allocate(parent);
    gtk_widget_queue_allocate(outer());
}

void ViewWidget::propertiesChanged() {
    gtk_widget_set_visible(outer(), !view_.isHidden());
    gtk_widget_set_can_target(outer(), view_.isUserInteractionEnabled());
    gtk_widget_set_overflow(outer(), view_.clipsToBounds() ? GTK_OVERFLOW_HIDDEN : GTK_OVERFLOW_VISIBLE);
    gtk_widget_queue_draw(outer());
}

void ViewWidget::subviewsChanged() {
    std::vector<GtkWidget*> wanted;
    for (auto& sub : view_.subviews())
        if (auto* vw = of(*sub)) wanted.push_back(vw->outer());
    // Drop the widgets of views that left.
    for (GtkWidget* child = gtk_widget_get_first_child(childHost_); child;) {
        GtkWidget* next = gtk_widget_get_next_sibling(child);
        if (g_object_get_data(G_OBJECT(child), kViewWidgetKey) &&
            std::find(wanted.begin(), wanted.end(), child) == wanted.end())
            gtk_widget_unparent(child);
        child = next;
    }
    // Then the rest, in order, above the content.
    for (GtkWidget* w : wanted) {
        GtkWidget* parent = gtk_widget_get_parent(w);
        if (parent && parent != childHost_) gtk_widget_unparent(w);
        gtk_widget_insert_before(w, childHost_, nullptr);
    }
    gtk_widget_queue_allocate(childHost_);
    applyModality(*this);
}

void ViewWidget::accessibilityChanged() { applyFrameAccessibility(*this); }

void installStyles() {
    static bool done = false;
    GdkDisplay* display = gdk_display_get_default();
    if (done || !display) return;
    done = true;
    const auto css = GRef<GtkCssProvider>::adopt(gtk_css_provider_new());
    static const char kStyles[] =
        ".nimbra-button { border-radius: 5px; }\n"
        ".nimbra-button.nimbra-rounded { background-color: white; border: 1px solid #8a9bb5; border-radius: 8px; }\n"
        ".nimbra-glow { background-image: radial-gradient(circle closest-side, rgba(255,255,255,0.8),"
        " rgba(255,255,255,0)); }\n"
        ".nimbra-selected { background-color: rgba(255,255,255,0.16); }\n"
        ".nimbra-symbol { color: white; }\n"
        "spinner.nimbra-white { color: white; }\n"
        "spinner.nimbra-gray { color: #777777; }\n"
        // The phone's screen is black where nothing is drawn yet (a window
        // shown before its interface is built).
        "window.nimbra-window { background-color: black; }\n"
        ".nimbra-statusbar { background-color: black; color: white; font-size: 11px; font-weight: bold;"
        " padding: 0 5px; }\n"
        // Button frames draw as frames: none of the theme's button look,
        // only its focus ring for the keyboard.
        "button.nimbra-control, button.nimbra-control:hover, button.nimbra-control:active,"
        " button.nimbra-control:disabled { background: none; border: none; box-shadow: none; padding: 0;"
        " margin: 0; min-width: 0; min-height: 0; color: inherit; }\n";
    gtk_css_provider_load_from_data(css.get(), kStyles, -1);
    gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(css.get()),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

}  // namespace platform::gtk
