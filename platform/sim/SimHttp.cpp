#include "platform/sim/SimHttp.h"

#include "platform/sim/SimRunLoop.h"

namespace platform::sim {

namespace {

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::string origin(const URL& url) {
    return toLowerASCII(url.scheme()) + "://" + toLowerASCII(url.host()) + ":" +
           std::to_string(url.port().value_or(-1));
}

Error urlError(long code, std::string description) { return Error{kURLErrorDomain, code, std::move(description)}; }

}  // namespace

SimResponse SimResponse::ok(std::string body, HeaderMap headers) {
    return withStatus(200, std::move(body), std::move(headers));
}

SimResponse SimResponse::withStatus(int status, std::string body, HeaderMap headers) {
    SimResponse r;
    r.status = status;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

SimResponse SimResponse::redirect(std::string location, int status) {
    SimResponse r;
    r.status = status;
    r.headers["Location"] = std::move(location);
    return r;
}

SimResponse SimResponse::failure(long code, std::string description) {
    SimResponse r;
    if (description.empty())
        description = code == kURLErrorCannotConnectToHost ? "Could not connect to the server." : "The request failed.";
    r.error = urlError(code, std::move(description));
    return r;
}

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    auto it = headers.find(name);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

// One fetch: each step runs on its own turn of the sim loop and holds the
// connection alive until it has run, as a real connection keeps itself
// alive while loading. A cancelled connection drops its pending step.
class SimConnection final : public URLConnection, public std::enable_shared_from_this<SimConnection> {
public:
    SimConnection(SimHttp& http, URLRequest request, std::weak_ptr<URLConnectionDelegate> delegate)
        : http_(http), original_(std::move(request)), current_(original_), delegate_(std::move(delegate)) {}

    void start() override {
        if (started_ || done_) return;
        started_ = true;
        step(0, [request = original_](SimConnection& c) { c.send(request, nullptr); });
    }

    void cancel() override {
        done_ = true;
        if (pending_) http_.loop_.cancel(pending_);
        pending_ = 0;
    }

    const URLRequest& originalRequest() const override { return original_; }
    bool inFlight() const { return started_ && !done_; }

private:
    // A connection its owner dropped ends there, as the real transport's does.
    void step(double delay, std::function<void(SimConnection&)> fn) {
        std::weak_ptr<SimConnection> weak = weak_from_this();
        pending_ = http_.loop_.post(delay, [weak, fn = std::move(fn)] {
            auto self = weak.lock();
            if (!self) return;
            self->pending_ = 0;
            if (!self->done_) fn(*self);
        });
    }

    // The delegate for one call; a delegate that went away ends the fetch quietly.
    std::shared_ptr<URLConnectionDelegate> delegate() {
        auto d = delegate_.lock();
        if (!d) done_ = true;
        return d;
    }

    void send(const URLRequest& request, const HTTPURLResponse* redirectResponse) {
        auto d = delegate();
        if (!d) return;
        auto toSend = d->connectionWillSendRequest(*this, request, redirectResponse);
        if (done_) return;
        if (!toSend) {
            done_ = true;
            return;
        }
        current_ = *toSend;
        // Only HTTP goes over the wire, as with the real transport.
        const std::string scheme = toLowerASCII(current_.url.scheme());
        if (scheme != "http" && scheme != "https") {
            fail(urlError(kURLErrorUnsupportedURL, "unsupported URL: " + current_.url.absoluteString()));
            return;
        }
        http_.record(current_);
        auto found = http_.match(current_);
        if (!found && http_.holdUnrouted_) {
            http_.held_.push_back(weak_from_this());
            return;
        }
        respond(found ? *found : http_.default_);
    }

public:
    const URLRequest& currentRequest() const { return current_; }
    bool done() const { return done_; }
    void respond(SimResponse answer) {
        auto response = std::make_shared<const SimResponse>(std::move(answer));
        step(response->latency, [response](SimConnection& c) { c.arrive(response); });
    }

private:
    void arrive(const std::shared_ptr<const SimResponse>& r) {
        if (r->error) {
            fail(*r->error);
            return;
        }
        HTTPURLResponse response{current_.url, r->status, r->headers};
        if (isRedirectStatus(r->status)) {
            auto location = r->headers.find("Location");
            auto target = location == r->headers.end() ? std::nullopt : current_.url.resolve(location->second);
            // A redirect without a usable location is handed over as the answer.
            if (target) {
                if (++redirects_ > kMaximumRedirects) {
                    fail(urlError(kURLErrorHTTPTooManyRedirects, "too many HTTP redirects"));
                    return;
                }
                URLRequest next = current_;
                next.url = *target;
                if ((r->status == 303 && next.httpMethod != "HEAD") ||
                    ((r->status == 301 || r->status == 302) && next.httpMethod == "POST"))
                    next.httpMethod = "GET";
                // Credentials meant for one site do not travel to another.
                if (origin(next.url) != origin(current_.url)) next.headers.erase("Authorization");
                step(0, [next, response](SimConnection& c) { c.send(next, &response); });
                return;
            }
        }
        auto d = delegate();
        if (!d) return;
        d->connectionDidReceiveResponse(*this, response);
        if (done_) return;
        step(0, [r](SimConnection& c) { c.body(r, 0); });
    }

    void body(const std::shared_ptr<const SimResponse>& r, size_t offset) {
        const bool drops = r->resetAfter && *r->resetAfter < r->body.size();
        const size_t limit = drops ? *r->resetAfter : r->body.size();
        if (offset < limit) {
            const size_t size = r->chunkSize ? std::min(r->chunkSize, limit - offset) : limit - offset;
            auto d = delegate();
            if (!d) return;
            d->connectionDidReceiveData(*this, std::string_view(r->body).substr(offset, size));
            if (done_) return;
            step(0, [r, next = offset + size](SimConnection& c) { c.body(r, next); });
            return;
        }
        if (drops) {
            fail(urlError(kURLErrorNetworkConnectionLost, "The network connection was lost."));
            return;
        }
        auto d = delegate();
        if (!d) return;
        done_ = true;
        d->connectionDidFinishLoading(*this);
    }

    void fail(const Error& error) {
        auto d = delegate();
        if (!d) return;
        done_ = true;
        d->connectionDidFailWithError(*this, error);
    }

    SimHttp& http_;
    URLRequest original_;
    URLRequest current_;
    std::weak_ptr<URLConnectionDelegate> delegate_;
    bool started_ = false;
    bool done_ = false;
    uint64_t pending_ = 0;
    int redirects_ = 0;
};

SimHttp::SimHttp(SimRunLoop& loop) : loop_(loop) { reset(); }

SimHttp::~SimHttp() {
    for (auto& weak : connections_)
        if (auto c = weak.lock()) c->cancel();
}

void SimHttp::route(const std::string& url, SimResponse response) {
    exact_[url] = Route{[response](const URLRequest&) { return response; }};
    releaseHeld();
}

void SimHttp::route(const std::string& url, Handler handler) {
    exact_[url] = Route{std::move(handler)};
    releaseHeld();
}

void SimHttp::routePrefix(const std::string& prefix, SimResponse response) {
    prefixes_[prefix] = Route{[response](const URLRequest&) { return response; }};
    releaseHeld();
}

void SimHttp::routePrefix(const std::string& prefix, Handler handler) {
    prefixes_[prefix] = Route{std::move(handler)};
    releaseHeld();
}

void SimHttp::removeRoute(const std::string& urlOrPrefix) {
    exact_.erase(urlOrPrefix);
    prefixes_.erase(urlOrPrefix);
}

void SimHttp::setDefaultResponse(SimResponse response) { default_ = std::move(response); }

std::optional<SimResponse> SimHttp::match(const URLRequest& request) const {
    const std::string& text = request.url.absoluteString();
    if (auto it = exact_.find(text); it != exact_.end() && it->second.handler) return it->second.handler(request);
    const Route* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [prefix, route] : prefixes_) {
        if (text.compare(0, prefix.size(), prefix) == 0 && prefix.size() >= bestLength && route.handler) {
            best = &route;
            bestLength = prefix.size();
        }
    }
    if (best) return best->handler(request);
    return std::nullopt;
}

void SimHttp::setHoldUnrouted(bool hold) {
    holdUnrouted_ = hold;
    releaseHeld();
}

std::vector<URL> SimHttp::heldRequests() const {
    std::vector<URL> out;
    for (const auto& weak : held_)
        if (auto c = weak.lock(); c && !c->done()) out.push_back(c->currentRequest().url);
    return out;
}

void SimHttp::releaseHeld() {
    auto held = std::move(held_);
    held_.clear();
    for (auto& weak : held) {
        auto c = weak.lock();
        if (!c || c->done()) continue;
        auto found = match(c->currentRequest());
        if (found) c->respond(std::move(*found));
        else if (!holdUnrouted_) c->respond(default_);
        else held_.push_back(c);
    }
}

void SimHttp::record(const URLRequest& request) {
    requests_.push_back({request.url, request.httpMethod, request.headers});
}

std::vector<RecordedRequest> SimHttp::requestsTo(const std::string& urlPrefix) const {
    std::vector<RecordedRequest> out;
    for (const auto& r : requests_)
        if (r.url.absoluteString().compare(0, urlPrefix.size(), urlPrefix) == 0) out.push_back(r);
    return out;
}

size_t SimHttp::inFlightCount() const {
    size_t n = 0;
    for (const auto& weak : connections_)
        if (auto c = weak.lock(); c && c->inFlight()) ++n;
    return n;
}

std::shared_ptr<URLConnection> SimHttp::makeConnection(const URLRequest& request,
                                                       std::weak_ptr<URLConnectionDelegate> delegate) {
    auto connection = std::make_shared<SimConnection>(*this, request, std::move(delegate));
    std::erase_if(connections_, [](const std::weak_ptr<SimConnection>& w) { return w.expired(); });
    connections_.push_back(connection);
    return connection;
}

void SimHttp::reset() {
    for (auto& weak : connections_)
        if (auto c = weak.lock()) c->cancel();
    connections_.clear();
    held_.clear();
    holdUnrouted_ = false;
    exact_.clear();
    prefixes_.clear();
    requests_.clear();
    default_ = SimResponse::failure(kURLErrorCannotConnectToHost);
}

}  // namespace platform::sim
