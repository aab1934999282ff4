#include "UiGtk.h"
#include "ViewWidget.h"
#include "platform/gtk/GtkUi.h"

namespace platform::gtk {
namespace {

class GtkUiProvider final : public UiProvider {
public:
    Application& application() override { return gtkApplication(); }
    Device& device() override { return gtkDevice(); }
    Screen& mainScreen() override { return screen_; }
    std::unique_ptr<ViewPeer> makeViewPeer(View& view) override {
        ensureToolkit();
        return makeGtkViewPeer(view);
    }
    std::unique_ptr<WebViewPeer> makeWebViewPeer(WebView& view) override {
        ensureToolkit();
        return makeGtkWebViewPeer(view);
    }
    void prewarmWebEngine(WebContent content) override {
        ensureToolkit();
        prewarmGtkWebEngine(content);
    }

private:
    static void ensureToolkit() {
        static bool ready = false;
        if (ready) return;
        ready = true;
        gtk_init();
        installStyles();
    }
    GtkScreenImpl screen_;
};

}  // namespace

GtkApplicationImpl& gtkApplication() {
    static GtkApplicationImpl* app = new GtkApplicationImpl();  // lives as long as the process
    return *app;
}

GtkDeviceImpl& gtkDevice() {
    static GtkDeviceImpl device;
    return device;
}

std::unique_ptr<UiProvider> makeUiProvider() { return std::make_unique<GtkUiProvider>(); }

}  // namespace platform::gtk
