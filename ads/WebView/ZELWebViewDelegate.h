#pragma once
// Base delegate of every ad web view: where ad markup talks to the component.
// Every navigation passes through the decision below, which catches message
// URLs, serves the built-in messages, forwards the others, and sends links of
// other kinds to the opener. Pages come from outside: each kind of view hears
// only the messages meant for it, and its opener opens nothing without the
// user's own activation of the view.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Opener/ZELOpenerClient.h"
#include "platform/Value.h"
#include "platform/WeakPtr.h"
#include "platform/WebView.h"

namespace platform {
class ViewController;
}
class ZELClickTracker;
class ZELNotification;
class ZELOpener;
class ZELUserActivation;

// Name of the notification posted for every navigation an ad web view sees.
inline constexpr const char ZELWebViewDelegateDidReceiveWebAction[] = "didReceiveWebAction";

// The messages the pages of a kind of view may send.
enum class ZELMessageScope {
    None,         // the in-app browser: ordinary web pages, no messages at all
    RequestPage,  // the hidden page building the ad URL: its answers and "log"
    Banner,       // the ad: the messages ads use
    WebApp,       // the web-app page: those, and "evalInOpener" to its banner
};

class ZELWebViewDelegate : public platform::WebViewDelegate, public ZELOpenerClient {
public:
    explicit ZELWebViewDelegate(ZELMessageScope scope);
    ~ZELWebViewDelegate() override;
    ZELWebViewDelegate(const ZELWebViewDelegate&) = delete;
    ZELWebViewDelegate& operator=(const ZELWebViewDelegate&) = delete;

    std::shared_ptr<platform::ViewController> viewController() const { return viewController_.lock(); }
    void setViewController(std::weak_ptr<platform::ViewController> controller) {
        viewController_ = std::move(controller);
    }
    // The ad web view whose ad opened the screen this delegate serves; the
    // screens this page opens come from it too.
    std::shared_ptr<platform::WebView> openingWebView() const { return openingWebView_.lock(); }
    void setOpeningWebView(std::weak_ptr<platform::WebView> webView);
    ZELOpener& opener() const { return *opener_; }
    bool hasLoadedAtLeastOnce() const { return hasLoadedAtLeastOnce_; }
    ZELMessageScope messageScope() const { return scope_; }

    // Whether a page of a view of that kind may send the message. Names the
    // component does not know go to its own message center, from the ad and
    // the web-app page only.
    static bool scopeAllows(ZELMessageScope scope, std::string_view name);

    virtual void loadedFirstPage(platform::WebView& webView);

    bool webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request,
                                           platform::NavigationType type) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;

    // ZELOpenerClient: the user's activation of the view this delegate serves.
    bool mayOpen() override;
    void useActivation() override;
    bool shouldLogRefusal() override;

    void evaluateJavaScriptInOpener(const std::string& script, platform::WebView& askingWebView);
    void processCanOpenURLs(const std::vector<std::string>& urls, platform::WebView& webView);
    void trackURLString(const std::optional<std::string>& urlString, bool appendSpamSignals);
    void processTouchSignals(const platform::Dictionary& parameters);
    static int intForKey(const std::string& key, const platform::Dictionary& dictionary);

    // Tells the page the interface orientation through its window.orientation.
    static void notifyWebViewOfOrientationChange(platform::WebView& webView,
                                                 platform::InterfaceOrientation orientation);

    // "canOpenURLs" answers for at most this many addresses.
    static constexpr size_t kMaxCanOpenURLs = 16;

    const std::shared_ptr<ZELClickTracker>& tracker() const { return tracker_; }

protected:
    // A navigation the engine reports as the user's own gesture (a key or an
    // assistive action on a link) is an activation of the view, as a press is.
    void noteUserGesture(platform::WebView& webView);
    // A message the view may send that is none of the built-in ones: posted
    // on the component's own message center on the next turn. The request
    // page's delegate answers its owner instead.
    virtual void receiveMessage(platform::WebView& webView, const platform::URL& url, const ZELNotification& message);

private:
    void handleMessage(platform::WebView& webView, const platform::URL& url, platform::Dictionary& action);
    void postWebAction(platform::WebView& webView, const platform::Dictionary& action);
    ZELUserActivation* activation() const;

    const ZELMessageScope scope_;
    bool hasLoadedAtLeastOnce_ = false;
    bool refusalLogged_ = false;  // for a view without an activation (the request page)
    bool messageRefusalLogged_ = false;
    std::unique_ptr<ZELOpener> opener_;
    std::shared_ptr<ZELClickTracker> tracker_;
    std::weak_ptr<platform::ViewController> viewController_;
    std::weak_ptr<platform::WebView> openingWebView_;
    std::weak_ptr<platform::View> servedView_;  // the view whose navigations this decides
    platform::WeakPtrFactory<ZELWebViewDelegate> weakFactory_{this};
};
