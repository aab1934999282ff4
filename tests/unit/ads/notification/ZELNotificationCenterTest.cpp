#include <gtest/gtest.h>

#include <vector>

#include "Notification/ZELNotificationCenter.h"
#include "platform/WebView.h"
#include "unit/support/SimTest.h"

using platform::Dictionary;
using platform::URL;
using platform::Value;

namespace {

struct Received {
    std::string name;
    const void* sender;
    Value userInfo;
};

}  // namespace

class ZELNotificationCenterTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ZELNotificationCenter::defaultCenter().addObserver(this, "", nullptr, [this](const platform::Notification& n) {
            received.push_back({n.name, n.object, n.userInfo});
        });
    }
    void TearDown() override {
        ZELNotificationCenter::defaultCenter().removeObserver(this);
        SimTest::TearDown();
    }
    static URL url(const char* text) { return *URL::parse(text); }

    std::vector<Received> received;
};

TEST_F(ZELNotificationCenterTest, DefaultCenterSpeaksForThePlatformCenter) {
    EXPECT_EQ(&ZELNotificationCenter::defaultCenter().center(), &platform::NotificationCenter::defaultCenter());
    platform::NotificationCenter::defaultCenter().post("direct", nullptr);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, "direct");
}

TEST_F(ZELNotificationCenterTest, PostsTheMessageWithSenderAndParameters) {
    int sender = 0;
    ZELNotificationCenter::defaultCenter().postNotificationFromURL(url("qmsg://h/loadAdURL?Url=x%20y"), &sender);
    ZELNotificationCenter::defaultCenter().postNotificationFromURL(url("orvik://closecanvas"), nullptr);
    ZELNotificationCenter::defaultCenter().postNotificationFromURL(url("http://h/loadAdURL"), &sender);
    ZELNotificationCenter::defaultCenter().postNotificationFromURL(url("qmsg://h"), &sender);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].name, "loadAdURL");
    EXPECT_EQ(received[0].sender, &sender);
    EXPECT_EQ(received[0].userInfo, Value(Dictionary{{"url", Value("x y")}}));
    EXPECT_EQ(received[1].name, "close");
    EXPECT_TRUE(received[1].userInfo.isNull());
}

TEST_F(ZELNotificationCenterTest, ObserversChooseTheirSender) {
    int mine = 0, other = 0;
    std::vector<const void*> seen;
    auto& center = ZELNotificationCenter::defaultCenter();
    center.addObserver(&seen, "unableToServe", &mine, [&](const platform::Notification& n) { seen.push_back(n.object); });
    center.postNotificationFromURL(url("qmsg://h/unableToServe"), &other);
    center.postNotificationFromURL(url("qmsg://h/unableToServe"), &mine);
    center.removeObserver(&seen, "unableToServe", &mine);
    center.postNotificationFromURL(url("qmsg://h/unableToServe"), &mine);
    EXPECT_EQ(seen, std::vector<const void*>{&mine});
}

TEST_F(ZELNotificationCenterTest, DelayedPostingWaitsForTheRunLoop) {
    int sender = 0;
    auto& center = ZELNotificationCenter::defaultCenter();
    center.postNotificationFromURL(url("qmsg://h/first"), &sender, 0);
    center.postNotificationFromURL(url("qmsg://h/later?a=1"), &sender, 2.0);
    EXPECT_TRUE(received.empty()) << "never from inside the call";
    sim().runUntilIdle();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].name, "first");
    sim().advance(1.9);
    EXPECT_EQ(received.size(), 1u);
    sim().advance(0.2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].name, "later");
    EXPECT_EQ(received[1].sender, &sender);
    EXPECT_EQ(received[1].userInfo, Value(Dictionary{{"a", Value("1")}}));
}

TEST_F(ZELNotificationCenterTest, DelayedPostingFromASenderThatIsGoneIsDropped) {
    auto& center = ZELNotificationCenter::defaultCenter();
    auto webView = std::make_shared<platform::WebView>();
    const void* identity = webView.get();
    center.postNotificationFromURL(url("qmsg://h/kept"), std::weak_ptr<const void>(webView), 0);
    sim().runUntilIdle();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].sender, identity);

    center.postNotificationFromURL(url("qmsg://h/dropped"), std::weak_ptr<const void>(webView), 0);
    webView.reset();
    sim().runUntilIdle();
    EXPECT_EQ(received.size(), 1u);

    // No sender at all is not a sender that is gone.
    center.postNotificationFromURL(url("qmsg://h/anonymous"), std::weak_ptr<const void>(), 0);
    sim().runUntilIdle();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].sender, nullptr);
}

TEST_F(ZELNotificationCenterTest, DestroyedCenterDropsItsPendingPostings) {
    platform::NotificationCenter platformCenter;
    int delivered = 0;
    platformCenter.addObserver(&delivered, "", nullptr, [&](const platform::Notification&) { ++delivered; });
    {
        ZELNotificationCenter center(platformCenter);
        center.postNotificationFromURL(url("qmsg://h/x"), nullptr, 0);
    }
    sim().runUntilIdle();
    EXPECT_EQ(delivered, 0);
    platformCenter.removeObserver(&delivered);
}

TEST_F(ZELNotificationCenterTest, ScriptsToThePage) {
    auto webView = std::make_shared<platform::WebView>();
    ZELNotificationCenter::postJSNotification("onhide", std::nullopt, *webView);
    ZELNotificationCenter::postJSNotification("openableURLs", Dictionary{{"tel:1", Value(false)}}, *webView);
    ZELNotificationCenter::postJSNotification("broken", Dictionary{{"d", Value(platform::Date{0})}}, *webView);
    auto* peer = platform::sim::SimWebViewPeer::of(*webView);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->scripts(), (std::vector<std::string>{
                                   "RUMA_ReceiveMessage('onhide');",
                                   R"(RUMA_ReceiveMessage('openableURLs', {"tel:1":false});)",
                                   "RUMA_ReceiveMessage('broken', );",
                               }));
}
