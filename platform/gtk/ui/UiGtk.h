#pragma once
// Pieces of the GTK user-interface half that know about each other.

#include <gtk/gtk.h>

#include "platform/gtk/GRef.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace platform::gtk {

class WindowPeer;

// Draws the chrome the application keeps: the status bar in every window,
// and the session's idle inhibit while the idle timer is off.
class GtkApplicationImpl final : public Application {
public:
    GtkApplicationImpl();
    ~GtkApplicationImpl() override;

    ApplicationState applicationState() const override;
    bool openURL(const URL& url) override;
    bool canOpenURL(const URL& url) const override;

    // Window peers register to draw the status bar and hold the idle inhibit.
    void addWindow(WindowPeer* peer);
    void removeWindow(WindowPeer* peer);
    GtkApplication* gtkApplication();

protected:
    void drawChrome(const Chrome& chrome) override;

private:
    void applyInhibit();
    std::vector<WindowPeer*> windows_;
    GRef<GtkApplication> app_;
    bool appTried_ = false;
    unsigned inhibitCookie_ = 0;
};

class GtkDeviceImpl final : public Device {
public:
    std::string model() const override;
    std::string systemVersion() const override;
    std::string uniqueIdentifier() const override;
    UserInterfaceIdiom userInterfaceIdiom() const override { return UserInterfaceIdiom::Phone; }
    InterfaceOrientation orientation() const override { return orientation_; }
    void setOrientation(InterfaceOrientation o) { orientation_ = o; }

private:
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
};

class GtkScreenImpl final : public Screen {
public:
    double scale() const override;

protected:
    Rect panelBounds() const override { return Rect(0, 0, 320, 480); }
};

GtkApplicationImpl& gtkApplication();
GtkDeviceImpl& gtkDevice();

std::unique_ptr<ViewPeer> makeGtkViewPeer(View& view);
std::unique_ptr<WebViewPeer> makeGtkWebViewPeer(WebView& view);
void prewarmGtkWebEngine(WebContent content);

// Reads "KEY=value" (value possibly quoted) from os-release text.
std::string osReleaseValue(const std::string& text, const std::string& key);

}  // namespace platform::gtk
