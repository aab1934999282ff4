#pragma once
// Delegate of the banner's visible ad web view: tells the ad controller when
// the markup has loaded or failed, and tells a user's click on the ad from
// the page's own navigations, so that a click opens full screen instead of
// inside the small banner.

#include <memory>
#include <vector>

#include "ViewController/ZELOrientationSetting.h"
#include "WebView/ZELWebViewDelegate.h"

class ZELDelegateManager;
class ZELWebView;

// What the banner's page delegate asks of the ad controller behind it, and
// tells it.
class ZELBannerAd {
public:
    virtual ~ZELBannerAd() = default;
    // Whether an ad is on show (not loading, not failed), and since when
    // (ZELTiming's clock).
    virtual bool isShowingAd() const = 0;
    virtual double timeLastLoaded() const = 0;
    virtual ZELOrientationSetting supportedOrientations() const = 0;
    virtual std::shared_ptr<platform::ViewController> rootViewController() const = 0;
    virtual const std::shared_ptr<ZELDelegateManager>& delegateManager() const = 0;
    virtual std::vector<platform::URL> pendingClickURLs() const = 0;
    virtual void trackURLs(const std::vector<platform::URL>& urls) = 0;
    // The page's own events.
    virtual void adPageDidFinishLoad() = 0;
    virtual void adPageDidFailLoad() = 0;
    virtual void adPageProcessDidTerminate() = 0;
};

class ZELBannerWebViewDelegate : public ZELWebViewDelegate {
public:
    // Makes itself the delegate of the ad's web view. Neither is retained.
    static std::shared_ptr<ZELBannerWebViewDelegate> initWithAd(std::weak_ptr<ZELBannerAd> ad,
                                                                const std::shared_ptr<ZELWebView>& webView);
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
    bool hasActivation() const;
    std::weak_ptr<ZELBannerAd> ad_;
    std::weak_ptr<ZELWebView> webView_;
};
