// The GLib run loop: timers, delayed calls, cross-thread calls, the keep-alive
// hold and run/quit, on the real default main context.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "integration/support/GtkTestEnvironment.h"

using namespace nimbra::test;
using platform::RunLoop;
using platform::Timer;

namespace {

class GtkRunLoopTest : public ::testing::Test {
protected:
    void SetUp() override { gtkBackend(); }
    RunLoop& loop() { return RunLoop::main(); }
    int target = 0, other = 0;  // owners of delayed calls
};

TEST_F(GtkRunLoopTest, TimersFireRetainedAndStopWhenInvalidated) {
    int oneShot = 0, repeating = 0, never = 0;
    bool validInside = false;
    // The loop keeps both timers although nobody holds them.
    std::weak_ptr<Timer> weakOneShot = loop().scheduleTimer(0.02, false, [&](Timer& t) {
        ++oneShot;
        validInside = t.isValid();
    });
    std::weak_ptr<Timer> weakRepeating = loop().scheduleTimer(0.01, true, [&](Timer& t) {
        if (++repeating == 3) t.invalidate();
    });
    auto cancelled = loop().scheduleTimer(0.01, false, [&](Timer&) { ++never; });
    cancelled->invalidate();
    cancelled->invalidate();  // twice is harmless

    ASSERT_TRUE(spinUntil([&] { return oneShot == 1 && repeating == 3; }));
    spinFor(0.1);
    EXPECT_EQ(oneShot, 1);
    EXPECT_TRUE(validInside);
    EXPECT_EQ(repeating, 3);
    EXPECT_EQ(never, 0);
    // Fired or invalidated from inside its callback: the loop let go of it.
    EXPECT_TRUE(weakOneShot.expired());
    EXPECT_TRUE(weakRepeating.expired());
}

TEST_F(GtkRunLoopTest, CallsDueTogetherRunInTimeThenSchedulingOrder) {
    std::vector<int> order;
    loop().performAfterDelay(&target, 0.05, [&] { order.push_back(3); });
    loop().performAfterDelay(&other, 0.01, [&] { order.push_back(1); });
    loop().scheduleTimer(0.01, false, [&](Timer&) { order.push_back(2); });
    loop().performAfterDelay(&target, 0.0, [&] { order.push_back(0); });
    EXPECT_TRUE(order.empty());  // never from inside the scheduling call
    // Everything is overdue by the time the loop turns.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    ASSERT_TRUE(spinUntil([&] { return order.size() == 4; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(GtkRunLoopTest, CancelPerformRequestsDropsOnlyThatTargetsCalls) {
    int ran = 0, otherRan = 0;
    // Cancelled from inside a call of the loop: even a call due in the same
    // turn no longer runs.
    loop().performAfterDelay(&other, 0.0, [&] { loop().cancelPerformRequests(&target); });
    loop().performAfterDelay(&target, 0.0, [&] { ++ran; });
    loop().performAfterDelay(&target, 0.02, [&] { ++ran; });
    loop().performAfterDelay(&other, 0.02, [&] { ++otherRan; });
    ASSERT_TRUE(spinUntil([&] { return otherRan == 1; }));
    spinFor(0.05);
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(otherRan, 1);
}

TEST_F(GtkRunLoopTest, ZeroDelayWaitsForTheNextTurnSoOtherWorkInterleaves) {
    // A call that keeps scheduling itself with no delay must not starve the
    // rest of the loop: each new call waits for the next turn.
    int steps = 0, stepsWhenOtherWorkRan = -1;
    std::function<void()> step = [&] {
        if (++steps < 1000) loop().performAfterDelay(&target, 0, step);
    };
    loop().performAfterDelay(&target, 0, step);
    loop().performOnMainThread([&] { stepsWhenOtherWorkRan = steps; }, false);
    ASSERT_TRUE(spinUntil([&] { return steps == 1000; }));
    EXPECT_GE(stepsWhenOtherWorkRan, 0);
    EXPECT_LT(stepsWhenOtherWorkRan, 10);
}

TEST_F(GtkRunLoopTest, PerformOnMainThreadQueuesInOrderAndWaitsWhenAsked) {
    const auto mainId = std::this_thread::get_id();
    std::vector<int> sequence;  // touched on the main thread only
    std::atomic<bool> waitedCallDone{false};
    bool sawResultAfterWait = false, workerIsMain = true;
    std::thread worker([&] {
        workerIsMain = loop().isMainThread();
        for (int i = 0; i < 5; ++i)
            loop().performOnMainThread([&, i] { sequence.push_back(std::this_thread::get_id() == mainId ? i : -1); }, false);
        int value = 0;
        loop().performOnMainThread([&] {
            value = 42;
            waitedCallDone = true;
        }, true);
        sawResultAfterWait = value == 42;  // the wait returned after the call ran
    });
    ASSERT_TRUE(spinUntil([&] { return waitedCallDone.load() && sequence.size() == 5; }));
    worker.join();
    EXPECT_TRUE(loop().isMainThread());
    EXPECT_FALSE(workerIsMain);
    EXPECT_EQ(sequence, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(sawResultAfterWait);

    // On the main thread: at once only when waiting.
    bool waited = false, queued = false;
    loop().performOnMainThread([&] { waited = true; }, true);
    EXPECT_TRUE(waited);
    loop().performOnMainThread([&] { queued = true; }, false);
    EXPECT_FALSE(queued);
    EXPECT_TRUE(spinUntil([&] { return queued; }));
}

TEST_F(GtkRunLoopTest, ANestedLoopInsideACallbackStillRunsTimersAndCalls) {
    bool timerFired = false, mainCallRan = false, nestedDone = false;
    loop().performAfterDelay(&target, 0, [&] {
        loop().scheduleTimer(0.01, false, [&](Timer&) { timerFired = true; });
        loop().performOnMainThread([&] { mainCallRan = true; }, false);
        nestedDone = spinUntil([&] { return timerFired && mainCallRan; }, 5);
    });
    ASSERT_TRUE(spinUntil([&] { return nestedDone; }));
}

TEST_F(GtkRunLoopTest, KeepAliveHoldsUntilTheNextTurn) {
    auto object = std::make_shared<int>(7);
    std::weak_ptr<int> weak = object;
    loop().keepAliveUntilNextTurn(std::move(object));
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(spinUntil([&] { return weak.expired(); }));
}

TEST_F(GtkRunLoopTest, RunReturnsAfterQuitAndSurvivesAThrowingCall) {
    LogCapture logs;
    loop().performAfterDelay(&target, 0, [] { throw std::runtime_error("boom"); });
    loop().performAfterDelay(&target, 0.01, [&] { loop().quit(); });
    loop().run();
    EXPECT_EQ(logs.countContaining("boom"), 1u);
}

}  // namespace
