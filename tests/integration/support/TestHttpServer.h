#pragma once
// Servers on 127.0.0.1 (a free port) for integration tests:
// - TestHttpServer: a SoupServer on the default main context with per-path
//   handlers that records every request it sees, plain or over TLS;
// - RawTcpServer: answers each connection with scripted bytes (cut bodies,
//   late or trickling answers, garbage).

#include <arpa/inet.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <libsoup/soup.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Http.h"
#include "platform/gtk/GRef.h"

namespace nimbra::test {

class TestHttpServer {
public:
    struct Request {
        std::string path;
        std::string query;  // raw, empty when none
        platform::HeaderMap headers;
    };
    using Handler = std::function<void(SoupServerMessage* message, const Request& request)>;
    using Headers = std::vector<std::pair<std::string, std::string>>;
    // With a certificate, https.
    explicit TestHttpServer(GTlsCertificate* certificate = nullptr)
        : server_(platform::gtk::GRef<SoupServer>::adopt(
              soup_server_new("server-header", "nimbra-test", "tls-certificate", certificate, nullptr))),
          scheme_(certificate ? "https" : "http") {
        soup_server_add_handler(server_.get(), nullptr, &TestHttpServer::dispatch, this, nullptr);
        platform::gtk::GErrorPtr error;
        const auto options =
            SoupServerListenOptions(SOUP_SERVER_LISTEN_IPV4_ONLY | (certificate ? SOUP_SERVER_LISTEN_HTTPS : 0));
        if (!soup_server_listen_local(server_.get(), 0, options, error.out())) {
            g_printerr("test server: %s\n", error ? error->message : "cannot listen");
            return;
        }
        platform::gtk::GSListPtr uris(soup_server_get_uris(server_.get()));
        for (GSList* cell = uris.get(); cell; cell = cell->next) {
            platform::gtk::GUriPtr uri(static_cast<GUri*>(cell->data));
            if (!port_) port_ = g_uri_get_port(uri.get());
        }
    }
    ~TestHttpServer() { soup_server_disconnect(server_.get()); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;
    // Exact path match; other paths answer 404 "not found".
    void route(const std::string& path, Handler handler) { handlers_[path] = std::move(handler); }
    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery) const {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
    }
    const std::vector<Request>& requests() const { return requests_; }
    // Sets status, header fields and body in one go.
    static void respond(SoupServerMessage* message, int status, const std::string& body = {},
                        const Headers& headers = {}) {
        SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
        for (const auto& [name, value] : headers) soup_message_headers_append(out, name.c_str(), value.c_str());
        soup_server_message_set_status(message, static_cast<guint>(status), nullptr);
        soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
    }
    static Handler answer(int status, std::string body = {}, Headers headers = {}) {
        return [=](SoupServerMessage* message, const Request&) { respond(message, status, body, headers); };
    }

private:
    static void dispatch(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer data) {
        auto* self = static_cast<TestHttpServer*>(data);
        Request request{path, {}, {}};
        if (const char* query = g_uri_get_query(soup_server_message_get_uri(message))) request.query = query;
        soup_message_headers_foreach(
            soup_server_message_get_request_headers(message),
            [](const char* name, const char* value, gpointer headers) {
                (*static_cast<platform::HeaderMap*>(headers))[name] = value;
            },
            &request.headers);
        self->requests_.push_back(request);
        auto it = self->handlers_.find(request.path);
        if (it == self->handlers_.end()) return respond(message, 404, "not found");
        it->second(message, request);
    }
    platform::gtk::GRef<SoupServer> server_;
    std::string scheme_;
    int port_ = 0;
    std::map<std::string, Handler> handlers_;
    std::vector<Request> requests_;
};

// Blocking sockets on a thread of its own, so it needs no main loop turning.
class RawTcpServer {
public:
    // Every connection gets the pieces once its request head has arrived,
    // each one `gapSeconds` after the one before, and is closed.
    explicit RawTcpServer(std::vector<std::string> pieces, double gapSeconds = 0)
        : pieces_(std::move(pieces)), gapMs_(static_cast<int>(gapSeconds * 1000)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 8) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::pipe2(stop_, O_CLOEXEC))
            g_printerr("raw server: cannot listen\n");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~RawTcpServer() {
        ::close(stop_[1]);  // wakes the thread
        thread_.join();
        ::close(stop_[0]);
        ::close(listener_);
    }
    RawTcpServer(const RawTcpServer&) = delete;
    RawTcpServer& operator=(const RawTcpServer&) = delete;
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    // A chunked answer that trickles in, a piece every `gapSeconds`.
    static std::unique_ptr<RawTcpServer> chunked(const std::vector<std::string>& pieces,
                                                 const std::vector<std::pair<std::string, std::string>>& headers = {},
                                                 double gapSeconds = 0.01) {
        std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n";
        for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
        std::vector<std::string> answer{head + "\r\n"};
        for (const std::string& piece : pieces) {
            char size[24];
            std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
            answer.push_back(size + piece + "\r\n");
        }
        answer.back() += "0\r\n\r\n";
        return std::make_unique<RawTcpServer>(answer, gapSeconds);
    }

private:
    // Waits for `fd` to be readable; false once the server stops (or on time-out).
    bool wait(int fd, int timeoutMs = -1) const {
        pollfd fds[] = {{stop_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        return ::poll(fds, fd < 0 ? 1 : 2, timeoutMs) > 0 && !fds[0].revents;
    }
    void serve() {
        while (wait(listener_)) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos && wait(client)) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                head.append(buffer, static_cast<size_t>(n));
            }
            for (const std::string& piece : pieces_) {
                wait(-1, gapMs_);
                ::send(client, piece.data(), piece.size(), MSG_NOSIGNAL);
            }
            ::close(client);
        }
    }
    std::vector<std::string> pieces_;
    int gapMs_;
    int listener_ = -1, port_ = 0;
    int stop_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace nimbra::test
