#pragma once
// The trackers an ad has fired: one click tracker per impression or click
// URL, kept until it has tracked and then let go on a later turn (never
// inside its own callback). Trackers still running when the set goes are
// abandoned silently.

#include <memory>
#include <set>
#include <vector>

#include "Network/ZELClickTracker.h"
#include "platform/RunLoop.h"

class ZELTrackerSet final : public ZELClickTrackerDelegate, public std::enable_shared_from_this<ZELTrackerSet> {
public:
    // Shared: its trackers hold it as their delegate, weakly.
    static std::shared_ptr<ZELTrackerSet> create();
    ZELTrackerSet(const ZELTrackerSet&) = delete;
    ZELTrackerSet& operator=(const ZELTrackerSet&) = delete;

    // Each URL fetched once, through its redirects.
    void trackURLs(const std::vector<platform::URL>& urls);
    // Lets go of the trackers that have tracked; running ones stay.
    void cleanupTrackers();
    // Stops a cleanup that is due: the owner is going.
    void cancelCleanup() { cleanup_.stop(); }
    size_t count() const { return trackers_.size(); }

    void trackerDidRedirect(ZELClickTracker& tracker, const std::optional<platform::URL>& url) override;
    void trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>& error) override;

private:
    ZELTrackerSet() = default;
    std::set<std::shared_ptr<ZELClickTracker>> trackers_;
    platform::OneShotTimer cleanup_;
};
