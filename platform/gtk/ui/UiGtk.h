#pragma once
// Pieces of the GTK user-interface half that know about each other.

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace platform::gtk {

class WindowPeer;

inline constexpr int kStatusBarHeight = 20;

class GtkApplicationImpl final : public Application {
public:
    GtkApplicationImpl();
    ~GtkApplicationImpl() override;

    ApplicationState applicationState() const override;
    bool openURL(const URL& url) override;
    bool canOpenURL(const URL& url) const override;
    bool isStatusBarHidden() const override { return statusBarHidden_; }
    void setStatusBarHidden(bool hidden, bool animated) override;
    InterfaceOrientation statusBarOrientation() const override { return orientation_; }
    void setStatusBarOrientation(InterfaceOrientation orientation) override;
    bool isNetworkActivityIndicatorVisible() const override { return networkIndicator_; }
    void setNetworkActivityIndicatorVisible(bool visible) override;
    Rect statusBarFrame() const override;
    bool isIdleTimerDisabled() const override { return idleTimerDisabled_; }
    void setIdleTimerDisabled(bool disabled) override;
    std::shared_ptr<Window> keyWindow() const override { return Window::keyWindow(); }

    // Window peers register to draw the status bar and hold the idle inhibit.
    void addWindow(WindowPeer* peer);
    void removeWindow(WindowPeer* peer);
    GtkApplication* gtkApplication();

private:
    void refreshStatusBars();
    void applyInhibit();
    bool statusBarHidden_ = false;
    bool networkIndicator_ = false;
    bool idleTimerDisabled_ = false;
    InterfaceOrientation orientation_ = InterfaceOrientation::Portrait;
    std::vector<WindowPeer*> windows_;
    GtkApplication* app_ = nullptr;
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
    Rect bounds() const override;
    double scale() const override;
    Rect applicationFrame() const override;
};

GtkApplicationImpl& gtkApplication();
Rect gtkScreenBounds();
GtkDeviceImpl& gtkDevice();

std::unique_ptr<ViewPeer> makeGtkViewPeer(View& view);
std::unique_ptr<WebViewPeer> makeGtkWebViewPeer(WebView& view);

// Reads "KEY=value" (value possibly quoted) from os-release text.
std::string osReleaseValue(const std::string& text, const std::string& key);

}  // namespace platform::gtk
