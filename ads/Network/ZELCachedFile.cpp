#include "Network/ZELCachedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "Utility/ZELNetworkUtilities.h"
#include "platform/Backend.h"
#include "platform/Date.h"
#include "platform/Files.h"
#include "platform/RunLoop.h"
#include "platform/Services.h"

namespace {

constexpr const char kHTTPDateFormat[] = "EEE, dd MMM yyyy HH:mm:ss";

// The host names a directory inside the caches directory; a host must never
// lead out of it.
std::string directoryNameForHost(std::string host) {
    const bool dotsOnly = host == "." || host == "..";
    for (char& c : host) {
        if (dotsOnly || c == '/' || c == '\0' || c == '\\') c = '_';
    }
    return host;
}

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

ZELCachedFile::ZELCachedFile(std::weak_ptr<ZELCachedFileDelegate> delegate, platform::URL url)
    : delegate_(std::move(delegate)), sourceURL_(url), httpDestinationURL_(std::move(url)) {}

ZELCachedFile::~ZELCachedFile() {
    delegate_.reset();
    cleanUpConnection();
}

// FNV-1a, 32 bits, over the bytes of the text: the file name must come out the
// same in every run and every process, which a library's string hash does not
// promise.
uint32_t ZELCachedFile::fileNameHash(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

const std::optional<std::string>& ZELCachedFile::filePath() const {
    if (!filePath_) {
        std::optional<std::string> path;
        if (auto caches = platform::Paths::current().cachesDirectory(); caches && !caches->empty()) {
            char name[16];
            std::snprintf(name, sizeof name, "%x", fileNameHash(sourceURL_.absoluteString()));
            std::filesystem::path p(*caches);
            const std::string host = directoryNameForHost(sourceURL_.host());
            if (!host.empty()) p /= host;
            p /= name;
            path = p.string();
        }
        filePath_ = std::move(path);
    }
    return *filePath_;
}

bool ZELCachedFile::hasContent() const {
    const auto& path = filePath();
    struct stat st {};
    return path && ::stat(path->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> ZELCachedFile::content() const {
    const auto& path = filePath();
    if (!path) return std::nullopt;
    const int fd = ::open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) text.reserve(static_cast<size_t>(st.st_size));
    char buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok || !platform::isValidUTF8(text)) return std::nullopt;
    return text;
}

std::optional<std::string> ZELCachedFile::fileModificationDate() const {
    const auto& path = filePath();
    struct stat st {};
    if (!path || ::stat(path->c_str(), &st) != 0) return std::nullopt;
    return platform::formatDate(platform::Date::fromUnixTime(static_cast<double>(st.st_mtim.tv_sec)), kHTTPDateFormat,
                                platform::TimeZone::GMT);
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
    if (const auto& path = filePath()) ::unlink(path->c_str());
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
    receivedModificationDate_.reset();
    connection->start();
}

void ZELCachedFile::cleanUpConnection() {
    relay_.reset();
    if (connection_) {
        auto connection = std::move(connection_);
        connection_.reset();
        connection->cancel();
        // We may be inside one of its callbacks: it must outlive this turn.
        if (platform::hasBackend()) platform::RunLoop::main().keepAliveUntilNextTurn(std::move(connection));
    }
    receivedData_ = std::string();
    receivedModificationDate_.reset();
    announcedLength_.reset();
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
    if (!redirectResponse) return request;

    httpHeaders_ = redirectResponse->headers;
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
                cleanUpConnection();
                finishFetch(platform::Error{platform::kURLErrorDomain, kZELURLErrorDataLengthExceedsMaximum,
                                            "announced body exceeds the maximum size"},
                            false);
                return;
            }
            receivedData_.reserve(static_cast<size_t>(*length));
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
    if (receivedData_.size() > maximumBodySize_ || data.size() > maximumBodySize_ - receivedData_.size()) {
        cleanUpConnection();
        finishFetch(platform::Error{platform::kURLErrorDomain, kZELURLErrorDataLengthExceedsMaximum,
                                    "body exceeds the maximum size"},
                    false);
        return;
    }
    receivedData_.append(data);
}

void ZELCachedFile::didFinishLoading() {
    std::string body = std::move(receivedData_);
    const std::optional<std::string> lastModified = std::move(receivedModificationDate_);
    const std::optional<uint64_t> announced = announcedLength_;
    cleanUpConnection();

    // A body cut short is not the resource: never store it as current.
    if (announced && body.size() < *announced) {
        finishFetch(platform::Error{platform::kURLErrorDomain, platform::kURLErrorNetworkConnectionLost,
                                    "the answer ended before its announced length"},
                    false);
        return;
    }

    std::optional<platform::Error> error;
    const auto& path = filePath();
    if (!path) {
        error = platform::Error{platform::kFileErrorDomain, platform::kFileNoSuchFileError, "no caches directory"};
    } else {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(*path).parent_path(), ignored);

        std::optional<time_t> modificationTime;
        if (lastModified && !lastModified->empty()) {
            if (auto date = platform::parseDate(*lastModified, kHTTPDateFormat, platform::TimeZone::GMT)) {
                const double t = std::trunc(date->unixTime());
                if (t >= static_cast<double>(std::numeric_limits<time_t>::min()) &&
                    t <= static_cast<double>(std::numeric_limits<time_t>::max()))
                    modificationTime = static_cast<time_t>(t);
            }
        }
        error = platform::writeFileAtomically(
            *path, body, {.flushToDisk = flushesToDisk_, .modificationTime = modificationTime});
    }
    body = std::string();
    finishFetch(error, !error);
}

void ZELCachedFile::didFail(const platform::Error& error) {
    cleanUpConnection();
    finishFetch(error, false);
}
