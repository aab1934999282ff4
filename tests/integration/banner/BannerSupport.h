#pragma once
// Helpers of the banner tests against nimbra-adserver: the component pointed
// at a server, a recording banner delegate, a window for banners, the
// server's status report and the text a web view shows.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Delegate/ZELBannerViewDelegate.h"
#include "Object/ZELObjectPrivate.h"
#include "Request/ZELRequestError.h"
#include "View/ZELBannerView.h"
#include "integration/adserver/AdServerProcess.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"
#include "platform/ApplicationMain.h"
#include "platform/Http.h"
#include "platform/ViewController.h"
#include "platform/WebView.h"
#include "platform/Window.h"

namespace banner_test {

// Generous limits: a loaded two-core machine starts web processes slowly.
inline constexpr double kAdTimeout = 20.0;

class BannerRecorder : public ZELBannerViewDelegate {
public:
    void adViewDidReceiveAd(const std::shared_ptr<ZELBannerView>&) override {
        events.push_back("receive");
        ++received;
    }
    void adViewDidFailToReceiveAdWithError(const std::shared_ptr<ZELBannerView>&, const ZELRequestError& error) override {
        events.push_back("fail " + std::to_string(error.code));
        codes.push_back(error.code);
    }
    int callbacks() const { return static_cast<int>(events.size()); }
    std::vector<std::string> events;
    std::vector<long> codes;
    int received = 0;
};

// The component loads only while the application is active. A test that
// needs it active without launching the application makes it so and leaves
// an unlaunched lifecycle behind, so a later test can launch for real.
class ActiveApplication {
public:
    ActiveApplication() : owned_(platform::ApplicationLifecycle::shared().state() != platform::ApplicationState::Active) {
        if (!owned_) return;
        auto& lifecycle = platform::ApplicationLifecycle::shared();
        lifecycle.reset();
        lifecycle.finishLaunching();
        lifecycle.setOnScreen(true);
    }
    ~ActiveApplication() {
        if (owned_) platform::ApplicationLifecycle::shared().reset();
    }

private:
    const bool owned_;
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

inline nlohmann::json serverStatus(const adserver_test::AdServerProcess& server) {
    return nlohmann::json::parse(adserver_test::httpRequest(server.port(), "/status").body, nullptr, false);
}

inline int counter(const adserver_test::AdServerProcess& server, const char* name) {
    auto status = serverStatus(server);
    return status.is_object() && status["counters"].contains(name) ? status["counters"][name].get<int>() : -1;
}

inline std::vector<nlohmann::json> requestsTo(const nlohmann::json& status, const std::string& endpoint) {
    std::vector<nlohmann::json> found;
    if (status.is_object())
        for (const auto& r : status["requests"])
            if (r["endpoint"] == endpoint) found.push_back(r);
    return found;
}

// The text the page shows, or nothing when the script never answered.
inline std::optional<std::string> visibleText(platform::WebView& web) {
    // Shared with the callback, which may come after a time-out.
    auto result = std::make_shared<std::pair<bool, std::optional<std::string>>>();
    web.evaluateJavaScript("document.body ? document.body.innerText : ''", [result](std::optional<std::string> t) {
        *result = {true, std::move(t)};
    });
    nimbra::test::spinUntil([&] { return result->first; }, 10);
    return result->second;
}

// The ad server's visitor cookie lands in the process's shared HTTP session
// (cookies are per host, not per port): later tests on 127.0.0.1 must not see
// it. A throw-away server on the same host expires it.
inline void forgetVisitorCookie() {
    struct Ending : platform::URLConnectionDelegate {
        void connectionDidFinishLoading(platform::URLConnection&) override { ended = true; }
        void connectionDidFailWithError(platform::URLConnection&, const platform::Error&) override { ended = true; }
        bool ended = false;
    };
    nimbra::test::TestHttpServer expirer;
    expirer.route("/", nimbra::test::TestHttpServer::answer(200, "ok", {{"Set-Cookie", "nimbra_uid=; Path=/; Max-Age=0"}}));
    auto ending = std::make_shared<Ending>();
    auto connection = platform::URLConnection::create(platform::URLRequest(*platform::URL::parse(expirer.url("/"))), ending);
    connection->start();
    nimbra::test::spinUntil([&] { return ending->ended; }, 10);
}

// A phone-sized window with a root screen, and the component pointed at a
// nimbra-adserver started with the fixture's arguments; what a test adds
// goes before the server does.
class ServedWindow : public ::testing::Test {
protected:
    explicit ServedWindow(std::vector<std::string> serverArguments) : serverArguments_(std::move(serverArguments)) {}
    void SetUp() override {
        nimbra::test::gtkBackend();
        ZELObjectPrivate::resetProcessState();  // a page made for another test's server
        application = std::make_unique<ActiveApplication>();
        server = std::make_unique<adserver_test::AdServerProcess>(serverArguments_);
        ASSERT_TRUE(server->ok()) << "nimbra-adserver did not start";
        environment = std::make_unique<ServerEnvironment>(server->origin(), server->origin());
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        root = std::make_shared<platform::ViewController>();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        nimbra::test::spinFor(0.2);  // released web views and connections go before the server does
        window.reset();
        environment.reset();
        server.reset();
        forgetVisitorCookie();
        application.reset();
    }
    // A banner in the bottom strip of the root screen.
    std::shared_ptr<ZELBannerView> addBanner(const std::string& adUnit, const std::shared_ptr<ZELBannerViewDelegate>& delegate) {
        auto banner = ZELBannerView::initWithFrame(platform::Rect(0, 361, 320, 50));
        banner->setAdUnitID(adUnit);
        banner->setRootViewController(root);
        banner->setDelegate(delegate);
        root->view()->addSubview(banner);
        return banner;
    }
    std::unique_ptr<ActiveApplication> application;
    std::unique_ptr<adserver_test::AdServerProcess> server;
    std::unique_ptr<ServerEnvironment> environment;
    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> root;

private:
    std::vector<std::string> serverArguments_;
};

}  // namespace banner_test
