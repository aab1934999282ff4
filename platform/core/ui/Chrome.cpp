// The application's chrome: status bar, network activity indicator, idle
// timer. Kept here so every backend lays screens out by the same rules; the
// backend only draws what it is handed.
#include <algorithm>

#include "platform/Application.h"
#include "platform/Window.h"

namespace platform {

void Application::change(const Chrome& next) {
    if (next == chrome_) return;
    const bool relayout = next.statusBarHidden != chrome_.statusBarHidden;
    chrome_ = next;
    drawChrome(chrome_);
    // Screens that fill the application frame grow under a hidden bar and
    // give the strip back when it shows again.
    if (relayout)
        if (auto key = keyWindow()) key->statusBarDidChange();
}

void Application::setStatusBarHidden(bool hidden, bool) {
    Chrome next = chrome_;
    next.statusBarHidden = hidden;
    change(next);
}

void Application::setStatusBarOrientation(InterfaceOrientation orientation) {
    if (orientation == InterfaceOrientation::Unknown) return;
    Chrome next = chrome_;
    next.statusBarOrientation = orientation;
    change(next);
}

void Application::setNetworkActivityIndicatorVisible(bool visible) {
    Chrome next = chrome_;
    next.networkActivityIndicatorVisible = visible;
    change(next);
}

void Application::setIdleTimerDisabled(bool disabled) {
    Chrome next = chrome_;
    next.idleTimerDisabled = disabled;
    change(next);
}

Rect Application::statusBarFrame() const {
    if (chrome_.statusBarHidden) return Rect();
    return Rect(0, 0, Screen::main().bounds().width(), kStatusBarHeight);
}

Rect Application::applicationFrameWithin(const Rect& b) const {
    if (chrome_.statusBarHidden) return b;
    return Rect(b.x(), b.y() + kStatusBarHeight, b.width(), std::max(0.0, b.height() - kStatusBarHeight));
}

std::shared_ptr<Window> Application::keyWindow() const { return Window::keyWindow(); }

Rect Screen::bounds() const { return orientedRect(panelBounds(), Application::shared().statusBarOrientation()); }

Rect Screen::applicationFrame() const { return Application::shared().applicationFrameWithin(bounds()); }

}  // namespace platform
