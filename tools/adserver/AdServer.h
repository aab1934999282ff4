// nimbra-adserver's HTTP side: one SoupServer on 127.0.0.1 that plays both
// the static content server (the support script) and the ad server (ad
// markup, tracking, clicks, landing pages), and reports what it saw at
// /status. docs/ad-server.md is the contract; keep the two in step.
#pragma once

#include <libsoup/soup.h>

#include <cstdint>
#include <array>
#include <list>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Creative.h"
#include "RequestLog.h"
#include "Text.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GSignal.h"

namespace adserver {

using platform::gtk::GAttachedSource;
using platform::gtk::GDateTimePtr;
using platform::gtk::GRef;
using platform::gtk::GSignalHandler;

struct ServerOptions {
    unsigned port = 8090;            // 0 picks a free port
    std::string refreshRate = "30";  // seconds, sent as X-Ruma-Refresh-Rate
    bool verbose = false;            // one line per request on stderr
    // Creative kinds that plain filled answers cycle through by ad number;
    // empty: always the normal one.
    std::vector<std::string> creatives;
    // The first support-script answer goes wrong this way ("reset", "hang",
    // "throw", "twice"); empty: none does.
    std::string scriptFault;
};

class AdServer {
public:
    explicit AdServer(ServerOptions options);
    ~AdServer();
    AdServer(const AdServer&) = delete;
    AdServer& operator=(const AdServer&) = delete;

    // Starts listening on 127.0.0.1. Gives the bound port, or nothing with
    // `error` set (port taken, for instance).
    std::optional<unsigned> listen(std::string& error);

    struct Request {
        std::string method;
        std::string path;      // as sent, escapes kept
        std::string rawQuery;  // as sent
        std::vector<QueryItem> items;
        std::string origin;  // "http://host[:port]" as the client addressed us
        SoupMessageHeaders* headers = nullptr;
    };

    enum class Cut { None, Headers, Body };

    struct Reply {
        unsigned status = 200;
        std::string contentType = "text/plain; charset=utf-8";
        std::string body;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string endpoint = "other";
        double delaySeconds = 0;  // answered later, without holding up other requests
        Cut cut = Cut::None;      // the connection is closed part-way through the answer
        bool hold = false;        // never answered: held until the server stops
    };

private:
    // A reply that waits on the main loop: a slow answer or a connection cut.
    struct Deferred {
        AdServer* server = nullptr;
        GRef<SoupServerMessage> message;
        Reply reply;
        GAttachedSource due;             // the delay; none for a held reply
        GSignalHandler finishedHandler;  // the client went away meanwhile
        bool finished = false;
    };

    static void onRequest(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer self);
    static gboolean onDeferredDue(gpointer data);
    static void onDeferredFinished(SoupServerMessage*, gpointer data);

    void handle(SoupServerMessage* message);
    Reply route(const Request& request);
    Reply scriptReply(const Request& request);
    Reply adsReply(const Request& request);
    const CreativeKind& creativeFor(const std::string& scenario, std::uint64_t sequence) const;
    Reply filledAd(const Request& request, const std::string& adUnitID, const std::string& scenario);
    Reply clickReply(const Request& request);
    Reply hopReply(const Request& request) const;
    Reply clickTrackingReply(const Request& request) const;
    Reply loopReply(const Request& request) const;

    void send(SoupServerMessage* message, Reply reply);
    void complete(Deferred* deferred);
    void drop(Deferred* deferred);
    std::string originOf(SoupServerMessage* message) const;
    bool isOurHost(const char* host) const;
    std::string token();

    ServerOptions options_;
    GRef<SoupServer> server_;
    unsigned boundPort_ = 0;
    GDateTimePtr lastModified_;  // whole second, fixed at start
    std::string lastModifiedText_;
    RequestLog log_;
    bool scriptFaultPending_ = false;
    std::uint64_t adSerial_ = 0;  // never reset, so every ad has its own number
    std::mt19937_64 random_;
    std::list<Deferred> deferred_;
};

}  // namespace adserver
