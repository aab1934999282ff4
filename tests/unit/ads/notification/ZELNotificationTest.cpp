#include <gtest/gtest.h>

#include "Notification/ZELNotification.h"

using platform::Dictionary;
using platform::Value;

namespace {

std::optional<ZELNotification> message(const char* text) {
    auto url = platform::URL::parse(text);
    EXPECT_TRUE(url) << text;
    return url ? ZELNotification::notificationFromURL(*url) : std::nullopt;
}

}  // namespace

TEST(ZELNotificationTest, MainForm) {
    auto m = message("qmsg://any/loadAdURL?Url=x%20y&a=1=2&b=&c&d=a+b&e=%C3");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->name(), "loadAdURL");
    EXPECT_EQ(m->parameters(), (Dictionary{{"url", Value("x y")}, {"b", Value("")}, {"d", Value("a+b")}}));
    EXPECT_EQ(message("qmsg://h/a/b%20c")->name(), "a/b c");
    auto root = message("qmsg://h/");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->name(), "");
    EXPECT_EQ(root->parameters(), Dictionary());
    for (const char* none : {"qmsg://h", "qmsg://h?a=1", "qmsg://h/%FF", "qmsg:click", "QMSG://h/click", "http://h/click"}) {
        EXPECT_FALSE(message(none)) << none;
    }
}

TEST(ZELNotificationTest, OlderForm) {
    auto launch = message("orvik://launch?URL=x");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->name(), "open");
    EXPECT_EQ(launch->parameters(), (Dictionary{{"a", Value("browser")}, {"u", Value("x")}}));
    EXPECT_EQ(message("orvik://launch")->parameters(), (Dictionary{{"a", Value("browser")}}));
    auto close = message("orvik://closecanvas?x=1");
    ASSERT_TRUE(close);
    EXPECT_EQ(close->name(), "close");
    EXPECT_FALSE(close->parameters());
    EXPECT_NE(close->description().find("name:close parameters:(null)"), std::string::npos);
    auto log = message("orvik://log?String=hi%20there");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->name(), "log");
    EXPECT_EQ(log->parameters(), (Dictionary{{"string", Value("hi there")}}));
    for (const char* none : {"orvik://other?url=x", "orvik://Launch", "orvik:launch", "Orvik://log"}) {
        EXPECT_FALSE(message(none)) << none;
    }
}
