#pragma once
// Follows one click or tracking URL through its redirects, so the ad server and
// every counter along the chain see the request, and reports where it ended.
//
// This platform offers no background tasks, so a tracking in flight is counted
// process-wide instead; the opener asks activeTrackings() before it leaves the
// application. Main thread only; a tracker may be destroyed at any time, also
// from inside its delegate's callbacks.

#include <cstdint>
#include <memory>
#include <optional>

#include "Network/ZELCachedFile.h"
#include "platform/Http.h"
#include "platform/URL.h"
#include "platform/WeakPtr.h"

class ZELClickTracker;

class ZELClickTrackerDelegate {
public:
    virtual ~ZELClickTrackerDelegate() = default;
    // The tracking ended successfully; the URL is where the chain ended.
    virtual void trackerDidRedirect(ZELClickTracker& tracker, const std::optional<platform::URL>& url) {
        (void)tracker;
        (void)url;
    }
    // The tracking failed; no error for an unexpected HTTP status.
    virtual void trackerDidFailWithError(ZELClickTracker& tracker, const std::optional<platform::Error>& error) {
        (void)tracker;
        (void)error;
    }
};

class ZELClickTracker : public ZELCachedFileDelegate, public std::enable_shared_from_this<ZELClickTracker> {
public:
    // Always shared: the download it makes holds it as its delegate, weakly.
    static std::shared_ptr<ZELClickTracker> create(std::weak_ptr<ZELClickTrackerDelegate> delegate = {});
    ~ZELClickTracker() override;
    ZELClickTracker(const ZELClickTracker&) = delete;
    ZELClickTracker& operator=(const ZELClickTracker&) = delete;

    // Starts a tracking, silently dropping one still running. No URL: nothing
    // happens and a running tracking goes on.
    void trackURL(const std::optional<platform::URL>& url);
    // Abandons the current tracking without a report.
    void reset();

    // Where the chain got to (the last request sent); none before a tracking.
    std::optional<platform::URL> trackingURL() const;
    bool hasTracked() const { return hasTracked_; }

    std::weak_ptr<ZELClickTrackerDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<ZELClickTrackerDelegate> delegate) { delegate_ = std::move(delegate); }

    // Trackings in flight in this process.
    static uint32_t trackingCount();
    static bool activeTrackings() { return trackingCount() != 0; }

    // Cached-file delegate operations.
    void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) override;
    void cachedFileDownloadDidEnd(ZELCachedFile& file) override;
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                 const platform::URL& url) override;

private:
    explicit ZELClickTracker(std::weak_ptr<ZELClickTrackerDelegate> delegate) : delegate_(std::move(delegate)) {}
    void beginBackgroundTask();
    void endBackgroundTask();
    // Tells the delegate; false when the tracker was reset, given another
    // tracking or destroyed meanwhile.
    template <typename Report>
    bool reportToDelegate(Report report);

    std::weak_ptr<ZELClickTrackerDelegate> delegate_;
    std::unique_ptr<ZELCachedFile> tracker_;
    bool hasTracked_ = false;
    bool counted_ = false;  // this tracking holds one unit of trackingCount
    // Revoked by every reset: a report that outlives its tracking stops there.
    platform::WeakPtrFactory<ZELClickTracker> trackingFactory_{this};
};
