#include "Browser/ZELBrowserWebViewDelegate.h"

#include "Browser/ZELBrowserController.h"
#include "Statistics/ZELStatistics.h"

std::shared_ptr<ZELBrowserWebViewDelegate> ZELBrowserWebViewDelegate::initWithBrowserController(
    const std::shared_ptr<ZELBrowserController>& browser) {
    auto delegate = std::make_shared<ZELBrowserWebViewDelegate>();
    delegate->browserController_ = browser;
    return delegate;
}

void ZELBrowserWebViewDelegate::refreshToolbar() const {
    if (auto browser = browserController_.lock()) browser->refreshToolbar();
}

bool ZELBrowserWebViewDelegate::webViewShouldStartLoadWithRequest(platform::WebView& webView,
                                                                  const platform::URLRequest& request,
                                                                  platform::NavigationType type) {
    // Only what the user did counts: links followed and forms sent.
    if (type == platform::NavigationType::LinkClicked || type == platform::NavigationType::FormSubmitted) {
        const std::string scheme = platform::toLowerASCII(request.url.scheme());
        auto statistics = ZELStatistics::sharedStatistics();
        if (scheme == "http") statistics->incrementPageNavigationCount();
        if (scheme == "https") statistics->incrementSSLPageNavigationCount();
    }
    return ZELWebViewDelegate::webViewShouldStartLoadWithRequest(webView, request, type);
}

void ZELBrowserWebViewDelegate::webViewDidStartLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidStartLoad();
    ZELWebViewDelegate::webViewDidStartLoad(webView);
    refreshToolbar();
}

void ZELBrowserWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidFinishLoad();
    ZELWebViewDelegate::webViewDidFinishLoad(webView);
    refreshToolbar();
}

void ZELBrowserWebViewDelegate::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) {
    ZELWebViewDelegate::webViewDidFailLoadWithError(webView, error);
    refreshToolbar();
}
