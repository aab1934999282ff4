#pragma once
// The web-app screen's page delegate: measures the landing page, takes the
// spinner away after the first page, and tells the page once that it is on
// screen ("onshow"). When the screen goes it lets the page run on for two
// more seconds, so callbacks in flight still find a delegate, then empties it.

#include <memory>

#include "WebView/ZELWebViewDelegate.h"

class ZELWebAppViewControllerPrivate;
class ZELWebView;

class ZELWebAppWebViewDelegate : public ZELWebViewDelegate {
public:
    ZELWebAppWebViewDelegate() : ZELWebViewDelegate(ZELMessageScope::WebApp) {}
    static std::shared_ptr<ZELWebAppWebViewDelegate> initWithWebAppPrivate(
        const std::shared_ptr<ZELWebAppViewControllerPrivate>& webAppPrivate);

    bool pendingOnShow() const { return pendingOnShow_; }
    // True when the screen has appeared: the page is told at once unless it
    // is still loading, then when it finishes. False when the screen goes.
    void setPendingOnShow(bool pending);
    void postOnShowEvent();
    bool hasCalledOnShow() const { return calledOnShow_; }

    void loadedFirstPage(platform::WebView& webView) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;

    // The screen's state is going: the delegate lets go of it now and of the
    // page (emptied) and itself after the delay.
    static void releaseWithWebView(std::shared_ptr<ZELWebAppWebViewDelegate> delegate,
                                   std::shared_ptr<ZELWebView> webView);
    static void delayedRelease(ZELWebAppWebViewDelegate& delegate, ZELWebView& webView);
    static constexpr double kReleaseDelay = 2.0;

private:
    std::weak_ptr<ZELWebAppViewControllerPrivate> webAppPrivate_;
    bool pendingOnShow_ = false;
    bool calledOnShow_ = false;
};
