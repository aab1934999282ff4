// The lifetime members: weak pointers from a factory, timers held by value and
// notification observations. Each stops its callbacks when its owner goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"
#include "platform/WeakPtr.h"
#include "unit/support/SimTest.h"

using namespace platform;

namespace {

struct Base {
    virtual ~Base() = default;
    int hits = 0;
};

// An owner as the tree writes them: members that call back, factory last.
struct Owner : Base {
    explicit Owner(std::vector<std::string>* log) : log(log) {}
    ~Owner() override { log->push_back("gone"); }
    std::vector<std::string>* log;
    OneShotTimer once;
    RepeatingTimer every;
    Observation observation;
    WeakPtrFactory<Owner> weakFactory{this};
};

}  // namespace

class LifetimeTest : public SimTest {
protected:
    sim::SimRunLoop& loop() { return sim().runLoop(); }
    std::vector<std::string> log;
};

TEST_F(LifetimeTest, WeakPointersReadNullOnceTheOwnerOrItsFactorySaysSo) {
    auto owner = std::make_unique<Owner>(&log);
    WeakPtr<Owner> weak = owner->weakFactory.getWeakPtr();
    WeakPtr<Base> asBase = weak;
    WeakPtr<Owner> empty;
    EXPECT_FALSE(empty);
    ASSERT_EQ(asBase.get(), owner.get());
    EXPECT_TRUE(owner->weakFactory.hasWeakPtrs());

    owner->weakFactory.invalidateWeakPtrs();
    EXPECT_FALSE(weak);
    EXPECT_FALSE(asBase);
    WeakPtr<Owner> fresh = owner->weakFactory.getWeakPtr();
    EXPECT_EQ(fresh.get(), owner.get()) << "pointers made after a revoke work";

    // Tasks bound to the owner run while it lives and are skipped after.
    loop().postTask(fresh, [](Owner& o) { ++o.hits; });
    loop().runUntilIdle();
    EXPECT_EQ(owner->hits, 1);
    loop().postTask(fresh, [](Owner& o) { ++o.hits; }, 1.0);
    owner.reset();
    EXPECT_FALSE(fresh);
    loop().advance(2);  // would touch freed memory if it ran
    EXPECT_EQ(log, std::vector<std::string>{"gone"});
}

TEST_F(LifetimeTest, TimerMembersRunUntilStoppedRestartedOrDestroyed) {
    auto owner = std::make_unique<Owner>(&log);
    owner->once.start(1, [&] { log.push_back("first"); });
    owner->once.start(2, [&] { log.push_back("second"); });  // replaces the first
    EXPECT_TRUE(owner->once.isRunning());
    EXPECT_DOUBLE_EQ(owner->once.interval(), 2);
    loop().advance(3);
    EXPECT_EQ(log, std::vector<std::string>{"second"});
    EXPECT_FALSE(owner->once.isRunning());

    // A task may start its own timer again.
    int rounds = 0;
    std::function<void()> again = [&] {
        if (++rounds < 3) owner->once.start(1, again);
    };
    owner->once.start(1, again);
    loop().advance(5);
    EXPECT_EQ(rounds, 3);

    int ticks = 0;
    owner->every.start(1, [&] { ++ticks; });
    loop().advance(3.5);
    EXPECT_EQ(ticks, 3);
    owner->every.stop();
    loop().advance(2);
    EXPECT_EQ(ticks, 3);

    // Moved-over timers cancel what they held.
    owner->every.start(1, [&] { ++ticks; });
    owner->every = RepeatingTimer();
    loop().advance(2);
    EXPECT_EQ(ticks, 3);

    // Destroyed with the owner: nothing fires.
    owner->once.start(1, [&] { log.push_back("late"); });
    owner->every.start(1, [&] { log.push_back("late"); });
    owner.reset();
    loop().advance(5);
    EXPECT_EQ(log, (std::vector<std::string>{"second", "gone"}));
    EXPECT_EQ(loop().activeTimerCount(), 0u);
}

TEST_F(LifetimeTest, OwnerDestroyedFromItsOwnTimerTask) {
    auto owner = std::make_unique<Owner>(&log);
    owner->once.start(1, [&] {
        log.push_back("fired");
        owner.reset();
    });
    loop().advance(2);
    EXPECT_EQ(log, (std::vector<std::string>{"fired", "gone"}));
    EXPECT_EQ(loop().activeTimerCount(), 0u);
}

TEST_F(LifetimeTest, ObservationsEndWithTheirToken) {
    NotificationCenter center;
    auto owner = std::make_unique<Owner>(&log);
    int sender = 0, other = 0;
    owner->observation = center.observe("ping", &sender, [&](const Notification&) { log.push_back("ping"); });
    center.post("ping", &other);
    center.post("ping", &sender);
    EXPECT_EQ(log, std::vector<std::string>{"ping"});

    // Moving keeps one registration; overwriting ends the old one.
    Observation moved = std::move(owner->observation);
    EXPECT_FALSE(owner->observation.isActive());
    center.post("ping", &sender);
    EXPECT_EQ(log.size(), 2u);
    moved = center.observe("pong", nullptr, [&](const Notification&) { log.push_back("pong"); });
    center.post("ping", &sender);
    center.post("pong");
    EXPECT_EQ(log, (std::vector<std::string>{"ping", "ping", "pong"}));

    // An observation that ends itself while it is being delivered.
    owner->observation = center.observe("bye", nullptr, [&](const Notification&) {
        log.push_back("bye");
        owner.reset();
    });
    center.post("bye");
    center.post("bye");
    EXPECT_EQ(log, (std::vector<std::string>{"ping", "ping", "pong", "bye", "gone"}));
    // Observers by address are unaffected by tokens and the other way round.
    center.removeObserver(nullptr);
    center.post("pong");
    EXPECT_EQ(log.back(), "pong");
}
