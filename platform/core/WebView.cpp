#include "platform/WebView.h"

#include "platform/Backend.h"

namespace platform {
namespace {

int liveWebViews = 0;

}  // namespace

WebView::WebView(const Rect& frame, WebContent content) : View(frame, NoPeer{}), content_(content) {
    ++liveWebViews;
    auto peer = backend().makeWebViewPeer(*this);
    webPeer_ = peer.get();
    setPeer(std::move(peer));
}

WebView::~WebView() {
    // The engine goes while this is still a whole web view, so nothing it does
    // on the way out reaches a half-destroyed object.
    webPeer_ = nullptr;
    setPeer(nullptr);
    --liveWebViews;
}

int WebView::liveCount() { return liveWebViews; }

void WebView::prewarm(WebContent content) {
    if (hasBackend()) backend().prewarmWebEngine(content);
}

void WebView::loadRequest(const URLRequest& request) {
    if (webPeer_) webPeer_->loadRequest(request);
}

void WebView::loadHTMLString(const std::string& html, const std::optional<URL>& baseURL) {
    if (webPeer_) webPeer_->loadHTMLString(html, baseURL);
}

void WebView::evaluateJavaScript(const std::string& script,
                                 std::function<void(std::optional<std::string>)> completion) {
    if (webPeer_) webPeer_->evaluateJavaScript(script, std::move(completion));
}

bool WebView::isLoading() const { return webPeer_ && webPeer_->isLoading(); }
bool WebView::canGoBack() const { return webPeer_ && webPeer_->canGoBack(); }
bool WebView::canGoForward() const { return webPeer_ && webPeer_->canGoForward(); }

void WebView::goBack() {
    if (webPeer_) webPeer_->goBack();
}

void WebView::goForward() {
    if (webPeer_) webPeer_->goForward();
}

void WebView::reload() {
    if (webPeer_) webPeer_->reload();
}

void WebView::stopLoading() {
    if (webPeer_) webPeer_->stopLoading();
}

std::optional<URLRequest> WebView::request() const { return webPeer_ ? webPeer_->request() : std::nullopt; }

bool WebView::navigationHasUserGesture() const { return webPeer_ && webPeer_->navigationHasUserGesture(); }

void WebView::setScalesPageToFit(bool v) {
    scalesPageToFit_ = v;
    if (webPeer_) webPeer_->settingsChanged();
}

void WebView::setMediaPlaybackRequiresUserAction(bool v) {
    mediaPlaybackRequiresUserAction_ = v;
    if (webPeer_) webPeer_->settingsChanged();
}

void WebView::setAllowsInlineMediaPlayback(bool v) {
    allowsInlineMediaPlayback_ = v;
    if (webPeer_) webPeer_->settingsChanged();
}

}  // namespace platform
