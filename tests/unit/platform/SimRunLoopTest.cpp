// What only the sim loop has: virtual time that tests move, and a reset that
// drops everything pending. The loop's contract is in SimContractTest.
#include <gtest/gtest.h>

#include "unit/support/SimTest.h"

using namespace platform;

class SimRunLoopTest : public SimTest {
protected:
    sim::SimRunLoop& loop() { return sim().runLoop(); }
};

TEST_F(SimRunLoopTest, VirtualTimeMovesOnlyWhenTurnedAndResetDropsWhatIsPending) {
    auto& clock = sim().clock();
    clock.setUnixTime(784903526);
    clock.setMonotonicSeconds(50);
    bool flag = false;
    loop().postDelayedTask(5, [&] { flag = true; });
    EXPECT_FALSE(loop().runUntil([&] { return flag; }, 4, 0.01)) << "gives up at the virtual deadline";
    EXPECT_TRUE(loop().runUntil([&] { return flag; }, 2));
    EXPECT_DOUBLE_EQ(clock.monotonicSeconds(), 55);
    loop().advance(1.5);
    EXPECT_DOUBLE_EQ(Date::now().unixTime(), 784903532.5);
    EXPECT_DOUBLE_EQ(Date::fromUnixTime(784903542.5).timeIntervalSinceNow(), 10);

    int ticks = 0;
    RepeatingTimer every;
    every.start(1, [&] { ++ticks; });
    loop().advance(29.999);
    loop().advance(0.001);
    EXPECT_EQ(ticks, 30) << "steps add up exactly";
    sim().reset();
    loop().advance(3);
    EXPECT_EQ(ticks, 30) << "reset drops every timer";
    EXPECT_FALSE(every.isRunning());
}
