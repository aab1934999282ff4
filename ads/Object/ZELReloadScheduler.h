#pragma once
// When the banner fetches its next ad: a one-shot timer set from the server's
// refresh rate after every markup download, off while the application is in
// the background, and held while full-screen ad screens cover the banner (the
// full interval starts again when the last of them goes). Without a rate the
// last interval is kept; 0 stops reloading until a later rate.

#include <functional>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

// Reloads come no oftener: each one costs an ad request and its impressions.
inline constexpr double kZELMinimumRefreshSeconds = 1.0;

class ZELReloadScheduler {
public:
    // The reload runs on the main loop, while the scheduler lives.
    explicit ZELReloadScheduler(std::function<void()> reload);
    ZELReloadScheduler(const ZELReloadScheduler&) = delete;
    ZELReloadScheduler& operator=(const ZELReloadScheduler&) = delete;

    // The next reload in this many seconds (starting afresh): 0, a negative
    // number or one that is no number stops reloading and leaves the last
    // interval; under a second counts as a second.
    void schedule(double seconds);
    // The last interval again, from now.
    void activate() { schedule(interval_); }
    // No reload until the next schedule or activation; the interval stays.
    void deactivate() { timer_.stop(); }
    // A full-screen ad screen is coming up over the banner, or has gone.
    void screenWillCover();
    void screenDidUncover();

    double interval() const { return interval_; }
    bool isScheduled() const { return timer_.isRunning(); }

private:
    // The one place that says whether the timer may run now.
    bool mayRun() const { return coveringScreens_ == 0; }

    std::function<void()> reload_;
    platform::OneShotTimer timer_;
    double interval_ = 0;      // the last non-zero interval
    int coveringScreens_ = 0;  // screens can stack: one ad screen opening another
    std::vector<platform::Observation> observations_;
};
