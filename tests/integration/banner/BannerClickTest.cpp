// A person taps the banners of mensajes (real pointer clicks on the virtual
// display) and each destination comes up: the in-app browser, the web-app
// screen, the mail composer, or another application; closing a screen brings
// the application back and the banner goes on reloading.
#include "Classes/Screens.h"
#include "WebApp/ZELWebAppViewControllerPrivate.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/XInput.h"
#include "platform/MailComposeViewController.h"
#include "platform/Toolbar.h"

namespace {

using namespace banner_test;

// mensajes in this process against nimbra-adserver, with real pointer taps on
// its first tab's banner (the X test extension on the virtual display).
class MensajesTap : public ::testing::Test {
protected:
    static constexpr double kRefreshSeconds = 3;
    // The creatives the server's plain ads take turns with.
    virtual std::string creatives() const = 0;

    void SetUp() override {
        app = std::make_unique<LaunchedMensajes>(std::vector<std::string>{
            "--refresh-rate", std::to_string(int(kRefreshSeconds)), "--creatives", creatives()});
        ASSERT_TRUE(app->tabs) << "mensajes did not launch";
        first = std::dynamic_pointer_cast<FirstViewController>(app->tabs->selectedViewController());
        ASSERT_TRUE(first && first->banner());
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
    }
    void TearDown() override {
        first.reset();
        app.reset();
    }

    std::shared_ptr<ZELBannerView> banner() const { return first->banner(); }
    // The ad screen over the application, if it is of that kind.
    template <typename Screen>
    std::shared_ptr<Screen> screen() const {
        return std::dynamic_pointer_cast<Screen>(app->tabs->modalViewController());
    }
    // Waits for a shown ad of the given number, then taps it as a person would.
    void tapAdNumber(int number) {
        const std::string label = "Ad #" + std::to_string(number);
        ASSERT_TRUE(spinUntil([&] { return showsAd(*banner(), label); }, kAdTimeout))
            << "no " << label << " on the first tab";
        spinFor(0.3);  // a tap in the ad's first moment is no click
        ASSERT_TRUE(input.clickAt(*banner(), 160, 25));
    }
    // An ad screen comes up and shows a page whose address holds the text.
    template <typename Screen>
    std::shared_ptr<Screen> waitForScreenShowing(const std::string& page) {
        const auto showing = [&] {
            return screen<Screen>() && screenPage(app->tabs->modalViewController()).find(page) != std::string::npos;
        };
        return spinUntil(showing, kAdTimeout) ? screen<Screen>() : nullptr;
    }
    // Taps a control of a screen, as a person would once it is all the way up,
    // and waits for the screen to go.
    void tapToClose(platform::ViewController& shown, const platform::View& control) {
        ASSERT_TRUE(spinUntil([&] { return shown.isAppeared() && shown.view()->isUserInteractionEnabled(); }, 5));
        ASSERT_TRUE(input.clickAt(control, control.bounds().width() / 2, control.bounds().height() / 2));
        ASSERT_TRUE(spinUntil([&] { return !app->tabs->modalViewController(); }, 10)) << "the screen stayed up";
    }
    int counter(const char* name) const { return app->server.counter(name); }

    std::unique_ptr<LaunchedMensajes> app;
    std::shared_ptr<FirstViewController> first;
    nimbra::test::XInput input;
};

class BrowserTaps : public MensajesTap {
protected:
    std::string creatives() const override { return "browser,open-browser"; }
    void tapDone(ZELBrowserController& shown) {
        auto done = shown.toolbar()->items().back()->representedView();
        ASSERT_TRUE(done);
        tapToClose(shown, *done);
    }
};

// Until Done, after which the banner goes on.
TEST_F(BrowserTaps, ATappedAdOpensTheBrowser) {
    // A plain link in an ad without click-tracking URLs.
    tapAdNumber(1);
    auto shown = waitForScreenShowing<ZELBrowserController>("/landing?");
    ASSERT_TRUE(shown) << "no browser with the landing page over the application";
    const auto landings = app->server.requestsTo("landing");
    ASSERT_EQ(landings.size(), 1u);
    const std::string referrer = landings[0]["headers"].value("Referer", std::string());
    EXPECT_EQ(referrer.rfind(app->server.origin() + "/ads?", 0), 0u)
        << "the landing page does not know the ad it came from";
    EXPECT_EQ(counter("ctrack"), 0);
    // Nothing reloads behind the browser.
    spinFor(kRefreshSeconds + 1);
    EXPECT_EQ(counter("ads"), 1);

    tapDone(*shown);
    shown.reset();

    // The banner reloads on schedule; the next ad asks by message, and its
    // click-tracking URLs are reported.
    tapAdNumber(2);
    shown = waitForScreenShowing<ZELBrowserController>("/landing?");
    ASSERT_TRUE(shown) << "the open message did not bring the browser up";
    ASSERT_TRUE(spinUntil([&] { return counter("ctrack") >= 2; }, kAdTimeout));
    tapDone(*shown);
    shown.reset();
    ASSERT_TRUE(spinUntil([&] { return counter("ads") >= 3; }, kRefreshSeconds + kAdTimeout))
        << "the banner stopped reloading after the browser";
}

class WebAppTaps : public MensajesTap {
protected:
    std::string creatives() const override { return "webapp,webapp-html"; }
    int events(const char* name) const {
        int n = 0;
        for (const auto& r : app->server.requestsTo("webapp_event"))
            n += r["query"].value("name", std::string()) == name;
        return n;
    }
};

// The page hears it is shown and hidden; the click is reported once.
TEST_F(WebAppTaps, ATappedAdOpensTheWebApp) {
    // A link in an ad with click-tracking URLs: the web-app screen.
    tapAdNumber(1);
    auto shown = waitForScreenShowing<ZELWebAppViewController>("/webapp?");
    ASSERT_TRUE(shown) << "no web-app screen over the application";
    ASSERT_TRUE(spinUntil(
        [&] { return pageValue(*shown->webView(), "window.nimbraWebApp.onshow") == std::optional<std::string>("1"); },
        10))
        << "the page never heard it is shown";
    ASSERT_TRUE(spinUntil([&] { return events("onshow") == 1; }, 10));
    // Each click-tracking URL of the ad once, however the opening went.
    spinFor(1.0);
    EXPECT_EQ(counter("ctrack"), 2);
    EXPECT_EQ(pageValue(*shown->webView(), "window.nimbraWebApp.onshow"), std::optional<std::string>("1"));

    tapToClose(*shown, *shown->vars()->closeButton_);
    ASSERT_TRUE(spinUntil([&] { return events("onhide") == 1; }, 10)) << "the page never heard it was hidden";
    EXPECT_EQ(events("onshow"), 1);
    shown.reset();

    // Markup sent by message: the same page, without an address; it closes
    // its own screen.
    tapAdNumber(2);
    ASSERT_TRUE(spinUntil([&] { return (shown = screen<ZELWebAppViewController>()) != nullptr; }, kAdTimeout));
    ASSERT_TRUE(spinUntil([&] { return events("onshow") == 2; }, kAdTimeout));
    ASSERT_TRUE(spinUntil([&] { return shown->view()->isUserInteractionEnabled(); }, 5));
    pageValue(*shown->webView(), "document.getElementById('close').click(), 1");
    ASSERT_TRUE(spinUntil([&] { return !screen<ZELWebAppViewController>(); }, 10)) << "the page could not close itself";
    shown.reset();
    ASSERT_TRUE(spinUntil([&] { return counter("ads") >= 3; }, kRefreshSeconds + kAdTimeout))
        << "the banner stopped reloading after the web app";
}

class LeavingTaps : public MensajesTap {
protected:
    std::string creatives() const override { return "mail,app,call"; }
};

// The mail composer, another application.
TEST_F(LeavingTaps, ATappedAdGoesWhereItAsks) {
    // A mail link: the composer, filled from the link; Send hands it to the
    // desktop's mail client.
    tapAdNumber(1);
    std::shared_ptr<platform::MailComposeViewController> composer;
    ASSERT_TRUE(
        spinUntil([&] { return (composer = screen<platform::MailComposeViewController>()) != nullptr; }, kAdTimeout))
        << "no mail composer";
    EXPECT_EQ(composer->message().subject, "Ad #1");  // its addresses are in what Send hands over
    std::shared_ptr<platform::View> send;
    for (const auto& item : std::dynamic_pointer_cast<platform::Toolbar>(composer->view()->subviews()[0])->items())
        if (item->title() == "Send") send = item->representedView();
    ASSERT_TRUE(send);
    tapToClose(*composer, *send);
    composer.reset();
    ASSERT_TRUE(spinUntil(
        [&] { return handedOver("mailto:ventas@nimbra.example?cc=info@nimbra.example,soporte@nimbra.example"); }, 10));

    // "app" and "call": out to the desktop's handler of the URL's scheme, the
    // ad's two click-tracking URLs reported once each however long it waited.
    for (const auto& [number, url] :
         {std::pair{2, app->server.origin() + "/click?"}, {3, std::string("tel:+34600000000")}}) {
        const int clicks = counter("ctrack");
        tapAdNumber(number);
        ASSERT_TRUE(spinUntil([&] { return handedOver(url); }, kAdTimeout)) << url << " never reached the desktop";
        spinFor(1.0);
        EXPECT_EQ(counter("ctrack"), clicks + 2);
    }
    EXPECT_EQ(app->tabs->modalViewController(), nullptr);
}

}  // namespace
