#include "Network/ZELCachedFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "Utility/ZELNetworkUtilities.h"
#include "platform/Backend.h"
#include "platform/Date.h"
#include "platform/Files.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"

namespace {

constexpr const char kHTTPDateFormat[] = "EEE, dd MMM yyyy HH:mm:ss";

size_t maximumBodySizeFor(ZELCachePurpose purpose) {
    switch (purpose) {
    case ZELCachePurpose::SupportScript: return kZELSupportScriptMaximumSize;
    case ZELCachePurpose::AdMarkup: return kZELAdMarkupMaximumSize;
    case ZELCachePurpose::Tracker: return kZELTrackerMaximumBodySize;
    }
    return kZELTrackerMaximumBodySize;
}

double deadlineFor(ZELCachePurpose purpose) {
    switch (purpose) {
    case ZELCachePurpose::SupportScript: return kZELSupportScriptDeadline;
    case ZELCachePurpose::AdMarkup: return kZELAdMarkupDeadline;
    case ZELCachePurpose::Tracker: return kZELTrackerDeadline;
    }
    return kZELTrackerDeadline;
}

bool isHTTPS(const platform::URL& url) { return platform::toLowerASCII(url.scheme()) == "https"; }

std::optional<uint64_t> parseContentLength(const platform::HeaderMap& headers) {
    auto it = headers.find("Content-Length");
    if (it == headers.end()) return std::nullopt;
    std::string_view text = it->second;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

}  // namespace

// The connection holds its delegate weakly; this relay is that delegate. Each
// fetch gets its own relay, dropped when the fetch ends, so a late callback of
// an abandoned connection reaches nothing; the weak owner covers a file
// destroyed in the middle of a callback.
class ZELCachedFile::ConnectionRelay final : public platform::URLConnectionDelegate {
public:
    explicit ConnectionRelay(platform::WeakPtr<ZELCachedFile> owner) : owner_(std::move(owner)) {}

    std::optional<platform::URLRequest> connectionWillSendRequest(
        platform::URLConnection&, const platform::URLRequest& request,
        const platform::HTTPURLResponse* redirectResponse) override {
        if (!owner_) return std::nullopt;
        return owner_->willSendRequest(request, redirectResponse);
    }
    void connectionDidReceiveResponse(platform::URLConnection&, const platform::HTTPURLResponse& response) override {
        if (owner_) owner_->didReceiveResponse(response);
    }
    void connectionDidReceiveData(platform::URLConnection&, std::string_view data) override {
        if (owner_) owner_->didReceiveData(data);
    }
    void connectionDidFinishLoading(platform::URLConnection&) override {
        if (owner_) owner_->didFinishLoading();
    }
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& error) override {
        if (owner_) owner_->didFail(error);
    }

private:
    platform::WeakPtr<ZELCachedFile> owner_;
};

ZELCachedFile::ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate> delegate, platform::URL url, ZELCachePurpose purpose)
    : delegate_(std::move(delegate)),
      sourceURL_(url),
      purpose_(purpose),
      httpDestinationURL_(std::move(url)),
      maximumBodySize_(maximumBodySizeFor(purpose)) {}

ZELCachedFile::~ZELCachedFile() {
    delegate_.reset();
    cleanUpConnection();
}

const std::optional<std::string>& ZELCachedFile::filePath() const {
    if (!filePath_) filePath_ = ZELCacheFolder::pathFor(purpose_, sourceURL_);
    return *filePath_;
}

bool ZELCachedFile::hasContent() const {
    const auto& path = filePath();
    const auto info = path ? platform::FileSystem::current().fileInfo(*path) : std::nullopt;
    return info && info->kind == platform::FileKind::Regular;
}

std::optional<std::string> ZELCachedFile::content() const {
    const auto& path = filePath();
    if (!path) return std::nullopt;
    auto text = platform::FileSystem::current().readFile(*path, maximumBodySize_);
    if (!text || !platform::isValidUTF8(*text)) return std::nullopt;
    return text;
}

std::optional<std::string> ZELCachedFile::fileModificationDate() const {
    const auto& path = filePath();
    const auto info = path ? platform::FileSystem::current().fileInfo(*path) : std::nullopt;
    if (!info) return std::nullopt;
    return platform::formatDate(platform::Date::fromUnixTime(static_cast<double>(info->modificationTime)),
                                kHTTPDateFormat, platform::TimeZone::GMT);
}

std::string ZELCachedFile::description() const {
    char head[96];
    std::snprintf(head, sizeof head, "<ZELCachedFile: %p> HTTP code: %i", static_cast<const void*>(this),
                  httpStatusCode_);
    const auto& path = filePath();
    return std::string(head) + "\n\turl: " + sourceURL_.absoluteString() + "\n\tfile: " + (path ? *path : "(null)");
}

void ZELCachedFile::validate() { beginFetch(false); }

void ZELCachedFile::validateWithCacheBuster() { beginFetch(true); }

void ZELCachedFile::cancel() { cleanUpConnection(); }

void ZELCachedFile::invalidate() {
    cancel();
    if (const auto& path = filePath()) platform::FileSystem::current().removeFile(*path);
}

void ZELCachedFile::beginFetch(bool cacheBuster) {
    if (connection_) return;

    std::optional<platform::URL> url = sourceURL_;
    if (cacheBuster) {
        // Whole seconds are enough to defeat a cache between us and the server.
        char stamp[400];
        std::snprintf(stamp, sizeof stamp, "%.0f", platform::Clock::current().absoluteTime());
        url = ZELNetworkUtilities::appendQueryKey("unique", std::string(stamp), sourceURL_);
    }

    auto relay = std::make_shared<ConnectionRelay>(weakFactory_.getWeakPtr());
    std::shared_ptr<platform::URLConnection> connection;
    if (url) {
        platform::URLRequest request(*url);
        request.cachePolicy = platform::CachePolicy::ReloadIgnoringLocalCacheData;
        request.shouldHandleCookies = true;
        // Until the web view's agent is known the loading service sends its own.
        if (auto userAgent = ZELNetworkUtilities::userAgentString(); userAgent && !userAgent->empty())
            request.setValueForHTTPHeaderField(*userAgent, "User-Agent");
        if (auto date = fileModificationDate()) request.setValueForHTTPHeaderField(*date + " GMT", "If-Modified-Since");
        connection = platform::URLConnection::create(request, relay);
    }
    if (!connection) {
        finishFetch(std::nullopt, false);
        return;
    }
    relay_ = std::move(relay);
    connection_ = connection;
    receivedData_.clear();
    receivedBytes_ = 0;
    receivedModificationDate_.reset();
    secureChain_ = false;
    // The transport's time-out restarts with every byte: a server trickling
    // the answer would hold the fetch for good without this.
    deadline_.start(deadlineFor(purpose_),
                    [this] { failFetch(platform::kURLErrorTimedOut, "the download took too long"); });
    connection->start();
}

void ZELCachedFile::cleanUpConnection() {
    deadline_.stop();
    relay_.reset();
    if (connection_) {
        auto connection = std::move(connection_);
        connection_.reset();
        connection->cancel();
        // We may be inside one of its callbacks: it must outlive this turn.
        if (platform::hasBackend()) platform::releaseOnNextTurn(std::move(connection));
    }
    receivedData_ = std::string();
    receivedBytes_ = 0;
    receivedModificationDate_.reset();
    announcedLength_.reset();
}

void ZELCachedFile::failFetch(long code, const char* description) {
    cleanUpConnection();
    finishFetch(platform::Error{platform::kURLErrorDomain, code, description}, false);
}

// Every fetch ends here, already cleaned up, so the delegate finds the object
// idle: it may start another fetch or destroy the object from the callback.
void ZELCachedFile::finishFetch(const std::optional<platform::Error>& error, bool succeeded) {
    auto delegate = delegate_.lock();
    if (!delegate) return;
    if (succeeded) {
        delegate->cachedFileDownloadDidEnd(*this);
    } else {
        delegate->cachedFileDownloadDidFail(*this, error);
    }
}

std::optional<platform::URLRequest> ZELCachedFile::willSendRequest(const platform::URLRequest& request,
                                                                   const platform::HTTPURLResponse* redirectResponse) {
    httpDestinationURL_ = request.url;
    const bool wasSecure = secureChain_;
    secureChain_ = secureChain_ || isHTTPS(request.url);
    if (!redirectResponse) return request;

    httpHeaders_ = redirectResponse->headers;
    // What we store and run never comes over plain http once the server has
    // shown it can use https: the step down would hand it to anyone between.
    if (storesBody() && wasSecure && !isHTTPS(request.url)) {
        platform::log("<Nimbra> Refused a redirect from https to " + request.url.absoluteString());
        failFetch(kZELURLErrorInsecureRedirect, "a redirect from https to http");
        return std::nullopt;
    }
    std::optional<platform::Error> refusal;
    const platform::WeakPtr<ZELCachedFile> self = weakFactory_.getWeakPtr();
    const ConnectionRelay* relay = relay_.get();
    if (auto delegate = delegate_.lock()) refusal = delegate->cachedFileShouldRedirectToURL(*this, request.url);
    // Destroyed (the delegate may have held the last reference to our owner),
    // cancelled or restarted by the delegate: this fetch is over.
    if (!self || relay_.get() != relay) return std::nullopt;
    if (!refusal) return request;
    cleanUpConnection();
    finishFetch(refusal, false);
    return std::nullopt;
}

void ZELCachedFile::didReceiveResponse(const platform::HTTPURLResponse& response) {
    httpStatusCode_ = response.statusCode;
    httpHeaders_ = response.headers;
    receivedData_.clear();
    receivedBytes_ = 0;
    announcedLength_.reset();

    if (response.statusCode == 200) {
        receivedModificationDate_.reset();
        if (auto it = response.headers.find("Last-Modified"); it != response.headers.end()) {
            const std::string& value = it->second;
            receivedModificationDate_ = value.substr(0, value.find("GMT"));
        }
        // The announced length only sizes the buffer; the body may still turn
        // out longer or shorter.
        if (auto length = parseContentLength(response.headers)) {
            if (*length > maximumBodySize_) {
                if (storesBody()) {
                    failFetch(kZELURLErrorDataLengthExceedsMaximum, "announced body exceeds the maximum size");
                } else {
                    endUnread();
                }
                return;
            }
            if (storesBody()) receivedData_.reserve(static_cast<size_t>(*length));
            // With a content coding the length is that of the coded body; the
            // decoded one may be longer or shorter.
            auto coding = response.headers.find("Content-Encoding");
            if (coding == response.headers.end() || platform::toLowerASCII(coding->second) == "identity")
                announcedLength_ = length;
        }
    } else if (response.statusCode == 304) {
        cleanUpConnection();
        finishFetch(std::nullopt, true);
    } else {
        cleanUpConnection();
        finishFetch(std::nullopt, false);
    }
}

void ZELCachedFile::didReceiveData(std::string_view data) {
    if (receivedBytes_ > maximumBodySize_ || data.size() > maximumBodySize_ - receivedBytes_) {
        if (storesBody()) {
            failFetch(kZELURLErrorDataLengthExceedsMaximum, "body exceeds the maximum size");
        } else {
            endUnread();
        }
        return;
    }
    receivedBytes_ += data.size();
    if (storesBody()) receivedData_.append(data);
}

// A tracker's answer has come: the rest of its body is not worth reading.
void ZELCachedFile::endUnread() {
    cleanUpConnection();
    finishFetch(std::nullopt, true);
}

void ZELCachedFile::didFinishLoading() {
    std::string body = std::move(receivedData_);
    const uint64_t received = receivedBytes_;
    const std::optional<std::string> lastModified = std::move(receivedModificationDate_);
    const std::optional<uint64_t> announced = announcedLength_;
    cleanUpConnection();

    // A body cut short is not the resource: never store it as current.
    if (announced && received < *announced) {
        finishFetch(platform::Error{platform::kURLErrorDomain, platform::kURLErrorNetworkConnectionLost,
                                    "the answer ended before its announced length"},
                    false);
        return;
    }
    if (!storesBody()) {
        finishFetch(std::nullopt, true);
        return;
    }

    std::optional<platform::Error> error;
    const auto& path = filePath();
    if (!path) {
        error = platform::Error{platform::kFileErrorDomain, platform::kFileNoSuchFileError, "no caches directory"};
    } else if (!(error = ZELCacheFolder::makeFolder(purpose_))) {
        error = platform::FileSystem::current().writeFile(
            *path, body, {.flushToDisk = flushesToDisk_, .modificationTime = storedModificationTime(lastModified)});
        if (!error) ZELCacheFolder::trim(*path);
    }
    body = std::string();
    finishFetch(error, !error);
}

// The server's Last-Modified, to the second, becomes the file's time and so
// the next If-Modified-Since. A date in the future counts as now: sent back,
// it would have the server answer 304 to every request until that date.
std::optional<time_t> ZELCachedFile::storedModificationTime(const std::optional<std::string>& lastModified) {
    if (!lastModified || lastModified->empty()) return std::nullopt;
    auto date = platform::parseDate(*lastModified, kHTTPDateFormat, platform::TimeZone::GMT);
    if (!date) return std::nullopt;
    const double t = std::min(std::trunc(date->unixTime()), std::trunc(platform::Clock::current().unixTime()));
    if (t < static_cast<double>(std::numeric_limits<time_t>::min())) return std::nullopt;
    return static_cast<time_t>(t);
}

void ZELCachedFile::didFail(const platform::Error& error) {
    cleanUpConnection();
    finishFetch(error, false);
}
