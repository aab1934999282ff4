#pragma once
// One HTTP download kept as a file in the component's cache folder. A later
// fetch of the same URL is conditional (If-Modified-Since), so an unchanged
// resource costs a 304 instead of a download. Whether the file is fresh
// enough is the caller's business; the file itself never expires.
//
// What the download is for (ZELCachePurpose) sets where it is stored, how
// large it may be and how long it may take. A tracker's answer is read and
// dropped: nothing of it reaches the disk.
//
// Main thread only. The object may be destroyed at any time, also from inside
// one of its delegate's callbacks; a fetch in flight is then cancelled silently.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Network/ZELCacheFolder.h"
#include "platform/Http.h"
#include "platform/RunLoop.h"
#include "platform/URL.h"
#include "platform/WeakPtr.h"

class ZELCachedFile;

class ZELCachedFileDelegate {
public:
    virtual ~ZELCachedFileDelegate() = default;
    // The fetch ended without a current file. The error is absent for an HTTP
    // status other than 200 and 304 (see httpStatusCode()) and when no
    // connection could be made.
    virtual void cachedFileDownloadDidFail(ZELCachedFile& file, const std::optional<platform::Error>& error) = 0;
    // The file on disk is current: a 200 body was stored, or the server said 304.
    virtual void cachedFileDownloadDidEnd(ZELCachedFile& file) = 0;
    // Asked before each redirect. No error follows it; an error stops the fetch
    // and comes back through cachedFileDownloadDidFail.
    virtual std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile& file,
                                                                         const platform::URL& url) = 0;
};

// Error codes in platform::kURLErrorDomain: a body above maximumBodySize(),
// and a redirect from https to http refused.
inline constexpr long kZELURLErrorDataLengthExceedsMaximum = -1103;
inline constexpr long kZELURLErrorInsecureRedirect = -1022;

// Bounds of each purpose.
// Our support script is a few KiB; a MiB is room for it to grow, not for a payload.
inline constexpr size_t kZELSupportScriptMaximumSize = size_t{1} << 20;
// Ad guidelines cap a whole creative well under this; browsers unload an ad at about 4 MB.
inline constexpr size_t kZELAdMarkupMaximumSize = size_t{4} << 20;
// A tracking answer is a pixel or a word; past this it has been seen, and the rest is not read.
inline constexpr size_t kZELTrackerMaximumBodySize = size_t{64} << 10;
// Each download's whole time, on top of the transport's idle time-out (which
// any trickle of bytes restarts).
// The script is small: a server that takes longer is failing, and the stored copy does better.
inline constexpr double kZELSupportScriptDeadline = 30.0;
// An ad still arriving after this has missed its moment; the next reload asks again.
inline constexpr double kZELAdMarkupDeadline = 30.0;
// A tracking may cross a few servers; one not ended in a minute counts nowhere.
inline constexpr double kZELTrackerDeadline = 60.0;

class ZELCachedFile {
public:
    // Does not fetch. The delegate is not owned.
    ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate> delegate, platform::URL url, ZELCachePurpose purpose);
    ~ZELCachedFile();
    ZELCachedFile(const ZELCachedFile&) = delete;
    ZELCachedFile& operator=(const ZELCachedFile&) = delete;

    // Begin a fetch unless one is in flight. The cache-buster variant adds a
    // "unique" query parameter so no cache on the way answers in our place.
    void validate();
    void validateWithCacheBuster();
    // Stop a fetch in flight; the delegate hears nothing of it.
    void cancel();
    // cancel(), then delete the cache file (a missing file is fine).
    void invalidate();

    bool isFetching() const { return connection_ != nullptr; }
    ZELCachePurpose purpose() const { return purpose_; }
    bool hasContent() const;
    // The file as UTF-8 text; none when missing, larger than the purpose
    // allows or not valid UTF-8.
    std::optional<std::string> content() const;
    // Full path of the cache file; none for a tracker and without a caches
    // directory.
    const std::optional<std::string>& filePath() const;
    // The file's modification time as an HTTP date without the zone
    // ("Tue, 15 Nov 1994 12:45:26"), none when the file cannot be examined.
    std::optional<std::string> fileModificationDate() const;

    const std::optional<platform::HeaderMap>& httpHeaders() const { return httpHeaders_; }
    int httpStatusCode() const { return httpStatusCode_; }
    const platform::URL& httpDestinationURL() const { return httpDestinationURL_; }
    const platform::URL& sourceURL() const { return sourceURL_; }

    std::weak_ptr<ZELCachedFileDelegate> delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<ZELCachedFileDelegate> delegate) { delegate_ = std::move(delegate); }

    size_t maximumBodySize() const { return maximumBodySize_; }
    void setMaximumBodySize(size_t bytes) { maximumBodySize_ = bytes; }

    // Whether a new copy is flushed to the disk before it replaces the old
    // one (on by default). Either way a reader sees the old file or the whole
    // new one; without the flush a power cut may lose the newest copy.
    bool flushesToDisk() const { return flushesToDisk_; }
    void setFlushesToDisk(bool flushes) { flushesToDisk_ = flushes; }

    std::string description() const;

private:
    class ConnectionRelay;
    friend class ConnectionRelay;

    void beginFetch(bool cacheBuster);
    void cleanUpConnection();
    void failFetch(long code, const char* description);
    void endUnread();
    static std::optional<time_t> storedModificationTime(const std::optional<std::string>& lastModified);
    bool storesBody() const { return purpose_ != ZELCachePurpose::Tracker; }
    void finishFetch(const std::optional<platform::Error>& error, bool succeeded);

    std::optional<platform::URLRequest> willSendRequest(const platform::URLRequest& request,
                                                        const platform::HTTPURLResponse* redirectResponse);
    void didReceiveResponse(const platform::HTTPURLResponse& response);
    void didReceiveData(std::string_view data);
    void didFinishLoading();
    void didFail(const platform::Error& error);

    std::weak_ptr<ZELCachedFileDelegate> delegate_;
    const platform::URL sourceURL_;
    const ZELCachePurpose purpose_;
    mutable std::optional<std::optional<std::string>> filePath_;  // outer: computed yet
    std::shared_ptr<platform::URLConnection> connection_;
    std::shared_ptr<ConnectionRelay> relay_;
    std::string receivedData_;
    uint64_t receivedBytes_ = 0;
    std::optional<std::string> receivedModificationDate_;
    std::optional<uint64_t> announcedLength_;  // Content-Length of an uncoded 200 body
    platform::URL httpDestinationURL_;
    int httpStatusCode_ = 0;
    std::optional<platform::HeaderMap> httpHeaders_;
    size_t maximumBodySize_;
    bool flushesToDisk_ = true;
    bool secureChain_ = false;  // a request of this fetch went over https
    platform::OneShotTimer deadline_;
    platform::WeakPtrFactory<ZELCachedFile> weakFactory_{this};
};
