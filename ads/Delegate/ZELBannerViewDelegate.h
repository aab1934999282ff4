#pragma once
// What the application hears about its banner. Implement any subset.

#include <memory>

#include "Delegate/ZELDelegateOperation.h"

class ZELBannerView;
class ZELRequestError;

class ZELBannerViewDelegate : public ZELOptionalOperations {
public:
    // bannerView may be null when the banner has already gone.
    virtual void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>& bannerView) {
        (void)bannerView;
        markNotImplemented(ZELDelegateOperation::DidReceiveAd);
    }
    virtual void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>& bannerView,
                                                   const ZELRequestError& error) {
        (void)bannerView;
        (void)error;
        markNotImplemented(ZELDelegateOperation::DidFailToReceiveAd);
    }
    virtual void adViewWillPresentScreen(const std::shared_ptr<ZELBannerView>& bannerView) {
        (void)bannerView;
        markNotImplemented(ZELDelegateOperation::WillPresentScreen);
    }
    virtual void adViewWillDismissScreen(const std::shared_ptr<ZELBannerView>& bannerView) {
        (void)bannerView;
        markNotImplemented(ZELDelegateOperation::WillDismissScreen);
    }
    virtual void adViewDidDismissScreen(const std::shared_ptr<ZELBannerView>& bannerView) {
        (void)bannerView;
        markNotImplemented(ZELDelegateOperation::DidDismissScreen);
    }
    virtual void adViewWillLeaveApplication(const std::shared_ptr<ZELBannerView>& bannerView) {
        (void)bannerView;
        markNotImplemented(ZELDelegateOperation::WillLeaveApplication);
    }
};
