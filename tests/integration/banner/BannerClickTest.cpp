// A person taps the banners of mensajes (real pointer clicks on the virtual
// display) and each destination comes up: the in-app browser, the web-app
// screen, the mail composer, or another application; closing a screen brings
// the application back and the banner goes on reloading.
// NIMBRA_BROWSER_SCREENSHOT / NIMBRA_WEBAPP_SCREENSHOT / NIMBRA_MAIL_SCREENSHOT
// = <file.png> save what a person sees.
#include "integration/banner/MensajesTap.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Browser/ZELBrowserController.h"
#include "WebApp/ZELWebAppViewController.h"
#include "WebApp/ZELWebAppViewControllerPrivate.h"
#include "platform/MailComposeViewController.h"
#include "platform/Toolbar.h"

namespace {

// The desktop's handler for the URLs the application hands over (another
// application's schemes, web pages, mail) is a stand-in that records each URL
// it is started with: what would have left the application.
namespace fs = std::filesystem;

// Schemes the stand-in takes: what ads send users to.
constexpr const char* kSchemes[] = {"http", "https", "tel", "sms", "market", "mailto"};

fs::path recordFile() {
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

[[maybe_unused]] const auto* const kDesktopHandler = ::testing::AddGlobalTestEnvironment(new DesktopHandler);

// The URLs handed to the desktop since the process started, oldest first.
std::vector<std::string> urlsHandedToTheDesktop() {
    std::vector<std::string> urls;
    std::ifstream in(recordFile());
    for (std::string line; std::getline(in, line);) urls.push_back(line);
    return urls;
}

using banner_test::kAdTimeout;
using nimbra::test::spinFor;
using nimbra::test::spinUntil;

class BrowserTaps : public banner_test::MensajesTap {
protected:
    std::string creatives() const override { return "browser,open-browser"; }
    void tapDone(ZELBrowserController& shown) {
        auto done = shown.toolbar()->items().back()->representedView();
        ASSERT_TRUE(done);
        tapToClose(shown, *done);
    }
};

TEST_F(BrowserTaps, TappedAdsOpenTheBrowserAndTheBannerGoesOnAfterDone) {
    auto& application = platform::Application::shared();
    // A plain link in an ad without click-tracking URLs.
    tapAdNumber(1);
    auto shown = waitForScreenShowing<ZELBrowserController>("/landing?");
    ASSERT_TRUE(shown) << "no browser with the landing page over the application";
    EXPECT_TRUE(application.isStatusBarHidden());
    EXPECT_TRUE(application.isIdleTimerDisabled());
    EXPECT_FALSE(banner()->getPrivate()->isReloadTimerScheduled());
    auto status = banner_test::serverStatus(*server);
    const auto landings = banner_test::requestsTo(status, "landing");
    ASSERT_EQ(landings.size(), 1u);
    const std::string referrer = landings[0]["headers"].value("Referer", std::string());
    EXPECT_EQ(referrer.rfind(server->origin() + "/ads?", 0), 0u) << "the landing page does not know the ad it came from";
    EXPECT_EQ(status["counters"]["ctrack"], 0);

    screenshot("NIMBRA_BROWSER_SCREENSHOT");
    // Nothing reloads behind the browser.
    spinFor(kRefreshSeconds + 1);
    EXPECT_EQ(banner_test::counter(*server, "ads"), 1);

    tapDone(*shown);
    shown.reset();
    EXPECT_FALSE(application.isStatusBarHidden());
    EXPECT_FALSE(application.isIdleTimerDisabled());

    // The banner reloads on schedule; the next ad asks by message, and its
    // click-tracking URLs are reported.
    tapAdNumber(2);
    shown = waitForScreenShowing<ZELBrowserController>("/landing?");
    ASSERT_TRUE(shown) << "the open message did not bring the browser up";
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ctrack") >= 2; }, kAdTimeout));
    tapDone(*shown);
    shown.reset();
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ads") >= 3; }, kRefreshSeconds + kAdTimeout))
        << "the banner stopped reloading after the browser";
}

}  // namespace

namespace {

// What a page's script answers, as text; empty when it could not run.
std::string pageValue(platform::WebView& web, const std::string& script) {
    auto result = std::make_shared<std::optional<std::string>>();
    auto done = std::make_shared<bool>(false);
    web.evaluateJavaScript(script, [result, done](std::optional<std::string> value) {
        *result = std::move(value);
        *done = true;
    });
    spinUntil([&] { return *done; }, 5);
    return result->value_or("");
}

class WebAppTaps : public banner_test::MensajesTap {
protected:
    std::string creatives() const override { return "webapp,webapp-html"; }
    int events(const char* name) const {
        int n = 0;
        for (const auto& r : banner_test::requestsTo(banner_test::serverStatus(*server), "webapp_event"))
            n += r["query"].value("name", std::string()) == name;
        return n;
    }
};

TEST_F(WebAppTaps, TheWebAppHearsItIsShownAndHiddenAndTheClickIsReportedOnce) {
    // A link in an ad with click-tracking URLs: the web-app screen.
    tapAdNumber(1);
    auto shown = waitForScreenShowing<ZELWebAppViewController>("/webapp?");
    ASSERT_TRUE(shown) << "no web-app screen over the application";
    ASSERT_TRUE(spinUntil([&] { return pageValue(*shown->webView(), "window.nimbraWebApp.onshow") == "1"; }, 10))
        << "the page never heard it is shown";
    ASSERT_TRUE(spinUntil([&] { return events("onshow") == 1; }, 10));
    screenshot("NIMBRA_WEBAPP_SCREENSHOT");
    // Each click-tracking URL of the ad once, however the opening went.
    spinFor(1.0);
    EXPECT_EQ(banner_test::counter(*server, "ctrack"), 2);
    EXPECT_EQ(pageValue(*shown->webView(), "window.nimbraWebApp.onshow"), "1");

    tapToClose(*shown, *shown->vars()->closeButton_);
    ASSERT_TRUE(spinUntil([&] { return events("onhide") == 1; }, 10)) << "the page never heard it was hidden";
    EXPECT_EQ(events("onshow"), 1);
    shown.reset();

    // Markup sent by message: the same page, without an address; it closes
    // its own screen.
    tapAdNumber(2);
    ASSERT_TRUE(spinUntil([&] { return screen<ZELWebAppViewController>() != nullptr; }, kAdTimeout));
    shown = screen<ZELWebAppViewController>();
    ASSERT_TRUE(spinUntil([&] { return events("onshow") == 2; }, kAdTimeout));
    ASSERT_TRUE(spinUntil([&] { return shown->view()->isUserInteractionEnabled(); }, 5));
    pageValue(*shown->webView(), "document.getElementById('close').click(), 1");
    ASSERT_TRUE(spinUntil([&] { return !screen<ZELWebAppViewController>(); }, 10)) << "the page could not close itself";
    shown.reset();
    ASSERT_TRUE(spinUntil([&] { return banner_test::counter(*server, "ads") >= 3; }, kRefreshSeconds + kAdTimeout))
        << "the banner stopped reloading after the web app";
}

class LeavingTaps : public banner_test::MensajesTap {
protected:
    std::string creatives() const override { return "mail,app,call"; }
    bool handedOver(const std::string& prefix) const {
        for (const auto& url : urlsHandedToTheDesktop())
            if (url.rfind(prefix, 0) == 0) return true;
        return false;
    }
};

TEST_F(LeavingTaps, MailComposerAndOtherApplicationsGetWhatTheAdAsks) {
    // A mail link: the composer, filled from the link; Send hands it to the
    // desktop's mail client.
    tapAdNumber(1);
    std::shared_ptr<platform::MailComposeViewController> composer;
    ASSERT_TRUE(spinUntil(
        [&] { return (composer = std::dynamic_pointer_cast<platform::MailComposeViewController>(tabs->modalViewController())) != nullptr; },
        kAdTimeout))
        << "no mail composer";
    EXPECT_EQ(composer->message().to, std::vector<std::string>{"ventas@nimbra.example"});
    EXPECT_EQ(composer->message().cc, (std::vector<std::string>{"info@nimbra.example", "soporte@nimbra.example"}));
    EXPECT_EQ(composer->message().subject, "Ad #1");
    screenshot("NIMBRA_MAIL_SCREENSHOT");
    std::shared_ptr<platform::View> send;
    for (const auto& item : std::dynamic_pointer_cast<platform::Toolbar>(composer->view()->subviews()[0])->items())
        if (item->title() == "Send") send = item->representedView();
    ASSERT_TRUE(send);
    ASSERT_TRUE(spinUntil([&] { return composer->isAppeared(); }, 5));
    ASSERT_TRUE(input.clickAt(*send, send->bounds().width() / 2, send->bounds().height() / 2));
    ASSERT_TRUE(spinUntil([&] { return !tabs->modalViewController(); }, 10)) << "the composer stayed up";
    composer.reset();
    ASSERT_TRUE(spinUntil([&] { return handedOver("mailto:ventas@nimbra.example?cc=info@nimbra.example,"); }, 10));

    // "app" and "call": out to the desktop's handler of the URL's scheme, the
    // ad's two click-tracking URLs reported once each however long it waited.
    auto clicks = banner_test::counter(*server, "ctrack");
    tapAdNumber(2);
    ASSERT_TRUE(spinUntil([&] { return handedOver(server->origin() + "/click?"); }, kAdTimeout))
        << "the web page never reached the desktop";
    spinFor(1.0);
    EXPECT_EQ(banner_test::counter(*server, "ctrack"), clicks + 2);
    clicks = banner_test::counter(*server, "ctrack");
    tapAdNumber(3);
    ASSERT_TRUE(spinUntil([&] { return handedOver("tel:+34600000000"); }, kAdTimeout)) << "the call never left";
    spinFor(1.0);
    EXPECT_EQ(banner_test::counter(*server, "ctrack"), clicks + 2);
    EXPECT_EQ(tabs->modalViewController(), nullptr);
}

}  // namespace
