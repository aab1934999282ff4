#include "WebApp/ZELWebAppWebViewDelegate.h"

#include "Notification/ZELNotificationCenter.h"
#include "Request/ZELRequest.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "WebView/ZELWebView.h"
#include "WebApp/ZELWebAppViewControllerPrivate.h"
#include "platform/RunLoop.h"

std::shared_ptr<ZELWebAppWebViewDelegate> ZELWebAppWebViewDelegate::initWithWebAppPrivate(
    const std::shared_ptr<ZELWebAppViewControllerPrivate>& webAppPrivate) {
    auto delegate = std::make_shared<ZELWebAppWebViewDelegate>();
    delegate->webAppPrivate_ = webAppPrivate;
    return delegate;
}

void ZELWebAppWebViewDelegate::setPendingOnShow(bool pending) {
    pendingOnShow_ = pending;
    auto screen = webAppPrivate_.lock();
    if (screen && screen->webView_ && !screen->webView_->isLoading()) postOnShowEvent();
}

void ZELWebAppWebViewDelegate::postOnShowEvent() {
    if (!pendingOnShow_ || calledOnShow_) return;
    auto screen = webAppPrivate_.lock();
    if (!screen || !screen->webView_) return;
    platform::Dictionary payload{{"version", platform::Value(ZELRequest::sdkVersion())}};
    if (auto device = ZELIdentifierUtilities::sharedInstance().deviceSubmodel())
        payload["device"] = platform::Value(*device);
    pendingOnShow_ = false;
    calledOnShow_ = true;
    ZELNotificationCenter::postJSNotification("onshow", payload, *screen->webView_);
}

void ZELWebAppWebViewDelegate::loadedFirstPage(platform::WebView&) {
    auto screen = webAppPrivate_.lock();
    if (!screen || !screen->loadingSpinner_) return;
    screen->loadingSpinner_->removeFromSuperview();
    screen->loadingSpinner_.reset();
}

void ZELWebAppWebViewDelegate::webViewDidStartLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidStartLoad();
    ZELWebViewDelegate::webViewDidStartLoad(webView);
}

void ZELWebAppWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidFinishLoad();
    ZELWebViewDelegate::webViewDidFinishLoad(webView);
    postOnShowEvent();
}

void ZELWebAppWebViewDelegate::releaseWithWebView(std::shared_ptr<ZELWebAppWebViewDelegate> delegate,
                                                  std::shared_ptr<ZELWebView> webView) {
    if (!delegate) return;
    delegate->setViewController({});
    delegate->webAppPrivate_.reset();
    delegate->pendingOnShow_ = false;
    if (!webView) return;
    // The task holds both for the delay; nothing else does.
    platform::RunLoop::main().postDelayedTask(kReleaseDelay, [delegate = std::move(delegate),
                                                              webView = std::move(webView)] {
        delayedRelease(*delegate, *webView);
    });
}

void ZELWebAppWebViewDelegate::delayedRelease(ZELWebAppWebViewDelegate&, ZELWebView& webView) {
    webView.setDelegate({});
    // An empty page stops whatever sound or script the web app still ran.
    webView.loadHTMLString("", std::nullopt);
}
