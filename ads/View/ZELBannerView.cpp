#include "View/ZELBannerView.h"

#include "Delegate/ZELDelegateManager.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Utility/ZELPrivateUtilities.h"
#include "platform/Localization.h"
#include "platform/Services.h"
#include "platform/ViewController.h"
#include "WebView/ZELWebView.h"

ZELBannerView::ZELBannerView(const platform::Rect& frame) : platform::View(frame) {}

std::shared_ptr<ZELBannerView> ZELBannerView::initWithFrame(const platform::Rect& frame) {
    std::shared_ptr<ZELBannerView> banner(new ZELBannerView(frame));
    banner->commonInitializer();
    return banner;
}

void ZELBannerView::commonInitializer() {
    if (getPrivate()) return;
    setBackgroundColor(platform::Color::clear());
    // Read as what it is, whatever the ad inside says.
    setAccessibilityRole(platform::AccessibilityRole::Advertisement);
    setAccessibilityLabel(platform::localized("Advertisement"));
    // The table holds the only reference to the controller.
    ZELPrivateUtilities::setPrivateObject(ZELObjectPrivate::initWithView(*this), this);
}

ZELBannerView::~ZELBannerView() {
    if (auto controller = getPrivate()) controller->cancelPendingActions();
    ZELPrivateUtilities::removePrivateObjectForKey(this);
}

std::shared_ptr<ZELObjectPrivate> ZELBannerView::getPrivate() const {
    return ZELPrivateUtilities::privateObjectForKey<ZELObjectPrivate>(this);
}

std::string ZELBannerView::adUnitID() const {
    auto controller = getPrivate();
    return controller ? controller->adUnitID() : std::string();
}

void ZELBannerView::setAdUnitID(const std::string& adUnitID) {
    if (auto controller = getPrivate()) controller->setAdUnitID(adUnitID);
}

std::shared_ptr<platform::ViewController> ZELBannerView::rootViewController() const {
    auto controller = getPrivate();
    return controller ? controller->rootViewController() : nullptr;
}

void ZELBannerView::setRootViewController(std::weak_ptr<platform::ViewController> rootViewController) {
    if (auto controller = getPrivate()) controller->setRootViewController(std::move(rootViewController));
}

std::shared_ptr<ZELBannerViewDelegate> ZELBannerView::delegate() const {
    auto controller = getPrivate();
    return controller ? controller->delegateManager()->bannerDelegate().lock() : nullptr;
}

void ZELBannerView::setDelegate(std::weak_ptr<ZELBannerViewDelegate> delegate) {
    auto controller = getPrivate();
    if (!controller) return;
    controller->delegateManager()->setBannerDelegate(std::move(delegate));
    controller->delegateManager()->setAdView(std::static_pointer_cast<ZELBannerView>(shared_from_this()));
}

std::shared_ptr<ZELWebView> ZELBannerView::webView() const {
    auto controller = getPrivate();
    return controller ? controller->webView() : nullptr;
}

bool ZELBannerView::hasAutoRefreshed() const {
    auto controller = getPrivate();
    return controller && controller->hasAutoRefreshed();
}

void ZELBannerView::loadRequest(const std::shared_ptr<ZELRequest>& request) {
    auto controller = getPrivate();
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
