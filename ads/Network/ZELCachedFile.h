#pragma once
// One HTTP download kept as a file in the caches directory. A later fetch of
// the same URL is conditional (If-Modified-Since), so an unchanged resource
// costs a 304 instead of a download. Whether the file is fresh enough is the
// caller's business; the file itself never expires.
//
// Main thread only. The object may be destroyed at any time, also from inside
// one of its delegate's callbacks; a fetch in flight is then cancelled silently.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Http.h"
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

// Error code for a body above maximumBodySize() (in platform::kURLErrorDomain).
inline constexpr long kZELURLErrorDataLengthExceedsMaximum = -1103;

class ZELCachedFile {
public:
    // Bodies above this size are refused unless the owner allows more.
    static constexpr size_t kDefaultMaximumBodySize = size_t{64} << 20;

    // Does not fetch. The delegate is not owned.
    ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate> delegate, platform::URL url);
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
    bool hasContent() const;
    // The file as UTF-8 text; none when missing or not valid UTF-8.
    std::optional<std::string> content() const;
    // Full path of the cache file; none without a caches directory.
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

    // The hash that names the cache file (exposed for tests and tools).
    static uint32_t fileNameHash(std::string_view text);

private:
    class ConnectionRelay;
    friend class ConnectionRelay;

    void beginFetch(bool cacheBuster);
    void cleanUpConnection();
    void finishFetch(const std::optional<platform::Error>& error, bool succeeded);

    std::optional<platform::URLRequest> willSendRequest(const platform::URLRequest& request,
                                                        const platform::HTTPURLResponse* redirectResponse);
    void didReceiveResponse(const platform::HTTPURLResponse& response);
    void didReceiveData(std::string_view data);
    void didFinishLoading();
    void didFail(const platform::Error& error);

    std::weak_ptr<ZELCachedFileDelegate> delegate_;
    const platform::URL sourceURL_;
    mutable std::optional<std::optional<std::string>> filePath_;  // outer: computed yet
    std::shared_ptr<platform::URLConnection> connection_;
    std::shared_ptr<ConnectionRelay> relay_;
    std::string receivedData_;
    std::optional<std::string> receivedModificationDate_;
    std::optional<uint64_t> announcedLength_;  // Content-Length of an uncoded 200 body
    platform::URL httpDestinationURL_;
    int httpStatusCode_ = 0;
    std::optional<platform::HeaderMap> httpHeaders_;
    size_t maximumBodySize_ = kDefaultMaximumBodySize;
    bool flushesToDisk_ = true;
    platform::WeakPtrFactory<ZELCachedFile> weakFactory_{this};
};
