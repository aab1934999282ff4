#pragma once
// The application object, the device and the main screen.

#include <memory>
#include <optional>
#include <string>

#include "platform/Geometry.h"
#include "platform/URL.h"

namespace platform {

class Window;

enum class ApplicationState : int { Active = 0, Inactive = 1, Background = 2 };

// The status bar drawn over the top of every window.
inline constexpr int kStatusBarHeight = 20;

// What the application shows around its screens. The application object keeps
// it and its rules; a backend only shows it.
struct Chrome {
    bool statusBarHidden = false;
    InterfaceOrientation statusBarOrientation = InterfaceOrientation::Portrait;
    bool networkActivityIndicatorVisible = false;
    bool idleTimerDisabled = false;
    bool operator==(const Chrome&) const = default;
};

class Application {
public:
    virtual ~Application() = default;
    static Application& shared();

    virtual ApplicationState applicationState() const = 0;

    // Hands the URL to another application (the desktop's default handler for
    // its scheme); false when none would take it.
    virtual bool openURL(const URL& url) = 0;
    virtual bool canOpenURL(const URL& url) const = 0;

    // Showing or hiding the status bar lays the key window's screens out again.
    bool isStatusBarHidden() const { return chrome_.statusBarHidden; }
    void setStatusBarHidden(bool hidden, bool animated);
    InterfaceOrientation statusBarOrientation() const { return chrome_.statusBarOrientation; }
    void setStatusBarOrientation(InterfaceOrientation orientation);  // Unknown is ignored
    bool isNetworkActivityIndicatorVisible() const { return chrome_.networkActivityIndicatorVisible; }
    void setNetworkActivityIndicatorVisible(bool visible);
    Rect statusBarFrame() const;  // screen coordinates; empty when hidden
    // What the status bar leaves of `bounds` to the application's screens.
    Rect applicationFrameWithin(const Rect& bounds) const;

    bool isIdleTimerDisabled() const { return chrome_.idleTimerDisabled; }
    void setIdleTimerDisabled(bool disabled);

    std::shared_ptr<Window> keyWindow() const;
    const Chrome& chrome() const { return chrome_; }

    // This platform offers no background tasks; callers ask before using them.
    virtual bool supportsBackgroundTasks() const { return false; }

protected:
    // Shows the chrome as it now is; called after every change.
    virtual void drawChrome(const Chrome& chrome) = 0;
    // Back to the launch state, drawing nothing (a test backend's reset).
    void resetChrome() { chrome_ = Chrome(); }

private:
    void change(const Chrome& next);
    Chrome chrome_;
};

enum class UserInterfaceIdiom : int { Phone = 0, Pad = 1 };

class Device {
public:
    virtual ~Device() = default;
    static Device& current();
    virtual std::string model() const = 0;             // "iPhone"-like model name
    virtual std::string systemVersion() const = 0;     // "12", "4.3.1"
    virtual std::string uniqueIdentifier() const = 0;  // stable per machine
    virtual UserInterfaceIdiom userInterfaceIdiom() const = 0;
    virtual InterfaceOrientation orientation() const = 0;
};

class Screen {
public:
    virtual ~Screen() = default;
    static Screen& main();
    // In points, turned with the interface: the long side across in landscape.
    Rect bounds() const;
    virtual double scale() const = 0;  // pixels per point
    Rect applicationFrame() const;     // bounds less the status bar when shown

protected:
    // The panel in points, either way up.
    virtual Rect panelBounds() const = 0;
};

}  // namespace platform
