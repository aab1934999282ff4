#pragma once
// URL loading on libsoup: one shared session (cookies on, no HTTP cache), each
// redirect handled here so the delegate sees every request, a time-out that
// restarts whenever the server makes progress, and cancellation that silences
// every later callback.

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/gtk/GRef.h"
#include "platform/Http.h"

namespace platform::gtk {

// The process's HTTP session; made on first use, on the main thread.
struct SoupTransport {
    GRef<SoupSession> session;
    std::string defaultUserAgent;  // sent when a request sets none
};
SoupTransport& soupTransport(const std::string& defaultUserAgent);

class SoupConnection final : public URLConnection, public std::enable_shared_from_this<SoupConnection> {
public:
    SoupConnection(SoupTransport& transport, const URLRequest& request, std::weak_ptr<URLConnectionDelegate> delegate);
    ~SoupConnection() override;

    void start() override;
    void cancel() override;
    const URLRequest& originalRequest() const override { return original_; }

private:
    void begin();
    void send(const URLRequest& request);
    void sent(GInputStream* stream, GError* error);
    void readNext();
    void received(GBytes* bytes, GError* error);
    bool followRedirect(const HTTPURLResponse& response);
    void fail(long code, const std::string& description);
    void failWith(const GError* error, bool inBody);
    void stop();
    void armTimeout();
    void disarmTimeout();
    std::shared_ptr<URLConnectionDelegate> delegate();
    // Heap data for one async call: keeps this object alive until it returns.
    void* retainForCall();

    static void onSent(GObject* source, GAsyncResult* result, gpointer data);
    static void onRead(GObject* source, GAsyncResult* result, gpointer data);
    static gboolean onTimeout(gpointer data);

    SoupTransport& transport_;
    const URLRequest original_;
    URLRequest current_;
    std::weak_ptr<URLConnectionDelegate> delegate_;
    bool started_ = false;
    bool done_ = false;  // finished, failed, stopped or cancelled: nothing more is said
    int redirects_ = 0;
    GRef<GCancellable> cancellable_;
    GRef<SoupMessage> message_;
    GRef<GInputStream> body_;
    // The announced length of a body sent as-is, and what has come of it.
    std::optional<goffset> announcedLength_;
    goffset bodyBytes_ = 0;
    guint timeoutSource_ = 0;
};

}  // namespace platform::gtk
