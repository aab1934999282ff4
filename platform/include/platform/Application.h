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

class Application {
public:
    virtual ~Application() = default;
    static Application& shared();

    virtual ApplicationState applicationState() const = 0;

    // Hands the URL to another application (the desktop's default handler for
    // its scheme); false when none would take it.
    virtual bool openURL(const URL& url) = 0;
    virtual bool canOpenURL(const URL& url) const = 0;

    // The 20-point status bar drawn at the top of the window.
    virtual bool isStatusBarHidden() const = 0;
    virtual void setStatusBarHidden(bool hidden, bool animated) = 0;
    virtual InterfaceOrientation statusBarOrientation() const = 0;
    virtual void setStatusBarOrientation(InterfaceOrientation orientation) = 0;
    virtual bool isNetworkActivityIndicatorVisible() const = 0;
    virtual void setNetworkActivityIndicatorVisible(bool visible) = 0;
    virtual Rect statusBarFrame() const = 0;  // empty when hidden

    virtual bool isIdleTimerDisabled() const = 0;
    virtual void setIdleTimerDisabled(bool disabled) = 0;

    virtual std::shared_ptr<Window> keyWindow() const = 0;

    // This platform offers no background tasks; callers ask before using them.
    virtual bool supportsBackgroundTasks() const { return false; }
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
    virtual Rect bounds() const = 0;            // in points
    virtual double scale() const = 0;           // pixels per point
    virtual Rect applicationFrame() const = 0;  // bounds less the status bar when shown
};

}  // namespace platform
