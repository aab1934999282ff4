#include "platform/RunLoop.h"

namespace platform {

TimerMember& TimerMember::operator=(TimerMember&& other) noexcept {
    if (this != &other) {
        stop();
        timer_ = std::move(other.timer_);
    }
    return *this;
}

void TimerMember::schedule(double seconds, bool repeats, std::function<void()> task) {
    stop();
    timer_ = RunLoop::main().scheduleTimer(seconds, repeats, [task = std::move(task)](Timer&) { task(); });
}

void TimerMember::stop() {
    // Moved out first: the timer's own callback may be what stops it.
    if (auto old = std::move(timer_)) old->invalidate();
}

}  // namespace platform
