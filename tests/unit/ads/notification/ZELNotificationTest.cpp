#include <gtest/gtest.h>

#include "Notification/ZELNotification.h"

using platform::Dictionary;
using platform::URL;
using platform::Value;

namespace {

std::optional<ZELNotification> message(const char* text) {
    auto u = URL::parse(text);
    EXPECT_TRUE(u) << text;
    return u ? ZELNotification::notificationFromURL(*u) : std::nullopt;
}

}  // namespace

TEST(ZELNotificationTest, SchemesCompareExactly) {
    EXPECT_TRUE(ZELNotification::isQMSGNotificationURL(*URL::parse("qmsg://x/click")));
    EXPECT_TRUE(ZELNotification::isOrvikNotificationURL(*URL::parse("orvik://log")));
    EXPECT_FALSE(ZELNotification::isNotificationURL(*URL::parse("QMSG://x/click")));
    EXPECT_FALSE(ZELNotification::isNotificationURL(*URL::parse("Orvik://log")));
    EXPECT_FALSE(ZELNotification::isNotificationURL(*URL::parse("http://x/click")));
    EXPECT_FALSE(message("QMSG://x/click"));
    EXPECT_FALSE(message("http://x/click?a=1"));
}

TEST(ZELNotificationTest, MainFormNameAndParameters) {
    auto m = message("qmsg://anything/loadAdURL?Url=x%20y&type=banner");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name(), "loadAdURL");
    EXPECT_EQ(m->parameters(), (Dictionary{{"url", Value("x y")}, {"type", Value("banner")}}));

    auto nested = message("qmsg://h/a/b%20c");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->name(), "a/b c");
    EXPECT_EQ(nested->parameters(), Dictionary());
}

TEST(ZELNotificationTest, MainFormPathEdges) {
    EXPECT_FALSE(message("qmsg://h"));
    EXPECT_FALSE(message("qmsg://h?a=1"));
    auto root = message("qmsg://h/?a=1");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name(), "");
    EXPECT_EQ(root->parameters(), (Dictionary{{"a", Value("1")}}));
    // A name that does not decode, or a path without its slash, is no message.
    EXPECT_FALSE(message("qmsg://h/%FF"));
    EXPECT_FALSE(message("qmsg:click"));
}

TEST(ZELNotificationTest, MainFormQueryItemsFollowTheQueryGrammar) {
    auto m = message("qmsg://h/n?a=1=2&b=&c&d=a+b&e=%C3");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->parameters(), (Dictionary{{"b", Value("")}, {"d", Value("a+b")}}));
}

TEST(ZELNotificationTest, OlderFormActions) {
    auto launch = message("orvik://launch?url=x");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->name(), "open");
    EXPECT_EQ(launch->parameters(), (Dictionary{{"a", Value("browser")}, {"u", Value("x")}}));

    auto bare = message("orvik://launch");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->parameters(), (Dictionary{{"a", Value("browser")}}));

    auto close = message("orvik://closecanvas?x=1");
    ASSERT_TRUE(close);
    EXPECT_EQ(close->name(), "close");
    EXPECT_FALSE(close->parameters());

    auto log = message("orvik://log?String=hello%20there");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->name(), "log");
    EXPECT_EQ(log->parameters(), (Dictionary{{"string", Value("hello there")}}));

    EXPECT_FALSE(message("orvik://other?url=x"));
    EXPECT_FALSE(message("orvik://Launch?url=x"));
    EXPECT_FALSE(message("orvik:launch"));
}

TEST(ZELNotificationTest, DescriptionNamesTheMessage) {
    auto m = message("qmsg://h/click?u=1");
    ASSERT_TRUE(m);
    const std::string text = m->description();
    EXPECT_EQ(text.rfind("ZELNotification<", 0), 0u);
    EXPECT_NE(text.find("name:click parameters:" + Value(*m->parameters()).description()), std::string::npos);
    auto close = message("orvik://closecanvas");
    EXPECT_NE(close->description().find("parameters:(null)"), std::string::npos);
}
