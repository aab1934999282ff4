// The lifetime members: weak pointers from a factory, timers held by value and
// notification observations. Each stops its callbacks when its owner goes.
// What every loop does with them is in the contract suites.
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
    owner.reset();
    EXPECT_FALSE(fresh);
}

TEST_F(LifetimeTest, TimerMembersMayRestartFromTheirTaskAndCancelWhatTheyHeldWhenOverwritten) {
    auto owner = std::make_unique<Owner>(&log);
    int rounds = 0;
    std::function<void()> again = [&] {
        if (++rounds < 3) owner->once.start(1, again);
    };
    owner->once.start(1, again);
    loop().advance(5);
    EXPECT_EQ(rounds, 3);

    int ticks = 0;
    owner->every.start(1, [&] { ++ticks; });
    owner->every = RepeatingTimer();
    loop().advance(2);
    EXPECT_EQ(ticks, 0);
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
}
