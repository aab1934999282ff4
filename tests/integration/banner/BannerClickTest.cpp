// A person taps the banners of mensajes (real pointer clicks on the virtual
// display) and each destination comes up: the in-app browser, the web-app
// screen, the mail composer, or another application; closing a screen brings
// the application back and the banner goes on reloading.
// NIMBRA_BROWSER_SCREENSHOT / NIMBRA_WEBAPP_SCREENSHOT / NIMBRA_MAIL_SCREENSHOT
// = <file.png> save what a person sees.
#include "integration/banner/MensajesTap.h"

#include "Browser/ZELBrowserController.h"

namespace {

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
