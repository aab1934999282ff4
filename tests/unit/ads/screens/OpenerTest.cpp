// Where a tap on an ad goes: each "open" action's destination and the exact
// message of a mail link. (Nothing at all without a tap is the containment
// test's.)

#include "unit/ads/screens/ScreensFixture.h"

#include "Browser/ZELBrowserController.h"
#include "Notification/ZELNotification.h"
#include "Object/ZELAdScreenFactory.h"
#include "Opener/ZELOpener.h"
#include "WebView/ZELWebView.h"
#include "WebApp/ZELWebAppViewController.h"
#include "platform/MailComposeViewController.h"
#include "platform/sim/SimViews.h"

namespace {

using namespace std::string_literals;

ZELNotification openMessage(const std::string& query) {
    return *ZELNotification::notificationFromURL(*platform::URL::parse("qmsg://nimbra/open?" + query));
}

}  // namespace

class OpenerTest : public ScreensTest {
protected:
    void SetUp() override {
        ScreensTest::SetUp();
        opener.setViewController(root);
        opener.setDelegateManager(manager);
        opener.setScreenFactory(&ZELAdScreenFactory::shared());
        sim().application().setOpenableSchemes({"http", "https", "tel", "mailto", "market", "appstream"});
    }
    std::shared_ptr<platform::ViewController> top() { return shown<platform::ViewController>(); }
    void closeTop() {
        if (auto screen = std::dynamic_pointer_cast<ZELViewController>(top())) screen->relinquishScreen();
        else if (auto c = top()) c->dismissModalViewControllerAnimated(false);
        settle();
    }
    ZELControlTap tap;  // the user's activation, every time
    ZELOpener opener{tap};
};

TEST_F(OpenerTest, EachActionGoesWhereItSays) {
    // destination: "browser", "webapp", "webapp html", "composer", "app" or "nothing"
    // clang-format off
    const struct Case { const char* query; const char* destination; ZELOrientationSetting orientation; } cases[] = {
        {"a=browser&u=http%3A%2F%2F127.0.0.1%3A8090%2Fl&o=p", "browser", kZELOrientationPortrait},
        {"a=video&u=http%3A%2F%2F127.0.0.1%3A8090%2Fv&o=L", "browser", kZELOrientationAny},
        {"a=webapp&u=http%3A%2F%2F127.0.0.1%3A8090%2Fw&o=l", "webapp", kZELOrientationLandscape},
        {"a=webapp&html=%3Cp%3Ehi%3C%2Fp%3E", "webapp html", kZELOrientationAny},
        {"a=webapp", "nothing", kZELOrientationAny},
        {"a=browser&html=%3Cp%3E", "nothing", kZELOrientationAny},
        {"a=somethingelse&u=appstream%3A%2F%2Forg.example.App", "app", kZELOrientationAny},
        {"u=tel%3A%2B34600000000", "app", kZELOrientationAny},
        {"a=app&u=mailto%3Aana%40example.com", "composer", kZELOrientationAny},
        // Only the web, calls, texts, mail and the software centre go out;
        // sms is allowed but nothing here takes it.
        {"a=app&u=market%3A%2F%2Fdetails%3Fid%3Dx", "nothing", kZELOrientationAny},
        {"a=app&u=file%3A%2F%2F%2Fetc%2Fpasswd", "nothing", kZELOrientationAny},
        {"a=call&u=sms%3A%2B34600000000", "nothing", kZELOrientationAny},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const size_t opened = sim().application().openedURLs().size();
        events->events.clear();
        opener.openNotification(openMessage(c.query));
        settle();
        const std::string destination = c.destination;
        if (auto browser = std::dynamic_pointer_cast<ZELBrowserController>(top())) {
            EXPECT_EQ(std::pair("browser"s, browser->supportedOrientations()), std::pair(destination, c.orientation));
        } else if (auto app = std::dynamic_pointer_cast<ZELWebAppViewController>(top())) {
            const bool html = platform::sim::SimWebViewPeer::of(*app->webView())->lastHTML().has_value();
            EXPECT_EQ(std::pair(html ? "webapp html"s : "webapp"s, app->supportedOrientations()),
                      std::pair(destination, c.orientation));
        } else if (std::dynamic_pointer_cast<platform::MailComposeViewController>(top())) {
            EXPECT_EQ(destination, "composer");
        } else {
            const bool left = sim().application().openedURLs().size() == opened + 1;
            EXPECT_EQ(destination, left ? "app" : "nothing");
            EXPECT_EQ(events->events, left ? std::vector<std::string>{"willLeave"} : std::vector<std::string>{});
        }
        closeTop();
    }
    EXPECT_TRUE(sim().logContains("<Nimbra> No other application is handed market://details?id=x; refused."));
    EXPECT_TRUE(sim().logContains("<Nimbra> No application opens sms:+34600000000"));
}

// What the fuzz target cannot know: which of repeated or differently written
// fields wins, and the decoding of each. (The composer is the tap tests'.)
TEST_F(OpenerTest, MailLinksGiveTheirExactMessage) {
    // clang-format off
    const struct Case { const char* link; std::vector<std::string> to, cc, bcc; std::string subject, body; } cases[] = {
        {"mailto:a%40b.example?cc=c@d.example,e@f.example,&subject=Hi", {"a@b.example"}, {"c@d.example", "e@f.example"}, {}, "Hi", ""},
        {"mailto:x@y.example?CC=,z@y.example&BODY=L%C3%ADnea%0A2&bcc=w@y.example&subject=one&subject=two", {"x@y.example"}, {"z@y.example"}, {"w@y.example"}, "two", "Línea\n2"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link);
        const auto message = ZELOpener::mailMessageFromURL(*platform::URL::parse(c.link));
        EXPECT_EQ(std::tie(message.to, message.cc, message.bcc, message.subject, message.body),
                  std::tie(c.to, c.cc, c.bcc, c.subject, c.body));
    }
}
