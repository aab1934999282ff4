#include "platform/ApplicationLifecycle.h"

#include "platform/InterfaceFile.h"
#include "platform/NotificationCenter.h"
#include "platform/Services.h"
#include "platform/Window.h"

namespace platform {

ApplicationLifecycle& ApplicationLifecycle::shared() {
    static auto* lifecycle = new ApplicationLifecycle();
    return *lifecycle;
}

Application& ApplicationLifecycle::app() { return Application::shared(); }

void ApplicationLifecycle::finishLaunching() {
    if (launched_ || terminated_) return;
    launched_ = true;
    auto keep = delegate_;
    if (keep) keep->applicationDidFinishLaunching(app());
    NotificationCenter::defaultCenter().post(kApplicationDidFinishLaunchingNotification, &app());
}

void ApplicationLifecycle::setOnScreen(bool onScreen) {
    if (!launched_ || terminated_) return;
    auto keep = delegate_;
    auto& center = NotificationCenter::defaultCenter();
    if (onScreen) {
        if (state_ == ApplicationState::Background) {
            if (keep) keep->applicationWillEnterForeground(app());
            center.post(kApplicationWillEnterForegroundNotification, &app());
            state_ = ApplicationState::Inactive;
        }
        if (state_ == ApplicationState::Inactive) {
            state_ = ApplicationState::Active;
            if (keep) keep->applicationDidBecomeActive(app());
            center.post(kApplicationDidBecomeActiveNotification, &app());
        }
    } else {
        if (state_ == ApplicationState::Active) {
            if (keep) keep->applicationWillResignActive(app());
            center.post(kApplicationWillResignActiveNotification, &app());
            state_ = ApplicationState::Inactive;
        }
        if (state_ == ApplicationState::Inactive) {
            state_ = ApplicationState::Background;
            if (keep) keep->applicationDidEnterBackground(app());
            center.post(kApplicationDidEnterBackgroundNotification, &app());
        }
    }
}

void ApplicationLifecycle::terminate() {
    if (terminated_) return;
    terminated_ = true;
    auto keep = delegate_;
    if (keep) keep->applicationWillTerminate(app());
    NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification, &app());
}

namespace {
// The objects of the main interface file live as long as the process (they
// are not torn down at exit, after the toolkit has gone).
std::optional<InterfaceFile::Main>& mainObjects() {
    static auto* objects = new std::optional<InterfaceFile::Main>();
    return *objects;
}
}  // namespace

void ApplicationLifecycle::reset() {
    state_ = ApplicationState::Inactive;
    launched_ = false;
    terminated_ = false;
    delegate_.reset();
    // An application launched before goes with its launch: its screens (and
    // the banners on them) must not live on into what comes next.
    mainObjects().reset();
}

bool launchApplication(const std::string& mainInterface, std::string* error) {
    auto main = InterfaceFile::loadMain(mainInterface, error);
    if (!main) return false;
    mainObjects() = main;
    auto& lifecycle = ApplicationLifecycle::shared();
    lifecycle.setDelegate(main->delegate);
    lifecycle.finishLaunching();
    if (main->window && main->windowVisibleAtLaunch) {
        main->window->makeKeyAndVisible();
        lifecycle.setOnScreen(true);
    }
    return true;
}

bool launchApplication(std::shared_ptr<ApplicationDelegate> delegate, std::string* error) {
    if (!delegate) {
        if (error) *error = "no application delegate";
        return false;
    }
    auto& lifecycle = ApplicationLifecycle::shared();
    lifecycle.setDelegate(std::move(delegate));
    lifecycle.finishLaunching();
    if (Window::keyWindow()) lifecycle.setOnScreen(true);
    return true;
}

}  // namespace platform
