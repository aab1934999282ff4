#pragma once
// The main run loop: timers, delayed calls, main-thread calls and the
// "keep alive until the next turn" hold. Everything here fires on the main
// thread, in time order; equal times fire in scheduling order.

#include <functional>
#include <memory>

namespace platform {

class Timer {
public:
    virtual ~Timer() = default;
    // Stops the timer for good; safe from inside its own callback and twice.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    virtual double interval() const = 0;
};

class RunLoop {
public:
    virtual ~RunLoop() = default;

    // The run loop of the installed backend.
    static RunLoop& main();

    // A timer retained by the run loop until it is invalidated (a one-shot timer
    // invalidates itself after firing). The callback gets the timer itself.
    virtual std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats,
                                                 std::function<void(Timer&)> callback) = 0;

    // A delayed call aimed at a target (an object identity, never dereferenced).
    // A delay of 0 runs on the next turn of the loop.
    virtual void performAfterDelay(const void* target, double seconds, std::function<void()> call) = 0;
    // Cancels every pending delayed call aimed at the target.
    virtual void cancelPerformRequests(const void* target) = 0;

    // From any thread. With wait, the caller blocks until the call has run (run
    // at once when already on the main thread).
    virtual void performOnMainThread(std::function<void()> call, bool waitUntilDone) = 0;
    virtual bool isMainThread() const = 0;

    // Holds a reference until the next turn of the loop ("autorelease").
    virtual void keepAliveUntilNextTurn(std::shared_ptr<void> object) = 0;

    // Runs the loop until quit() (the application's main loop).
    virtual void run() = 0;
    virtual void quit() = 0;
};

}  // namespace platform
