#include "platform/sim/SimRunLoop.h"

#include <algorithm>
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
            fireAt_ += SimRunLoop::toTicks(interval_);
            fireAt_ = std::max(fireAt_, loop_->now_.load());
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
    SimRunLoop::Ticks fireAt_ = 0;
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

SimRunLoop::Ticks SimRunLoop::toTicks(double seconds) {
    if (!(seconds > 0)) return 0;  // negative and NaN delays mean "next turn"
    // Far-off delays are capped (about 30 years) so that time cannot overflow.
    if (seconds > 1e9) seconds = 1e9;
    return static_cast<Ticks>(std::llround(seconds * 1e9));
}

uint64_t SimRunLoop::post(double delay, std::function<void()> call) {
    return postAt(now_ + toTicks(delay), std::move(call));
}

uint64_t SimRunLoop::postAt(Ticks at, std::function<void()> call) {
    const uint64_t seq = nextSeq_++;
    const Key key{std::max(at, now_.load()), seq};
    queue_.emplace(key, Entry{std::move(call)});
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
    return static_cast<double>(queue_.begin()->first.first) / 1e9;
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
    const Ticks target = now_ + toTicks(seconds);
    runUntilIdle();
    while (!queue_.empty() && queue_.begin()->first.first <= target) {
        now_ = std::max(now_.load(), queue_.begin()->first.first);
        runUntilIdle();
    }
    now_ = target;
    runUntilIdle();
}

bool SimRunLoop::runUntil(const std::function<bool()>& predicate, double maxVirtualSeconds, double maxRealSeconds) {
    const Ticks deadline = now_ + toTicks(maxVirtualSeconds);
    const auto realDeadline =
        std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                               std::chrono::duration<double>(maxRealSeconds > 0 ? maxRealSeconds : 0));
    while (true) {
        runUntilIdle();
        if (predicate()) return true;
        if (!queue_.empty() && queue_.begin()->first.first <= deadline) {
            now_ = std::max(now_.load(), queue_.begin()->first.first);
            continue;
        }
        // Nothing timed before the deadline: only another thread can still
        // make the predicate true, by a call to this thread or by itself, so
        // look again at short real intervals.
        if (std::chrono::steady_clock::now() >= realDeadline) {
            if (deadline > now_) now_ = deadline;
            runUntilIdle();
            return predicate();
        }
        std::unique_lock lock(crossMutex_);
        crossCv_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !crossQueue_.empty(); });
    }
}

std::shared_ptr<Timer> SimRunLoop::scheduleTimer(double seconds, bool repeats, std::function<void(Timer&)> callback) {
    if (!(seconds > 0)) seconds = 0;
    // A repeating timer needs some interval or it would fire forever at one instant.
    if (repeats && seconds < 0.0001) seconds = 0.0001;
    auto timer = std::make_shared<SimTimer>(this, seconds, repeats, std::move(callback));
    timers_.insert(timer);
    scheduleTimerFire(timer, now_ + toTicks(seconds));
    return timer;
}

void SimRunLoop::scheduleTimerFire(const std::shared_ptr<SimTimer>& timer, Ticks at) {
    timer->fireAt_ = at;
    std::weak_ptr<SimTimer> weak = timer;
    timer->pending_ = postAt(at, [weak] {
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

void SimRunLoop::postDelayedTask(double seconds, std::function<void()> task) {
    if (task) post(seconds, std::move(task));
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
        if (queue_.empty()) break;  // nothing left that could ever happen
        now_ = std::max(now_.load(), queue_.begin()->first.first);
    }
    quit_ = false;
}

void SimRunLoop::quit() { quit_ = true; }

}  // namespace platform::sim
