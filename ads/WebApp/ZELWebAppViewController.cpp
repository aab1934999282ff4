#include "WebApp/ZELWebAppViewController.h"

#include "Notification/ZELNotificationCenter.h"
#include "Opener/ZELOpener.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIntrinsicImages.h"
#include "WebView/ZELWebView.h"
#include "WebApp/ZELWebAppViewControllerPrivate.h"
#include "WebApp/ZELWebAppWebViewDelegate.h"
#include "platform/Localization.h"

ZELWebAppViewControllerPrivate::~ZELWebAppViewControllerPrivate() {
    ZELWebAppWebViewDelegate::releaseWithWebView(std::move(webViewDelegate_), std::move(webView_));
}

std::shared_ptr<ZELViewControllerPrivate> ZELWebAppViewController::createPrivateData() {
    return std::make_shared<ZELWebAppViewControllerPrivate>();
}

void ZELWebAppViewController::setUp() {
    ZELViewController::setUp();
    vars()->loadingSpinner_ =
        std::make_shared<platform::ActivityIndicatorView>(platform::ActivityIndicatorStyle::White);
}

std::shared_ptr<ZELWebAppViewControllerPrivate> ZELWebAppViewController::vars() const {
    return std::static_pointer_cast<ZELWebAppViewControllerPrivate>(getPrivate());
}

std::shared_ptr<ZELWebView> ZELWebAppViewController::webView() const {
    auto v = vars();
    return v ? v->webView_ : nullptr;
}

void ZELWebAppViewController::load(const std::optional<platform::URL>& url) {
    if (!url) return;
    auto v = vars();
    if (v->webView_) {
        v->webView_->loadRequest(platform::URLRequest(*url));
    } else {
        v->urlToLoad_ = url;
    }
}

void ZELWebAppViewController::loadHTML(const std::optional<std::string>& html,
                                       const std::optional<platform::URL>& baseURL) {
    if (!html) return;
    auto v = vars();
    if (v->webView_) {
        v->webView_->loadHTMLString(*html, baseURL);
    } else {
        v->htmlToLoad_ = html;
        v->htmlBaseURLToLoad_ = baseURL;
    }
}

void ZELWebAppViewController::setScreenFactory(const ZELScreenFactory* factory) {
    vars()->screenFactory_ = factory;
    if (const auto& delegate = vars()->webViewDelegate_) delegate->opener().setScreenFactory(factory);
}

void ZELWebAppViewController::viewWillAppear(bool animated) {
    ZELViewController::viewWillAppear(animated);
    auto v = vars();
    if (v->webView_) return;  // built once
    using namespace platform;
    const Rect bounds = view()->bounds();

    v->webView_ = std::make_shared<ZELWebView>(bounds);
    view()->addSubview(v->webView_);
    v->webViewDelegate_ = ZELWebAppWebViewDelegate::initWithWebAppPrivate(v);
    v->webViewDelegate_->setViewController(weak_from_this());
    v->webViewDelegate_->setOpeningWebView(openingWebView());
    v->webViewDelegate_->opener().setScreenFactory(v->screenFactory_);
    v->webView_->setDelegate(v->webViewDelegate_);

    if (v->urlToLoad_) {
        v->webView_->loadRequest(URLRequest(*std::exchange(v->urlToLoad_, std::nullopt)));
    } else if (v->htmlToLoad_) {
        v->webView_->loadHTMLString(*std::exchange(v->htmlToLoad_, std::nullopt),
                                    std::exchange(v->htmlBaseURLToLoad_, std::nullopt));
    }

    v->closeButton_ = Button::buttonWithType(ButtonType::Custom);
    v->closeButton_->setImage(ZELIntrinsicImages::closeButton());
    v->closeButton_->setShowsTouchWhenHighlighted(true);
    v->closeButton_->setEnabled(true);
    v->closeButton_->setFrame(Rect(0, 0, kCloseButtonSize, kCloseButtonSize));
    v->closeButton_->setAccessibilityLabel(platform::localized("Close"));
    v->closeButton_->addTarget(action(&ZELViewController::relinquishScreen), kControlEventTouchUpInside);
    view()->addSubview(v->closeButton_);

    if (v->loadingSpinner_) {
        v->loadingSpinner_->setFrame(Rect((bounds.width() - kSpinnerSize) / 2, (bounds.height() - kSpinnerSize) / 2,
                                          kSpinnerSize, kSpinnerSize));
        v->loadingSpinner_->setAutoresizingMask(kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin);
        v->loadingSpinner_->startAnimating();
        v->webView_->addSubview(v->loadingSpinner_);
    }
}

void ZELWebAppViewController::viewDidAppear(bool animated) {
    ZELViewController::viewDidAppear(animated);
    if (auto v = vars(); v && v->webViewDelegate_) v->webViewDelegate_->setPendingOnShow(true);
}

void ZELWebAppViewController::viewDidDisappear(bool animated) {
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->endTimingNamed("plpd");
    statistics->endTimingNamed("pcl");
    auto v = vars();
    if (v && v->webView_) {
        // A page still loading when the screen went is never told it is shown.
        if (v->webViewDelegate_) v->webViewDelegate_->setPendingOnShow(false);
        ZELNotificationCenter::postJSNotification("onhide", std::nullopt, *v->webView_);
    }
    ZELViewController::viewDidDisappear(animated);
}

void ZELWebAppViewController::didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) {
    ZELViewController::didRotateFromInterfaceOrientation(from);
    if (auto web = webView()) ZELWebViewDelegate::notifyWebViewOfOrientationChange(*web, interfaceOrientation());
}
