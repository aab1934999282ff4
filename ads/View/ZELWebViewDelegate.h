#pragma once
// Base delegate of every ad web view: where ad markup talks to the component.
// Every navigation passes through the decision below, which catches message
// URLs, serves the built-in messages, forwards the others, and sends links of
// other kinds to the opener.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Value.h"
#include "platform/WeakPtr.h"
#include "platform/WebView.h"

namespace platform {
class ViewController;
}
class ZELClickTracker;
class ZELOpener;

// Name of the notification posted for every navigation an ad web view sees.
inline constexpr const char ZELWebViewDelegateDidReceiveWebAction[] = "didReceiveWebAction";

class ZELWebViewDelegate : public platform::WebViewDelegate {
public:
    ZELWebViewDelegate();
    ~ZELWebViewDelegate() override;
    ZELWebViewDelegate(const ZELWebViewDelegate&) = delete;
    ZELWebViewDelegate& operator=(const ZELWebViewDelegate&) = delete;

    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> controller) {
        viewController_ = std::move(controller);
    }
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView) { openingWebView_ = std::move(webView); }
    ZELOpener& opener() const { return *opener_; }
    bool hasLoadedAtLeastOnce() const { return hasLoadedAtLeastOnce_; }

    virtual void loadedFirstPage(platform::WebView& webView);

    bool webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request,
                                           platform::NavigationType type) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;

    void evaluateJavaScriptInOpener(const std::string& script, platform::WebView& askingWebView);
    void processCanOpenURLs(const std::vector<std::string>& urls, platform::WebView& webView);
    void trackURLString(const std::optional<std::string>& urlString, bool appendSpamSignals);
    void processTouchSignals(const platform::Dictionary& parameters);
    static int intForKey(const std::string& key, const platform::Dictionary& dictionary);

    // Tells the page the interface orientation through its window.orientation.
    static void notifyWebViewOfOrientationChange(platform::WebView& webView,
                                                 platform::InterfaceOrientation orientation);

    const std::shared_ptr<ZELClickTracker>& tracker() const { return tracker_; }

private:
    bool handleMessage(platform::WebView& webView, const platform::URL& url, platform::Dictionary& action);
    void postWebAction(platform::WebView& webView, const platform::Dictionary& action);

    bool hasLoadedAtLeastOnce_ = false;
    std::unique_ptr<ZELOpener> opener_;
    std::shared_ptr<ZELClickTracker> tracker_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::weak_ptr<platform::WebView> openingWebView_;
    platform::WeakPtrFactory<ZELWebViewDelegate> weakFactory_{this};
};
