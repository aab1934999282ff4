#pragma once
// URL loading: one request, its redirects shown one by one to the delegate,
// the answer, the body in chunks, then exactly one end or failure, unless the
// connection is cancelled (after which nothing is delivered).

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/URL.h"

namespace platform {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
// HTTP header fields; names compare without regard to case.
using HeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

struct Error {
    std::string domain;
    long code = 0;
    std::string description;
};

// Domains and codes the backends use for transport failures.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
enum URLErrorCode : long {
    kURLErrorUnknown = -1,
    kURLErrorCancelled = -999,
    kURLErrorBadURL = -1000,
    kURLErrorTimedOut = -1001,
    kURLErrorUnsupportedURL = -1002,
    kURLErrorCannotFindHost = -1003,
    kURLErrorCannotConnectToHost = -1004,
    kURLErrorNetworkConnectionLost = -1005,
    kURLErrorHTTPTooManyRedirects = -1007,
    kURLErrorNotConnectedToInternet = -1009,
    kURLErrorBadServerResponse = -1011,
};
inline constexpr const char* kFileErrorDomain = "NSCocoaErrorDomain";

enum class CachePolicy { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

struct URLRequest {
    URL url;
    std::string httpMethod = "GET";
    HeaderMap headers;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutInterval = 60.0;
    bool shouldHandleCookies = true;

    explicit URLRequest(URL u) : url(std::move(u)) {}
    std::optional<std::string> valueForHTTPHeaderField(const std::string& name) const;
    void setValueForHTTPHeaderField(const std::string& value, const std::string& name) { headers[name] = value; }
};

struct HTTPURLResponse {
    URL url;
    int statusCode = 0;
    HeaderMap headers;
};

class URLConnection;

class URLConnectionDelegate {
public:
    virtual ~URLConnectionDelegate() = default;
    // Every request about to be sent: the first (redirectResponse null) and each
    // redirect (with the answer that caused it). Return the request to send it,
    // or nullopt to stop the fetch silently (no further callbacks).
    virtual std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                                const HTTPURLResponse* redirectResponse) {
        (void)redirectResponse;
        return request;
    }
    virtual void connectionDidReceiveResponse(URLConnection&, const HTTPURLResponse&) {}
    virtual void connectionDidReceiveData(URLConnection&, std::string_view) {}
    virtual void connectionDidFinishLoading(URLConnection&) {}
    virtual void connectionDidFailWithError(URLConnection&, const Error&) {}
};

// At most this many redirects, then a failure with kURLErrorHTTPTooManyRedirects.
inline constexpr int kMaximumRedirects = 20;

class URLConnection {
public:
    virtual ~URLConnection() = default;
    // Starts the fetch; callbacks arrive on the main run loop, never from inside
    // start(). The delegate is not owned: an owner cancels before it goes away.
    static std::shared_ptr<URLConnection> create(const URLRequest& request,
                                                 std::weak_ptr<URLConnectionDelegate> delegate);
    // Readies the transport (its session, the proxy settings) ahead of the
    // first fetch, which then starts at once. Sends nothing.
    static void prepare();
    virtual void start() = 0;
    // Stops the fetch; no callback after this returns. Safe to call twice and
    // from inside a callback.
    virtual void cancel() = 0;
    virtual const URLRequest& originalRequest() const = 0;
};

}  // namespace platform
