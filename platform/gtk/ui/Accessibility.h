#pragma once
// How the views read to assistive technology (AT-SPI through GTK's
// accessibility) and how the keyboard moves through them: roles, names and
// states of the widgets, the focus following the screens that come and go,
// the window's own keys, and web views that hand the focus on.

#include <gtk/gtk.h>

#include <string>

#include "platform/ActivityIndicatorView.h"
#include "platform/Button.h"
#include "platform/Window.h"

namespace platform::gtk {

class ViewWidget;

// The frame's role and name from its view: a layout box reads as nothing, a
// tab list takes Left, Right, Home and End between its tabs.
void applyFrameAccessibility(ViewWidget& widget);

// A button frame's name (its accessibility label, or its title), role (button
// or tab), enabled and selected state. Only the selected tab of a tab list is
// on the Tab key's way; the arrows reach the others.
void applyButtonAccessibility(GtkWidget* frame, const Button& button);

// A text is read as itself (or by its view's label); an empty one as
// nothing.
void applyTextAccessibility(GtkWidget* label, const View& view, const std::string& text);

// A spinner: named, and busy while it turns.
GtkWidget* newAccessibleSpinner();
void applySpinnerAccessibility(GtkWidget* spinner, const std::string& label, bool busy);
void applySpinnerAccessibility(GtkWidget* spinner, const ActivityIndicatorView& view);

// Content a button shows (its picture and title) is read as the button's
// name, not a second time on its own.
void hideFromAssistiveTechnology(GtkWidget* widget);

// Subviews of the host covered by a modal one are out of reach of the focus
// and of screen readers. When a modal view comes on top the focus moves into
// it; when it goes, the focus goes back to where it was before it came.
void applyModality(ViewWidget& host);

// The keyboard focus to the view's widget, or to the first control in it.
void focusViewWidget(ViewWidget& widget);

// The window's keys: Escape and Ctrl+Page Up/Down as key commands of the
// screen the user sees, and the Tab a web page hands back after passing the
// focus on (so that one Tab moves the focus once).
void installWindowKeys(GtkWindow* gtkWindow, Window& window);

// A web view's widget: the engine's internal widgets take no focus (Tab
// leaves the page to the next control instead of into them), and the page is
// named by the view's label or else by its title.
void prepareWebViewAccessibility(GtkWidget* web);
void applyWebViewAccessibility(GtkWidget* web, const std::string& label);

}  // namespace platform::gtk
