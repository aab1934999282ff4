#pragma once
// The state of a full-screen ad screen, owned by the screen (made by its
// createPrivateData). Subclasses of the screen extend it with their own
// fields; it is shared so that a page's delegate may outlive the screen.

#include <memory>

#include "Delegate/ZELDelegateManager.h"
#include "ViewController/ZELOrientationSetting.h"
#include "platform/RunLoop.h"
#include "platform/WebView.h"

class ZELViewController;

class ZELViewControllerPrivate {
public:
    virtual ~ZELViewControllerPrivate() = default;

    ZELOrientationSetting supportedOrientations() const { return supportedOrientations_; }
    void setSupportedOrientations(ZELOrientationSetting setting) { supportedOrientations_ = setting; }
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView) { openingWebView_ = std::move(webView); }
    // A new, empty manager when none was set.
    const std::shared_ptr<ZELDelegateManager>& delegateManager();
    void setDelegateManager(std::shared_ptr<ZELDelegateManager> manager) { delegateManager_ = std::move(manager); }
    bool statusBarWasHidden() const { return statusBarWasHidden_; }
    void setStatusBarWasHidden(bool hidden) { statusBarWasHidden_ = hidden; }
    bool publisherIdleTimerDisabled() const { return publisherIdleTimerDisabled_; }
    void setPublisherIdleTimerDisabled(bool disabled) { publisherIdleTimerDisabled_ = disabled; }
    // When set, the screen's disappearance is reported as leaving the application.
    bool appClosing() const { return appClosing_; }
    void setAppClosing(bool closing) { appClosing_ = closing; }
    bool interactingWithParent() const { return interactingWithParent_; }
    void setInteractingWithParent(bool interacting) { interactingWithParent_ = interacting; }

private:
    friend class ZELViewController;

    ZELOrientationSetting supportedOrientations_ = kZELOrientationAny;
    std::weak_ptr<platform::WebView> openingWebView_;
    std::shared_ptr<ZELDelegateManager> delegateManager_;
    bool statusBarWasHidden_ = false;
    bool publisherIdleTimerDisabled_ = false;
    bool appClosing_ = false;
    bool interactingWithParent_ = false;

    // The screen keeps itself while it is on screen (given up when it goes).
    std::shared_ptr<ZELViewController> onScreen_;
    // Whether the screen was ever put up, and whether over the application's
    // own controller (the first ad screen of a stack): remembered for when it
    // is gone. A screen that never showed reports nothing.
    bool presented_ = false;
    bool presentedFirst_ = false;
    // The full-screen notifications come in pairs: true between the two.
    bool coveringApplication_ = false;
    platform::OneShotTimer secondAppearance_;
};
