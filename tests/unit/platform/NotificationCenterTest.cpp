#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/NotificationCenter.h"

using namespace platform;

TEST(NotificationCenter, MatchesByNameAndSender) {
    NotificationCenter center;
    int a = 0, b = 0, c = 0;
    int sender1 = 0, sender2 = 0;
    center.addObserver(&a, "N", nullptr, [&](const Notification&) { ++a; });
    center.addObserver(&b, "N", &sender1, [&](const Notification&) { ++b; });
    center.addObserver(&c, "", nullptr, [&](const Notification&) { ++c; });
    center.post("N", &sender1);
    center.post("N", &sender2);
    center.post("Other");
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(c, 3);

    std::string seen;
    center.addObserver(&seen, "I", nullptr, [&](const Notification& n) { seen = *n.userInfo["k"].asString(); });
    center.post("I", nullptr, Value(Dictionary{{"k", "v"}}));
    EXPECT_EQ(seen, "v");
}

TEST(NotificationCenter, RemovingByNameLeavesTheRest) {
    NotificationCenter center;
    int calls = 0;
    center.addObserver(&calls, "A", nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(&calls, "B", nullptr, [&](const Notification&) { ++calls; });
    center.removeObserver(&calls, "A", nullptr);
    center.post("A");
    center.post("B");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(center.hasObserver(&calls));
    center.removeObserver(&calls);
    EXPECT_FALSE(center.hasObserver(&calls));
    center.post("B");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ObserversChangedDuringDeliveryAreSafe) {
    NotificationCenter center;
    std::vector<std::string> order;
    int second = 0, late = 0, nested = 0;
    // The running observer removes itself and another (whose owner is gone),
    // adds one and posts again, all from inside the delivery.
    center.addObserver(&order, "N", nullptr, [&](const Notification&) {
        order.push_back("first");
        center.removeObserver(&order);
        center.removeObserver(&second);
        center.addObserver(&late, "N", nullptr, [&](const Notification&) { ++late; });
        center.post("M");
    });
    center.addObserver(&second, "N", nullptr, [&](const Notification&) { order.push_back("second"); });
    center.addObserver(&nested, "M", nullptr, [&](const Notification&) { ++nested; });
    center.post("N");
    EXPECT_EQ(order, std::vector<std::string>{"first"});
    EXPECT_EQ(late, 0) << "an observer added during delivery waits for the next post";
    EXPECT_EQ(nested, 1);
    center.post("N");
    EXPECT_EQ(order.size(), 1u);
    EXPECT_EQ(late, 1);
}
