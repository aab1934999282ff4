#pragma once
// The GTK widgets behind views, for code of the GTK backend and its tests.

#include <gtk/gtk.h>

#include "platform/View.h"

namespace platform::gtk {

// The widget that shows the view: a window's GtkWindow, otherwise the frame
// widget placed in its superview's. Null for a view without a GTK peer.
GtkWidget* widgetForView(const View& view);

}  // namespace platform::gtk
