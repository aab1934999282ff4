#include "Network/ZELClickTracker.h"

#include <string>

#include "Statistics/ZELStatistics.h"

namespace {

// Trackings in flight in this process; main thread only.
uint32_t gTrackingCount = 0;

}  // namespace

std::shared_ptr<ZELClickTracker> ZELClickTracker::create(std::weak_ptr<ZELClickTrackerDelegate> delegate) {
    return std::shared_ptr<ZELClickTracker>(new ZELClickTracker(std::move(delegate)));
}

ZELClickTracker::~ZELClickTracker() { reset(); }

uint32_t ZELClickTracker::trackingCount() { return gTrackingCount; }

void ZELClickTracker::trackURL(const std::optional<platform::URL>& url) {
    if (!url) return;
    reset();
    beginBackgroundTask();
    // Its answer is read and dropped: nothing a tracking URL brings is stored.
    tracker_ = std::make_unique<ZELCachedFile>(weak_from_this(), *url, ZELCachePurpose::Tracker);
    // May report a failure at once; nothing of this object is used after it.
    tracker_->validate();
}

void ZELClickTracker::reset() {
    trackingFactory_.invalidateWeakPtrs();
    hasTracked_ = false;
    if (tracker_) {
        auto file = std::move(tracker_);
        tracker_.reset();
        file->setDelegate({});
        file->cancel();
    }
    endBackgroundTask();
}

std::optional<platform::URL> ZELClickTracker::trackingURL() const {
    if (!tracker_) return std::nullopt;
    return tracker_->httpDestinationURL();
}

void ZELClickTracker::beginBackgroundTask() {
    // The platform has no call to hold the process for background work, so a
    // tracking in flight is only counted; whoever is about to leave the
    // application asks activeTrackings() and waits. (Asking the application
    // object here would also make it, display and all, in processes that
    // never show anything.)
    ++gTrackingCount;
    counted_ = true;
}

void ZELClickTracker::endBackgroundTask() {
    if (!counted_) return;
    counted_ = false;
    if (gTrackingCount > 0) --gTrackingCount;
}

std::optional<platform::Error> ZELClickTracker::cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                              const platform::URL& url) {
    const std::string scheme = platform::toLowerASCII(url.scheme());
    if (scheme.rfind("http", 0) == 0) return std::nullopt;
    // The chain left the web (another application's scheme): that is where the
    // click goes, so the tracking is done. The error only stops the download;
    // its failure report is ignored because the tracking has ended.
    cachedFileDownloadDidEnd(file);
    return platform::Error{platform::kURLErrorDomain, platform::kURLErrorCancelled, "the chain left the web"};
}

void ZELClickTracker::cachedFileDownloadDidEnd(ZELCachedFile& file) {
    if (hasTracked_) return;
    hasTracked_ = true;
    // The tracked URL, not where it ended, carries the impression ticket.
    ZELStatistics::sharedStatistics()->addClickTrackingURL(file.sourceURL());
    if (!reportToDelegate([this](ZELClickTrackerDelegate& d) { d.trackerDidRedirect(*this, trackingURL()); })) return;
    endBackgroundTask();
}

template <typename Report>
bool ZELClickTracker::reportToDelegate(Report report) {
    auto delegate = delegate_.lock();
    if (!delegate) return true;
    const platform::WeakPtr<ZELClickTracker> tracking = trackingFactory_.getWeakPtr();
    report(*delegate);
    // Destroyed, reset or given a new tracking meanwhile: nothing left to end.
    return static_cast<bool>(tracking);
}

void ZELClickTracker::cachedFileDownloadDidFail(ZELCachedFile&, const std::optional<platform::Error>& error) {
    if (hasTracked_) return;
    hasTracked_ = true;
    if (!reportToDelegate([this, &error](ZELClickTrackerDelegate& d) { d.trackerDidFailWithError(*this, error); }))
        return;
    endBackgroundTask();
}
