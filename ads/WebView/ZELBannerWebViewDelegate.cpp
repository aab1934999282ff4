#include "WebView/ZELBannerWebViewDelegate.h"

#include "Delegate/ZELDelegateManager.h"
#include "Notification/ZELNotification.h"
#include "Object/ZELObjectPrivate.h"
#include "Opener/ZELOpener.h"
#include "Request/ZELRequestError.h"
#include "Request/ZELRequestPrivate.h"
#include "Statistics/ZELStatistics.h"
#include "Timing/ZELTiming.h"
#include "WebView/ZELWebView.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"
#include "platform/ViewController.h"

std::shared_ptr<ZELBannerWebViewDelegate> ZELBannerWebViewDelegate::initWithObjectPrivate(
    const std::shared_ptr<ZELObjectPrivate>& controller) {
    std::shared_ptr<ZELBannerWebViewDelegate> delegate(new ZELBannerWebViewDelegate());
    delegate->private_ = controller;
    if (const auto& webView = controller->webView()) {
        delegate->webView_ = webView;
        webView->setDelegate(delegate);
        // The screens the ad opens come from it.
        delegate->opener().setOpeningWebView(webView);
    }
    return delegate;
}

ZELBannerWebViewDelegate::~ZELBannerWebViewDelegate() {
    // Our own weak reference has expired by now: clear it unless another
    // delegate took the web view over.
    if (auto webView = webView_.lock(); webView && !webView->delegate()) webView->setDelegate({});
}

std::shared_ptr<ZELObjectPrivate> ZELBannerWebViewDelegate::controllerForThisTurn() const {
    auto controller = private_.lock();
    // The application may release the banner from a callback we cause; the
    // controller, and the web view calling us, must not go under our feet.
    if (controller) platform::RunLoop::main().keepAliveUntilNextTurn(controller);
    return controller;
}

bool ZELBannerWebViewDelegate::isClick(platform::NavigationType type) const {
    auto controller = private_.lock();
    if (!controller || controller->state() != kZELStateShown) return false;
    if (ZELTiming::counter() - controller->timeLastLoaded() < kMinimumSecondsBeforeClick) return false;
    if (type == platform::NavigationType::BackForward || type == platform::NavigationType::Reload) return false;
    // Touched, by a press or a key: the user's activation, not used up yet.
    return controller->webView() && controller->webView()->userActivation().isActive();
}

std::vector<platform::URL> ZELBannerWebViewDelegate::pendingClickURLs() const {
    auto controller = private_.lock();
    return controller ? controller->pendingClickURLs() : std::vector<platform::URL>();
}

void ZELBannerWebViewDelegate::trackURLs(const std::vector<platform::URL>& urls) {
    if (auto controller = private_.lock()) controller->trackURLs(urls);
}

bool ZELBannerWebViewDelegate::webViewShouldStartLoadWithRequest(platform::WebView& webView,
                                                                 const platform::URLRequest& request,
                                                                 platform::NavigationType type) {
    auto controller = controllerForThisTurn();
    if (!controller) return false;
    setViewController(controller->rootViewController());
    opener().setDelegateManager(controller->delegateManager());
    opener().setViewController(controller->rootViewController());

    // A key pressed on the ad's link goes where a tap goes.
    noteUserGesture(webView);
    if (!isClick(type)) {
        // What the page asks under the user's gesture once the activation is
        // used up (a second window, a second link while handling the one
        // tap) is neither a click nor the page's own navigation.
        if (webView.navigationHasUserGesture() && !ZELNotification::isNotificationURL(request.url) &&
            controller->webView() && !controller->webView()->userActivation().isActive()) {
            if (shouldLogRefusal()) platform::log("<Nimbra> The ad asked for more than one opening per activation; refused.");
            return false;
        }
        return ZELWebViewDelegate::webViewShouldStartLoadWithRequest(webView, request, type);
    }

    auto statistics = ZELStatistics::sharedStatistics();
    const auto clickURL = statistics->clickURL(request.url);
    const unsigned openings = opener().openings();
    if (ZELWebViewDelegate::webViewShouldStartLoadWithRequest(webView, request, type)) {
        auto current = webView.request();
        opener().setReferringURL(current ? std::optional<platform::URL>(current->url) : std::nullopt);
        if (clickURL && platform::toLowerASCII(clickURL->scheme()).rfind("http", 0) == 0) {
            const ZELOrientationSetting orientations = controller->supportedOrientations();
            if (!controller->pendingClickURLs().empty()) {
                opener().openWebApp(clickURL, orientations);
            } else {
                opener().openBrowserToURL(clickURL, orientations);
            }
        }
    }
    // Counted only when it opened something (a screen, the composer, another
    // application); an "open" message counted itself.
    if (opener().openings() > openings) statistics->countClick(request.url);
    return false;  // a click never navigates the banner itself
}

void ZELBannerWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    ZELWebViewDelegate::webViewDidFinishLoad(webView);
    auto controller = controllerForThisTurn();
    if (!controller || controller->state() != kZELStateRendering) return;
    controller->changeState(kZELStateShown);
    platform::traceMark("ad shown");
    webView.setHidden(false);
    controller->delegateManager()->didReceiveAd();
    controller->trackURLs(controller->pendingTrackingURLs());
    auto statistics = ZELStatistics::sharedStatistics();
    statistics->endTimingNamed("prl");
    statistics->startTimingNamed("ppcl");
}

void ZELBannerWebViewDelegate::webViewDidFailLoadWithError(platform::WebView& webView, const platform::Error& error) {
    ZELWebViewDelegate::webViewDidFailLoadWithError(webView, error);
    auto controller = controllerForThisTurn();
    // Only the markup's own render fails a load: a page already shown, or one
    // given up on, has been reported.
    if (!controller || controller->state() != kZELStateRendering) return;
    controller->changeState(kZELStateFailed);
    controller->delegateManager()->didFailToReceiveAdWithError(
        ZELRequestError::errorWithCode(ZELErrorNetworkError, controller->request().get()));
}

void ZELBannerWebViewDelegate::webViewWebProcessDidTerminate(platform::WebView& webView) {
    ZELWebViewDelegate::webViewWebProcessDidTerminate(webView);
    // A load in flight has already failed; a shown ad is gone from the screen
    // and is reported lost once. The next load starts a new process.
    auto controller = controllerForThisTurn();
    if (!controller || controller->state() != kZELStateShown) return;
    controller->changeState(kZELStateFailed);
    webView.setHidden(true);
    controller->delegateManager()->didFailToReceiveAdWithError(
        ZELRequestError::errorWithCode(ZELErrorNetworkError, controller->request().get()));
}
