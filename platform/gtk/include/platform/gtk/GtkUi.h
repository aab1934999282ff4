#pragma once
// The GTK backend's user-interface half: application, device, screen and the
// view peers (GTK 4 widgets, WebKitGTK web views). The services half
// (run loop, HTTP, files, defaults) asks for it once, when it is installed.

#include <memory>

#include "platform/Backend.h"

namespace platform::gtk {

class UiProvider {
public:
    virtual ~UiProvider() = default;
    virtual Application& application() = 0;
    virtual Device& device() = 0;
    virtual Screen& mainScreen() = 0;
    virtual std::unique_ptr<ViewPeer> makeViewPeer(View& view) = 0;
    virtual std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView& view) = 0;
    virtual void prewarmWebEngine(WebContent content) = 0;
};

// Defined by the UI half (platform/gtk/ui/).
std::unique_ptr<UiProvider> makeUiProvider();

}  // namespace platform::gtk
