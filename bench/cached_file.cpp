// Download of a 50 MiB body from a loopback SoupServer: through ZELCachedFile
// (libsoup underneath, then an atomic, flushed write into the caches
// directory) against plain libsoup doing the same in the same run. The server
// runs on its own thread and main context so the client side is what is
// measured. Rounds alternate so both see the same machine; medians compared.

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../tests/integration/support/TestHttpServer.h"
#include "Network/ZELCachedFile.h"
#include "platform/Services.h"
#include "platform/gtk/GRef.h"
#include "platform/gtk/GtkBackend.h"

namespace {

constexpr size_t kBodySize = size_t{50} << 20;
constexpr int kRounds = 7;

using Clock = std::chrono::steady_clock;
using platform::gtk::GRef;

void spinUntil(const bool& done) {
    while (!done) g_main_context_iteration(nullptr, TRUE);
}

struct Waiter : ZELCachedFileDelegate {
    bool done = false;
    bool ok = false;
    void cachedFileDownloadDidFail(ZELCachedFile&, const std::optional<platform::Error>& error) override {
        std::fprintf(stderr, "download failed: %s\n", error ? error->description.c_str() : "HTTP status");
        done = true;
    }
    void cachedFileDownloadDidEnd(ZELCachedFile&) override { done = ok = true; }
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile&, const platform::URL&) override {
        return std::nullopt;
    }
};

double viaCachedFile(const std::string& url) {
    auto waiter = std::make_shared<Waiter>();
    ZELCachedFile file(waiter, *platform::URL::parse(url), ZELCachePurpose::AdMarkup);
    file.setMaximumBodySize(kBodySize);
    file.invalidate();  // a full download every round, no 304
    const auto start = Clock::now();
    file.validate();
    spinUntil(waiter->done);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!waiter->ok) std::exit(1);
    return seconds;
}

struct PlainFetch {
    bool done = false;
    platform::gtk::GBytesPtr bytes;
};

// What an application would write with libsoup alone: fetch the body, store it
// with GLib's atomic file replacement.
double viaLibsoup(SoupSession* session, const std::string& url, const std::string& path, bool store) {
    PlainFetch fetch;
    const auto start = Clock::now();
    auto message = GRef<SoupMessage>::adopt(soup_message_new("GET", url.c_str()));
    soup_session_send_and_read_async(
        session, message.get(), G_PRIORITY_DEFAULT, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            auto* f = static_cast<PlainFetch*>(data);
            f->bytes.reset(soup_session_send_and_read_finish(SOUP_SESSION(source), result, nullptr));
            f->done = true;
        },
        &fetch);
    spinUntil(fetch.done);
    if (!fetch.bytes || g_bytes_get_size(fetch.bytes.get()) != kBodySize) {
        std::fprintf(stderr, "plain fetch failed\n");
        std::exit(1);
    }
    if (store) {
        gsize size = 0;
        const auto* data = static_cast<const gchar*>(g_bytes_get_data(fetch.bytes.get(), &size));
        if (!g_file_set_contents(path.c_str(), data, static_cast<gssize>(size), nullptr)) std::exit(1);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return seconds;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double mibPerSecond(double seconds) { return static_cast<double>(kBodySize) / (1 << 20) / seconds; }

}  // namespace

int main() {
    platform::gtk::GtkBackend::install("org.nimbra.Bench");

    std::string body(kBodySize, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 2654435761u) >> 13);

    platform::gtk::GMainContextPtr serverContext(g_main_context_new());
    platform::gtk::GMainLoopPtr serverLoop(g_main_loop_new(serverContext.get(), FALSE));
    std::string url;
    bool ready = false;
    std::thread serverThread([&] {
        g_main_context_push_thread_default(serverContext.get());
        {
            nimbra::test::TestHttpServer server;
            server.route("/blob", [&body](SoupServerMessage* message, const nimbra::test::TestHttpServer::Request&) {
                soup_server_message_set_status(message, 200, nullptr);
                soup_server_message_set_response(message, "application/octet-stream", SOUP_MEMORY_STATIC, body.data(),
                                                 body.size());
            });
            url = server.url("/blob");
            g_main_context_invoke(
                nullptr,
                [](gpointer data) -> gboolean {
                    *static_cast<bool*>(data) = true;
                    return G_SOURCE_REMOVE;
                },
                &ready);
            g_main_loop_run(serverLoop.get());
        }
        g_main_context_pop_thread_default(serverContext.get());
    });
    while (!ready) g_main_context_iteration(nullptr, TRUE);

    auto session = GRef<SoupSession>::adopt(soup_session_new());
    const std::string plainPath = *platform::Paths::current().cachesDirectory() + "/bench-plain.bin";
    g_file_set_contents(plainPath.c_str(), "", 0, nullptr);  // replacing an existing file, as the cache does

    // One warm-up of each, then alternating rounds.
    viaCachedFile(url);
    viaLibsoup(session.get(), url, plainPath, true);
    std::vector<double> cached, plainStored, plainFetchOnly;
    for (int round = 0; round < kRounds; ++round) {
        if (round % 2 == 0) {
            cached.push_back(viaCachedFile(url));
            plainStored.push_back(viaLibsoup(session.get(), url, plainPath, true));
        } else {
            plainStored.push_back(viaLibsoup(session.get(), url, plainPath, true));
            cached.push_back(viaCachedFile(url));
        }
        plainFetchOnly.push_back(viaLibsoup(session.get(), url, plainPath, false));
    }

    const double c = mibPerSecond(median(cached));
    const double p = mibPerSecond(median(plainStored));
    const double f = mibPerSecond(median(plainFetchOnly));
    std::printf("50 MiB body over loopback, median of %d rounds\n", kRounds);
    std::printf("  ZELCachedFile (fetch + atomic flushed write): %8.1f MiB/s\n", c);
    std::printf("  libsoup + g_file_set_contents:                %8.1f MiB/s\n", p);
    std::printf("  libsoup fetch only (into memory):             %8.1f MiB/s\n", f);
    std::printf("ratio ZELCachedFile / libsoup with store: %.2fx (goal >= 0.90x)\n", c / p);
    std::printf("ratio ZELCachedFile / libsoup fetch only: %.2fx\n", c / f);

    session.reset();
    ::unlink(plainPath.c_str());
    g_main_context_invoke(
        serverContext.get(),
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        serverLoop.get());
    serverThread.join();
    return 0;
}
