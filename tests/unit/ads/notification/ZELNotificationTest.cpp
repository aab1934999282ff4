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
    EXPECT_EQ(message("qmsg://h/")->parameters(), Dictionary());
    for (const char* none : {"qmsg://h", "qmsg://h?a=1", "qmsg://h/%FF", "qmsg:click", "QMSG://h/click", "http://h/click"}) {
        EXPECT_FALSE(message(none)) << none;
    }
}

TEST(ZELNotificationTest, OlderForm) {
    auto launch = message("orvik://launch?URL=x");
    ASSERT_TRUE(launch);
    EXPECT_EQ(launch->name(), "open");
    EXPECT_EQ(launch->parameters(), (Dictionary{{"a", "browser"}, {"u", "x"}}));
    EXPECT_EQ(message("orvik://launch")->parameters(), (Dictionary{{"a", Value("browser")}}));
    EXPECT_NE(message("orvik://closecanvas?x=1")->description().find("name:close parameters:(null)"),
              std::string::npos);
    auto log = message("orvik://log?String=hi%20there");
    ASSERT_TRUE(log);
    EXPECT_EQ(log->name(), "log");
    EXPECT_EQ(log->parameters(), (Dictionary{{"string", "hi there"}}));
    for (const char* none : {"orvik://other?url=x", "orvik://Launch", "orvik:launch", "Orvik://log"}) {
        EXPECT_FALSE(message(none)) << none;
    }
}
