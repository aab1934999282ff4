// Ad pages are outside code. A tap on a banner ad, all the way to what it
// opens: one activation of the ad (a press, or a key on its link) allows one
// opening within a few seconds, the opening uses it up, a new ad drops it, and
// only an opening that took place counts the click. Each kind of view hears
// only the messages meant for it. And the browser outliving the banner. (The
// same against real pages, under a real display, is the hostile-ad table's.)

#include "unit/ads/banner/BannerFixture.h"

#include "Browser/ZELBrowserController.h"
#include "Notification/ZELNotificationCenter.h"
#include "Object/ZELPreparedBuildPage.h"
#include "WebApp/ZELWebAppViewController.h"
#include "platform/MailComposeViewController.h"
#include "platform/Window.h"
#include "platform/sim/SimViews.h"

#include <algorithm>
#include <map>

using platform::percentEncodeUnreserved;
using platform::sim::SimWebViewPeer;

class ContainmentTest : public BannerTest {
protected:
    static constexpr const char* kClickTracking = "http://127.0.0.1:8090/ct/";
    void SetUp() override {
        BannerTest::SetUp();
        serveAd("<a href='http://127.0.0.1:8090/click?ai=tok'>ad</a>",
                {{"X-Ruma-Click-Tracking-Urls", std::string(kClickTracking) + "one " + kClickTracking + "two"},
                 {"X-Ruma-Refresh-Rate", "30"}});
        sim().http().routePrefix(kClickTracking, platform::sim::SimResponse::ok("ok"));
        sim().application().setOpenableSchemes({"http", "https", "tel", "mailto", "market"});
        // The banner's screen is on the phone's screen, as in an application.
        window = std::make_shared<platform::Window>(platform::Rect(0, 0, 320, 480));
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        makeBanner();
    }
    void TearDown() override {
        root->dismissModalViewControllerAnimated(false);
        window.reset();
        BannerTest::TearDown();
    }
    // A new ad, shown a moment ago, with nothing over the application.
    void freshAd() {
        root->dismissModalViewControllerAnimated(false);
        sim().advance(1);
        loadAndSettle();
        ASSERT_EQ(state(), kZELStateShown);
        peer = SimWebViewPeer::of(*banner->webView());
        sim().advance(1);
    }
    void tap() { banner->webView()->hitTest(platform::Point{10, 10}, nullptr); }
    void open(const std::string& query) {
        peer->navigate("qmsg://nimbra/open?" + query, platform::NavigationType::Other);
    }
    // What the ad may try, one word each.
    void step(const std::string& what) {
        const std::string landing = "u=" + percentEncodeUnreserved("http://127.0.0.1:8090/landing?ai=tok");
        if (what == "tap") tap();
        else if (what == "wait") sim().advance(5.1);
        else if (what == "new ad") freshAd();
        else if (what == "browser") open("a=browser&" + landing);
        else if (what == "web app") open("a=webapp&html=%3Cp%3Eapp%3C%2Fp%3E");
        else if (what == "market") open("a=app&u=" + percentEncodeUnreserved("market://details?id=x"));
        else if (what == "tel") peer->navigate("tel:+34600000000", platform::NavigationType::LinkClicked);
        else if (what == "mail") peer->navigate("mailto:ana@example.com", platform::NavigationType::LinkClicked);
        else if (what == "key on link")
            peer->navigateByUserGesture("http://127.0.0.1:8090/click?ai=tok", platform::NavigationType::LinkClicked);
        else if (what == "key open")
            peer->navigateByUserGesture("qmsg://nimbra/open?a=browser&" + landing, platform::NavigationType::Other);
        else if (what == "elsewhere")
            peer->navigate("http://127.0.0.1:8090/elsewhere", platform::NavigationType::Other);
        else if (what == "key elsewhere")
            peer->navigateByUserGesture("http://127.0.0.1:8090/elsewhere", platform::NavigationType::Other);
        else FAIL() << what;
        sim().runUntilIdle();
    }
    // What is over the application: the kinds of screen, bottom up.
    std::vector<std::string> screens() const {
        std::vector<std::string> kinds;
        for (auto c = root->modalViewController(); c; c = c->modalViewController()) {
            if (std::dynamic_pointer_cast<ZELBrowserController>(c)) kinds.push_back("browser");
            else if (std::dynamic_pointer_cast<ZELWebAppViewController>(c)) kinds.push_back("web app");
            else if (std::dynamic_pointer_cast<platform::MailComposeViewController>(c)) kinds.push_back("composer");
            else kinds.push_back("other");
        }
        return kinds;
    }
    long clicks() {
        const auto stats = ZELStatistics::sharedStatistics()->peekParameters();
        return stats.count("pcc") ? stats.at("pcc").asInteger().value_or(0) : 0;
    }
    int refusals() {
        const auto lines = sim().logLines();
        return int(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("without the user's activation") != std::string::npos;
        }));
    }
    std::shared_ptr<platform::Window> window;
    SimWebViewPeer* peer = nullptr;
};

TEST_F(ContainmentTest, OneActivationAllowsOneOpening) {
    struct Case {
        const char* what;
        std::vector<std::string> steps;
        std::vector<std::string> screens;
        size_t handedOver;  // URLs that left for another application
        long clicks;        // "pcc"
        size_t clickTrackings;
        int refusalLines;
        int bannerLoads;  // pages the banner itself went on to
    } cases[] = {
        // (A page's own navigation loads in the banner, as ever.)
        {"the page asks by itself", {"browser", "web app", "tel", "mail", "elsewhere"}, {}, 0, 0, 0, 1, 1},
        {"one tap, four asks", {"tap", "browser", "web app", "tel", "mail"}, {"browser"}, 0, 1, 2, 1, 0},
        {"the tap has expired", {"tap", "wait", "browser"}, {}, 0, 0, 0, 1, 0},
        {"a new ad drops the tap", {"tap", "new ad", "tel"}, {}, 0, 0, 0, 1, 1 /* the new ad */},
        {"a refused opening uses nothing up", {"tap", "market", "tel"}, {}, 1, 1, 2, 0, 0},
        {"a key on the ad's link goes where a tap goes", {"key on link", "browser"}, {"web app"}, 0, 1, 2, 1, 0},
        {"the page's gestures after a used tap", {"tap", "tel", "key open", "key elsewhere"}, {}, 1, 1, 2, 1, 0},
        {"a tap each", {"tap", "tel", "tap", "tel"}, {}, 2, 2, 4, 0, 0},
        {"one composer at a time", {"tap", "mail", "tap", "mail"}, {"composer"}, 0, 1, 2, 0, 0},
        {"one screen at a time", {"tap", "browser", "tap", "web app"}, {"browser"}, 0, 1, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        freshAd();
        ZELStatistics::sharedStatistics()->parameters();  // clears the counts
        sim().clearLog();
        const size_t handed = sim().application().openedURLs().size();
        const size_t tracked = sim().http().countOf(kClickTracking);
        const int loads = peer->startCount();
        for (const auto& what : c.steps) step(what);
        sim().advance(1);  // the hand-over to another application
        EXPECT_EQ(screens(), c.screens);
        EXPECT_EQ(sim().application().openedURLs().size() - handed, c.handedOver);
        EXPECT_EQ(clicks(), c.clicks);
        EXPECT_EQ(sim().http().countOf(kClickTracking) - tracked, c.clickTrackings);
        EXPECT_EQ(refusals(), c.refusalLines);
        EXPECT_EQ(SimWebViewPeer::of(*banner->webView())->startCount() - loads, c.bannerLoads);
    }
}

// The request page answers and logs; the ad and the web-app page send the ad
// messages (only the web-app page reaches into its banner); pages in the
// browser send nothing. Names the component does not know stay inside it.
TEST_F(ContainmentTest, EachViewHearsOnlyItsOwnMessages) {
    freshAd();
    auto requestPage = ZELPreparedBuildPage::makePage();
    auto browser = ZELBrowserController::init();
    browser->setOpeningWebView(banner->webView());
    ASSERT_TRUE(browser->presentFromViewController(root));
    auto webApp = ZELWebAppViewController::init();
    webApp->setOpeningWebView(banner->webView());
    ASSERT_TRUE(webApp->presentFromViewController(browser));
    sim().advance(1);
    std::vector<platform::Notification> inside, platformWide;
    auto insideObservation = ZELNotificationCenter::defaultCenter().observe(
        "", nullptr, [&](const platform::Notification& n) { inside.push_back(n); });
    auto platformObservation =
        platform::NotificationCenter::defaultCenter().observe("", nullptr, [&](const platform::Notification& n) {
            if (n.name != ZELWebViewDelegateDidReceiveWebAction) platformWide.push_back(n);
        });
    std::vector<ZELBuildPageAnswer> answers;  // the request page's, to whoever holds it
    requestPage.delegate->setAnswerHandler([&](const ZELBuildPageAnswer& answer) { answers.push_back(answer); });
    const auto posted = [&](const std::string& name, const platform::View& from) {
        return std::any_of(inside.begin(), inside.end(),
                           [&](const auto& n) { return n.name == name && n.object == &from; });
    };
    const auto heard = [](platform::WebView& view, const std::string& text) {
        const auto& scripts = SimWebViewPeer::of(view)->scripts();
        return std::any_of(scripts.begin(), scripts.end(),
                           [&](const auto& s) { return s.find(text) != std::string::npos; });
    };
    std::string mark;  // new for each message sent, so that an effect is its own
    int sent = 0;
    size_t opened = 0;
    // Each message a page sends (the mark at its end), and what it does when taken.
    using Effect = std::function<bool(platform::WebView&)>;
    const std::pair<std::string, Effect> messages[] = {
        {"log?string=", [&](auto&) { return sim().logContains(mark); }},
        {"open?a=call&u=tel%3A%2B34600000000&m=",
         [&](auto&) { return sim().application().openedURLs().size() > opened; }},
        // Only the schemes an ad may be handed to are asked about.
        {"canOpenURLs?urls=tel:1,market:x&m=",
         [&](platform::WebView& view) { return heard(view, R"("market:x":false)") && heard(view, R"("tel:1":true)"); }},
        {"evalInOpener?js=", [&](auto&) { return heard(*banner->webView(), mark); }},
        {"loadAdURL?errors=",
         [&](platform::WebView& view) {
             return view.delegate() == requestPage.delegate ? !answers.empty() : posted("loadAdURL", view);
         }},
        {std::string(platform::kApplicationWillEnterForegroundNotification) + "?m=",
         [&](platform::WebView& view) { return posted(platform::kApplicationWillEnterForegroundNotification, view); }},
    };
    const std::pair<const char*, platform::WebView*> views[] = {{"request page", requestPage.webView.get()},
                                                                {"banner", banner->webView().get()},
                                                                {"browser", browser->webView().get()},
                                                                {"web app", webApp->webView().get()}};
    const std::map<std::string, std::string> takes = {
        // log, open, canOpenURLs, evalInOpener, loadAdURL, a platform notification
        {"request page", "100010"},
        {"banner", "111001"},
        {"browser", "000000"},
        {"web app", "111101"}};
    for (const auto& [viewName, view] : views) {
        std::string took;
        for (const auto& [message, effect] : messages) {
            mark = "mark" + std::to_string(++sent);
            opened = sim().application().openedURLs().size();
            view->hitTest(platform::Point{1, 1}, nullptr);  // "open" is tapped for
            SimWebViewPeer::of(*view)->navigate("qmsg://n/" + message + mark, platform::NavigationType::Other);
            sim().advance(1);  // messages go on the next turn; leaving waits for the click trackings
            took += effect(*view) ? '1' : '0';
        }
        EXPECT_EQ(took, takes.at(viewName)) << viewName;
    }
    EXPECT_TRUE(platformWide.empty()) << "a page spoke on the platform's center: " << platformWide.front().name;
    EXPECT_TRUE(sim().logContains("<Nimbra> A page sent a message its view does not take (open); refused."));
    webApp->relinquishScreen();
    browser->relinquishScreen();
}

TEST_F(ContainmentTest, BrowserOutlivesTheBannerThatOpenedIt) {
    freshAd();
    tap();
    step("browser");
    auto screen = std::dynamic_pointer_cast<ZELBrowserController>(root->modalViewController());
    ASSERT_TRUE(screen);
    std::weak_ptr<ZELObjectPrivate> ad = controller();
    dropBanner();
    sim().runUntilIdle();
    EXPECT_TRUE(ad.expired());
    SimWebViewPeer::of(*screen->webView())->finishLoad();
    screen->relinquishScreen();
    std::weak_ptr<ZELBrowserController> gone = screen;
    screen.reset();
    sim().advance(1);
    EXPECT_TRUE(gone.expired());
}
