#include "Object/ZELReloadScheduler.h"

#include <algorithm>

#include "Utility/ZELIdentifierUtilities.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "platform/Application.h"

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
}

void ZELReloadScheduler::schedule(double seconds) {
    timer_.stop();
    // 0 stops reloading; so do a negative interval and one that is not a
    // number, which would otherwise reload back to back.
    if (!(seconds > 0)) return;
    // Each reload fires impressions: never more often than this.
    interval_ = std::max(seconds, kZELMinimumRefreshSeconds);
    // Held meanwhile: whatever lifts the hold schedules the interval again.
    if (!mayRun()) return;
    timer_.start(interval_, [this] { reload_(); });
}

void ZELReloadScheduler::screenWillCover() {
    ++coveringScreens_;
    deactivate();
}

void ZELReloadScheduler::screenDidUncover() {
    if (coveringScreens_ > 0) --coveringScreens_;
    if (mayRun()) activate();
}
