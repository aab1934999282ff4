#include "platform/sim/SimRunLoop.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace platform::sim {

// A waiting caller on another thread sleeps on this until its call has run
// (or was dropped by a reset).
struct SimRunLoop::CrossThreadDone {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    void signal() {
        {
            std::lock_guard lock(mutex);
            done = true;
        }
        cv.notify_all();
    }
};

class SimTimer final : public Timer, public std::enable_shared_from_this<SimTimer> {
public:
    SimTimer(SimRunLoop* loop, double interval, bool repeats, std::function<void(Timer&)> callback)
        : loop_(loop), interval_(interval), repeats_(repeats), callback_(std::move(callback)) {}

    void invalidate() override {
        if (!valid_) return;
        valid_ = false;
        if (!loop_) return;
        auto self = shared_from_this();  // the loop's set may hold the last reference
        if (pending_) loop_->cancel(pending_);
        pending_ = 0;
        loop_->removeTimer(this);
    }
    bool isValid() const override { return valid_; }
    double interval() const override { return interval_; }

    void fire() {
        pending_ = 0;
        if (!valid_) return;
        auto self = shared_from_this();
        callback_(*this);
        if (!valid_ || !loop_) return;
        if (repeats_) {
            fireAt_ += interval_;
            if (fireAt_ < loop_->now()) fireAt_ = loop_->now();
            loop_->scheduleTimerFire(self, fireAt_);
        } else {
            invalidate();
        }
    }

    // The loop went away or was reset: the timer is dead without a call.
    void detach() {
        valid_ = false;
        pending_ = 0;
        loop_ = nullptr;
    }

    SimRunLoop* loop_;
    double interval_;
    bool repeats_;
    std::function<void(Timer&)> callback_;
    bool valid_ = true;
    uint64_t pending_ = 0;
    double fireAt_ = 0;
};

SimRunLoop::SimRunLoop() : mainThread_(std::this_thread::get_id()) {}

SimRunLoop::~SimRunLoop() { reset(); }

void SimRunLoop::reset() {
    for (const auto& t : timers_) t->detach();
    auto timers = std::move(timers_);
    timers_.clear();
    auto queue = std::move(queue_);
    queue_.clear();
    keys_.clear();
    auto kept = std::move(kept_);
    kept_.clear();
    keptReleaseTask_ = 0;
    std::deque<CrossThreadCall> cross;
    {
        std::lock_guard lock(crossMutex_);
        cross.swap(crossQueue_);
    }
    for (auto& c : cross)
        if (c.done) c.done->signal();
    quit_ = false;
    mainThread_ = std::this_thread::get_id();
    // The dropped closures, timers and kept objects are released here, after
    // the loop's own state is clean again.
}

uint64_t SimRunLoop::post(double delay, std::function<void()> call, const void* target) {
    if (!(delay > 0)) delay = 0;  // negative and NaN delays mean "next turn"
    if (!std::isfinite(delay)) delay = 1e15;
    const uint64_t seq = nextSeq_++;
    const Key key{now_ + delay, seq};
    queue_.emplace(key, Entry{std::move(call), target});
    keys_.emplace(seq, key);
    return seq;
}

void SimRunLoop::cancel(uint64_t id) {
    auto it = keys_.find(id);
    if (it == keys_.end()) return;
    queue_.erase(it->second);
    keys_.erase(it);
}

std::optional<double> SimRunLoop::nextEventTime() const {
    if (queue_.empty()) return std::nullopt;
    return queue_.begin()->first.first;
}

bool SimRunLoop::runOneDue() {
    if (queue_.empty()) return false;
    auto it = queue_.begin();
    if (it->first.first > now_) return false;
    Entry entry = std::move(it->second);
    keys_.erase(it->first.second);
    queue_.erase(it);
    entry.call();
    return true;
}

bool SimRunLoop::pumpCrossThread() {
    std::deque<CrossThreadCall> calls;
    {
        std::lock_guard lock(crossMutex_);
        calls.swap(crossQueue_);
    }
    for (auto& c : calls) {
        c.call();
        if (c.done) c.done->signal();
    }
    return !calls.empty();
}

void SimRunLoop::runUntilIdle() {
    // A call that keeps posting itself for "now" would never let the loop go
    // idle; stop the test loudly instead of hanging it.
    constexpr size_t kLimit = 10'000'000;
    size_t turns = 0;
    while (pumpCrossThread() | runOneDue()) {
        if (++turns > kLimit) {
            std::fputs("SimRunLoop: runUntilIdle never went idle (a call keeps re-posting itself)\n", stderr);
            std::abort();
        }
    }
}

void SimRunLoop::advance(double seconds) {
    if (!(seconds > 0)) seconds = 0;
    const double target = now_ + seconds;
    runUntilIdle();
    for (auto next = nextEventTime(); next && *next <= target; next = nextEventTime()) {
        if (*next > now_) now_ = *next;
        runUntilIdle();
    }
    now_ = target;
    runUntilIdle();
}

bool SimRunLoop::runUntil(const std::function<bool()>& predicate, double maxVirtualSeconds, double maxRealSeconds) {
    const double deadline = now_ + (maxVirtualSeconds > 0 ? maxVirtualSeconds : 0);
    const auto realDeadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(maxRealSeconds > 0 ? maxRealSeconds : 0));
    while (true) {
        runUntilIdle();
        if (predicate()) return true;
        auto next = nextEventTime();
        if (next && *next <= deadline) {
            if (*next > now_) now_ = *next;
            continue;
        }
        // Nothing timed before the deadline: only another thread can still
        // make the predicate true.
        std::unique_lock lock(crossMutex_);
        if (!crossCv_.wait_until(lock, realDeadline, [&] { return !crossQueue_.empty(); })) {
            lock.unlock();
            if (deadline > now_) now_ = deadline;
            runUntilIdle();
            return predicate();
        }
    }
}

std::shared_ptr<Timer> SimRunLoop::scheduleTimer(double seconds, bool repeats, std::function<void(Timer&)> callback) {
    if (!(seconds > 0)) seconds = 0;
    // A repeating timer needs some interval or it would fire forever at one instant.
    if (repeats && seconds < 0.0001) seconds = 0.0001;
    auto timer = std::make_shared<SimTimer>(this, seconds, repeats, std::move(callback));
    timers_.insert(timer);
    scheduleTimerFire(timer, now_ + seconds);
    return timer;
}

void SimRunLoop::scheduleTimerFire(const std::shared_ptr<SimTimer>& timer, double at) {
    timer->fireAt_ = at;
    std::weak_ptr<SimTimer> weak = timer;
    timer->pending_ = post(at - now_, [weak] {
        if (auto t = weak.lock()) t->fire();
    });
}

void SimRunLoop::removeTimer(SimTimer* timer) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->get() == timer) {
            timers_.erase(it);
            return;
        }
    }
}

void SimRunLoop::performAfterDelay(const void* target, double seconds, std::function<void()> call) {
    if (!call) return;
    post(seconds, std::move(call), target);
}

void SimRunLoop::cancelPerformRequests(const void* target) {
    if (!target) return;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (it->second.target == target) {
            keys_.erase(it->first.second);
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
}

void SimRunLoop::performOnMainThread(std::function<void()> call, bool waitUntilDone) {
    if (!call) return;
    if (isMainThread()) {
        if (waitUntilDone) call();
        else post(0, std::move(call));
        return;
    }
    auto done = waitUntilDone ? std::make_shared<CrossThreadDone>() : nullptr;
    {
        std::lock_guard lock(crossMutex_);
        crossQueue_.push_back({std::move(call), done});
    }
    crossCv_.notify_all();
    if (done) {
        std::unique_lock lock(done->mutex);
        done->cv.wait(lock, [&] { return done->done; });
    }
}

bool SimRunLoop::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void SimRunLoop::keepAliveUntilNextTurn(std::shared_ptr<void> object) {
    if (!object) return;
    kept_.push_back(std::move(object));
    if (keptReleaseTask_) return;
    keptReleaseTask_ = post(0, [this] {
        keptReleaseTask_ = 0;
        auto release = std::move(kept_);
        kept_.clear();
    });
}

void SimRunLoop::run() {
    quit_ = false;
    while (!quit_) {
        runUntilIdle();
        if (quit_) break;
        auto next = nextEventTime();
        if (!next) break;  // nothing left that could ever happen
        if (*next > now_) now_ = *next;
    }
    quit_ = false;
}

void SimRunLoop::quit() { quit_ = true; }

}  // namespace platform::sim
