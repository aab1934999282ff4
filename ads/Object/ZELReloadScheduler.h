#pragma once
// When the banner fetches its next ad: a one-shot timer set from the server's
// refresh rate after every markup download, off while the application is in
// the background, and held while full-screen ad screens cover the banner (the
// full interval starts again when the last of them goes). Without a rate the
// last interval is kept; 0 stops reloading until a later rate.
//
// The timer also waits while nobody can see the banner (unless it reloads
// while hidden): seen again, it reloads at once if its time ran out
// meanwhile, otherwise when the rest has passed. A load that could not reach
// the server is tried again after a back-off (5 s, doubling to 5 min, unless
// the server's own schedule comes sooner), and at once when the network
// comes back.

#include <functional>
#include <optional>
#include <vector>

#include "platform/Http.h"
#include "platform/NotificationCenter.h"
#include "platform/RunLoop.h"

// Reloads come no oftener: each one costs an ad request and its impressions.
inline constexpr double kZELMinimumRefreshSeconds = 1.0;
// The back-off after a load that could not reach the server.
inline constexpr double kZELFirstRetrySeconds = 5.0;
inline constexpr double kZELLongestRetrySeconds = 300.0;

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
    // The last interval again, from now; a retry that was waiting, at once.
    void activate();
    // No reload until the next schedule or activation; the interval, and a
    // retry waiting, stay.
    void deactivate();
    // A full-screen ad screen is coming up over the banner, or has gone.
    void screenWillCover();
    void screenDidUncover();
    // Whether the user can see the banner.
    void setVisible(bool visible);
    // Reloads on the server's schedule whether seen or not.
    void setReloadsWhileHidden(bool reloads);
    bool isSeen() const { return visible_ || reloadsWhileHidden_; }

    // The load could not reach the server: the next try comes after the
    // back-off at the latest. Returns that back-off, in seconds.
    double retryAfterUnreachable();
    // A failed load's error: when it says the network or the server could not
    // be reached at all (no answer, as against an answer that was an error),
    // the retry is set with one log line giving the cause. False otherwise.
    bool retryIfUnreachable(const std::optional<platform::Error>& error);
    // The server answered: the back-off starts again from its first step.
    void serverReached() { nextRetry_ = kZELFirstRetrySeconds; }

    double interval() const { return interval_; }
    bool isScheduled() const { return timer_.isRunning(); }
    // A reload is due (running, or waiting for the banner to be seen).
    bool isDue() const { return dueAt_.has_value(); }

private:
    // The one place that says whether the timer may run now.
    bool mayRun() const { return coveringScreens_ == 0 && isSeen(); }
    // The timer for what is left until the reload is due, when it may run.
    void resume();
    void fire();
    void retryNow();

    std::function<void()> reload_;
    platform::OneShotTimer timer_;
    double interval_ = 0;          // the last non-zero interval
    std::optional<double> dueAt_;  // monotonic seconds
    int coveringScreens_ = 0;      // screens can stack: one ad screen opening another
    bool visible_ = false;
    bool reloadsWhileHidden_ = false;
    bool retryPending_ = false;
    double nextRetry_ = kZELFirstRetrySeconds;
    std::vector<platform::Observation> observations_;
};
