#include "Browser/ZELBrowserController.h"

#include "Browser/ZELBrowserControllerPrivate.h"
#include "Browser/ZELBrowserWebViewDelegate.h"
#include "Opener/ZELOpener.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELIntrinsicImages.h"
#include "WebView/ZELWebView.h"
#include "platform/Application.h"
#include "platform/Localization.h"
#include "platform/NotificationCenter.h"

ZELBrowserControllerPrivate::~ZELBrowserControllerPrivate() {
    // Stop whatever the page still does before the view goes.
    if (webView_) {
        webView_->setDelegate({});
        webViewDelegate_.reset();
        webView_->loadHTMLString("", std::nullopt);
    }
}

std::shared_ptr<ZELViewControllerPrivate> ZELBrowserController::createPrivateData() {
    return std::make_shared<ZELBrowserControllerPrivate>();
}

void ZELBrowserController::setUp() {
    ZELViewController::setUp();
    view()->setBackgroundColor(platform::Color::white());
    if (ZELIdentifierUtilities::isOSAtLeast(4, 0, 0)) {
        vars()->foreground_ = platform::NotificationCenter::defaultCenter().observe(
            platform::kApplicationWillEnterForegroundNotification, nullptr,
            [this](const platform::Notification&) { appDidEnterForeground(); });
    }
}

std::shared_ptr<ZELBrowserControllerPrivate> ZELBrowserController::vars() const {
    return std::static_pointer_cast<ZELBrowserControllerPrivate>(getPrivate());
}

std::shared_ptr<ZELWebView> ZELBrowserController::webView() const {
    auto v = vars();
    return v ? v->webView_ : nullptr;
}

std::shared_ptr<platform::Toolbar> ZELBrowserController::toolbar() const {
    auto v = vars();
    return v ? v->toolbar_ : nullptr;
}

void ZELBrowserController::load(const std::optional<platform::URL>& url,
                                const std::optional<platform::URL>& referringURL) {
    if (!url) return;
    auto v = vars();
    if (!v->webView_) {
        // Loaded when the page exists, at the first appearance.
        v->urlToLoad_ = url;
        v->referringURLToLoad_ = referringURL;
        return;
    }
    platform::URLRequest request(*url);
    if (referringURL) request.setValueForHTTPHeaderField(referringURL->absoluteString(), "Referer");
    v->webView_->loadRequest(request);
}

void ZELBrowserController::back() {
    if (auto web = webView(); web && web->canGoBack()) web->goBack();
}

void ZELBrowserController::forward() {
    if (auto web = webView(); web && web->canGoForward()) web->goForward();
}

void ZELBrowserController::reload() {
    if (auto web = webView()) web->reload();
}

void ZELBrowserController::stop() {
    if (auto web = webView()) web->stopLoading();
}

void ZELBrowserController::openInSafari() {
    auto web = webView();
    auto request = web ? web->request() : std::nullopt;
    // The user tapped the browser's own control, not the page.
    ZELControlTap tap;
    ZELOpener opener(tap);
    opener.setDelegateManager(delegateManager());
    if (opener.openApp(request ? std::optional<platform::URL>(request->url) : std::nullopt))
        ZELStatistics::sharedStatistics()->setBreakOutToSafari();
}

void ZELBrowserController::refreshToolbar() {
    auto v = vars();
    if (!v->webView_ || !v->toolbar_ || !v->backButton_) return;
    v->backButton_->setEnabled(v->webView_->canGoBack());
    v->forwardButton_->setEnabled(v->webView_->canGoForward());
    std::shared_ptr<platform::BarButtonItem> fifth;
    if (v->webView_->isLoading()) {
        fifth = v->spinnerContainingButton_;
        v->spinner_->startAnimating();
        v->safariButton_->setEnabled(false);
    } else {
        fifth = v->reloadButton_;
        v->spinner_->stopAnimating();
        v->safariButton_->setEnabled(true);
    }
    const auto& space = v->flexibleSpaceButton_;
    v->toolbar_->setItems(
        {v->backButton_, space, v->forwardButton_, space, fifth, space, v->safariButton_, space, v->doneButton_});
}

std::shared_ptr<platform::BarButtonItem> ZELBrowserController::buttonWithImage(std::shared_ptr<platform::Image> image,
                                                                               const std::string& name, int width,
                                                                               bool enabled,
                                                                               void (ZELBrowserController::*method)()) {
    auto button =
        platform::BarButtonItem::withImage(std::move(image), platform::BarButtonItemStyle::Plain, action(method));
    button->setWidth(width);
    button->setEnabled(enabled);
    button->setIsAccessibilityElement(true);
    button->setAccessibilityLabel(name);
    return button;
}

namespace {

std::shared_ptr<platform::BarButtonItem> systemButton(platform::BarButtonSystemItem item, std::function<void()> action,
                                                      const char* name, double width) {
    auto button = platform::BarButtonItem::systemItem(item, std::move(action));
    if (width > 0) button->setWidth(width);
    button->setIsAccessibilityElement(true);
    button->setAccessibilityLabel(name);
    return button;
}

}  // namespace

void ZELBrowserController::createToolbarButtons() {
    using platform::BarButtonSystemItem;
    auto v = vars();
    v->flexibleSpaceButton_ = platform::BarButtonItem::systemItem(BarButtonSystemItem::FlexibleSpace);
    v->backButton_ = buttonWithImage(ZELIntrinsicImages::browserBackButton(), platform::localized("Back"), 27, false,
                                     &ZELBrowserController::back);
    v->forwardButton_ = buttonWithImage(ZELIntrinsicImages::browserForwardButton(), platform::localized("Forward"), 27,
                                        false, &ZELBrowserController::forward);

    v->spinner_ = std::make_shared<platform::ActivityIndicatorView>(platform::Rect(0, 0, 20, 20),
                                                                    platform::ActivityIndicatorStyle::White);
    v->spinner_->setAutoresizingMask(platform::kAutoresizingFlexibleLeftMargin |
                                     platform::kAutoresizingFlexibleRightMargin);
    v->spinnerContainingButton_ = platform::BarButtonItem::withCustomView(v->spinner_);
    v->spinnerContainingButton_->setWidth(20);
    v->spinnerContainingButton_->setIsAccessibilityElement(true);
    v->spinnerContainingButton_->setAccessibilityLabel(platform::localized("Loading"));

    v->reloadButton_ = systemButton(BarButtonSystemItem::Refresh, action(&ZELBrowserController::reload),
                                    platform::localized("Reload"), 27);
    // Named for what it does here: the desktop's own browser, whichever it is.
    v->safariButton_ = systemButton(BarButtonSystemItem::Action, action(&ZELBrowserController::openInSafari),
                                    platform::localized("Open in Browser"), 27);
    v->safariButton_->setEnabled(false);
    v->doneButton_ = systemButton(BarButtonSystemItem::Done, action(&ZELBrowserController::relinquishScreen),
                                  platform::localized("Done"), 0);
    v->doneButton_->setStyle(platform::BarButtonItemStyle::Done);
}

void ZELBrowserController::viewWillAppear(bool animated) {
    ZELViewController::viewWillAppear(animated);
    auto v = vars();
    if (v->webView_) return;  // built once

    double toolbarHeight = kToolbarHeight;
    unsigned webMask, toolbarMask;
    using namespace platform;
    if (Device::current().userInterfaceIdiom() == UserInterfaceIdiom::Pad) {
        webMask = kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight;
        toolbarMask = kAutoresizingFlexibleWidth | kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleBottomMargin;
    } else {
        if (ZELIdentifierUtilities::sharedInstance().isOrientationLandscape())
            toolbarHeight = kLandscapePhoneToolbarHeight;
        webMask = kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight | kAutoresizingFlexibleBottomMargin;
        toolbarMask = kAutoresizingFlexibleWidth | kAutoresizingFlexibleTopMargin | kAutoresizingFlexibleHeight |
                      kAutoresizingFlexibleBottomMargin;
    }
    const Rect bounds = view()->bounds();
    const double w = bounds.width(), h = bounds.height();

    v->webView_ = std::make_shared<ZELWebView>(Rect(0, 0, w, h - toolbarHeight));
    v->webView_->setAutoresizingMask(webMask);
    view()->addSubview(v->webView_);
    v->webView_->setDataDetectorTypes(kDataDetectorAll);

    auto delegate = ZELBrowserWebViewDelegate::initWithBrowserController(
        std::static_pointer_cast<ZELBrowserController>(shared_from_this()));
    delegate->setViewController(weak_from_this());
    delegate->setOpeningWebView(openingWebView());
    v->webViewDelegate_ = delegate;
    v->webView_->setDelegate(delegate);

    if (v->urlToLoad_) {
        auto url = std::exchange(v->urlToLoad_, std::nullopt);
        auto referrer = std::exchange(v->referringURLToLoad_, std::nullopt);
        load(url, referrer);
    }

    v->toolbar_ = std::make_shared<Toolbar>(Rect(0, h - toolbarHeight, w, toolbarHeight));
    v->toolbar_->setAutoresizingMask(toolbarMask);
    v->toolbar_->setTintColor(Color::black());
    view()->addSubview(v->toolbar_);

    createToolbarButtons();
    refreshToolbar();
}

void ZELBrowserController::didRotateFromInterfaceOrientation(platform::InterfaceOrientation from) {
    ZELViewController::didRotateFromInterfaceOrientation(from);
    if (auto web = webView()) ZELWebViewDelegate::notifyWebViewOfOrientationChange(*web, interfaceOrientation());
}

void ZELBrowserController::appDidEnterForeground() {
    auto v = vars();
    auto delegate = v ? v->webViewDelegate_ : nullptr;
    // The link led out of the application before any page loaded: the empty
    // browser has nothing to show on the way back.
    if (!delegate || delegate->hasLoadedAtLeastOnce()) return;
    v->closeAfterForeground_.start(0, [this] { relinquishScreen(); });
}
