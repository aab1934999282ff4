#include "Delegate/ZELDelegateManager.h"

#include "platform/RunLoop.h"

std::shared_ptr<ZELDelegateManager> ZELDelegateManager::create() {
    return std::shared_ptr<ZELDelegateManager>(new ZELDelegateManager());
}

void ZELDelegateManager::didReceiveAd() { raise(ZELDelegateOperation::DidReceiveAd, nullptr); }

void ZELDelegateManager::didFailToReceiveAdWithError(const ZELRequestError& error) {
    raise(ZELDelegateOperation::DidFailToReceiveAd, &error);
}

void ZELDelegateManager::willPresentScreen() { raise(ZELDelegateOperation::WillPresentScreen, nullptr); }

void ZELDelegateManager::willDismissScreen() { raise(ZELDelegateOperation::WillDismissScreen, nullptr); }

void ZELDelegateManager::didDismissScreen() { raise(ZELDelegateOperation::DidDismissScreen, nullptr); }

void ZELDelegateManager::willLeaveApplication() { raise(ZELDelegateOperation::WillLeaveApplication, nullptr); }

bool ZELDelegateManager::didYouNilOutYourDelegate(const std::shared_ptr<ZELOptionalOperations>& listener,
                                                  ZELDelegateOperation operation) {
    return listener && listener->respondsToOperation(operation);
}

void ZELDelegateManager::raise(ZELDelegateOperation operation, const ZELRequestError* error) {
    // A listener may drop the banner (and with it the controller that owns us)
    // inside its callback: held for the call, as each listener is by the
    // reference that calls it. One being destroyed (or never shared) has
    // nothing safe to deliver from.
    const auto self = platform::protectForCall(*this);
    if (!self) return;

    platform::RunLoop& loop = platform::RunLoop::main();
    if (!loop.isMainThread()) {
        // The raiser waits, so the error it handed us outlives the call.
        loop.performOnMainThread([self, operation, error] { self->deliver(operation, error); }, true);
        return;
    }
    deliver(operation, error);
}

void ZELDelegateManager::deliver(ZELDelegateOperation operation, const ZELRequestError* error) {
    if (std::shared_ptr<ZELBannerViewDelegate> delegate = bannerDelegate_.lock();
        didYouNilOutYourDelegate(delegate, operation)) {
        std::shared_ptr<ZELBannerView> view = adView_.lock();
        switch (operation) {
        case ZELDelegateOperation::DidReceiveAd: delegate->adViewDidReceiveAd(view); break;
        case ZELDelegateOperation::DidFailToReceiveAd: delegate->adViewDidFailToReceiveAdWithError(view, *error); break;
        case ZELDelegateOperation::WillPresentScreen: delegate->adViewWillPresentScreen(view); break;
        case ZELDelegateOperation::WillDismissScreen: delegate->adViewWillDismissScreen(view); break;
        case ZELDelegateOperation::DidDismissScreen: delegate->adViewDidDismissScreen(view); break;
        case ZELDelegateOperation::WillLeaveApplication: delegate->adViewWillLeaveApplication(view); break;
        }
    }

    // The component's own interstitial listener hears first, then the
    // application's.
    for (const std::weak_ptr<ZELInterstitialDelegate>* slot : {&sdkInterstitialDelegate_, &interstitialDelegate_}) {
        std::shared_ptr<ZELInterstitialDelegate> delegate = slot->lock();
        if (!didYouNilOutYourDelegate(delegate, operation)) continue;
        std::shared_ptr<ZELInterstitial> interstitial = interstitial_.lock();
        switch (operation) {
        case ZELDelegateOperation::DidReceiveAd: delegate->interstitialDidReceiveAd(interstitial); break;
        case ZELDelegateOperation::DidFailToReceiveAd:
            delegate->interstitialDidFailToReceiveAdWithError(interstitial, *error);
            break;
        case ZELDelegateOperation::WillPresentScreen: delegate->interstitialWillPresentScreen(interstitial); break;
        case ZELDelegateOperation::WillDismissScreen: delegate->interstitialWillDismissScreen(interstitial); break;
        case ZELDelegateOperation::DidDismissScreen: delegate->interstitialDidDismissScreen(interstitial); break;
        case ZELDelegateOperation::WillLeaveApplication:
            delegate->interstitialWillLeaveApplication(interstitial);
            break;
        }
    }
}
