#pragma once
// Pieces of the GTK user-interface half that know about each other.

#include <gtk/gtk.h>

#include "platform/gtk/GRef.h"

#include <functional>
#include <memory>
#include <optional>
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
    // Draws every window's status bar again (a fact it shows has changed).
    void redrawStatusBars();
    // The launch is over: a window shown for it that the application left
    // hidden goes away.
    void endLaunch();

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

Rect screenPanel();
void setScreenPanel(Size size);

class GtkScreenImpl final : public Screen {
public:
    double scale() const override;

protected:
    // The panel is the application's window: the size the window system last
    // gave it (a phone's screen, a desktop window), 320 x 480 until then.
    Rect panelBounds() const override { return screenPanel(); }
};

GtkApplicationImpl& gtkApplication();
GtkDeviceImpl& gtkDevice();

// ---- Toplevel windows

// A window for a Window view: resizable (320 x 480 by default), titled with
// the application's name, following the toplevel policy below. Not shown.
GRef<GtkWindow> newToplevel();
// Maximised or full screen: the compositor gives the window its screen.
bool toplevelFillsScreen(GtkWindow* window);
// Filling the screen or tiled: the compositor decides the size.
bool toplevelSizeIsFixed(GtkWindow* window);
// A title bar only while the window floats; no smaller than the phone's
// screen (turned with the interface) unless the compositor decides the size.
// Applied on every change of the window's state.
void applyToplevelPolicy(GtkWindow* window);

// The application's window, shown before its interface is built so that the
// screens are laid out at the size the window system gives (a phone's
// screen) from the start: opened by applicationMain, which waits for its
// first size, and taken by the first Window made.
struct LaunchWindow {
    GRef<GtkWindow> window;
    Size size;  // of its content, in points
};
void openLaunchWindow();
std::optional<LaunchWindow> takeLaunchWindow();
void discardLaunchWindow();

// ---- Battery

// The battery as the system's power daemon (UPower) reports it on the system
// bus. Nothing without a system bus, without the daemon or without a battery.
struct BatteryReading {
    int percent = 0;
    bool onMains = false;  // charging or kept full
    bool operator==(const BatteryReading&) const = default;
};
// Starts watching on the first call; `changed` runs on the main loop when
// the reading changes.
void watchBattery(std::function<void()> changed);
std::optional<BatteryReading> batteryReading();
// What the status bar shows: "57 %", with a bolt on mains power.
std::string batteryText(const BatteryReading& reading);

std::unique_ptr<ViewPeer> makeGtkViewPeer(View& view);
std::unique_ptr<WebViewPeer> makeGtkWebViewPeer(WebView& view);
void prewarmGtkWebEngine(WebContent content);

// Reads "KEY=value" (value possibly quoted) from os-release text.
std::string osReleaseValue(const std::string& text, const std::string& key);

}  // namespace platform::gtk
