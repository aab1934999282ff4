#pragma once
// The run loop on GLib's default main context. Timers and delayed calls share
// one queue ordered by fire time and then by scheduling order, driven by a
// single GSource, so that calls due together run in the order they were asked
// for (separate GLib timeouts would run in creation order instead).

#include <glib.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/RunLoop.h"
#include "platform/gtk/GRef.h"

namespace platform::gtk {

class GlibRunLoop final : public RunLoop {
public:
    // The calling thread becomes the main thread.
    GlibRunLoop();
    ~GlibRunLoop() override;
    GlibRunLoop(const GlibRunLoop&) = delete;
    GlibRunLoop& operator=(const GlibRunLoop&) = delete;

    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats, std::function<void(Timer&)> callback) override;
    void postDelayedTask(double seconds, std::function<void()> task) override;
    void performOnMainThread(std::function<void()> call, bool waitUntilDone) override;
    bool isMainThread() const override;
    void keepAliveUntilNextTurn(std::shared_ptr<void> object) override;
    void run() override;
    void quit() override;

    // What the loop has run since it was made (main thread only): lets a
    // benchmark see whether anything woke the loop on our account.
    struct Activity {
        uint64_t timersFired = 0;
        uint64_t delayedCalls = 0;
        uint64_t mainThreadCalls = 0;
        uint64_t keepAliveReleases = 0;
    };
    const Activity& activity() const { return activity_; }
    // Timers and delayed calls waiting in the queue (main thread only).
    size_t queuedCount() const { return queue_.size(); }

private:
    class LoopTimer;
    friend class LoopTimer;
    using Key = std::pair<int64_t, uint64_t>;  // fire time (monotonic µs), sequence
    struct Entry {
        std::shared_ptr<LoopTimer> timer;  // set for timers
        std::function<void()> call;        // set for delayed calls
    };

    Key enqueue(double seconds, int64_t from, Entry entry);
    void removeTimer(const Key& key);
    void rearm();
    static gboolean dispatchQueue(gpointer self);
    static gboolean dispatchMainCalls(gpointer self);
    static gboolean releaseHeld(gpointer self);
    void runDue();

    std::thread::id mainThread_;
    GAttachedSource queueSource_;
    GAttachedSource mainCallSource_;
    GAttachedSource releaseSource_;
    std::map<Key, Entry> queue_;
    uint64_t nextSequence_ = 1;

    // The one place where another thread meets the main one: calls handed
    // over by performOnMainThread.
    std::mutex mainCallsMutex_;
    std::deque<std::function<void()>> mainCalls_;

    std::vector<std::shared_ptr<void>> held_;
    Activity activity_;
    std::vector<GMainLoop*> loops_;  // run() nested in run(), innermost last
};

}  // namespace platform::gtk
