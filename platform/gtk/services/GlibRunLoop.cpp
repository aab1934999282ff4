#include "GlibRunLoop.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <string>

#include "platform/MainThread.h"
#include "platform/Services.h"

namespace platform::gtk {
namespace {

// Far enough for any real use, near enough to stay clear of overflow.
constexpr double kLongestDelaySeconds = 1e9;
// A repeating timer never spins faster than this.
constexpr double kShortestRepeatSeconds = 0.0001;

int64_t toMicroseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // negative, zero and NaN: as soon as possible
    return static_cast<int64_t>(std::min(seconds, kLongestDelaySeconds) * 1e6);
}

gboolean dispatchSource(GSource*, GSourceFunc callback, gpointer data) { return callback(data); }
GSourceFuncs sourceFuncs = {nullptr, nullptr, dispatchSource, nullptr, nullptr, nullptr};

// A source that fires when its ready time is set.
GAttachedSource readySource(GSourceFunc callback, gpointer data, const char* name) {
    GSource* source = g_source_new(&sourceFuncs, sizeof(GSource));
    g_source_set_name(source, name);
    // A callback that turns the loop itself (a nested wait) still sees timers,
    // delayed calls and main-thread calls.
    g_source_set_can_recurse(source, TRUE);
    return attachSource(source, callback, data);
}

// Work handed to us by callers runs under this guard: an exception must not
// unwind through GLib's C frames.
template <typename F>
void runGuarded(const char* what, F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        platform::log(std::string("run loop: uncaught exception in ") + what + ": " + e.what());
    } catch (...) {
        platform::log(std::string("run loop: uncaught exception in ") + what);
    }
}

}  // namespace

class GlibRunLoop::LoopTimer final : public Timer, public std::enable_shared_from_this<LoopTimer> {
public:
    LoopTimer(GlibRunLoop& loop, double interval, bool repeats, std::function<void(Timer&)> callback)
        : loop_(loop), interval_(interval), repeats_(repeats), callback_(std::move(callback)) {}

    void invalidate() override {
        if (!loop_.isMainThread()) {
            auto self = shared_from_this();
            loop_.performOnMainThread([self] { self->invalidate(); }, false);
            return;
        }
        if (!valid_) return;
        auto self = shared_from_this();  // the queue may hold the last reference
        valid_ = false;
        if (queued_) {
            queued_ = false;
            loop_.removeTimer(key_);  // may drop the loop's reference to us
        }
        // The callback's captures go now unless it is the code running.
        if (!firing_) callback_ = nullptr;
    }
    bool isValid() const override { return valid_; }
    double interval() const override { return interval_; }

    void fire() {
        if (!valid_ || !callback_) return;
        firing_ = true;
        runGuarded("a timer", [&] { callback_(*this); });
        firing_ = false;
        if (!repeats_) valid_ = false;
        if (!valid_) callback_ = nullptr;
    }

    GlibRunLoop& loop_;
    const double interval_;
    const bool repeats_;
    std::function<void(Timer&)> callback_;
    bool valid_ = true;
    bool firing_ = false;
    bool queued_ = false;
    Key key_{};
};

GlibRunLoop::GlibRunLoop() : mainThread_(std::this_thread::get_id()) {
    queueSource_ = readySource(&GlibRunLoop::dispatchQueue, this, "platform timers");
    mainCallSource_ = readySource(&GlibRunLoop::dispatchMainCalls, this, "platform main-thread calls");
    releaseSource_ = readySource(&GlibRunLoop::releaseHeld, this, "platform keep-alive");
}

GlibRunLoop::~GlibRunLoop() {
    // Off the context first: entries released with the queues may still call
    // rearm(), which then finds no source.
    queueSource_.reset();
    mainCallSource_.reset();
    releaseSource_.reset();
}

bool GlibRunLoop::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

GlibRunLoop::Key GlibRunLoop::enqueue(double seconds, int64_t from, Entry entry) {
    Key key{from + toMicroseconds(seconds), nextSequence_++};
    queue_.emplace(key, std::move(entry));
    rearm();
    return key;
}

void GlibRunLoop::removeTimer(const Key& key) {
    queue_.erase(key);
    rearm();
}

void GlibRunLoop::rearm() {
    if (!queueSource_) return;
    g_source_set_ready_time(queueSource_.get(), queue_.empty() ? -1 : queue_.begin()->first.first);
}

std::shared_ptr<Timer> GlibRunLoop::scheduleTimer(double seconds, bool repeats, std::function<void(Timer&)> callback) {
    double interval = std::isnan(seconds) ? 0.0 : std::min(std::max(seconds, 0.0), kLongestDelaySeconds);
    if (repeats) interval = std::max(interval, kShortestRepeatSeconds);
    auto timer = std::make_shared<LoopTimer>(*this, interval, repeats, std::move(callback));
    auto schedule = [this, timer, start = g_get_monotonic_time()] {
        if (!timer->valid_) return;  // invalidated before it reached the main thread
        timer->queued_ = true;
        timer->key_ = enqueue(timer->interval_, start, Entry{timer, {}});
    };
    if (isMainThread()) schedule();
    else performOnMainThread(schedule, false);
    return timer;
}

void GlibRunLoop::postDelayedTask(double seconds, std::function<void()> task) {
    if (!task) return;
    if (!isMainThread()) {
        performOnMainThread(
            [this, seconds, task = std::move(task), start = g_get_monotonic_time()]() mutable {
                enqueue(seconds, start, Entry{nullptr, std::move(task)});
            },
            false);
        return;
    }
    enqueue(seconds, g_get_monotonic_time(), Entry{nullptr, std::move(task)});
}

gboolean GlibRunLoop::dispatchQueue(gpointer self) {
    static_cast<GlibRunLoop*>(self)->runDue();
    return G_SOURCE_CONTINUE;
}

void GlibRunLoop::runDue() {
    const int64_t now = g_get_monotonic_time();
    // Work scheduled while this turn runs waits for the next one, even when it
    // is already due (a delay of 0 means "the next turn").
    const uint64_t limit = nextSequence_;
    for (;;) {
        auto it = queue_.begin();
        while (it != queue_.end() && it->first.first <= now && it->first.second >= limit) ++it;
        if (it == queue_.end() || it->first.first > now) break;
        const Key key = it->first;
        Entry entry = std::move(it->second);
        queue_.erase(it);
        if (entry.timer) {
            auto timer = entry.timer;  // alive while it fires, whatever the callback does
            timer->queued_ = false;
            ++activity_.timersFired;
            timer->fire();
            if (timer->valid_ && timer->repeats_) {
                const int64_t step = std::max<int64_t>(toMicroseconds(timer->interval_), 1);
                int64_t next = key.first + step;
                // A loop that fell behind skips the missed firings instead of bunching them.
                if (next <= now) next += ((now - next) / step + 1) * step;
                timer->queued_ = true;
                timer->key_ = Key{next, nextSequence_++};
                queue_.emplace(timer->key_, std::move(entry));
            }
        } else if (entry.call) {
            ++activity_.delayedCalls;
            runGuarded("a delayed call", entry.call);
        }
    }
    rearm();
}

void GlibRunLoop::performOnMainThread(std::function<void()> call, bool waitUntilDone) {
    if (!call) return;
    if (waitUntilDone && isMainThread()) {
        runGuarded("a main-thread call", call);
        return;
    }
    // What a waiting caller on another thread sleeps on until its call has run.
    struct Completion {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    std::shared_ptr<Completion> completion;
    if (waitUntilDone) {
        completion = std::make_shared<Completion>();
        call = [inner = std::move(call), completion] {
            struct Signal {
                Completion& c;
                ~Signal() {
                    std::lock_guard<std::mutex> lock(c.mutex);
                    c.finished = true;
                    c.done.notify_all();
                }
            } signal{*completion};
            inner();
        };
    }
    {
        std::lock_guard<std::mutex> lock(mainCallsMutex_);
        mainCalls_.push_back(std::move(call));
    }
    g_source_set_ready_time(mainCallSource_.get(), 0);  // wakes the main context
    if (completion) {
        std::unique_lock<std::mutex> lock(completion->mutex);
        completion->done.wait(lock, [&] { return completion->finished; });
    }
}

gboolean GlibRunLoop::dispatchMainCalls(gpointer data) {
    auto* self = static_cast<GlibRunLoop*>(data);
    // Disarm before taking the batch: a call posted after this point re-arms.
    g_source_set_ready_time(self->mainCallSource_.get(), -1);
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> lock(self->mainCallsMutex_);
        batch.swap(self->mainCalls_);
    }
    while (!batch.empty()) {
        auto call = std::move(batch.front());
        batch.pop_front();
        ++self->activity_.mainThreadCalls;
        runGuarded("a main-thread call", call);
    }
    return G_SOURCE_CONTINUE;
}

void GlibRunLoop::keepAliveUntilNextTurn(std::shared_ptr<void> object) {
    if (!object) return;
    if (!isMainThread()) {
        performOnMainThread([this, object] { keepAliveUntilNextTurn(object); }, false);
        return;
    }
    held_.push_back(std::move(object));
    g_source_set_ready_time(releaseSource_.get(), 0);
}

gboolean GlibRunLoop::releaseHeld(gpointer data) {
    auto* self = static_cast<GlibRunLoop*>(data);
    g_source_set_ready_time(self->releaseSource_.get(), -1);
    std::vector<std::shared_ptr<void>> batch;
    batch.swap(self->held_);
    ++self->activity_.keepAliveReleases;
    runGuarded("releasing held objects", [&] { batch.clear(); });
    return G_SOURCE_CONTINUE;
}

void GlibRunLoop::run() {
    checkMainThread("RunLoop::run");
    const GMainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    loops_.push_back(loop.get());
    g_main_loop_run(loop.get());
    loops_.erase(std::find(loops_.begin(), loops_.end(), loop.get()));
}

void GlibRunLoop::quit() {
    checkMainThread("RunLoop::quit");
    if (!loops_.empty()) g_main_loop_quit(loops_.back());
}

}  // namespace platform::gtk
