// The lifetime members (weak pointers from a factory, timers held by value,
// notification observations) stop their callbacks when their owner goes; and
// the notification center's delivery.

#include "contract/RunLoopContract.h"
#include "platform/NotificationCenter.h"
#include "unit/support/SimTest.h"

using namespace platform;

namespace {

using Owner = nimbra::contract::TimerOwner;

// A timer's task is bound to its owner: the member travels to no other.
static_assert(!std::is_move_constructible_v<OneShotTimer> && !std::is_move_assignable_v<RepeatingTimer>);

class LifetimeTest : public SimTest {
protected:
    std::vector<std::string> log;
    std::vector<int> ends;
    std::unique_ptr<Owner> owner = std::make_unique<Owner>(&ends);
};
using LifetimeDeathTest = LifetimeTest;

TEST_F(LifetimeTest, WeakPointersReadNullOnceTheOwnerOrItsFactorySaysSo) {
    WeakPtr<Owner> weak = owner->weakFactory.getWeakPtr();
    ASSERT_EQ(weak.get(), owner.get());
    owner->weakFactory.invalidateWeakPtrs();
    EXPECT_FALSE(weak);
    WeakPtr<Owner> fresh = owner->weakFactory.getWeakPtr();
    EXPECT_EQ(fresh.get(), owner.get()) << "pointers made after a revoke work";
    owner.reset();
    EXPECT_FALSE(fresh);
}

TEST_F(LifetimeDeathTest, DereferencingADeadWeakPointerEndsTheProcessWithAMessage) {
    WeakPtr<Owner> weak = owner->weakFactory.getWeakPtr();
    owner.reset();
    EXPECT_DEATH((void)weak->once.isRunning(),
                 "WeakPtr<nimbra::contract::TimerOwner> was dereferenced after its object went");
}

// What belongs to the main thread ends the process, with a message, when
// another thread touches it: a race is never left to chance.
TEST_F(LifetimeDeathTest, MainThreadPartsRefuseAnotherThread) {
    WeakPtr<Owner> weak = owner->weakFactory.getWeakPtr();
    NotificationCenter center;
    const std::pair<const char*, std::function<void()>> uses[] = {
        {"a WeakPtr", [&] { (void)weak.get(); }},
        {"the log", [] { platform::log("from a worker"); }},
        {"the notification center", [&] { center.post("N"); }},
        {"a timer member", [&] { owner->once.start(1, [] {}); }},
    };
    for (const auto& [what, use] : uses)
        EXPECT_DEATH(std::thread(use).join(), std::string(what) + " was used off the main thread");
}

TEST_F(LifetimeTest, TimerMembersMayRestartFromTheirOwnTask) {
    int rounds = 0;
    std::function<void()> again = [&] {
        if (++rounds < 3) owner->once.start(1, again);
    };
    owner->once.start(1, again);
    sim().runLoop().advance(5);
    EXPECT_EQ(rounds, 3);
    EXPECT_EQ(sim().runLoop().activeTimerCount(), 0u);
}

TEST_F(LifetimeTest, AnOverwrittenObservationEndsTheOldRegistration) {
    NotificationCenter center;
    Observation observation = center.observe("ping", nullptr, [&](const Notification&) { log.push_back("ping"); });
    observation = center.observe("pong", nullptr, [&](const Notification&) { log.push_back("pong"); });
    center.post("ping");
    center.post("pong");
    EXPECT_EQ(log, std::vector<std::string>{"pong"});
}

TEST_F(LifetimeTest, ObserversMayChangeDuringDelivery) {
    NotificationCenter center;
    int late = 0, nested = 0;
    // The running observer ends itself and another (whose owner is gone),
    // adds one and posts again, all from inside the delivery.
    Observation first, second, added;
    first = center.observe("N", nullptr, [&](const Notification&) {
        log.push_back("first");
        first.reset();
        second.reset();
        added = center.observe("N", nullptr, [&](const Notification&) { ++late; });
        center.post("M");
    });
    second = center.observe("N", nullptr, [&](const Notification&) { log.push_back("second"); });
    auto inner = center.observe("M", nullptr, [&](const Notification&) { ++nested; });
    center.post("N");
    EXPECT_EQ(log, std::vector<std::string>{"first"});
    EXPECT_EQ(late, 0) << "an observer added during delivery waits for the next post";
    EXPECT_EQ(nested, 1);
    center.post("N");
    EXPECT_EQ(std::tuple(log.size(), late), std::tuple(size_t{1}, 1));
}

TEST_F(LifetimeTest, AnObservationMayOutliveItsCenter) {
    auto gone = std::make_unique<NotificationCenter>();
    Observation outliving = gone->observe("N", nullptr, [](const Notification&) {});
    gone.reset();
    EXPECT_FALSE(outliving.isActive());
    outliving.reset();
}

}  // namespace
