#pragma once
// A run loop on virtual time for tests. Nothing happens until the test turns
// the loop: runUntilIdle() runs what is due now, advance() moves the clock
// forward and fires timers and delayed calls in time order on the way.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/RunLoop.h"

namespace platform::sim {

class SimTimer;

class SimRunLoop final : public RunLoop {
public:
    // Virtual time is kept in whole nanoseconds so that steps add up exactly
    // (advance(29.999) then advance(0.001) reaches a 30-second timer).
    using Ticks = int64_t;
    static Ticks toTicks(double seconds);

    SimRunLoop();
    ~SimRunLoop() override;

    // Virtual seconds since the loop was made; never goes backwards.
    double now() const { return static_cast<double>(now_.load(std::memory_order_relaxed)) / 1e9; }

    // Runs everything due now: zero-delay calls, releases of kept objects,
    // deliveries posted by the sim services and calls from other threads,
    // including what those post for now.
    void runUntilIdle();
    // Moves virtual time forward by the given seconds, running every timer and
    // delayed call that comes due, in time order (equal times in scheduling order).
    void advance(double seconds);
    // Runs the loop until the predicate holds, moving virtual time forward to
    // the next timed event when nothing else is due, for at most
    // maxVirtualSeconds of virtual time. When nothing is scheduled it waits
    // (in real time, up to maxRealSeconds) for calls from other threads.
    // Returns whether the predicate came true.
    bool runUntil(const std::function<bool()>& predicate, double maxVirtualSeconds, double maxRealSeconds = 10.0);

    // Tasks of the sim services: a call at now + delay; the id cancels it.
    uint64_t post(double delay, std::function<void()> call);
    uint64_t postAt(Ticks at, std::function<void()> call);
    void cancel(uint64_t id);

    // Pending timed entries (timers, delayed calls, sim deliveries).
    size_t pendingCount() const { return queue_.size(); }
    // Virtual time of the next entry, if any.
    std::optional<double> nextEventTime() const;
    // Live (scheduled, valid) timers.
    size_t activeTimerCount() const { return timers_.size(); }

    // Drops every pending entry and cross-thread call, invalidates every
    // timer and releases kept objects. Time keeps its value.
    void reset();

    // RunLoop
    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats, std::function<void(Timer&)> callback) override;
    void postDelayedTask(double seconds, std::function<void()> task) override;
    void performOnMainThread(std::function<void()> call, bool waitUntilDone) override;
    bool isMainThread() const override;
    void keepAliveUntilNextTurn(std::shared_ptr<void> object) override;
    // Turns the loop (moving virtual time) until quit() or until nothing at
    // all is left to happen.
    void run() override;
    void quit() override;

private:
    friend class SimTimer;
    struct Entry {
        std::function<void()> call;
    };
    struct CrossThreadDone;
    struct CrossThreadCall {
        std::function<void()> call;
        std::shared_ptr<CrossThreadDone> done;
    };
    using Key = std::pair<Ticks, uint64_t>;

    bool runOneDue();
    bool pumpCrossThread();
    void scheduleTimerFire(const std::shared_ptr<SimTimer>& timer, Ticks at);
    void removeTimer(SimTimer* timer);

    // Written on the main thread only; atomic so that a clock read on
    // another thread sees a whole value.
    std::atomic<Ticks> now_{0};
    uint64_t nextSeq_ = 1;
    std::map<Key, Entry> queue_;
    std::map<uint64_t, Key> keys_;
    std::set<std::shared_ptr<SimTimer>> timers_;
    std::vector<std::shared_ptr<void>> kept_;
    uint64_t keptReleaseTask_ = 0;
    std::thread::id mainThread_;
    bool quit_ = false;

    // Where another thread meets the main one: calls handed over by
    // performOnMainThread, which the main thread pumps.
    mutable std::mutex crossMutex_;
    std::condition_variable crossCv_;
    std::deque<CrossThreadCall> crossQueue_;
};

}  // namespace platform::sim
