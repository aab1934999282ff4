#pragma once
// Delegate of the banner's visible ad web view: tells the ad controller when
// the markup has loaded or failed, and tells a user's click on the ad from
// the page's own navigations, so that a click opens full screen instead of
// inside the small banner.

#include <memory>
#include <vector>

#include "WebView/ZELWebViewDelegate.h"

class ZELObjectPrivate;

class ZELBannerWebViewDelegate : public ZELWebViewDelegate {
public:
    // Makes itself the delegate of the controller's web view.
    static std::shared_ptr<ZELBannerWebViewDelegate> initWithObjectPrivate(const std::shared_ptr<ZELObjectPrivate>& controller);
    ~ZELBannerWebViewDelegate() override;

    // A navigation within this many seconds of the ad being shown is never a click.
    static constexpr double kMinimumSecondsBeforeClick = 0.15;

    bool isClick(platform::NavigationType type) const;

    // The ad's click-tracking URLs, reported by the opener when it opened
    // something.
    std::vector<platform::URL> pendingClickURLs() const override;
    void trackURLs(const std::vector<platform::URL>& urls) override;

    bool webViewShouldStartLoadWithRequest(platform::WebView& webView, const platform::URLRequest& request,
                                           platform::NavigationType type) override;
    void webViewDidFinishLoad(platform::WebView& webView) override;
    void webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) override;
    void webViewWebProcessDidTerminate(platform::WebView& webView) override;

private:
    ZELBannerWebViewDelegate() : ZELWebViewDelegate(ZELMessageScope::Banner) {}
    std::shared_ptr<ZELObjectPrivate> controllerForThisTurn() const;
    std::weak_ptr<ZELObjectPrivate> private_;
    std::weak_ptr<platform::WebView> webView_;
};
