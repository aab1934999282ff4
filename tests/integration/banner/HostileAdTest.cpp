// Ads are outside code. A table of hostile creatives from nimbra-adserver,
// shown in a real banner on the virtual display, tapped with the real pointer
// where the row says so: each row states what the page tried and what must
// happen. Every page reports what it tried and what it heard to the server
// (/hostile/event), so the table reads the outcome from outside: nothing
// opened or counted without a tap, one opening and one report of the
// click-tracking URLs per tap, nothing handed to another application, no
// file written, no dialog left holding the page. A key on the ad's link is a
// tap too.

#include <gtk/gtk.h>

#include <algorithm>
#include <set>

#include <webkit/webkit.h>

#include "Request/ZELRequest.h"
#include "integration/banner/BannerSupport.h"
#include "integration/support/GtkDriver.h"
#include "integration/support/XInput.h"
#include "platform/gtk/GtkBackend.h"
#include "platform/gtk/GtkViews.h"

namespace {

using namespace banner_test;

constexpr const char* kAdUnit = "a1b2c3d4e5f6a7b";
constexpr double kRefreshSeconds = 2;

// Files the pages try to write are all named after this.
bool payloadWritten() {
    const fs::path root = fs::path(std::getenv("HOME")).parent_path();
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, error);
         it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->path().filename().string().find("nimbra-payload") != std::string::npos) return true;
    return false;
}

// One banner in a window against a server whose plain ads are the creatives
// given, in turn; taps are real pointer presses, keys real key presses.
class BannerUnderAttack : public ServedWindow {
protected:
    explicit BannerUnderAttack(const std::string& creatives, double refresh)
        : ServedWindow({"--refresh-rate", std::to_string(refresh), "--exit-after", "300", "--creatives", creatives}) {}
    void SetUp() override {
        ServedWindow::SetUp();
        if (!input.available()) GTEST_SKIP() << "no X display with the test extension";
        banner = addBanner(kAdUnit, recorder);
        banner->loadRequest(ZELRequest::request());
    }
    void TearDown() override {
        root->dismissModalViewControllerAnimated(false);
        banner.reset();
        ServedWindow::TearDown();
    }
    bool showsAd(int number) { return banner_test::showsAd(*banner, "Ad #" + std::to_string(number)); }
    // The names the pages of ad `number` reported (its frames and landing
    // pages included).
    std::multiset<std::string> events(int number) const {
        std::multiset<std::string> names;
        for (const auto& r : server->requestsTo("hostile"))
            if (r["path"] == "/hostile/event" && r["query"].value("seq", "") == std::to_string(number))
                names.insert(r["query"].value("name", ""));
        return names;
    }
    bool reported(int number, const std::string& prefix) const {
        return std::ranges::any_of(events(number), [&](const std::string& name) { return name.starts_with(prefix); });
    }
    // The kinds of screen over the application, bottom up.
    std::vector<std::string> screens() const {
        std::vector<std::string> kinds;
        for (auto c = root->modalViewController(); c; c = c->modalViewController())
            kinds.push_back(std::dynamic_pointer_cast<ZELBrowserController>(c)      ? "browser"
                            : std::dynamic_pointer_cast<ZELWebAppViewController>(c) ? "web app"
                                                                                    : "other");
        return kinds;
    }
    std::string screenPage() const { return banner_test::screenPage(root->modalViewController()); }
    // "pcc" as the ad request after ad `number` reported it ("" when none).
    std::string clicksReportedAfter(int number) const {
        const auto ads = server->requestsTo("ads");
        return int(ads.size()) <= number ? "?" : ads[number]["query"].value("pcc", "");
    }
    void tap() {
        spinFor(0.3);  // a tap in the ad's first moment is no click
        ASSERT_TRUE(input.clickAt(*banner, 160, 25));
    }

    std::shared_ptr<BannerRecorder> recorder = std::make_shared<BannerRecorder>();
    std::shared_ptr<ZELBannerView> banner;
    nimbra::test::XInput input;
};

struct Row {
    const char* creative;
    bool tap;
    const char* screen;                // "browser", or "" for none
    const char* screenPage;            // what the screen ends on
    int clickTrackings;                // hits on the ad's click-tracking URLs
    int clickURLs;                     // the ad's click URL fetched (by a screen, or in the banner)
    const char* clicks;                // "pcc" reported with the next request ("" none)
    std::vector<std::string> reports;  // what the pages must report (prefixes)
    std::vector<std::string> never;    // what they must never report (prefixes)
    const char* tries;
};

// clang-format off
const Row kRows[] = {
    {"hostile-auto", false, "", "", 0, 0, "", {"tried 1", "tried 2"}, {"heard"},
     "open the browser, a web app, the click URL and a call by message; tel, sms and mail links; a scheme of its own; "
     "two windows; the page itself to tel: (twice, no tap)"},
    {"hostile-taps", true, "browser", "/landing?", 2, 1, "1", {"tried"}, {},
     "one tap, then the browser, a web app, a call, the composer, a window, the click URL in a frame and outside, and "
     "an sms link, all while handling the tap"},
    {"hostile-download", false, "", "", 0, 0, "", {"tried"}, {},
     "an attachment in a frame; download links to the server, a blob and a data URL; the page itself to the attachment"},
    {"hostile-dialogs", false, "", "", 0, 0, "", {"returned confirm=false location=refused1 notifications=denied password=0 print=returned prompt=null"}, {},
     "alert, confirm, prompt, print, the location, notifications, a password"},
    {"hostile-frame", false, "", "", 0, 0, "", {"tried", R"(heard openableURLs {"market://details?id=x":false,"tel:+34600000000":true,"x-nimbra-test:probe":false})"}, {"eval ran"},
     "from a frame of another origin: the browser and a call, evalInOpener, canOpenURLs for three schemes, the screens' "
     "and the platform's notification names"},
    {"hostile-landing", true, "browser", "/landing/2?", 0, 1, "1", {"tried"}, {"heard", "eval ran"},
     "a landing page in the browser: close, the browser again, a call, evalInOpener, canOpenURLs, the platform's and "
     "the screens' notification names, tel and mail links, a window; then on to page 2 by itself"},
};
// clang-format on

std::string creativeList() {
    std::string list;
    for (const Row& row : kRows) list += (list.empty() ? "" : ",") + std::string(row.creative);
    return list;
}

class HostileAds : public BannerUnderAttack {
protected:
    HostileAds() : BannerUnderAttack(creativeList(), kRefreshSeconds) {}
};

TEST_F(HostileAds, EachRowHolds) {
    int number = 0;
    for (const Row& row : kRows) {
        ++number;
        SCOPED_TRACE(std::string(row.creative) + ": " + row.tries);
        ASSERT_TRUE(spinUntil([&] { return showsAd(number); }, kAdTimeout)) << "no ad #" << number;
        const int clickTrackings = server->counter("ctrack"), clickURLs = server->counter("click");
        const auto handed = handedURLs().size();
        if (row.tap) tap();
        for (const auto& report : row.reports)
            EXPECT_TRUE(spinUntil([&] { return reported(number, report); }, kAdTimeout))
                << "never reported: " << report << "; reported: " << ::testing::PrintToString(events(number));
        if (*row.screen) {
            EXPECT_TRUE(spinUntil([&] { return screenPage().find(row.screenPage) != std::string::npos; }, kAdTimeout))
                << "the screen is on " << screenPage();
            EXPECT_EQ(screens(), std::vector<std::string>{row.screen});
            // Nothing reloads behind the screen, whatever the page said.
            const int ads = server->counter("ads");
            spinFor(kRefreshSeconds + 1);
            EXPECT_EQ(server->counter("ads"), ads);
            EXPECT_EQ(screens(), std::vector<std::string>{row.screen});
            auto screen = std::dynamic_pointer_cast<ZELViewController>(root->modalViewController());
            ASSERT_TRUE(screen);
            screen->relinquishScreen();
        }
        // The next ad comes on schedule: nothing paused the banner, and what
        // the page set going has had its time.
        ASSERT_TRUE(spinUntil([&] { return showsAd(number + 1); }, kAdTimeout)) << "the banner stopped reloading";
        EXPECT_EQ(screens(), std::vector<std::string>{});
        EXPECT_EQ(server->counter("ctrack") - clickTrackings, row.clickTrackings);
        EXPECT_EQ(server->counter("click") - clickURLs, row.clickURLs);
        EXPECT_EQ(clicksReportedAfter(number), row.clicks);
        EXPECT_EQ(handedURLs().size(), handed) << "handed to another application: " << handedURLs().back();
        for (const auto& prefix : row.never) EXPECT_FALSE(reported(number, prefix)) << "reported: " << prefix;
        EXPECT_FALSE(payloadWritten());
    }
    // The pages' attempts reached the server: the download row downloaded nothing.
    int downloads = 0;
    for (const auto& r : server->requestsTo("hostile")) downloads += r["path"] == "/hostile/download";
    EXPECT_GE(downloads, 1);
}

class KeyOnTheAd : public BannerUnderAttack {
protected:
    KeyOnTheAd() : BannerUnderAttack("normal", 300) {}
};

TEST_F(KeyOnTheAd, ReturnOnTheLinkOpensWhatATapOpens) {
    ASSERT_TRUE(spinUntil([&] { return showsAd(1); }, kAdTimeout));
    // The keyboard in the ad, on its link; the pointer only rests over the
    // window, which has the keyboard then.
    ASSERT_TRUE(input.pointAt(*root->view(), 160, 100));
    ASSERT_TRUE(gtk_widget_grab_focus(nimbra::test::findWidget(platform::gtk::widgetForView(*banner->webView()),
                                                               [](GtkWidget* w) { return WEBKIT_IS_WEB_VIEW(w); })));
    EXPECT_EQ(pageValue(*banner->webView(), "document.getElementById('ad').focus(), document.activeElement.id"),
              std::optional<std::string>("ad"));
    spinFor(0.3);  // a key in the ad's first moment is no click either
    ASSERT_TRUE(input.key("Return"));
    // The landing page in the web-app screen (the ad has click-tracking
    // URLs), the click reported once, and the banner still showing its ad.
    ASSERT_TRUE(spinUntil([&] { return screenPage().find("/landing?") != std::string::npos; }, kAdTimeout))
        << "nothing opened; the banner shows " << pageValue(*banner->webView()).value_or("");
    EXPECT_EQ(screens(), std::vector<std::string>{"web app"});
    EXPECT_TRUE(shows(*banner->webView(), "Ad #1"));
    EXPECT_TRUE(spinUntil([&] { return server->counter("ctrack") == 2; }, kAdTimeout));
    std::dynamic_pointer_cast<ZELViewController>(root->modalViewController())->relinquishScreen();
    ASSERT_TRUE(spinUntil([&] { return screens().empty(); }, 10));
    banner->loadRequest(ZELRequest::request());
    ASSERT_TRUE(spinUntil([&] { return showsAd(2); }, kAdTimeout));
    EXPECT_EQ(clicksReportedAfter(1), "1");
    EXPECT_EQ(server->counter("ctrack"), 2);
}

// An ad's cookies are its own: the application's pages at the same address
// do not see them, nor an ad the application's, and they are kept on disk.
TEST(OutsideContent, KeepsCookiesOfItsOwn) {
    nimbra::test::gtkBackend();
    auto outside = std::make_shared<platform::WebView>(platform::Rect(0, 0, 10, 10), platform::WebContent::Outside);
    auto own = std::make_shared<platform::WebView>(platform::Rect(0, 0, 10, 10));
    for (auto* view : {outside.get(), own.get()}) {
        view->loadHTMLString("<p>page</p>", platform::URL::parse("http://127.0.0.1:9/"));
        ASSERT_TRUE(spinUntil([&] { return !view->isLoading(); }, kAdTimeout));
    }
    pageValue(*outside, "document.cookie = 'ad=1; max-age=3600; path=/'");
    pageValue(*own, "document.cookie = 'own=1; max-age=3600; path=/'");
    EXPECT_EQ(pageValue(*outside, "document.cookie"), std::optional<std::string>("ad=1"));
    EXPECT_EQ(pageValue(*own, "document.cookie"), std::optional<std::string>("own=1"));
    const fs::path cookies =
        fs::path(*platform::gtk::GtkBackend::installed()->dataDirectory()) / "webkit-outside" / "cookies.sqlite";
    EXPECT_TRUE(spinUntil([&] { return fs::exists(cookies); }, 10)) << cookies;
}

}  // namespace
