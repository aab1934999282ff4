#pragma once
// Sends what an ad asks to open where it belongs. The destinations (in-app
// browser, web-app screen, mail composer, other applications) arrive with the
// full-screen screens; until then the opener takes the calls and keeps the
// context it is given.

#include <memory>
#include <optional>
#include <string>

#include "platform/URL.h"

namespace platform {
class ViewController;
class WebView;
}  // namespace platform
class ZELDelegateManager;
class ZELNotification;
class ZELObjectPrivate;

class ZELOpener {
public:
    enum Orientation : int { kOrientationAny = 1, kOrientationPortrait = 2, kOrientationLandscape = 3 };

    const std::shared_ptr<ZELDelegateManager>& delegateManager() const { return delegateManager_; }
    void setDelegateManager(std::shared_ptr<ZELDelegateManager> manager) { delegateManager_ = std::move(manager); }
    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> controller) {
        viewController_ = std::move(controller);
    }
    const std::optional<platform::URL>& referringURL() const { return referringURL_; }
    void setReferringURL(std::optional<platform::URL> url) { referringURL_ = std::move(url); }
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView) { openingWebView_ = std::move(webView); }
    std::shared_ptr<ZELObjectPrivate> adController() const { return adController_.lock(); }
    void setAdController(std::weak_ptr<ZELObjectPrivate> controller) { adController_ = std::move(controller); }

    void openNotification(const ZELNotification& notification);
    void openBrowserToURL(const std::optional<platform::URL>& url, int supportedOrientations);
    void openWebApp(const std::optional<platform::URL>& url, int supportedOrientations);
    void openWebAppWithHTML(const std::optional<std::string>& html, int supportedOrientations);
    void openApp(const std::optional<platform::URL>& url);
    void openEmailComposer(const std::optional<platform::URL>& url);
    void didOpen();

    // What the last call asked for; lets the application shell and tests see
    // the opener was reached while the destinations are not there yet.
    const std::string& lastRequest() const { return lastRequest_; }

private:
    std::shared_ptr<ZELDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::optional<platform::URL> referringURL_;
    std::weak_ptr<platform::WebView> openingWebView_;
    std::weak_ptr<ZELObjectPrivate> adController_;
    std::string lastRequest_;
};
