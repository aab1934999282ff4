#pragma once
// Scripted HTTP for tests: answers by route, in virtual time, with every
// request that went out recorded in order.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Http.h"

namespace platform::sim {

class SimRunLoop;
class SimConnection;

// One scripted answer.
struct SimResponse {
    int status = 200;
    HeaderMap headers;
    std::string body;
    size_t chunkSize = 0;              // body delivered in pieces of this size (0: one piece)
    std::optional<Error> error;        // the request fails instead of being answered
    std::optional<size_t> resetAfter;  // the connection drops after this many body bytes
    double latency = 0;                // virtual seconds between sending and the answer

    static SimResponse ok(std::string body, HeaderMap headers = {});
    static SimResponse withStatus(int status, std::string body = {}, HeaderMap headers = {});
    // A redirect; the location may be relative to the request's URL.
    static SimResponse redirect(std::string location, int status = 302);
    static SimResponse failure(long code = kURLErrorCannotConnectToHost, std::string description = {});
    SimResponse& after(double seconds) {
        latency = seconds;
        return *this;
    }
    SimResponse& inChunks(size_t size) {
        chunkSize = size;
        return *this;
    }
};

struct RecordedRequest {
    URL url;
    std::string method;
    HeaderMap headers;
    std::optional<std::string> header(const std::string& name) const;
};

class SimHttp {
public:
    using Handler = std::function<SimResponse(const URLRequest&)>;

    explicit SimHttp(SimRunLoop& loop);
    ~SimHttp();

    // Answers for one exact URL text (replacing an earlier route).
    void route(const std::string& url, SimResponse response);
    void route(const std::string& url, Handler handler);
    // Answers for every URL that starts with the prefix; exact routes win,
    // then the longest prefix.
    void routePrefix(const std::string& prefix, SimResponse response);
    void routePrefix(const std::string& prefix, Handler handler);
    void removeRoute(const std::string& urlOrPrefix);
    // The answer for URLs without a route (by default a failure to connect).
    void setDefaultResponse(SimResponse response);
    // Requests without a route wait instead of taking the default answer; a
    // route added later answers them, so a test can respond after the request
    // went out. Switching this off gives the waiting ones the default answer.
    void setHoldUnrouted(bool hold);
    std::vector<URL> heldRequests() const;

    // Every request sent, redirects included, in order.
    const std::vector<RecordedRequest>& requests() const { return requests_; }
    std::vector<RecordedRequest> requestsTo(const std::string& urlPrefix) const;
    size_t countOf(const std::string& urlPrefix) const { return requestsTo(urlPrefix).size(); }
    void clearRequests() { requests_.clear(); }
    // Connections started and not yet finished, failed or cancelled.
    size_t inFlightCount() const;

    void reset();

    std::shared_ptr<URLConnection> makeConnection(const URLRequest& request,
                                                  std::weak_ptr<URLConnectionDelegate> delegate);

private:
    friend class SimConnection;
    struct Route {
        Handler handler;
    };
    std::optional<SimResponse> match(const URLRequest& request) const;
    void record(const URLRequest& request);
    void releaseHeld();

    SimRunLoop& loop_;
    std::map<std::string, Route> exact_;
    std::map<std::string, Route> prefixes_;
    SimResponse default_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::weak_ptr<SimConnection>> connections_;
    bool holdUnrouted_ = false;
    std::vector<std::weak_ptr<SimConnection>> held_;  // waiting for a route; their owners keep them
};

}  // namespace platform::sim
