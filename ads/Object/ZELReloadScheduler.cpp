#include "Object/ZELReloadScheduler.h"

#include <algorithm>
#include <cstdio>

#include "Network/ZELNetworkChecker.h"
#include "Utility/ZELIdentifierUtilities.h"
#include "Utility/ZELLogText.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "platform/Application.h"
#include "platform/Services.h"

namespace {
double now() { return platform::Clock::current().monotonicSeconds(); }

bool isUnreachable(const std::optional<platform::Error>& error) {
    if (!error || error->domain != platform::kURLErrorDomain) return false;
    switch (error->code) {
    case platform::kURLErrorTimedOut:
    case platform::kURLErrorCannotFindHost:
    case platform::kURLErrorCannotConnectToHost:
    case platform::kURLErrorNotConnectedToInternet: return true;
    default: return false;
    }
}
}  // namespace

ZELReloadScheduler::ZELReloadScheduler(std::function<void()> reload) : reload_(std::move(reload)) {
    auto observe = [this](const char* name, void (ZELReloadScheduler::*action)()) {
        observations_.push_back(platform::NotificationCenter::defaultCenter().observe(
            name, nullptr, [this, action](const platform::Notification&) { (this->*action)(); }));
    };
    if (ZELIdentifierUtilities::isOSAtLeast(4, 0, 0)) {
        observe(platform::kApplicationDidEnterBackgroundNotification, &ZELReloadScheduler::deactivate);
        observe(platform::kApplicationWillEnterForegroundNotification, &ZELReloadScheduler::activate);
    } else {
        observe(platform::kApplicationWillResignActiveNotification, &ZELReloadScheduler::deactivate);
        observe(platform::kApplicationDidBecomeActiveNotification, &ZELReloadScheduler::activate);
    }
    observe(ZELViewControllerWillPresentFullScreen, &ZELReloadScheduler::screenWillCover);
    observe(ZELViewControllerDidRelinquishFullScreen, &ZELReloadScheduler::screenDidUncover);
    observe(ZELNetworkCheckerDidBecomeReachable, &ZELReloadScheduler::retryNow);
    // Watching from now, so that the network's return is heard.
    ZELNetworkChecker::sharedChecker();
}

void ZELReloadScheduler::schedule(double seconds) {
    timer_.stop();
    dueAt_.reset();
    retryPending_ = false;
    // 0 stops reloading; so do a negative interval and one that is not a
    // number, which would otherwise reload back to back.
    if (!(seconds > 0)) return;
    // Each reload fires impressions: never more often than this.
    interval_ = std::max(seconds, kZELMinimumRefreshSeconds);
    dueAt_ = now() + interval_;
    // Held meanwhile: whatever lifts the hold runs the timer.
    if (mayRun()) timer_.start(interval_, [this] { fire(); });
}

void ZELReloadScheduler::activate() {
    const bool retry = retryPending_;
    schedule(interval_);
    // Back in front with no ad: a server that could not be reached is asked again now.
    if (retry) {
        retryPending_ = true;
        retryNow();
    }
}

void ZELReloadScheduler::deactivate() {
    timer_.stop();
    dueAt_.reset();
}

void ZELReloadScheduler::resume() {
    if (!dueAt_ || !mayRun()) return;
    timer_.start(std::max(0.0, *dueAt_ - now()), [this] { fire(); });
}

void ZELReloadScheduler::fire() {
    dueAt_.reset();
    retryPending_ = false;
    reload_();
}

void ZELReloadScheduler::screenWillCover() {
    ++coveringScreens_;
    deactivate();
}

void ZELReloadScheduler::screenDidUncover() {
    if (coveringScreens_ > 0) --coveringScreens_;
    if (mayRun()) activate();
}

void ZELReloadScheduler::setVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    // Hidden, the time that is left stays; seen again, it runs on.
    if (mayRun()) resume();
    else timer_.stop();
}

void ZELReloadScheduler::setReloadsWhileHidden(bool reloads) {
    if (reloadsWhileHidden_ == reloads) return;
    reloadsWhileHidden_ = reloads;
    if (mayRun()) resume();
    else timer_.stop();
}

double ZELReloadScheduler::retryAfterUnreachable() {
    const double wait = nextRetry_;
    nextRetry_ = std::min(nextRetry_ * 2, kZELLongestRetrySeconds);
    // The server's own schedule stays when it comes sooner.
    if (!dueAt_ || *dueAt_ > now() + wait) dueAt_ = now() + wait;
    retryPending_ = true;
    timer_.stop();
    resume();
    return wait;
}

bool ZELReloadScheduler::retryIfUnreachable(const std::optional<platform::Error>& error) {
    if (!isUnreachable(error)) return false;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.0f", retryAfterUnreachable());
    platform::log("<Nimbra> The server could not be reached (" + ZELLogText::printable(error->description) +
                  "); trying again in " + seconds + " s, or when the network comes back.");
    return true;
}

// The network is back (or the application in front): a retry waiting runs now.
void ZELReloadScheduler::retryNow() {
    if (!retryPending_) return;
    dueAt_ = now();
    resume();
}
