#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NotificationCenter.h"

using namespace platform;

TEST(NotificationCenter, MatchesByNameAndSender) {
    NotificationCenter center;
    int a = 0, b = 0, c = 0;
    int sender1 = 0, sender2 = 0;
    auto oa = center.observe("N", nullptr, [&](const Notification&) { ++a; });
    auto ob = center.observe("N", &sender1, [&](const Notification&) { ++b; });
    auto oc = center.observe("", nullptr, [&](const Notification&) { ++c; });
    center.post("N", &sender1);
    center.post("N", &sender2);
    center.post("Other");
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 3);

    std::string seen;
    auto oi = center.observe("I", nullptr, [&](const Notification& n) { seen = *n.userInfo["k"].asString(); });
    center.post("I", nullptr, Value(Dictionary{{"k", "v"}}));
    EXPECT_EQ(seen, "v");
}

TEST(NotificationCenter, ObservationsChangedDuringDeliveryAreSafe) {
    NotificationCenter center;
    std::vector<std::string> order;
    int late = 0, nested = 0;
    Observation first, second, added;
    // The running observer ends itself and another (whose owner is gone),
    // adds one and posts again, all from inside the delivery.
    first = center.observe("N", nullptr, [&](const Notification&) {
        order.push_back("first");
        first.reset();
        second.reset();
        added = center.observe("N", nullptr, [&](const Notification&) { ++late; });
        center.post("M");
    });
    second = center.observe("N", nullptr, [&](const Notification&) { order.push_back("second"); });
    auto inner = center.observe("M", nullptr, [&](const Notification&) { ++nested; });
    center.post("N");
    EXPECT_EQ(order, std::vector<std::string>{"first"});
    EXPECT_EQ(late, 0) << "an observer added during delivery waits for the next post";
    EXPECT_EQ(nested, 1);
    center.post("N");
    EXPECT_EQ(order.size(), 1u);
    EXPECT_EQ(late, 1);
}
