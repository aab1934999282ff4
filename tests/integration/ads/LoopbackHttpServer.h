#pragma once
// A scripted HTTP server on 127.0.0.1 (libsoup's SoupServer on the default main
// context, so it answers while a test spins the loop). Routes are exact paths;
// every request is recorded with its query and headers. A route may also
// answer with raw bytes on the stolen connection, for answers no well-behaved
// server would give (a body cut short, garbage).

#include <libsoup/soup.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class LoopbackHttpServer {
public:
    struct Request {
        std::string path;
        std::string query;
        std::map<std::string, std::string> headers;  // names lower-cased

        std::optional<std::string> header(const std::string& lowerName) const {
            auto it = headers.find(lowerName);
            if (it == headers.end()) return std::nullopt;
            return it->second;
        }
    };
    struct Reply {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // When set: written as is on the raw connection, which is then closed.
        std::optional<std::string> raw;
        // A body served without copying (for large bodies); overrides body.
        const char* staticBody = nullptr;
        size_t staticBodyLength = 0;
        // Never answer: the request hangs until the server goes away.
        bool hold = false;
    };
    using Handler = std::function<Reply(const Request&)>;

    LoopbackHttpServer() {
        server_ = soup_server_new("server-header", "loopback-test", nullptr);
        soup_server_add_handler(server_, nullptr, &LoopbackHttpServer::handle, this, nullptr);
        GError* error = nullptr;
        if (!soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
            std::fprintf(stderr, "cannot listen on loopback: %s\n", error ? error->message : "?");
            std::abort();
        }
        GSList* uris = soup_server_get_uris(server_);
        port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~LoopbackHttpServer() {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    void route(const std::string& path, Handler handler) { routes_[path] = std::move(handler); }
    void route(const std::string& path, Reply reply) {
        routes_[path] = [reply](const Request&) { return reply; };
    }
    // A redirect answer to the given location (absolute or relative).
    static Reply redirect(const std::string& location, int status = 302) {
        Reply r;
        r.status = status;
        r.headers = {{"Location", location}};
        return r;
    }

    const std::vector<Request>& requests() const { return requests_; }
    std::vector<Request> requestsFor(const std::string& path) const {
        std::vector<Request> out;
        for (const auto& r : requests_)
            if (r.path == path) out.push_back(r);
        return out;
    }

private:
    static void handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<LoopbackHttpServer*>(data);
        Request request;
        request.path = path ? path : "";
        GUri* uri = soup_server_message_get_uri(msg);
        if (const char* q = g_uri_get_query(uri)) request.query = q;
        SoupMessageHeadersIter iter;
        soup_message_headers_iter_init(&iter, soup_server_message_get_request_headers(msg));
        const char* name;
        const char* value;
        while (soup_message_headers_iter_next(&iter, &name, &value)) {
            std::string lower(name);
            for (char& c : lower) c = static_cast<char>(g_ascii_tolower(c));
            request.headers[lower] = value;
        }
        self->requests_.push_back(request);

        auto it = self->routes_.find(request.path);
        if (it == self->routes_.end()) {
            soup_server_message_set_status(msg, 404, nullptr);
            return;
        }
        const Reply reply = it->second(request);
        if (reply.hold) {
            soup_server_message_pause(msg);
            return;
        }
        if (reply.raw) {
            GIOStream* stream = soup_server_message_steal_connection(msg);
            GOutputStream* out = g_io_stream_get_output_stream(stream);
            g_output_stream_write_all(out, reply.raw->data(), reply.raw->size(), nullptr, nullptr, nullptr);
            g_output_stream_flush(out, nullptr, nullptr);
            g_io_stream_close(stream, nullptr, nullptr);
            g_object_unref(stream);
            return;
        }
        soup_server_message_set_status(msg, static_cast<guint>(reply.status), nullptr);
        SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
        for (const auto& [n, v] : reply.headers) soup_message_headers_replace(headers, n.c_str(), v.c_str());
        if (reply.staticBody) {
            soup_server_message_set_response(msg, "application/octet-stream", SOUP_MEMORY_STATIC, reply.staticBody,
                                             reply.staticBodyLength);
        } else if (reply.status != 304 && !(reply.status >= 300 && reply.status < 400 && reply.body.empty())) {
            soup_server_message_set_response(msg, "text/plain", SOUP_MEMORY_COPY, reply.body.data(),
                                             reply.body.size());
        }
    }

    SoupServer* server_ = nullptr;
    int port_ = 0;
    std::map<std::string, Handler> routes_;
    std::vector<Request> requests_;
};
