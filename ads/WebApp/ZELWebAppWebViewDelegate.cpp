#include "WebApp/ZELWebAppWebViewDelegate.h"

#include "Notification/ZELNotificationCenter.h"
#include "Request/ZELRequest.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "WebView/ZELWebView.h"
#include "WebApp/ZELWebAppViewControllerPrivate.h"
#include "platform/RunLoop.h"

namespace {

// Gives the page a white background when it sets none of its own: none on
// its root or body in an inline style, a bgcolor, a style sheet it can read
// (transparent counts as set), and nothing but the default computed. A style
// sheet from another origin cannot be read, so only what it computes to
// counts there.
constexpr char kWhiteUnlessPageSetsBackgroundScript[] =
    "(function(){var d=document,roots=[d.documentElement,d.body].filter(Boolean);"
    "function sets(s){return !!(s&&(s.backgroundColor||s.backgroundImage));}"
    "function matches(r){return roots.some(function(e){try{return e.matches(r.selectorText);}catch(x){return false;}});}"
    "function scan(rules){for(var i=0;i<rules.length;i++){var r=rules[i];"
    "if(r.selectorText&&sets(r.style)&&matches(r))return true;"
    "try{if(r.cssRules&&scan(r.cssRules))return true;}catch(x){}}return false;}"
    "function computed(e){var s=getComputedStyle(e);"
    "return s.backgroundImage!=='none'||!/^(transparent|rgba\\(0, 0, 0, 0\\))$/.test(s.backgroundColor);}"
    "if(!d.documentElement||roots.some(function(e){return sets(e.style)||e.hasAttribute('bgcolor')||computed(e);}))return;"
    "for(var i=0;i<d.styleSheets.length;i++){try{if(scan(d.styleSheets[i].cssRules))return;}catch(x){}}"
    "d.documentElement.style.backgroundColor='#fff';})()";

}  // namespace

std::shared_ptr<ZELWebAppWebViewDelegate> ZELWebAppWebViewDelegate::initWithWebAppPrivate(
    const std::shared_ptr<ZELWebAppViewControllerPrivate>& webAppPrivate) {
    auto delegate = std::make_shared<ZELWebAppWebViewDelegate>();
    delegate->webAppPrivate_ = webAppPrivate;
    return delegate;
}

void ZELWebAppWebViewDelegate::setPendingOnShow(bool pending) {
    pendingOnShow_ = pending;
    auto screen = webAppPrivate_.lock();
    if (screen && screen->webView_ && !screen->webView_->isLoading()) postOnShowEvent();
}

void ZELWebAppWebViewDelegate::postOnShowEvent() {
    if (!pendingOnShow_ || calledOnShow_) return;
    auto screen = webAppPrivate_.lock();
    if (!screen || !screen->webView_) return;
    platform::Dictionary payload{{"version", platform::Value(ZELRequest::sdkVersion())}};
    if (auto device = ZELIdentifierUtilities::sharedInstance().deviceSubmodel())
        payload["device"] = platform::Value(*device);
    pendingOnShow_ = false;
    calledOnShow_ = true;
    ZELNotificationCenter::postJSNotification("onshow", payload, *screen->webView_);
}

void ZELWebAppWebViewDelegate::loadedFirstPage(platform::WebView&) {
    auto screen = webAppPrivate_.lock();
    if (!screen || !screen->loadingSpinner_) return;
    screen->loadingSpinner_->removeFromSuperview();
    screen->loadingSpinner_.reset();
}

void ZELWebAppWebViewDelegate::webViewDidStartLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidStartLoad();
    ZELWebViewDelegate::webViewDidStartLoad(webView);
}

void ZELWebAppWebViewDelegate::webViewDidFinishLoad(platform::WebView& webView) {
    ZELStatistics::sharedStatistics()->landingPageDidFinishLoad();
    ZELWebViewDelegate::webViewDidFinishLoad(webView);
    postOnShowEvent();
    // The screen under the page is black: a page that relies on the default
    // background would be black text on black. It gets white, as in the
    // browser; a page that asks for a background of its own keeps it.
    webView.evaluateJavaScript(kWhiteUnlessPageSetsBackgroundScript, {});
}

void ZELWebAppWebViewDelegate::releaseWithWebView(std::shared_ptr<ZELWebAppWebViewDelegate> delegate,
                                                  std::shared_ptr<ZELWebView> webView) {
    if (!delegate) return;
    delegate->setViewController({});
    delegate->webAppPrivate_.reset();
    delegate->pendingOnShow_ = false;
    if (!webView) return;
    // The task holds both for the delay; nothing else does.
    platform::RunLoop::main().postDelayedTask(
        kReleaseDelay,
        [delegate = std::move(delegate), webView = std::move(webView)] { delayedRelease(*delegate, *webView); });
}

void ZELWebAppWebViewDelegate::delayedRelease(ZELWebAppWebViewDelegate&, ZELWebView& webView) {
    webView.setDelegate({});
    // An empty page stops whatever sound or script the web app still ran.
    webView.loadHTMLString("", std::nullopt);
}
