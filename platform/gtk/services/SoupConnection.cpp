#include "SoupConnection.h"

#include <cmath>
#include <string_view>

#include "platform/RunLoop.h"
#include "platform/URL.h"

namespace platform::gtk {
namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;
constexpr gsize kReadChunkSize = 64 * 1024;

bool isTokenChar(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    return std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) == std::string_view::npos;
}
bool isToken(std::string_view text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (!isTokenChar(c)) return false;
    return true;
}
// Field values may not smuggle in line breaks or NULs.
bool isFieldValue(std::string_view text) {
    for (unsigned char c : text)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}
bool ownedByTransport(const std::string& name) {
    static const char* const kNames[] = {"Host", "Content-Length", "Transfer-Encoding", "Connection"};
    for (const char* n : kNames)
        if (g_ascii_strcasecmp(name.c_str(), n) == 0) return true;
    return false;
}

bool isRedirectStatus(guint status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string origin(const URL& url) {
    return toLowerASCII(url.scheme()) + "://" + toLowerASCII(url.host()) + ":" +
           std::to_string(url.port().value_or(-1));
}

void collectHeader(const char* name, const char* value, gpointer data) {
    auto& headers = *static_cast<HeaderMap*>(data);
    auto [it, inserted] = headers.emplace(name, value);
    // Repeated fields read as one, comma-joined, as HTTP allows.
    if (!inserted) it->second += std::string(", ") + value;
}

double timeoutSeconds(double requested) {
    return std::isfinite(requested) && requested > 0 ? requested : kDefaultTimeoutSeconds;
}

}  // namespace

SoupTransport& soupTransport(const std::string& defaultUserAgent) {
    static SoupTransport* transport = [&] {
        auto* t = new SoupTransport;
        // The session's own time-outs stay off: each request has its own.
        t->session = GRef<SoupSession>::adopt(
            soup_session_new_with_options("timeout", 0u, "idle-timeout", 60u, "max-conns-per-host", 6, nullptr));
        soup_session_set_user_agent(t->session.get(), nullptr);
        GRef<SoupCookieJar> jar = GRef<SoupCookieJar>::adopt(soup_cookie_jar_new());
        soup_session_add_feature(t->session.get(), SOUP_SESSION_FEATURE(jar.get()));
        t->defaultUserAgent = defaultUserAgent;
        return t;
    }();
    return *transport;
}

SoupConnection::SoupConnection(SoupTransport& transport, const URLRequest& request,
                               std::weak_ptr<URLConnectionDelegate> delegate)
    : transport_(transport),
      original_(request),
      current_(request),
      delegate_(std::move(delegate)),
      cancellable_(GRef<GCancellable>::adopt(g_cancellable_new())) {}

SoupConnection::~SoupConnection() { g_cancellable_cancel(cancellable_.get()); }

std::shared_ptr<URLConnectionDelegate> SoupConnection::delegate() {
    auto d = delegate_.lock();
    // Nobody left to tell: stop spending the network on it.
    if (!d) stop();
    return d;
}

void SoupConnection::start() {
    if (started_ || done_) return;
    started_ = true;
    // Never from inside start(): the first step runs on the next turn of the loop.
    RunLoop::main().postTask(weakFactory_.getWeakPtr(), [](SoupConnection& c) { c.begin(); });
}

void SoupConnection::cancel() {
    // Meant for the main thread, where every callback runs; after this no
    // callback is made.
    stop();
}

void SoupConnection::stop() {
    if (done_) return;
    done_ = true;
    timeout_.stop();
    // Pending calls come back cancelled and touch nothing of this object.
    g_cancellable_cancel(cancellable_.get());
    body_.reset();
    message_.reset();
}

void SoupConnection::fail(long code, const std::string& description) {
    if (done_) return;
    auto d = delegate_.lock();
    stop();
    if (d) d->connectionDidFailWithError(*this, Error{kURLErrorDomain, code, description});
}

void SoupConnection::failWith(const GError* error, bool inBody) {
    long code = inBody ? kURLErrorNetworkConnectionLost : kURLErrorCannotConnectToHost;
    if (error->domain == G_RESOLVER_ERROR) {
        code = kURLErrorCannotFindHost;
    } else if (error->domain == G_IO_ERROR) {
        switch (error->code) {
        case G_IO_ERROR_TIMED_OUT: code = kURLErrorTimedOut; break;
        case G_IO_ERROR_NETWORK_UNREACHABLE: code = kURLErrorNotConnectedToInternet; break;
        case G_IO_ERROR_CONNECTION_REFUSED:
        case G_IO_ERROR_HOST_UNREACHABLE: code = kURLErrorCannotConnectToHost; break;
        case G_IO_ERROR_CONNECTION_CLOSED:
        case G_IO_ERROR_PARTIAL_INPUT: code = kURLErrorNetworkConnectionLost; break;
        case G_IO_ERROR_INVALID_DATA: code = kURLErrorBadServerResponse; break;
        default: break;
        }
    } else if (error->domain == SOUP_SESSION_ERROR) {
        code = error->code == SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS ? kURLErrorHTTPTooManyRedirects
                                                                    : kURLErrorBadServerResponse;
    }
    fail(code, error->message ? error->message : "network failure");
}

void SoupConnection::armTimeout() {
    timeout_.start(timeoutSeconds(current_.timeoutInterval),
                   [this] { fail(kURLErrorTimedOut, "The request timed out."); });
}

void SoupConnection::begin() {
    if (done_) return;
    auto d = delegate();
    if (!d) return;
    auto self = weakFactory_.getWeakPtr();
    auto request = d->connectionWillSendRequest(*this, original_, nullptr);
    if (!goesOn(self)) return;
    if (!request) {
        stop();
        return;
    }
    send(*request);
}

void SoupConnection::send(const URLRequest& request) {
    current_ = request;
    const std::string scheme = toLowerASCII(request.url.scheme());
    if (scheme != "http" && scheme != "https") {
        fail(kURLErrorUnsupportedURL, "unsupported URL: " + request.url.absoluteString());
        return;
    }
    if (!isToken(request.httpMethod)) {
        fail(kURLErrorBadURL, "invalid HTTP method");
        return;
    }
    const GUriPtr uri(
        g_uri_parse(request.url.absoluteString().c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr));
    if (!uri || !g_uri_get_host(uri.get()) || !*g_uri_get_host(uri.get())) {
        fail(kURLErrorBadURL, "bad URL: " + request.url.absoluteString());
        return;
    }
    message_ = GRef<SoupMessage>::adopt(soup_message_new_from_uri(request.httpMethod.c_str(), uri.get()));
    if (!message_) {
        fail(kURLErrorBadURL, "bad URL: " + request.url.absoluteString());
        return;
    }
    soup_message_set_flags(message_.get(), SOUP_MESSAGE_NO_REDIRECT);
    if (!request.shouldHandleCookies) soup_message_disable_feature(message_.get(), SOUP_TYPE_COOKIE_JAR);
    SoupMessageHeaders* headers = soup_message_get_request_headers(message_.get());
    for (const auto& [name, value] : request.headers) {
        if (!isToken(name) || !isFieldValue(value) || ownedByTransport(name)) continue;
        soup_message_headers_replace(headers, name.c_str(), value.c_str());
    }
    if (!soup_message_headers_get_one(headers, "User-Agent") && !transport_.defaultUserAgent.empty())
        soup_message_headers_replace(headers, "User-Agent", transport_.defaultUserAgent.c_str());
    armTimeout();
    soup_session_send_async(transport_.session.get(), message_.get(), G_PRIORITY_DEFAULT, cancellable_.get(),
                            &SoupConnection::onSent, PendingCall<SoupConnection*>::make(cancellable_.get(), this));
}

void SoupConnection::onSent(GObject* source, GAsyncResult* result, gpointer data) {
    auto self = PendingCall<SoupConnection*>::take(data);
    GErrorPtr error;
    auto stream = GRef<GInputStream>::adopt(soup_session_send_finish(SOUP_SESSION(source), result, error.out()));
    if (!self) return;  // cancelled, timed out, stopped or destroyed: say nothing
    (*self)->sent(stream.get(), error.get());
}

void SoupConnection::sent(GInputStream* stream, GError* error) {
    timeout_.stop();
    if (!stream) {
        failWith(error, false);
        return;
    }
    HTTPURLResponse response;
    response.url = current_.url;
    response.statusCode = static_cast<int>(soup_message_get_status(message_.get()));
    soup_message_headers_foreach(soup_message_get_response_headers(message_.get()), collectHeader, &response.headers);
    if (isRedirectStatus(static_cast<guint>(response.statusCode)) && followRedirect(response)) return;
    if (done_) return;
    auto d = delegate();
    if (!d) return;
    auto self = weakFactory_.getWeakPtr();
    d->connectionDidReceiveResponse(*this, response);
    if (!goesOn(self)) return;
    // With "Connection: close" the session takes an early end of the stream
    // for the end of the body: count the bytes against Content-Length (only
    // where the body is not decoded on the way).
    SoupMessageHeaders* headers = soup_message_get_response_headers(message_.get());
    const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
    announcedLength_.reset();
    bodyBytes_ = 0;
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
        (!coding || g_ascii_strcasecmp(coding, "identity") == 0) && current_.httpMethod != "HEAD")
        announcedLength_ = soup_message_headers_get_content_length(headers);
    body_ = GRef<GInputStream>::retain(stream);
    armTimeout();
    readNext();
}

// True when the answer was taken as a redirect (followed, refused or failed);
// false when it is to be delivered as a plain answer (no usable Location).
bool SoupConnection::followRedirect(const HTTPURLResponse& response) {
    auto location = response.headers.find("Location");
    if (location == response.headers.end() || location->second.empty()) return false;
    auto target = current_.url.resolve(location->second);
    if (!target) return false;
    if (++redirects_ > kMaximumRedirects) {
        fail(kURLErrorHTTPTooManyRedirects, "too many HTTP redirects");
        return true;
    }
    URLRequest next = current_;
    next.url = *target;
    const int status = response.statusCode;
    if ((status == 303 && next.httpMethod != "HEAD") || ((status == 301 || status == 302) && next.httpMethod == "POST"))
        next.httpMethod = "GET";
    // Credentials meant for one site do not travel to another.
    if (origin(next.url) != origin(current_.url)) next.headers.erase("Authorization");
    message_.reset();
    auto d = delegate();
    if (!d) return true;
    auto self = weakFactory_.getWeakPtr();
    auto approved = d->connectionWillSendRequest(*this, next, &response);
    if (!goesOn(self)) return true;
    if (!approved) {
        stop();
        return true;
    }
    send(*approved);
    return true;
}

void SoupConnection::readNext() {
    g_input_stream_read_bytes_async(body_.get(), kReadChunkSize, G_PRIORITY_DEFAULT, cancellable_.get(),
                                    &SoupConnection::onRead,
                                    PendingCall<SoupConnection*>::make(cancellable_.get(), this));
}

void SoupConnection::onRead(GObject* source, GAsyncResult* result, gpointer data) {
    auto self = PendingCall<SoupConnection*>::take(data);
    GErrorPtr error;
    const GBytesPtr bytes(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, error.out()));
    if (!self) return;
    (*self)->received(bytes.get(), error.get());
}

void SoupConnection::received(GBytes* bytes, GError* error) {
    timeout_.stop();
    if (!bytes) {
        failWith(error, true);
        return;
    }
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    auto d = delegate();
    if (!d) return;
    if (size == 0) {
        if (announcedLength_ && bodyBytes_ < *announcedLength_) {
            fail(kURLErrorNetworkConnectionLost, "the answer ended before its announced length");
            return;
        }
        stop();
        d->connectionDidFinishLoading(*this);
        return;
    }
    bodyBytes_ += static_cast<goffset>(size);
    auto self = weakFactory_.getWeakPtr();
    d->connectionDidReceiveData(*this, std::string_view(data, size));
    if (!goesOn(self)) return;
    armTimeout();
    readNext();
}

}  // namespace platform::gtk
