#pragma once
// What every backend's run loop promises, run against each backend through a
// driver type (see Driver.h): timer members, tasks bound to weak pointers,
// calls from other threads and the keep-alive hold.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/WeakPtr.h"

namespace nimbra::contract {

template <typename Driver>
class RunLoopContract : public ::testing::Test {
protected:
    platform::RunLoop& loop() { return platform::RunLoop::main(); }
    Driver driver;
};
TYPED_TEST_SUITE_P(RunLoopContract);

// An owner as the tree writes them: timer members, factory last.
struct TimerOwner {
    explicit TimerOwner(std::vector<int>* log) : log(log) {}
    ~TimerOwner() { log->push_back(-1); }
    std::vector<int>* log;
    platform::OneShotTimer once;
    platform::RepeatingTimer every;
    platform::WeakPtrFactory<TimerOwner> weakFactory{this};
};

TYPED_TEST_P(RunLoopContract, TasksRunInTimeThenSchedulingOrder) {
    std::vector<int> order;
    platform::OneShotTimer late, early, sameTime;
    late.start(0.03, [&] { order.push_back(4); });
    this->loop().postDelayedTask(0.01, [&] { order.push_back(1); });
    early.start(0.01, [&] { order.push_back(2); });
    sameTime.start(0.01, [&] { order.push_back(3); });
    this->loop().postDelayedTask(0, [&] {
        order.push_back(0);
        this->loop().postDelayedTask(0.03, [&] { order.push_back(5); });
    });
    EXPECT_TRUE(order.empty());
    // Everything is overdue by the time the loop turns.
    this->driver.waitWithoutTurning(0.05);
    ASSERT_TRUE(this->driver.runUntil([&] { return order.size() == 6; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_FALSE(early.isRunning()) << "a one-shot timer is done once it ran";
}

// Repeating, stopped, started again or destroyed with their owner.
TYPED_TEST_P(RunLoopContract, TimerMembersStopWithTheirOwner) {
    std::vector<int> log;
    auto owner = std::make_unique<TimerOwner>(&log);
    int ticks = 0;
    owner->every.start(0.01, [&] {
        if (++ticks == 3) owner->every.stop();  // from inside its own task
    });
    owner->once.start(0.01, [&] { log.push_back(1); });
    owner->once.start(0.02, [&] { log.push_back(2); });  // replaces the first
    ASSERT_TRUE(this->driver.runUntil([&] { return ticks == 3 && !log.empty(); }));
    this->driver.runFor(0.05);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(log, std::vector<int>{2});
    // A task stopping a timer due in the same turn: that one no longer runs.
    platform::OneShotTimer stopper;
    stopper.start(0.01, [&] { owner->once.stop(); });
    owner->once.start(0.01, [&] { log.push_back(3); });
    // Destroyed with its owner, from the owner's own task or from outside.
    owner->every.start(0.2, [&] { log.push_back(4); });
    auto second = std::make_unique<TimerOwner>(&log);
    second->once.start(0.01, [&] { second.reset(); });
    this->driver.waitWithoutTurning(0.02);
    ASSERT_TRUE(this->driver.runUntil([&] { return !second; }));
    owner.reset();
    this->driver.runFor(0.3);
    EXPECT_EQ(log, (std::vector<int>{2, -1, -1}));
}

TYPED_TEST_P(RunLoopContract, WeakTasksAreSkippedOnceTheTargetIsGone) {
    std::vector<int> log;
    auto owner = std::make_unique<TimerOwner>(&log);
    this->loop().postTask(owner->weakFactory.getWeakPtr(), [](TimerOwner& o) { o.log->push_back(1); });
    this->loop().postTask(
        owner->weakFactory.getWeakPtr(), [](TimerOwner& o) { o.log->push_back(2); }, 0.01);
    ASSERT_TRUE(this->driver.runUntil([&] { return !log.empty(); }));
    owner.reset();
    this->driver.runFor(0.05);  // would touch freed memory if it ran
    EXPECT_EQ(log, (std::vector<int>{1, -1}));
}

TYPED_TEST_P(RunLoopContract, KeptObjectsGoOnTheNextTurn) {
    auto object = std::make_shared<int>(7);
    std::weak_ptr<int> weak = object;
    this->loop().keepAliveUntilNextTurn(std::move(object));
    EXPECT_FALSE(weak.expired());
    EXPECT_TRUE(this->driver.runUntil([&] { return weak.expired(); }));
}

// In order, on the main thread; a caller that waits goes on once its call ran.
TYPED_TEST_P(RunLoopContract, CallsFromAnotherThreadRunOnTheMainThread) {
    std::vector<int> sequence;  // touched on the main thread only
    std::atomic<bool> returned{false};
    bool workerIsMain = true;
    std::thread worker([&] {
        workerIsMain = this->loop().isMainThread();
        this->loop().performOnMainThread([&] { sequence.push_back(1); }, false);
        this->loop().performOnMainThread([&] { sequence.push_back(this->loop().isMainThread() && !returned ? 2 : -1); },
                                         true);
        returned = true;
    });
    ASSERT_TRUE(this->driver.runUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_FALSE(workerIsMain);
    EXPECT_EQ(sequence, (std::vector<int>{1, 2})) << "in order, on the main thread, before the wait ends";
}

REGISTER_TYPED_TEST_SUITE_P(RunLoopContract, TasksRunInTimeThenSchedulingOrder, TimerMembersStopWithTheirOwner,
                            WeakTasksAreSkippedOnceTheTargetIsGone, KeptObjectsGoOnTheNextTurn,
                            CallsFromAnotherThreadRunOnTheMainThread);

}  // namespace nimbra::contract
