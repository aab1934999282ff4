#include "Object/ZELTrackerSet.h"

std::shared_ptr<ZELTrackerSet> ZELTrackerSet::create() { return std::shared_ptr<ZELTrackerSet>(new ZELTrackerSet()); }

void ZELTrackerSet::trackURLs(const std::vector<platform::URL>& urls) {
    for (const auto& url : urls) {
        auto tracker = ZELClickTracker::create(weak_from_this());
        trackers_.insert(tracker);
        tracker->trackURL(url);
    }
}

void ZELTrackerSet::cleanupTrackers() {
    std::erase_if(trackers_, [](const auto& tracker) { return tracker->hasTracked(); });
}

void ZELTrackerSet::trackerDidRedirect(ZELClickTracker&, const std::optional<platform::URL>&) {
    // Never remove a tracker inside its own callback.
    if (!cleanup_.isRunning()) cleanup_.start(0, [this] { cleanupTrackers(); });
}

void ZELTrackerSet::trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>&) {
    trackerDidRedirect(tracker, std::nullopt);
}
