#pragma once
// URL loading on libsoup: one shared session (cookies on, no HTTP cache), each
// redirect handled here so the delegate sees every request, a time-out that
// restarts whenever the server makes progress, and cancellation that silences
// every later callback. The connection lives as long as its owner holds it:
// destroying it cancels the fetch like cancel().

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/Http.h"
#include "platform/RunLoop.h"
#include "platform/WeakPtr.h"
#include "platform/gtk/GRef.h"

namespace platform::gtk {

// The process's HTTP session; made on first use, on the main thread.
struct SoupTransport {
    GRef<SoupSession> session;
    std::string defaultUserAgent;  // sent when a request sets none
};
SoupTransport& soupTransport(const std::string& defaultUserAgent);

class SoupConnection final : public URLConnection {
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
    std::shared_ptr<URLConnectionDelegate> delegate();
    // After a delegate call: whether this object is still there and still fetching.
    // After a delegate call (which may cancel or destroy the connection):
    // whether the fetch goes on.
    static bool goesOn(const WeakPtr<SoupConnection>& self) { return self && !self->done_; }

    static void onSent(GObject* source, GAsyncResult* result, gpointer data);
    static void onRead(GObject* source, GAsyncResult* result, gpointer data);

    SoupTransport& transport_;
    const URLRequest original_;
    URLRequest current_;
    std::weak_ptr<URLConnectionDelegate> delegate_;
    bool started_ = false;
    bool done_ = false;  // finished, failed, stopped or cancelled: nothing more is said
    int redirects_ = 0;
    // Cancelled when nothing more is said; pending calls then return untouched.
    GRef<GCancellable> cancellable_;
    GRef<SoupMessage> message_;
    GRef<GInputStream> body_;
    // The announced length of a body sent as-is, and what has come of it.
    std::optional<goffset> announcedLength_;
    goffset bodyBytes_ = 0;
    OneShotTimer timeout_;
    WeakPtrFactory<SoupConnection> weakFactory_{this};
};

}  // namespace platform::gtk
