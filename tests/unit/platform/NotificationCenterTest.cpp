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

    Value info(Dictionary{{"k", "v"}});
    std::string seen;
    center.addObserver(&seen, "I", nullptr, [&](const Notification& n) { seen = *n.userInfo["k"].asString(); });
    center.post("I", nullptr, info);
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

TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalled) {
    NotificationCenter center;
    std::vector<std::string> order;
    int second = 0;
    center.addObserver(&order, "N", nullptr, [&](const Notification&) {
        order.push_back("first");
        center.removeObserver(&second);  // e.g. the second observer's owner is destroyed here
    });
    center.addObserver(&second, "N", nullptr, [&](const Notification&) { order.push_back("second"); });
    center.post("N");
    EXPECT_EQ(order, std::vector<std::string>{"first"});
}

TEST(NotificationCenter, ObserverAddedDuringDeliveryWaitsForTheNextPost) {
    NotificationCenter center;
    int outer = 0, inner = 0;
    center.addObserver(&outer, "N", nullptr, [&](const Notification&) {
        if (++outer == 1) center.addObserver(&inner, "N", nullptr, [&](const Notification&) { ++inner; });
    });
    center.post("N");
    EXPECT_EQ(inner, 0);
    center.post("N");
    EXPECT_EQ(inner, 1);
}

TEST(NotificationCenter, SelfRemovalAndNestedPosts) {
    NotificationCenter center;
    int once = 0, nested = 0;
    center.addObserver(&once, "N", nullptr, [&](const Notification&) {
        ++once;
        center.removeObserver(&once);
        center.post("M");
    });
    center.addObserver(&nested, "M", nullptr, [&](const Notification&) { ++nested; });
    center.post("N");
    center.post("N");
    EXPECT_EQ(once, 1);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
}
