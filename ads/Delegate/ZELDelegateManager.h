#pragma once
// The one place from which the component calls the application back. Each
// ad controller owns one. Events may be raised on any thread; listeners are
// always called on the main thread, and a raiser on another thread waits until
// the listeners have run.

#include <memory>

#include "Delegate/ZELBannerViewDelegate.h"
#include "Delegate/ZELInterstitialDelegate.h"
#include "Request/ZELRequestError.h"

class ZELDelegateManager : public std::enable_shared_from_this<ZELDelegateManager> {
public:
    // Always shared: an event keeps the manager alive while it is delivered.
    static std::shared_ptr<ZELDelegateManager> create();

    ZELDelegateManager(const ZELDelegateManager&) = delete;
    ZELDelegateManager& operator=(const ZELDelegateManager&) = delete;

    // None of these is retained.
    std::weak_ptr<ZELBannerViewDelegate> bannerDelegate() const { return bannerDelegate_; }
    void setBannerDelegate(std::weak_ptr<ZELBannerViewDelegate> delegate) { bannerDelegate_ = std::move(delegate); }
    std::weak_ptr<ZELBannerView> adView() const { return adView_; }
    void setAdView(std::weak_ptr<ZELBannerView> view) { adView_ = std::move(view); }
    std::weak_ptr<ZELInterstitialDelegate> interstitialDelegate() const { return interstitialDelegate_; }
    void setInterstitialDelegate(std::weak_ptr<ZELInterstitialDelegate> delegate) {
        interstitialDelegate_ = std::move(delegate);
    }
    std::weak_ptr<ZELInterstitial> interstitial() const { return interstitial_; }
    void setInterstitial(std::weak_ptr<ZELInterstitial> interstitial) { interstitial_ = std::move(interstitial); }
    std::weak_ptr<ZELInterstitialDelegate> sdkInterstitialDelegate() const { return sdkInterstitialDelegate_; }
    void setSdkInterstitialDelegate(std::weak_ptr<ZELInterstitialDelegate> delegate) {
        sdkInterstitialDelegate_ = std::move(delegate);
    }

    void didReceiveAd();
    void didFailToReceiveAdWithError(const ZELRequestError& error);
    void willPresentScreen();
    void willDismissScreen();
    void didDismissScreen();
    void willLeaveApplication();

    // Whether the listener implements the operation (no listener: false).
    static bool didYouNilOutYourDelegate(const std::shared_ptr<ZELOptionalOperations>& listener,
                                         ZELDelegateOperation operation);

private:
    ZELDelegateManager() = default;

    // Runs one event: on the main thread at once, otherwise carried there while
    // the caller waits.
    void raise(ZELDelegateOperation operation, const ZELRequestError* error);
    void deliver(ZELDelegateOperation operation, const ZELRequestError* error);

    std::weak_ptr<ZELBannerViewDelegate> bannerDelegate_;
    std::weak_ptr<ZELBannerView> adView_;
    std::weak_ptr<ZELInterstitialDelegate> interstitialDelegate_;
    std::weak_ptr<ZELInterstitial> interstitial_;
    std::weak_ptr<ZELInterstitialDelegate> sdkInterstitialDelegate_;
};
