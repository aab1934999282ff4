#pragma once
// Helpers of the banner tests against nimbra-adserver: the component pointed
// at a server, a recording banner delegate, a window for banners, mensajes
// launched in this process, what a web view shows, and what was handed to
// the desktop's other applications.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Browser/ZELBrowserController.h"
#include "Classes/Mensajes.h"
#include "Delegate/ZELBannerViewDelegate.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequestError.h"
#include "View/ZELBannerView.h"
#include "WebApp/ZELWebAppViewController.h"
#include "WebView/ZELWebView.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/Processes.h"
#include "platform/ApplicationLifecycle.h"
#include "platform/InterfaceFile.h"
#include "platform/TabBarController.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace banner_test {

using nimbra::test::AdServerProcess;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

// Generous limits: a loaded two-core machine starts web processes slowly.
inline constexpr double kAdTimeout = 20.0;

// The desktop's handler for the URLs the application hands over (another
// application's schemes, web pages, mail) is a stand-in that records each URL
// it is started with: what would have left the application.
namespace fs = std::filesystem;

// Schemes the stand-in takes: what ads send users to, and two that the
// component never hands over (so a refusal is its own, not for want of a
// handler).
inline constexpr const char* kSchemes[] = {"http",   "https",     "tel",    "sms",
                                           "mailto", "appstream", "market", "x-nimbra-test"};

inline fs::path recordFile() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    return fs::path(cache && *cache ? cache : "/tmp") / ("handed-urls-" + std::to_string(::getpid()));
}

// Installed once, before the first test: the desktop's application index is
// read when something first asks it, and kept.
class DesktopHandler : public ::testing::Environment {
public:
    void SetUp() override {
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* config = std::getenv("XDG_CONFIG_HOME");
        // Only in the private folders the test environment gives; never in a person's own.
        if (!data || !config || std::string(data).rfind("/tmp/", 0) != 0) return;
        const fs::path applications = fs::path(data) / "applications";
        fs::create_directories(applications);
        fs::create_directories(config);
        const fs::path script = fs::path(data) / "record-url";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << recordFile().string() << "'\n";
        fs::permissions(script, fs::perms::owner_all);
        std::string mime, defaults = "[Default Applications]\n";
        for (const char* scheme : kSchemes) {
            mime += std::string("x-scheme-handler/") + scheme + ";";
            defaults += std::string("x-scheme-handler/") + scheme + "=nimbra-url-recorder.desktop\n";
        }
        std::ofstream(applications / "nimbra-url-recorder.desktop")
            << "[Desktop Entry]\nType=Application\nName=URL recorder\nExec=" << script.string()
            << " %u\nNoDisplay=true\nMimeType=" << mime << "\n";
        std::ofstream(fs::path(config) / "mimeapps.list") << defaults;
    }
};

[[maybe_unused]] inline const auto* const kDesktopHandler = ::testing::AddGlobalTestEnvironment(new DesktopHandler);

// The URLs handed to the desktop since the process started, in order.
inline std::vector<std::string> handedURLs() {
    std::vector<std::string> urls;
    std::ifstream in(recordFile());
    for (std::string line; std::getline(in, line);) urls.push_back(line);
    return urls;
}

// Whether a URL with the prefix was handed to the desktop since the process started.
inline bool handedOver(const std::string& prefix) {
    for (const auto& url : handedURLs())
        if (url.starts_with(prefix)) return true;
    return false;
}

class BannerRecorder : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override { events.push_back("receive"); }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&,
                                           const ZELRequestError& error) override {
        events.push_back("fail " + std::to_string(error.code));
        codes.push_back(error.code);
    }
    int callbacks() const { return static_cast<int>(events.size()); }
    std::vector<std::string> events;
    std::vector<long> codes;
};

// Points the component at a server for the life of the object; the variables
// are removed again so later tests reach no dead server.
struct ServerEnvironment {
    ServerEnvironment(const std::string& staticServer, const std::string& adServer) {
        setenv("NIMBRA_STATIC_SERVER", staticServer.c_str(), 1);
        setenv("NIMBRA_AD_SERVER", adServer.c_str(), 1);
    }
    ~ServerEnvironment() {
        unsetenv("NIMBRA_STATIC_SERVER");
        unsetenv("NIMBRA_AD_SERVER");
    }
};

// What a page's script answers, as text; nothing when it never answered.
inline std::optional<std::string> pageValue(
    platform::WebView& web, const std::string& script = "document.body ? document.body.innerText : ''") {
    // Shared with the callback, which may come after a time-out.
    auto result = std::make_shared<std::pair<bool, std::optional<std::string>>>();
    web.evaluateJavaScript(script, [result](std::optional<std::string> t) { *result = {true, std::move(t)}; });
    spinUntil([&] { return result->first; }, 10);
    return result->second;
}

inline bool shows(platform::WebView& web, const std::string& text) {
    return pageValue(web).value_or("").find(text) != std::string::npos;
}

// The banner shows an ad whose text holds `text`.
inline bool showsAd(ZELBannerView& banner, const std::string& text = "Ad #") {
    return banner.getPrivate()->state() == kZELStateShown && shows(*banner.webView(), text);
}

// The address an ad screen (the browser or the web app) shows once it has
// finished loading; "" for another screen or none.
inline std::string screenPage(const std::shared_ptr<platform::ViewController>& screen) {
    std::shared_ptr<ZELWebView> web;
    if (auto browser = std::dynamic_pointer_cast<ZELBrowserController>(screen)) web = browser->webView();
    if (auto app = std::dynamic_pointer_cast<ZELWebAppViewController>(screen)) web = app->webView();
    auto request = web && !web->isLoading() ? web->request() : std::nullopt;
    return request ? request->url.absoluteString() : "";
}

// A phone-sized window with a root screen, and the component pointed at a
// nimbra-adserver started with the fixture's arguments; what a test adds
// goes before the server does. The component loads only while the
// application is active: the fixture makes it so, and leaves an unlaunched
// lifecycle behind, so a later test can launch for real.
class ServedWindow : public ::testing::Test {
protected:
    explicit ServedWindow(std::vector<std::string> serverArguments) : serverArguments_(std::move(serverArguments)) {}
    void SetUp() override {
        nimbra::test::gtkBackend();
        ZELObjectPrivate::resetProcessState();  // a page made for another test's server
        auto& lifecycle = platform::ApplicationLifecycle::shared();
        lifecycle.reset();
        lifecycle.finishLaunching();
        lifecycle.setOnScreen(true);
        server = std::make_unique<AdServerProcess>(serverArguments_);
        ASSERT_TRUE(server->ok()) << "nimbra-adserver did not start";
        environment = std::make_unique<ServerEnvironment>(server->origin(), server->origin());
        window = nimbra::test::shownWindow();
        root = window->rootViewController();
    }
    void TearDown() override {
        spinFor(0.2);  // released web views and connections go before the server does
        window.reset();
        environment.reset();
        server.reset();
        platform::ApplicationLifecycle::shared().reset();
    }
    // A banner in the bottom strip of the root screen.
    std::shared_ptr<ZELBannerView> addBanner(const std::string& adUnit,
                                             const std::shared_ptr<ZELBannerViewDelegate>& delegate) {
        auto banner = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
        banner->setAdUnitID(adUnit);
        banner->setRootViewController(root);
        banner->setDelegate(delegate);
        root->view()->addSubview(banner);
        return banner;
    }
    std::unique_ptr<AdServerProcess> server;
    std::unique_ptr<ServerEnvironment> environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> root;

private:
    std::vector<std::string> serverArguments_;
};

// mensajes launched in this process, from an unlaunched lifecycle, against a
// nimbra-adserver of its own; tabs is null when the launch failed. Pages are
// variables naming remote screens, pointed at paths on that server. It leaves
// an unlaunched lifecycle behind.
struct LaunchedMensajes {
    using Pages = std::vector<std::pair<std::string, std::string>>;
    explicit LaunchedMensajes(const std::vector<std::string>& serverArguments, Pages pages = {})
        : server(serverArguments), environment(server.origin(), server.origin()), pages_(std::move(pages)) {
        for (const auto& [variable, path] : pages_) setenv(variable.c_str(), (server.origin() + path).c_str(), 1);
        nimbra::test::gtkBackend();
        platform::ApplicationLifecycle::shared().reset();
        ZELObjectPrivate::resetProcessState();
        mensajes::registerClasses();
        platform::InterfaceFile::setSearchDirectory(MENSAJES_RESOURCES_DIR);
        std::string error;
        if (!server.ok() || !platform::launchApplication("MainWindow", &error)) return;
        window = platform::Window::keyWindow();
        if (window) tabs = std::dynamic_pointer_cast<platform::TabBarController>(window->rootViewController());
    }
    ~LaunchedMensajes() {
        if (tabs) tabs->dismissModalViewControllerAnimated(false);
        tabs.reset();
        if (window) window->setHidden(true);
        window.reset();
        spinFor(0.2);
        platform::ApplicationLifecycle::shared().reset();
        for (const auto& [variable, path] : pages_) unsetenv(variable.c_str());
    }
    AdServerProcess server;
    ServerEnvironment environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::TabBarController> tabs;

private:
    Pages pages_;
};

}  // namespace banner_test
