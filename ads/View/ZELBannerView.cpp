#include "View/ZELBannerView.h"

#include "Delegate/ZELDelegateManager.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "platform/Localization.h"
#include "platform/Services.h"
#include "platform/ViewController.h"

ZELBannerView::ZELBannerView(const platform::Rect& frame) : platform::View(frame) {}

std::shared_ptr<ZELBannerView> ZELBannerView::initWithFrame(const platform::Rect& frame) {
    std::shared_ptr<ZELBannerView> banner(new ZELBannerView(frame));
    banner->commonInitializer();
    return banner;
}

void ZELBannerView::commonInitializer() {
    if (private_) return;
    setBackgroundColor(platform::Color::clear());
    // Read as what it is, whatever the ad inside says.
    setAccessibilityRole(platform::AccessibilityRole::Advertisement);
    setAccessibilityLabel(platform::localized("Advertisement"));
    private_ = ZELObjectPrivate::initWithView(*this);
    // Reloads and impressions wait while nobody can see the banner.
    setWatchesVisibility(true);
}

void ZELBannerView::visibilityDidChange() {
    if (private_) private_->setVisible(isVisibleOnScreen());
}

void ZELBannerView::setReloadsWhileHidden(bool reloads) {
    if (private_) private_->setReloadsWhileHidden(reloads);
}

ZELBannerView::~ZELBannerView() {
    // Gone here, while the banner is still whole: it takes its web view out
    // of the banner.
    if (auto controller = std::move(private_)) controller->cancelPendingActions();
}

std::string ZELBannerView::adUnitID() const { return private_ ? private_->adUnitID() : std::string(); }

void ZELBannerView::setAdUnitID(const std::string& adUnitID) {
    if (private_) private_->setAdUnitID(adUnitID);
}

std::shared_ptr<platform::ViewController> ZELBannerView::rootViewController() const {
    return private_ ? private_->rootViewController() : nullptr;
}

void ZELBannerView::setRootViewController(std::weak_ptr<platform::ViewController> rootViewController) {
    if (private_) private_->setRootViewController(std::move(rootViewController));
}

std::shared_ptr<ZELBannerViewDelegate> ZELBannerView::delegate() const {
    return private_ ? private_->delegateManager()->bannerDelegate().lock() : nullptr;
}

void ZELBannerView::setDelegate(std::weak_ptr<ZELBannerViewDelegate> delegate) {
    if (!private_) return;
    private_->delegateManager()->setBannerDelegate(std::move(delegate));
    private_->delegateManager()->setAdView(std::static_pointer_cast<ZELBannerView>(shared_from_this()));
}

std::shared_ptr<ZELWebView> ZELBannerView::webView() const { return private_ ? private_->webView() : nullptr; }

bool ZELBannerView::hasAutoRefreshed() const { return private_ && private_->hasAutoRefreshed(); }

void ZELBannerView::loadRequest(const std::shared_ptr<ZELRequest>& request) {
    // The application may let the banner go while it hears of a failure: the
    // controller is held for the call.
    const auto controller = private_;
    if (!controller) return;
    if (!controller->rootViewController()) {
        platform::log("<Nimbra> Must set the rootViewController property of ZELBannerView before calling loadRequest:");
        auto privateRequest = ZELObjectPrivate::privateRequestWithRequest(request);
        controller->delegateManager()->didFailToReceiveAdWithError(
            ZELRequestError::errorWithCode(ZELErrorInvalidRequest, privateRequest.get()));
        return;
    }
    controller->loadRequest(request);
}
