// Placeholder until the GTK user-interface half lands: every UI request aborts
// with a clear message instead of misbehaving.
#include <cstdio>
#include <cstdlib>

#include "platform/gtk/GtkUi.h"

namespace platform::gtk {
namespace {
[[noreturn]] void missing(const char* what) {
    std::fprintf(stderr, "platform/gtk: %s is not available yet\n", what);
    std::abort();
}
class PendingUi final : public UiProvider {
public:
    Application& application() override { missing("Application"); }
    Device& device() override { missing("Device"); }
    Screen& mainScreen() override { missing("Screen"); }
    std::unique_ptr<ViewPeer> makeViewPeer(View&) override { missing("views"); }
    std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView&) override { missing("web views"); }
};
}  // namespace

std::unique_ptr<UiProvider> makeUiProvider() { return std::make_unique<PendingUi>(); }

}  // namespace platform::gtk
