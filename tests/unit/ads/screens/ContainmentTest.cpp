// Ad pages are outside code. A tap on a banner ad, all the way to what it
// opens: one activation of the ad (a press, or a key on its link) allows one
// opening within a few seconds, the opening uses it up, a new ad drops it, and
// only an opening that took place counts the click. Each kind of view hears
// only the messages meant for it. And the browser outliving the banner. (The
// same against real pages, under a real display, is the hostile-ad table's.)

#include "unit/ads/banner/BannerFixture.h"

#include "Browser/ZELBrowserController.h"
#include "Notification/ZELNotificationCenter.h"
#include "WebApp/ZELWebAppViewController.h"
#include "platform/MailComposeViewController.h"
#include "platform/sim/SimViews.h"

using platform::percentEncodeUnreserved;

class ContainmentTest : public BannerTest {
protected:
    using enum platform::NavigationType;
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
    void open(const std::string& query) { peer->navigate("qmsg://nimbra/open?" + query, Other); }
    // What the ad may try, one word each.
    void step(const std::string& what) {
        const std::string landing = "u=" + percentEncodeUnreserved("http://127.0.0.1:8090/landing?ai=tok");
        const std::string elsewhere = "http://127.0.0.1:8090/elsewhere";
        if (what == "tap") tap();
        else if (what == "wait") sim().advance(5.1);
        else if (what == "new ad") freshAd();
        else if (what == "browser") open("a=browser&" + landing);
        else if (what == "web app") open("a=webapp&html=%3Cp%3Eapp%3C%2Fp%3E");
        else if (what == "market") open("a=app&u=" + percentEncodeUnreserved("market://details?id=x"));
        else if (what == "tel") peer->navigate("tel:+34600000000", LinkClicked);
        else if (what == "mail") peer->navigate("mailto:ana@example.com", LinkClicked);
        else if (what == "key on link") peer->navigateByUserGesture("http://127.0.0.1:8090/click?ai=tok", LinkClicked);
        else if (what == "key open") peer->navigateByUserGesture("qmsg://nimbra/open?a=browser&" + landing, Other);
        else if (what == "elsewhere") peer->navigate(elsewhere, Other);
        else if (what == "key elsewhere") peer->navigateByUserGesture(elsewhere, Other);
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
    int refusals() {
        return int(std::ranges::count_if(sim().logLines(), [](const std::string& l) {
            return l.find("without the user's activation") != std::string::npos;
        }));
    }
    std::shared_ptr<platform::Window> window;
    SimWebViewPeer* peer = nullptr;
};

TEST_F(ContainmentTest, OneActivationAllowsOneOpening) {
    // handedOver: URLs that left for another application; bannerLoads: pages
    // the banner itself went on to.
    // clang-format off
    struct Case { const char* what; std::vector<std::string> steps, screens; size_t handedOver; long clicks; size_t clickTrackings; int refusalLines, bannerLoads; } cases[] = {
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
    // clang-format on
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
        EXPECT_EQ(countedClicks(), c.clicks);
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
        return std::ranges::any_of(inside, [&](const auto& n) { return n.name == name && n.object == &from; });
    };
    const auto heard = [](platform::WebView& view, const std::string& text) {
        return std::ranges::any_of(SimWebViewPeer::of(view)->scripts(),
                                   [&](const auto& s) { return s.find(text) != std::string::npos; });
    };
    std::string mark;  // new for each message sent, so that an effect is its own
    int sent = 0;
    size_t opened = 0;
    // Each message a page sends (the mark at its end), and what it does when
    // taken. Only the schemes an ad may be handed to are asked about.
    using Effect = std::function<bool(platform::WebView&)>;
    // clang-format off
    const std::pair<std::string, Effect> messages[] = {
        {"log?string=", [&](auto&) { return sim().logContains(mark); }},
        {"open?a=call&u=tel%3A%2B34600000000&m=", [&](auto&) { return sim().application().openedURLs().size() > opened; }},
        {"canOpenURLs?urls=tel:1,market:x&m=", [&](auto& view) { return heard(view, R"("market:x":false)") && heard(view, R"("tel:1":true)"); }},
        {"evalInOpener?js=", [&](auto&) { return heard(*banner->webView(), mark); }},
        {"loadAdURL?errors=", [&](auto& view) { return view.delegate() == requestPage.delegate ? !answers.empty() : posted("loadAdURL", view); }},
        {std::string(platform::kApplicationWillEnterForegroundNotification) + "?m=", [&](auto& view) { return posted(platform::kApplicationWillEnterForegroundNotification, view); }},
    };
    // clang-format on
    // Each view, and which messages it takes: log, open, canOpenURLs,
    // evalInOpener, loadAdURL, a platform notification.
    // clang-format off
    const std::tuple<const char*, platform::WebView*, std::string> views[] = {{"request page", requestPage.webView.get(), "100010"},
        {"banner", banner->webView().get(), "111001"}, {"browser", browser->webView().get(), "000000"}, {"web app", webApp->webView().get(), "111101"}};
    // clang-format on
    for (const auto& [viewName, view, takes] : views) {
        std::string took;
        for (const auto& [message, effect] : messages) {
            mark = "mark" + std::to_string(++sent);
            opened = sim().application().openedURLs().size();
            view->hitTest(platform::Point{1, 1}, nullptr);  // "open" is tapped for
            SimWebViewPeer::of(*view)->navigate("qmsg://n/" + message + mark, Other);
            sim().advance(1);  // messages go on the next turn; leaving waits for the click trackings
            took += effect(*view) ? '1' : '0';
        }
        EXPECT_EQ(took, takes) << viewName;
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
