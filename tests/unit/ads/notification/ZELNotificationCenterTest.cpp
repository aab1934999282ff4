// Messages from pages (qmsg:// and the older orvik:// form), posted on the
// component's own center now or later. (That it is not the platform's is the
// containment test's; messages to pages are the web-app screen tests'.)
#include "Notification/ZELNotification.h"
#include "Notification/ZELNotificationCenter.h"
#include "platform/WebView.h"
#include "unit/support/SimTest.h"

using platform::Dictionary;
using platform::Value;

namespace {

std::optional<ZELNotification> message(const char* text) {
    auto url = platform::URL::parse(text);
    EXPECT_TRUE(url) << text;
    return url ? ZELNotification::notificationFromURL(*url) : std::nullopt;
}

TEST(ZELNotificationTest, MainForm) {
    auto m = message("qmsg://any/loadAdURL?Url=x%20y&a=1=2&b=&c&d=a+b&e=%C3");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name(), "loadAdURL");
    EXPECT_EQ(m->parameters(), (Dictionary{{"url", Value("x y")}, {"b", Value("")}, {"d", Value("a+b")}}));
    EXPECT_EQ(message("qmsg://h/a/b%20c")->name(), "a/b c");
}

// (What is no message at all is the message URL fuzz target's.)
TEST(ZELNotificationTest, OlderForms) {
    const std::tuple<const char*, const char*, Dictionary> older[] = {
        {"orvik://launch?URL=x", "open", {{"a", "browser"}, {"u", "x"}}},
        {"orvik://launch", "open", {{"a", "browser"}}},
        {"orvik://log?String=hi%20there", "log", {{"string", "hi there"}}}};
    for (const auto& [text, name, parameters] : older) {
        EXPECT_EQ(message(text)->name(), name) << text;
        EXPECT_EQ(message(text)->parameters(), parameters) << text;
    }
    EXPECT_FALSE(message("orvik://closecanvas?x=1")->parameters());
}

class ZELNotificationCenterTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        observation = center.observe("", nullptr, [this](const platform::Notification& n) { received.push_back(n); });
    }
    ZELNotificationCenter& center = ZELNotificationCenter::defaultCenter();
    std::vector<platform::Notification> received;
    platform::Observation observation;
};

TEST_F(ZELNotificationCenterTest, PostsNowOrOnALaterTurn) {
    int now = 0;
    center.postNotificationFromURL(url("qmsg://h/loadAdURL?Url=x%20y"), &now);
    center.postNotificationFromURL(url("orvik://closecanvas"), nullptr);
    center.postNotificationFromURL(url("qmsg://h"), &now);  // no message
    ASSERT_EQ(received.size(), 2u);
    EXPECT_TRUE(received[0].object == &now && received[1].userInfo.isNull());
    auto sender = std::make_shared<int>(0);
    center.postNotificationFromURL(url("qmsg://h/later"), std::weak_ptr<const void>(sender), 2.0);
    center.postNotificationFromURL(url("qmsg://h/anonymous"), std::weak_ptr<const void>(), 0);
    sim().runUntilIdle();
    ASSERT_EQ(received.size(), 3u) << "no sender is no reason to drop it";
    sim().advance(2.0);
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[3].object, sender.get());
}

// So that it never reaches an object now living at the sender's address.
TEST_F(ZELNotificationCenterTest, ALaterMessageDiesWithItsSenderOrItsCenter) {
    auto webView = std::make_shared<platform::WebView>();
    center.postNotificationFromURL(url("qmsg://h/dropped"), std::weak_ptr<const void>(webView), 0);
    webView.reset();
    platform::NotificationCenter other;
    int delivered = 0;
    auto counting = other.observe("", nullptr, [&](const platform::Notification&) { ++delivered; });
    ZELNotificationCenter(other).postNotificationFromURL(url("qmsg://h/x"), std::weak_ptr<const void>(), 0);
    sim().runUntilIdle();
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(delivered, 0);
}

}  // namespace
