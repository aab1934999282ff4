#include "platform/RunLoop.h"

namespace platform {
namespace {

void stopTimer(std::shared_ptr<Timer>& timer) {
    // Moved out first: the timer's own callback may be what stops it.
    if (auto old = std::move(timer)) old->invalidate();
}

}  // namespace

OneShotTimer& OneShotTimer::operator=(OneShotTimer&& other) noexcept {
    if (this != &other) {
        stop();
        timer_ = std::move(other.timer_);
    }
    return *this;
}

void OneShotTimer::start(double seconds, std::function<void()> task) {
    stop();
    timer_ = RunLoop::main().scheduleTimer(seconds, false, [task = std::move(task)](Timer&) { task(); });
}

void OneShotTimer::stop() { stopTimer(timer_); }

RepeatingTimer& RepeatingTimer::operator=(RepeatingTimer&& other) noexcept {
    if (this != &other) {
        stop();
        timer_ = std::move(other.timer_);
    }
    return *this;
}

void RepeatingTimer::start(double seconds, std::function<void()> task) {
    stop();
    timer_ = RunLoop::main().scheduleTimer(seconds, true, [task = std::move(task)](Timer&) { task(); });
}

void RepeatingTimer::stop() { stopTimer(timer_); }

}  // namespace platform
