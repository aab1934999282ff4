// Interface files, screens' and the application's main one, as found among
// the resources (the application's own classes registered). Loading never
// crashes or leaks; it fails with a reason or gives a well-formed result: a
// view tree whose frames are finite, whose outlets point into it, and that
// comes out the same every time; main objects whose window, delegate and tab
// bars are the ones named, and whose controllers can be asked what the
// application asks them (rotation, tab changes) without end.
//
// Input: the file's text, loaded as a screen and as the main file.

#include "FuzzSupport.h"
#include "Mensajes.h"
#include "platform/ActivityIndicatorView.h"
#include "platform/InterfaceFile.h"
#include "platform/ScrollView.h"
#include "platform/TabBarController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace {

// An owner with the outlets and actions of the application's screens.
struct Owner final : platform::Connectable {
    Owner() {
        outlets().add("webView", webView);
        outlets().add("webView2", webView2);
        outlets().add("webView3", webView3);
        outlets().add("cargando", cargando);
        outlets().add("activado", activado);
        outlets().add("scrollview", scrollview);
        outlets().addAction("mailto", [] {});
    }
    void awakeFromInterface() override { ++awakened; }
    std::shared_ptr<platform::WebView> webView, webView2, webView3;
    std::shared_ptr<platform::ActivityIndicatorView> cargando, activado;
    std::shared_ptr<platform::ScrollView> scrollview;
    int awakened = 0;
};

// The tree's shape, checking on the way that each view is its subviews' parent.
std::string shape(const platform::View& view, int depth) {
    const platform::Rect f = view.frame();
    FUZZ_CHECK(std::isfinite(f.x()) && std::isfinite(f.y()) && std::isfinite(f.width()) && std::isfinite(f.height()));
    FUZZ_CHECK(f.width() >= 0 && f.height() >= 0 && view.autoresizingMask() <= 63);
    FUZZ_CHECK(depth <= 65);
    std::string out = typeid(view).name();
    out += "(" + std::to_string(f.x()) + "," + std::to_string(f.y()) + "," + std::to_string(f.width()) + "," +
           std::to_string(f.height()) + ")[";
    for (const auto& child : view.subviews()) {
        FUZZ_CHECK(child && child->superview().get() == &view);
        out += shape(*child, depth + 1);
    }
    return out + "]";
}

bool inTree(const std::shared_ptr<platform::View>& view, const platform::View& root) {
    if (!view) return true;
    for (auto v = view; v; v = v->superview())
        if (v.get() == &root) return true;
    return false;
}

void loadScreen(std::string_view text) {
    Owner owner;
    std::string error;
    const std::shared_ptr<platform::View> root = platform::InterfaceFile::viewFromText(text, owner, &error);
    if (!root) {
        FUZZ_CHECK(!error.empty() && owner.awakened == 0);
        return;
    }
    FUZZ_CHECK(owner.awakened == 1);
    const std::string once = shape(*root, 0);
    for (const std::shared_ptr<platform::View>& outlet : std::initializer_list<std::shared_ptr<platform::View>>{
             owner.webView, owner.webView2, owner.webView3, owner.cargando, owner.activado, owner.scrollview})
        FUZZ_CHECK(inTree(outlet, *root));
    Owner other;
    const std::shared_ptr<platform::View> again = platform::InterfaceFile::viewFromText(text, other);
    FUZZ_CHECK(again && shape(*again, 0) == once);
}

void loadMain(std::string_view text) {
    std::string error;
    const std::optional<platform::InterfaceFile::Main> main = platform::InterfaceFile::mainFromText(text, &error);
    if (!main) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    if (main->window) FUZZ_CHECK(main->window->frame().width() >= 0 && main->window->frame().height() >= 0);
    for (const auto& [id, object] : main->objects) {
        FUZZ_CHECK(!object.empty());
        if (!object.controller) continue;
        const auto controller = object.controller;
        // What the application asks when the device turns.
        (void)controller->shouldAutorotateToInterfaceOrientation(platform::InterfaceOrientation::LandscapeLeft);
        if (auto tabs = std::dynamic_pointer_cast<platform::TabBarController>(controller)) {
            for (const auto& child : tabs->viewControllers()) {
                FUZZ_CHECK(child);
                bool listed = false;
                for (const auto& [otherId, otherObject] : main->objects) listed |= otherObject.controller == child;
                FUZZ_CHECK(listed);
            }
            tabs->setSelectedIndex(tabs->viewControllers().size() - 1);
            tabs->setSelectedIndex(0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        fuzz::sim();
        mensajes::registerClasses();
        return true;
    }();
    (void)ready;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    loadScreen(text);
    loadMain(text);
    fuzz::settle();
    return 0;
}
