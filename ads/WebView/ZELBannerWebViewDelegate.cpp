#include "WebView/ZELBannerWebViewDelegate.h"

#include "Notification/ZELNotification.h"
#include "Opener/ZELOpener.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "WebView/ZELWebView.h"
#include "platform/Services.h"
#include "platform/ViewController.h"

std::shared_ptr<ZELBannerWebViewDelegate> ZELBannerWebViewDelegate::initWithAd(
    std::weak_ptr<ZELBannerAd> ad, const std::shared_ptr<ZELWebView>& webView) {
    std::shared_ptr<ZELBannerWebViewDelegate> delegate(new ZELBannerWebViewDelegate());
    delegate->ad_ = std::move(ad);
    if (webView) {
        delegate->webView_ = webView;
        webView->setDelegate(delegate);
        // The screens the ad opens come from it.
        delegate->opener().setOpeningWebView(webView);
    }
    return delegate;
}

ZELBannerWebViewDelegate::~ZELBannerWebViewDelegate() {
    // Our own weak reference has expired by now: clear it unless another
    // delegate took the web view over.
    if (auto webView = webView_.lock(); webView && !webView->delegate()) webView->setDelegate({});
}

bool ZELBannerWebViewDelegate::hasActivation() const {
    auto webView = webView_.lock();
    return webView && webView->userActivation().isActive();
}

bool ZELBannerWebViewDelegate::isClick(platform::NavigationType type) const {
    auto ad = ad_.lock();
    if (!ad || !ad->isShowingAd()) return false;
    if (ZELTiming::counter() - ad->timeLastLoaded() < kMinimumSecondsBeforeClick) return false;
    if (type == platform::NavigationType::BackForward || type == platform::NavigationType::Reload) return false;
    // Touched, by a press or a key: the user's activation, not used up yet.
    return hasActivation();
}

std::vector<platform::URL> ZELBannerWebViewDelegate::pendingClickURLs() const {
    auto ad = ad_.lock();
    return ad ? ad->pendingClickURLs() : std::vector<platform::URL>();
}

void ZELBannerWebViewDelegate::trackURLs(const std::vector<platform::URL>& urls) {
    if (auto ad = ad_.lock()) ad->trackURLs(urls);
}

bool ZELBannerWebViewDelegate::webViewShouldStartLoadWithRequest(platform::WebView& webView,
                                                                 const platform::URLRequest& request,
                                                                 platform::NavigationType type) {
    // Held for the call: the application may let the banner go from a
    // callback this navigation causes.
    auto ad = ad_.lock();
    if (!ad) return false;
    setViewController(ad->rootViewController());
    opener().setDelegateManager(ad->delegateManager());
    opener().setViewController(ad->rootViewController());

    // A key pressed on the ad's link goes where a tap goes.
    noteUserGesture(webView);
    if (!isClick(type)) {
        // What the page asks under the user's gesture once the activation is
        // used up (a second window, a second link while handling the one
        // tap) is neither a click nor the page's own navigation.
        if (webView.navigationHasUserGesture() && !ZELNotification::isNotificationURL(request.url) && webView_.lock() &&
            !hasActivation()) {
            if (shouldLogRefusal())
                platform::log("<Nimbra> The ad asked for more than one opening per activation; refused.");
            return false;
        }
        return ZELWebViewDelegate::webViewShouldStartLoadWithRequest(webView, request, type);
    }

    auto statistics = ZELStatistics::sharedStatistics();
    const auto clickURL = statistics->clickURL(request.url);
    const unsigned openings = opener().openings();
    if (ZELWebViewDelegate::webViewShouldStartLoadWithRequest(webView, request, type)) {
        auto current = webView.request();
        opener().setReferringURL(current ? std::optional<platform::URL>(current->url) : std::nullopt);
        if (clickURL && platform::toLowerASCII(clickURL->scheme()).rfind("http", 0) == 0) {
            const ZELOrientationSetting orientations = ad->supportedOrientations();
            if (!ad->pendingClickURLs().empty()) {
                opener().openWebApp(clickURL, orientations);
            } else {
                opener().openBrowserToURL(clickURL, orientations);
            }
        }
    }
    // Counted only when it opened something (a screen, the composer, another
    // application); an "open" message counted itself.
    if (opener().openings() > openings) statistics->countClick(request.url);
    return false;  // a click never navigates the banner itself
}

void ZELBannerWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    ZELWebViewDelegate::webViewDidFinishLoad(webView);
    if (auto ad = ad_.lock()) ad->adPageDidFinishLoad();
}

void ZELBannerWebViewDelegate::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) {
    ZELWebViewDelegate::webViewDidFailLoadWithError(webView, error);
    if (auto ad = ad_.lock()) ad->adPageDidFailLoad();
}

void ZELBannerWebViewDelegate::webViewWebProcessDidTerminate(platform::WebView& webView) {
    ZELWebViewDelegate::webViewWebProcessDidTerminate(webView);
    if (auto ad = ad_.lock()) ad->adPageProcessDidTerminate();
}
