#pragma once
// Servers on 127.0.0.1 (a free port) for integration tests, running on the
// default main context of the test process:
// - TestHttpServer: a SoupServer with per-path handlers that records every
//   request it sees;
// - RawTcpServer: answers each connection with scripted bytes (partial
//   bodies, resets, silence, garbage), for the behaviour a real server would
//   not produce on purpose.

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <sys/socket.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Http.h"

namespace nimbra::test {

class TestHttpServer {
public:
    struct Request {
        std::string method;
        std::string path;
        std::string query;  // raw, empty when none
        platform::HeaderMap headers;
    };
    using Handler = std::function<void(SoupServerMessage* message, const Request& request)>;

    TestHttpServer() {
        server_ = soup_server_new("server-header", "nimbra-test", nullptr);
        soup_server_add_handler(server_, nullptr, &TestHttpServer::dispatch, this, nullptr);
        GError* error = nullptr;
        if (!soup_server_listen_local(server_, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
            g_printerr("test server: %s\n", error ? error->message : "cannot listen");
            g_clear_error(&error);
            return;
        }
        GSList* uris = soup_server_get_uris(server_);
        if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~TestHttpServer() {
        soup_server_disconnect(server_);
        g_object_unref(server_);
    }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Exact path match; other paths answer 404.
    void route(const std::string& path, Handler handler) { handlers_[path] = std::move(handler); }
    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery) const {
        return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
    }
    const std::vector<Request>& requests() const { return requests_; }
    SoupServer* server() const { return server_; }

    // Sets status, header fields and body in one go.
    static void respond(SoupServerMessage* message, int status, const std::string& body = {},
                        const std::vector<std::pair<std::string, std::string>>& headers = {}) {
        SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
        for (const auto& [name, value] : headers) soup_message_headers_append(out, name.c_str(), value.c_str());
        soup_server_message_set_status(message, static_cast<guint>(status), nullptr);
        soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
    }

private:
    static void dispatch(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestHttpServer*>(data);
        Request request;
        request.method = soup_server_message_get_method(message);
        request.path = path;
        GUri* uri = soup_server_message_get_uri(message);
        if (g_uri_get_query(uri)) request.query = g_uri_get_query(uri);
        soup_message_headers_foreach(
            soup_server_message_get_request_headers(message),
            [](const char* name, const char* value, gpointer headers) {
                (*static_cast<platform::HeaderMap*>(headers))[name] = value;
            },
            &request.headers);
        self->requests_.push_back(request);
        auto it = self->handlers_.find(request.path);
        if (it == self->handlers_.end()) {
            respond(message, 404, "not found");
            return;
        }
        it->second(message, request);
    }

    SoupServer* server_ = nullptr;
    int port_ = 0;
    std::map<std::string, Handler> handlers_;
    std::vector<Request> requests_;
};

class RawTcpServer {
public:
    enum class Ending {
        Close,     // orderly close after the answer
        Reset,     // abortive close (RST) after the answer
        KeepOpen,  // say nothing more, keep the socket until the server goes
    };

    // Every connection gets `answer` once its request head has arrived, after
    // `delaySeconds`.
    RawTcpServer(std::string answer, Ending ending, double delaySeconds = 0)
        : answer_(std::move(answer)), ending_(ending), delayMs_(static_cast<guint>(delaySeconds * 1000)) {
        service_ = g_socket_service_new();
        GError* error = nullptr;
        GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
        GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
        GSocketAddress* effective = nullptr;
        if (g_socket_listener_add_address(G_SOCKET_LISTENER(service_), address, G_SOCKET_TYPE_STREAM,
                                          G_SOCKET_PROTOCOL_TCP, nullptr, &effective, &error)) {
            port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(effective));
            g_object_unref(effective);
        } else {
            g_printerr("raw server: %s\n", error ? error->message : "cannot listen");
            g_clear_error(&error);
        }
        g_object_unref(address);
        g_object_unref(loopback);
        g_signal_connect(service_, "incoming", G_CALLBACK(&RawTcpServer::incoming), this);
        g_socket_service_start(service_);
    }
    ~RawTcpServer() {
        g_socket_service_stop(service_);
        g_socket_listener_close(G_SOCKET_LISTENER(service_));
        g_signal_handlers_disconnect_by_data(service_, this);
        for (auto& c : clients_) c->abandon();
        g_object_unref(service_);
    }
    RawTcpServer(const RawTcpServer&) = delete;
    RawTcpServer& operator=(const RawTcpServer&) = delete;

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int connections() const { return static_cast<int>(clients_.size()); }

private:
    struct Client {
        RawTcpServer* server;
        GSocketConnection* connection;
        std::string received;
        char buffer[4096];
        GCancellable* cancellable = g_cancellable_new();
        guint delaySource = 0;
        bool answered = false;

        void abandon() {
            g_cancellable_cancel(cancellable);
            if (delaySource) g_source_remove(delaySource);
            delaySource = 0;
            server = nullptr;
            g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
        }
        ~Client() {
            g_object_unref(cancellable);
            g_object_unref(connection);
        }
        void read() {
            g_input_stream_read_async(g_io_stream_get_input_stream(G_IO_STREAM(connection)), buffer, sizeof buffer,
                                      G_PRIORITY_DEFAULT, cancellable, &Client::onRead, this);
        }
        static void onRead(GObject* stream, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            gssize n = g_input_stream_read_finish(G_INPUT_STREAM(stream), result, &error);
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_clear_error(&error);
            if (cancelled) return;  // the client record may be gone
            auto* c = static_cast<Client*>(data);
            if (n <= 0) return;  // the client closed
            c->received.append(c->buffer, static_cast<size_t>(n));
            if (!c->answered && c->received.find("\r\n\r\n") != std::string::npos) {
                c->answered = true;
                c->delaySource = g_timeout_add(c->server->delayMs_, &Client::answer, c);
            }
            c->read();
        }
        static gboolean answer(gpointer data) {
            auto* c = static_cast<Client*>(data);
            c->delaySource = 0;
            GOutputStream* out = g_io_stream_get_output_stream(G_IO_STREAM(c->connection));
            g_output_stream_write_all(out, c->server->answer_.data(), c->server->answer_.size(), nullptr, nullptr,
                                      nullptr);
            if (c->server->ending_ == Ending::Reset) {
                GSocket* socket = g_socket_connection_get_socket(c->connection);
                struct linger abortive = {1, 0};
                setsockopt(g_socket_get_fd(socket), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
            if (c->server->ending_ != Ending::KeepOpen) {
                g_cancellable_cancel(c->cancellable);
                g_io_stream_close(G_IO_STREAM(c->connection), nullptr, nullptr);
            }
            return G_SOURCE_REMOVE;
        }
    };

    static gboolean incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer data) {
        auto* self = static_cast<RawTcpServer*>(data);
        auto client = std::make_unique<Client>();
        client->server = self;
        client->connection = G_SOCKET_CONNECTION(g_object_ref(connection));
        client->read();
        self->clients_.push_back(std::move(client));
        return TRUE;
    }

    std::string answer_;
    Ending ending_;
    guint delayMs_;
    GSocketService* service_ = nullptr;
    int port_ = 0;
    std::vector<std::unique_ptr<Client>> clients_;
};

}  // namespace nimbra::test
