#include "WebView/ZELWebView.h"

ZELWebView::ZELWebView(const platform::Rect& frame) : platform::WebView(frame, platform::WebContent::Outside) {
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

std::shared_ptr<platform::View> ZELWebView::hitTest(platform::Point point, const platform::Event* event) {
    if (!event || event->type == platform::Event::Type::Touches) {
        setTouched(true);
        userActivation_.grantForPress();
    }
    return platform::WebView::hitTest(point, event);
}
