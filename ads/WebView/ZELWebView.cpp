#include "WebView/ZELWebView.h"

ZELWebView::ZELWebView(const platform::Rect& frame) : platform::WebView(frame, platform::WebContent::Outside) {
    ZELPrivateUtilities::setPrivateObject(std::make_shared<ZELWebViewPrivate>(), this);
    setClipsToBounds(true);
    setScalesPageToFit(true);
    setAutoresizingMask(platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight);
    setOpaque(false);
    setBackgroundColor(platform::Color::clear());
    setDataDetectorTypes(0);
    // Inline playback is offered by this web view, so media may also play
    // without a user action (there is no AirPlay to switch on here).
    setAllowsInlineMediaPlayback(true);
    setMediaPlaybackRequiresUserAction(false);
}

ZELWebView::~ZELWebView() { ZELPrivateUtilities::removePrivateObjectForKey(this); }

std::shared_ptr<ZELWebViewPrivate> ZELWebView::vars() const {
    return ZELPrivateUtilities::privateObjectForKey<ZELWebViewPrivate>(this);
}

ZELUserActivation& ZELWebView::userActivation() const {
    // The entry lives as long as the view (it is removed in the destructor).
    return vars()->userActivation();
}

bool ZELWebView::touched() const {
    auto v = vars();
    return v && v->touched();
}

void ZELWebView::setTouched(bool touched) {
    if (auto v = vars()) v->setTouched(touched);
}

std::shared_ptr<platform::View> ZELWebView::hitTest(platform::Point point, const platform::Event* event) {
    if (!event || event->type == platform::Event::Type::Touches) {
        setTouched(true);
        userActivation().grantForPress();
    }
    return platform::WebView::hitTest(point, event);
}
