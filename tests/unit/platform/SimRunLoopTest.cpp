#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support/SimTest.h"

using namespace platform;

class SimRunLoopTest : public SimTest {
protected:
    sim::SimRunLoop& loop() { return sim().runLoop(); }
};

TEST_F(SimRunLoopTest, TimersAndDelayedCallsFireInTimeThenSchedulingOrder) {
    std::vector<std::string> order;
    int target = 0;
    const double t0 = loop().now();
    loop().scheduleTimer(3, false, [&](Timer&) { order.push_back("t3"); });
    loop().performAfterDelay(&target, 1, [&] { order.push_back("p1a"); });
    auto t1 = loop().scheduleTimer(1, false, [&](Timer&) { order.push_back("t1"); });
    loop().performAfterDelay(&target, 1, [&] { order.push_back("p1b"); });
    loop().performAfterDelay(&target, 2, [&] {
        order.push_back("p2");
        loop().performAfterDelay(&target, 0, [&] { order.push_back("p2-next"); });
    });
    loop().performAfterDelay(&target, 0, [&] { order.push_back("now"); });
    EXPECT_TRUE(order.empty()) << "nothing runs before the loop turns";
    loop().advance(2.5);
    EXPECT_EQ(order, (std::vector<std::string>{"now", "p1a", "t1", "p1b", "p2", "p2-next"}));
    EXPECT_DOUBLE_EQ(loop().now() - t0, 2.5);
    EXPECT_FALSE(t1->isValid()) << "a one-shot timer invalidates itself after firing";
    loop().advance(0.5);
    EXPECT_EQ(order.back(), "t3");
}

TEST_F(SimRunLoopTest, RepeatingTimersRunUntilInvalidatedOrReset) {
    std::vector<double> times;
    const double t0 = loop().now();
    loop().scheduleTimer(1, true, [&](Timer& t) {  // handle dropped: the loop keeps the timer
        times.push_back(loop().now() - t0);
        if (times.size() == 3) t.invalidate();
    });
    int halves = 0, afterReset = 0;
    auto other = loop().scheduleTimer(0.5, true, [&](Timer&) { ++halves; });
    loop().advance(1.2);
    other->invalidate();
    other->invalidate();  // twice is harmless
    loop().advance(10);
    EXPECT_EQ(halves, 2);
    EXPECT_EQ(times, (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(loop().activeTimerCount(), 0u);

    loop().scheduleTimer(1, true, [&](Timer&) { ++afterReset; });
    sim().reset();
    loop().advance(3);
    EXPECT_EQ(afterReset, 0) << "reset drops every timer";
}

TEST_F(SimRunLoopTest, CancelPerformRequestsHitsOnlyItsTarget) {
    int a = 0, b = 0;
    loop().performAfterDelay(&a, 1, [&] { ++a; });
    loop().performAfterDelay(&a, 0, [&] { ++a; });
    loop().performAfterDelay(&b, 1, [&] { ++b; });
    auto timer = loop().scheduleTimer(1, false, [&](Timer&) { ++b; });
    loop().cancelPerformRequests(&a);
    loop().advance(2);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 2) << "timers and other targets are untouched";
}

TEST_F(SimRunLoopTest, KeepAliveHoldsUntilTheNextTurn) {
    std::weak_ptr<int> weak;
    {
        auto object = std::make_shared<int>(5);
        weak = object;
        loop().keepAliveUntilNextTurn(object);
    }
    EXPECT_FALSE(weak.expired());
    loop().runUntilIdle();
    EXPECT_TRUE(weak.expired());
}

// Calls from other threads are covered where the delegate manager raises from a worker.
TEST_F(SimRunLoopTest, MainThreadCallsOnTheMainThreadRunAtOnceOnlyWhenWaiting) {
    bool inline_ = false, later = false;
    loop().performOnMainThread([&] { inline_ = true; }, true);
    loop().performOnMainThread([&] { later = true; }, false);
    EXPECT_TRUE(inline_);
    EXPECT_FALSE(later);
    loop().runUntilIdle();
    EXPECT_TRUE(later);
}

TEST_F(SimRunLoopTest, RunUntilGivesUpAtTheVirtualDeadline) {
    bool flag = false;
    loop().performAfterDelay(this, 5, [&] { flag = true; });
    EXPECT_FALSE(loop().runUntil([&] { return flag; }, 4, 0.01));
    EXPECT_TRUE(loop().runUntil([&] { return flag; }, 2));
    EXPECT_DOUBLE_EQ(Clock::current().monotonicSeconds(), sim::SimClock::kDefaultMonotonic + 5);
}

TEST_F(SimRunLoopTest, ClocksMoveWithVirtualTimeFromSettableStarts) {
    auto& clock = sim().clock();
    clock.setUnixTime(784903526);
    clock.setMonotonicSeconds(50);
    loop().advance(1.5);
    EXPECT_DOUBLE_EQ(Date::now().unixTime(), 784903527.5);
    EXPECT_DOUBLE_EQ(clock.monotonicSeconds(), 51.5);
    EXPECT_DOUBLE_EQ(Date::fromUnixTime(784903537.5).timeIntervalSinceNow(), 10);
}
