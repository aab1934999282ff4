#pragma once
// What a listener hears about an interstitial. Implement any subset. This
// application shows banners only, so the interstitial slots of the delegate
// manager normally stay empty.

#include <memory>

#include "Delegate/ZELDelegateOperation.h"

class ZELInterstitial;
class ZELRequestError;

class ZELInterstitialDelegate : public ZELOptionalOperations {
public:
    virtual void interstitialDidReceiveAd(const std::shared_ptr<ZELInterstitial>& interstitial) {
        (void)interstitial;
        markNotImplemented(ZELDelegateOperation::DidReceiveAd);
    }
    virtual void interstitialDidFailToReceiveAdWithError(const std::shared_ptr<ZELInterstitial>& interstitial,
                                                         const ZELRequestError& error) {
        (void)interstitial;
        (void)error;
        markNotImplemented(ZELDelegateOperation::DidFailToReceiveAd);
    }
    virtual void interstitialWillPresentScreen(const std::shared_ptr<ZELInterstitial>& interstitial) {
        (void)interstitial;
        markNotImplemented(ZELDelegateOperation::WillPresentScreen);
    }
    virtual void interstitialWillDismissScreen(const std::shared_ptr<ZELInterstitial>& interstitial) {
        (void)interstitial;
        markNotImplemented(ZELDelegateOperation::WillDismissScreen);
    }
    virtual void interstitialDidDismissScreen(const std::shared_ptr<ZELInterstitial>& interstitial) {
        (void)interstitial;
        markNotImplemented(ZELDelegateOperation::DidDismissScreen);
    }
    virtual void interstitialWillLeaveApplication(const std::shared_ptr<ZELInterstitial>& interstitial) {
        (void)interstitial;
        markNotImplemented(ZELDelegateOperation::WillLeaveApplication);
    }
};
