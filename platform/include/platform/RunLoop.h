#pragma once
// The main run loop: timers, delayed tasks, main-thread calls and the "keep
// alive until the next turn" hold. Everything here fires on the main thread,
// in time order; equal times fire in scheduling order.
//
// Owners never hold a loop timer themselves: they keep a OneShotTimer or a
// RepeatingTimer member, which cancels its task when the owner goes, and
// post tasks bound to a WeakPtr (see WeakPtr.h).

#include <functional>
#include <memory>
#include <utility>

#include "platform/WeakPtr.h"

namespace platform {

// A timer of the backend's loop; only the timer members below hold one.
class Timer {
public:
    virtual ~Timer() = default;
    // Stops the timer for good; safe from inside its own callback and twice.
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    virtual double interval() const = 0;
};

class TimerMember;

class RunLoop {
public:
    virtual ~RunLoop() = default;

    // The run loop of the installed backend.
    static RunLoop& main();

    // Runs the task on a later turn, after the delay (0: the next turn).
    virtual void postDelayedTask(double seconds, std::function<void()> task) = 0;
    // The same, skipped when the target is gone by then: task(target).
    template <typename T, typename F>
    void postTask(WeakPtr<T> target, F task, double seconds = 0) {
        postDelayedTask(seconds, bindWeak(std::move(target), std::move(task)));
    }

    // From any thread. With wait, the caller blocks until the call has run (run
    // at once when already on the main thread).
    virtual void performOnMainThread(std::function<void()> call, bool waitUntilDone) = 0;
    virtual bool isMainThread() const = 0;

    // Holds a reference until the next turn of the loop ("autorelease"): for
    // an object released from inside one of its own callbacks.
    virtual void keepAliveUntilNextTurn(std::shared_ptr<void> object) = 0;

    // Runs the loop until quit() (the application's main loop).
    virtual void run() = 0;
    virtual void quit() = 0;

protected:
    friend class TimerMember;
    // A timer retained by the loop until it is invalidated (a one-shot timer
    // invalidates itself after firing). The callback gets the timer itself.
    // What the timer members are made of; owners use the members.
    virtual std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats,
                                                 std::function<void(Timer&)> callback) = 0;
};

// A timer held by value. Its task runs on the main loop; stopping it,
// starting it again or destroying it (with its owner) cancels the pending
// run, so the task may use its owner freely. Neither copied nor moved: a
// task bound to one owner must not travel to another. Main thread only.
class TimerMember {
public:
    TimerMember(const TimerMember&) = delete;
    TimerMember& operator=(const TimerMember&) = delete;

    void stop();
    bool isRunning() const { return timer_ && timer_->isValid(); }
    double interval() const { return timer_ ? timer_->interval() : 0; }

protected:
    TimerMember() = default;
    ~TimerMember() { stop(); }
    void schedule(double seconds, bool repeats, std::function<void()> task);

private:
    std::shared_ptr<Timer> timer_;
};

class OneShotTimer : public TimerMember {
public:
    // Runs the task once after the delay (0: the next turn), replacing a
    // pending one. The task may start the timer again.
    void start(double seconds, std::function<void()> task) { schedule(seconds, false, std::move(task)); }
};

// The same, run every interval until stopped.
class RepeatingTimer : public TimerMember {
public:
    void start(double seconds, std::function<void()> task) { schedule(seconds, true, std::move(task)); }
};

// Lifetimes across a call out (docs/lifetimes.md).

// Protects an object for the call: a strong reference to a shared object for
// the rest of the calling scope, taken by a method that calls out to code
// which may drop every other reference to it (an application releasing its
// banner inside a delegate callback). Null when the object is not held by a
// shared_ptr or is already being destroyed: there is nothing left to do then.
template <typename T>
[[nodiscard]] std::shared_ptr<T> protectForCall(T& object) {
    return std::static_pointer_cast<T>(object.weak_from_this().lock());
}

// Releases a reference on the loop's next turn: for an object its owner lets
// go from inside one of the object's own callbacks (a web view whose page is
// answering, a connection reporting its end, a screen taking itself down).
void releaseOnNextTurn(std::shared_ptr<const void> object);

}  // namespace platform
