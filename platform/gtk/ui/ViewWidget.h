#pragma once
// The GTK side of one view: a frame widget that sits in its superview's frame
// widget at the view's frame (in points, one point per GTK logical pixel),
// paints the background colour, holds an optional content widget (label,
// spinner, web view, ...) under the subviews, and places each subview's frame
// widget at its frame.

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "platform/View.h"
#include "platform/gtk/GRef.h"

namespace platform::gtk {

class ViewWidget {
public:
    // content may be null; it is owned (a reference is taken). frame, when
    // given, takes the frame widget's place (a button frame, say).
    ViewWidget(View& view, GtkWidget* content, GtkWidget* frame = nullptr);
    ~ViewWidget();
    ViewWidget(const ViewWidget&) = delete;
    ViewWidget& operator=(const ViewWidget&) = delete;

    View& view() const { return view_; }
    GtkWidget* outer() const { return outer_.get(); }
    GtkWidget* content() const { return content_.get(); }
    // Where subviews' widgets go (the outer frame unless a scroll document).
    GtkWidget* childHost() const { return childHost_; }
    void setChildHost(GtkWidget* host) { childHost_ = host; }

    void frameChanged();
    void propertiesChanged();
    void subviewsChanged();
    // Role and name for assistive technology (layout boxes read as nothing).
    void accessibilityChanged();

    // The view widget of a view made by this backend, or null.
    static ViewWidget* of(const View& view);
    // The frame widget type (a container that places children at view frames).
    static GtkWidget* newFrame();
    // Calls `allocated` with the frame widget's size each time it is laid
    // out, before its children are placed; an empty function stops it.
    static void watchAllocation(GtkWidget* frame, std::function<void(int, int)> allocated);
    // A frame that is a real button: focusable, activated by Return, Space
    // and the accessibility action ("clicked").
    static GtkWidget* newButtonFrame();

private:
    View& view_;
    GRef<GtkWidget> outer_;
    GRef<GtkWidget> content_;
    GtkWidget* childHost_;  // the outer frame, or a widget inside it (which holds it)
};

// Every GTK peer exposes its view widget.
class GtkPeer {
public:
    virtual ~GtkPeer() = default;
    virtual ViewWidget& viewWidget() = 0;
};

// Installs the style sheet of our widgets on the default display (once).
void installStyles();

}  // namespace platform::gtk
