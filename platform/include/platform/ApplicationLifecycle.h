#pragma once
// The application's life, whatever the toolkit: its delegate, its states and
// their notifications, and its launch. The toolkit's own entry that runs it
// is in ApplicationMain.h.

#include <memory>
#include <string>

#include "platform/Application.h"
#include "platform/Outlets.h"

namespace platform {

class ApplicationDelegate : public Connectable {
public:
    virtual void applicationDidFinishLaunching(Application&) {}
    virtual void applicationWillResignActive(Application&) {}
    virtual void applicationDidBecomeActive(Application&) {}
    virtual void applicationDidEnterBackground(Application&) {}
    virtual void applicationWillEnterForeground(Application&) {}
    virtual void applicationWillTerminate(Application&) {}
};

// The state machine behind Application::applicationState(): the delegate
// hears each change first, then the notification is posted on the default
// center. Going to the background passes through inactive (will resign
// active, did enter background); coming back passes through it the other
// way (will enter foreground, did become active).
class ApplicationLifecycle {
public:
    static ApplicationLifecycle& shared();

    ApplicationState state() const { return state_; }
    bool hasFinishedLaunching() const { return launched_; }
    bool hasTerminated() const { return terminated_; }

    // Retained for the life of the application.
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }

    // did finish launching (delegate, then notification); the state stays
    // inactive until the window is on screen.
    void finishLaunching();
    // The window is shown (active) or minimised/hidden (background).
    void setOnScreen(bool onScreen);
    // Will terminate, once.
    void terminate();

    // Back to a fresh, unlaunched state (tests).
    void reset();

private:
    Application& app();
    ApplicationState state_ = ApplicationState::Inactive;
    bool launched_ = false;
    bool terminated_ = false;
    std::shared_ptr<ApplicationDelegate> delegate_;
};

// Loads the main interface file, installs its delegate, runs the launch and
// shows the window. False (with the reason) when the file cannot be built.
bool launchApplication(const std::string& mainInterface, std::string* error = nullptr);
// For an application that builds its window in code: installs the delegate
// and runs the launch; the delegate makes its window (and keeps it) in
// applicationDidFinishLaunching. The application is on screen when a window
// was made key and visible. False (with the reason) without a delegate.
bool launchApplication(std::shared_ptr<ApplicationDelegate> delegate, std::string* error = nullptr);

struct LaunchOptions {
    std::string identifier;          // application id ("org.example.App")
    std::string mainInterface;       // name of the main interface file
    std::string resourcesDirectory;  // bundled resources (interface files, pages, images)
    // Instead of a main interface file: the delegate that builds the window.
    // Made before the backend exists, so it makes views only once launched.
    std::shared_ptr<ApplicationDelegate> delegate = nullptr;
    // Start the web engine before the interface is built, so that its start
    // overlaps the launch (for an application whose first screens show pages):
    // for its own pages and for outside content (ads), each in its process.
    bool prewarmWebEngine = false;
    // The name people know the application by (the window's title); the
    // identifier when empty.
    std::string name = {};
};

}  // namespace platform
