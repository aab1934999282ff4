#include "platform/RunLoop.h"

#include "platform/MainThread.h"

namespace platform {

void TimerMember::schedule(double seconds, bool repeats, std::function<void()> task) {
    checkMainThread("a timer member");
    stop();
    timer_ = RunLoop::main().scheduleTimer(seconds, repeats, [task = std::move(task)](Timer&) { task(); });
}

void TimerMember::stop() {
    // Moved out first: the timer's own callback may be what stops it.
    if (auto old = std::move(timer_)) old->invalidate();
}

}  // namespace platform
