// What only the GLib loop has to get right: busy tasks that must not starve
// the rest of the main context, loops nested inside a callback, and run/quit.
// The loop's contract is in GtkContractTest.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "integration/support/GtkTestEnvironment.h"
#include "platform/RunLoop.h"

using namespace nimbra::test;
using platform::RunLoop;

namespace {

class GtkRunLoopTest : public ::testing::Test {
protected:
    void SetUp() override { gtkBackend(); }
    RunLoop& loop() { return RunLoop::main(); }
};

TEST_F(GtkRunLoopTest, ZeroDelayWaitsForTheNextTurnSoOtherWorkInterleaves) {
    // A task that keeps posting itself with no delay must not starve the rest
    // of the loop: each new one waits for the next turn.
    int steps = 0, stepsWhenOtherWorkRan = -1;
    std::function<void()> step = [&] {
        if (++steps < 1000) loop().postDelayedTask(0, step);
    };
    loop().postDelayedTask(0, step);
    loop().performOnMainThread([&] { stepsWhenOtherWorkRan = steps; }, false);
    ASSERT_TRUE(spinUntil([&] { return steps == 1000; }));
    EXPECT_GE(stepsWhenOtherWorkRan, 0);
    EXPECT_LT(stepsWhenOtherWorkRan, 10);
}

TEST_F(GtkRunLoopTest, ANestedLoopInsideACallbackStillRunsTimersAndCalls) {
    bool timerFired = false, mainCallRan = false, nestedDone = false;
    platform::OneShotTimer timer;
    loop().postDelayedTask(0, [&] {
        timer.start(0.01, [&] { timerFired = true; });
        loop().performOnMainThread([&] { mainCallRan = true; }, false);
        nestedDone = spinUntil([&] { return timerFired && mainCallRan; }, 5);
    });
    ASSERT_TRUE(spinUntil([&] { return nestedDone; }));
}

TEST_F(GtkRunLoopTest, RunReturnsAfterQuitAndSurvivesAThrowingCall) {
    LogCapture logs;
    loop().postDelayedTask(0, [] { throw std::runtime_error("boom"); });
    loop().postDelayedTask(0.01, [&] { loop().quit(); });
    loop().run();
    EXPECT_EQ(logs.countContaining("boom"), 1u);
}

}  // namespace
