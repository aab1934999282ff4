#pragma once
// Sends what an ad asks to open where it belongs: the in-app browser, the
// web-app screen, the mail composer or another application.

#include <memory>
#include <optional>
#include <string>

#include "ViewController/ZELOrientationSetting.h"
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
    const std::shared_ptr<ZELDelegateManager>& delegateManager() const { return delegateManager_; }
    void setDelegateManager(std::shared_ptr<ZELDelegateManager> manager) { delegateManager_ = std::move(manager); }
    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> controller) {
        viewController_ = std::move(controller);
    }
    const std::optional<platform::URL>& referringURL() const { return referringURL_; }
    void setReferringURL(std::optional<platform::URL> url) { referringURL_ = std::move(url); }
    // The ad web view the opened screens come from (handed to them).
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView) { openingWebView_ = std::move(webView); }
    // Set for a banner's opener only: the ad whose clicks it reports.
    std::shared_ptr<ZELObjectPrivate> adController() const { return adController_.lock(); }
    void setAdController(std::weak_ptr<ZELObjectPrivate> controller) { adController_ = std::move(controller); }

    void openNotification(const ZELNotification& notification);
    void openBrowserToURL(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations);
    void openWebApp(const std::optional<platform::URL>& url, ZELOrientationSetting supportedOrientations);
    void openWebAppWithHTML(const std::optional<std::string>& html, ZELOrientationSetting supportedOrientations);
    void openApp(const std::optional<platform::URL>& url);
    void openEmailComposer(const std::optional<platform::URL>& url);
    void didOpen();

    // The orientation an "open" message asks for: "p" portrait, "l" landscape,
    // anything else any.
    static ZELOrientationSetting orientationFromCode(const std::optional<std::string>& code);

private:
    // A banner's ad opens nothing the user did not ask for with a tap.
    bool mayOpenFromAd() const;

    std::shared_ptr<ZELDelegateManager> delegateManager_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::optional<platform::URL> referringURL_;
    std::weak_ptr<platform::WebView> openingWebView_;
    std::weak_ptr<ZELObjectPrivate> adController_;
};
