#pragma once
// The in-app browser's page delegate: measures the landing page for the
// statistics, counts the user's page navigations and keeps the browser's
// toolbar in step with every load.

#include <memory>

#include "WebView/ZELWebViewDelegate.h"

class ZELBrowserController;

class ZELBrowserWebViewDelegate : public ZELWebViewDelegate {
public:
    // Its pages are ordinary web pages: they send no messages.
    ZELBrowserWebViewDelegate() : ZELWebViewDelegate(ZELMessageScope::None) {}
    static std::shared_ptr<ZELBrowserWebViewDelegate> initWithBrowserController(
        const std::shared_ptr<ZELBrowserController>& browser);

    bool webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request,
                                           platform::NavigationType type) override;
    void webViewDidStartLoad(platform::WebView& webView) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;

private:
    void refreshToolbar() const;
    std::weak_ptr<ZELBrowserController> browserController_;
};
