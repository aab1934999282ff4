// URL loading against servers on loopback: redirects one by one, chunked
// bodies, conditional requests, error statuses, broken and slow servers, and
// cancellation from inside callbacks.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/Http.h"
#include "integration/support/GtkTestEnvironment.h"
#include "integration/support/TestHttpServer.h"

using namespace nimbra::test;
using platform::Error;
using platform::HTTPURLResponse;
using platform::URL;
using platform::URLConnection;
using platform::URLConnectionDelegate;
using platform::URLRequest;

namespace {

URLRequest requestFor(const std::string& text) {
    auto url = URL::parse(text);
    EXPECT_TRUE(url.has_value()) << text;
    return URLRequest(url.value_or(*URL::parse("http://invalid.test/")));
}

class Recorder : public URLConnectionDelegate {
public:
    struct Sent {
        std::string url;
        int redirectStatus;  // 0 for the first request
    };
    std::vector<Sent> sent;
    std::vector<HTTPURLResponse> responses;
    std::string body;
    int chunks = 0;
    int finished = 0;
    std::vector<Error> failures;
    int callbacks = 0;

    // Hooks for the cases that act from inside a callback.
    std::function<std::optional<URLRequest>(URLConnection&, const URLRequest&, const HTTPURLResponse*)> onSend;
    std::function<void(URLConnection&)> onResponse;
    std::function<void(URLConnection&)> onData;

    std::optional<URLRequest> connectionWillSendRequest(URLConnection& c, const URLRequest& r,
                                                        const HTTPURLResponse* redirect) override {
        ++callbacks;
        sent.push_back({r.url.absoluteString(), redirect ? redirect->statusCode : 0});
        return onSend ? onSend(c, r, redirect) : std::optional<URLRequest>(r);
    }
    void connectionDidReceiveResponse(URLConnection& c, const HTTPURLResponse& r) override {
        ++callbacks;
        responses.push_back(r);
        if (onResponse) onResponse(c);
    }
    void connectionDidReceiveData(URLConnection& c, std::string_view data) override {
        ++callbacks;
        ++chunks;
        body.append(data);
        if (onData) onData(c);
    }
    void connectionDidFinishLoading(URLConnection&) override {
        ++callbacks;
        ++finished;
    }
    void connectionDidFailWithError(URLConnection&, const Error& e) override {
        ++callbacks;
        failures.push_back(e);
    }
    bool ended() const { return finished + static_cast<int>(failures.size()) > 0; }
};

class SoupConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { gtkBackend(); }

    std::shared_ptr<URLConnection> start(const URLRequest& request) {
        auto connection = URLConnection::create(request, recorder);
        connection->start();
        // Nothing is said from inside start().
        EXPECT_EQ(recorder->callbacks, 0);
        return connection;
    }
    void runToEnd() { ASSERT_TRUE(spinUntil([&] { return recorder->ended(); })); }

    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    TestHttpServer server;
};

// Answers in several pieces, gapMs apart, as a chunked body. The server writes
// what it has and waits for the next piece; a client that goes away ends the feed.
void streamChunks(SoupServerMessage* message, std::vector<std::string> pieces, guint gapMs = 10) {
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    soup_message_headers_append(headers, "X-Test", "one");
    soup_message_headers_append(headers, "X-Test", "two");
    struct Feed {
        SoupServerMessage* message;
        std::vector<std::string> pieces;
        size_t next = 0;
        bool finished = false;
    };
    auto* feed = new Feed{message, std::move(pieces)};
    g_object_ref(message);
    g_signal_connect(message, "finished", G_CALLBACK(+[](SoupServerMessage*, gpointer f) {
        static_cast<Feed*>(f)->finished = true;
    }), feed);
    soup_server_message_pause(message);
    g_timeout_add(gapMs, [](gpointer data) -> gboolean {
        auto* f = static_cast<Feed*>(data);
        if (!f->finished) {
            SoupMessageBody* body = soup_server_message_get_response_body(f->message);
            if (f->next < f->pieces.size()) {
                const std::string& piece = f->pieces[f->next++];
                soup_message_body_append(body, SOUP_MEMORY_COPY, piece.data(), piece.size());
                soup_server_message_unpause(f->message);
                return G_SOURCE_CONTINUE;
            }
            soup_message_body_complete(body);
            soup_server_message_unpause(f->message);
        }
        g_signal_handlers_disconnect_by_data(f->message, f);
        g_object_unref(f->message);
        delete f;
        return G_SOURCE_REMOVE;
    }, feed);
}

TEST_F(SoupConnectionTest, ChunkedBodyArrivesWholeAfterTheResponse) {
    server.route("/chunks", [](SoupServerMessage* m, const auto&) { streamChunks(m, {"alpha-", "beta-", "gamma"}); });
    auto c = start(requestFor(server.url("/chunks")));
    runToEnd();
    ASSERT_EQ(recorder->sent.size(), 1u);
    EXPECT_EQ(recorder->sent[0].redirectStatus, 0);
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 200);
    EXPECT_EQ(recorder->responses[0].url.absoluteString(), server.url("/chunks"));
    EXPECT_EQ(recorder->responses[0].headers.at("x-test"), "one, two");
    EXPECT_EQ(recorder->body, "alpha-beta-gamma");
    EXPECT_GE(recorder->chunks, 2);  // pieces are passed on as they come
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_TRUE(recorder->failures.empty());
}

TEST_F(SoupConnectionTest, RedirectChainIsShownOneRequestAtATime) {
    server.route("/r1", [](SoupServerMessage* m, const auto&) { TestHttpServer::respond(m, 302, "", {{"Location", "r2?x=1"}}); });
    server.route("/r2", [&](SoupServerMessage* m, const auto&) {
        TestHttpServer::respond(m, 301, "", {{"Location", server.url("/final")}});
    });
    server.route("/final", [](SoupServerMessage* m, const auto&) { TestHttpServer::respond(m, 200, "landed"); });
    auto request = requestFor(server.url("/r1"));
    request.setValueForHTTPHeaderField("kept", "X-Custom");
    auto c = start(request);
    runToEnd();
    ASSERT_EQ(recorder->sent.size(), 3u);
    EXPECT_EQ(recorder->sent[1].url, server.url("/r2?x=1"));
    EXPECT_EQ(recorder->sent[1].redirectStatus, 302);
    EXPECT_EQ(recorder->sent[2].redirectStatus, 301);
    ASSERT_EQ(recorder->responses.size(), 1u);  // redirect answers are not "responses"
    EXPECT_EQ(recorder->responses[0].url.absoluteString(), server.url("/final"));
    EXPECT_EQ(recorder->body, "landed");
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(server.requests()[2].headers.at("X-Custom"), "kept");
}

TEST_F(SoupConnectionTest, RefusedRedirectStopsSilently) {
    server.route("/r1", [](SoupServerMessage* m, const auto&) { TestHttpServer::respond(m, 307, "", {{"Location", "/r2"}}); });
    recorder->onSend = [](URLConnection&, const URLRequest& r, const HTTPURLResponse* redirect) {
        return redirect ? std::nullopt : std::optional<URLRequest>(r);
    };
    auto c = start(requestFor(server.url("/r1")));
    ASSERT_TRUE(spinUntil([&] { return recorder->sent.size() == 2; }));
    spinFor(0.1);
    EXPECT_EQ(recorder->callbacks, 2);
    EXPECT_EQ(server.requests().size(), 1u);  // /r2 was never asked for
}

TEST_F(SoupConnectionTest, OddRedirectTargets) {
    // Another application's scheme: the delegate sees it first (and could
    // take it elsewhere); sent as it is, it fails as unsupported.
    server.route("/app", [](SoupServerMessage* m, const auto&) {
        TestHttpServer::respond(m, 302, "", {{"Location", "itms-apps://itunes.example/app/1"}});
    });
    auto c = start(requestFor(server.url("/app")));
    runToEnd();
    ASSERT_EQ(recorder->sent.size(), 2u);
    EXPECT_EQ(recorder->sent[1].url, "itms-apps://itunes.example/app/1");
    ASSERT_EQ(recorder->failures.size(), 1u);
    EXPECT_EQ(recorder->failures[0].code, platform::kURLErrorUnsupportedURL);

    // A Location that is no URL at all: the redirect answer is the answer.
    recorder = std::make_shared<Recorder>();
    server.route("/bad", [](SoupServerMessage* m, const auto&) {
        TestHttpServer::respond(m, 301, "moved?", {{"Location", "http://[not a host"}});
    });
    auto c2 = start(requestFor(server.url("/bad")));
    runToEnd();
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 301);
    EXPECT_EQ(recorder->body, "moved?");
    EXPECT_EQ(recorder->finished, 1);
}

TEST_F(SoupConnectionTest, RedirectLoopFailsAtTheLimit) {
    server.route("/loop", [](SoupServerMessage* m, const auto&) { TestHttpServer::respond(m, 302, "", {{"Location", "/loop"}}); });
    auto c = start(requestFor(server.url("/loop")));
    runToEnd();
    ASSERT_EQ(recorder->failures.size(), 1u);
    EXPECT_EQ(recorder->failures[0].code, platform::kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(recorder->failures[0].domain, platform::kURLErrorDomain);
    EXPECT_EQ(server.requests().size(), static_cast<size_t>(platform::kMaximumRedirects + 1));
    EXPECT_EQ(recorder->finished, 0);
}

TEST_F(SoupConnectionTest, NotModifiedAndErrorStatusesAreAnswers) {
    const std::string stamp = "Tue, 15 Nov 1994 12:45:26 GMT";
    server.route("/script.js", [&](SoupServerMessage* m, const TestHttpServer::Request& r) {
        auto since = r.headers.find("If-Modified-Since");
        if (since != r.headers.end() && since->second == stamp)
            TestHttpServer::respond(m, 304);
        else
            TestHttpServer::respond(m, 200, "fresh", {{"Last-Modified", stamp}});
    });
    auto request = requestFor(server.url("/script.js"));
    request.setValueForHTTPHeaderField(stamp, "If-Modified-Since");
    auto c = start(request);
    runToEnd();
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 304);
    EXPECT_TRUE(recorder->body.empty());
    EXPECT_EQ(recorder->finished, 1);

    // An error status is an answer too, not a failure.
    recorder = std::make_shared<Recorder>();
    auto missing = start(requestFor(server.url("/missing")));
    runToEnd();
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 404);
    EXPECT_EQ(recorder->body, "not found");
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_TRUE(recorder->failures.empty());
}

TEST_F(SoupConnectionTest, BrokenServersFailCleanly) {
    const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes";
    const std::string partialThenClose = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\nfirst bytes";
    const std::string partialOldServer = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes";
    struct Case {
        std::string answer;
        RawTcpServer::Ending ending;
        long code;
        size_t responses;
    };
    for (const Case& k : {Case{partial, RawTcpServer::Ending::Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partial, RawTcpServer::Ending::Reset, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partialThenClose, RawTcpServer::Ending::Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partialOldServer, RawTcpServer::Ending::Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{"NOT HTTP AT ALL\r\n\r\n", RawTcpServer::Ending::Close,
                               platform::kURLErrorBadServerResponse, 0},
                          Case{"", RawTcpServer::Ending::Close, platform::kURLErrorNetworkConnectionLost, 0}}) {
        SCOPED_TRACE(k.answer);
        recorder = std::make_shared<Recorder>();
        RawTcpServer raw(k.answer, k.ending);
        auto c = start(requestFor(raw.url("/")));
        runToEnd();
        EXPECT_EQ(recorder->responses.size(), k.responses);
        ASSERT_EQ(recorder->failures.size(), 1u);
        EXPECT_EQ(recorder->failures[0].code, k.code);
        EXPECT_EQ(recorder->finished, 0);
    }
}

TEST_F(SoupConnectionTest, SlowServerTimesOutOnceAndIsThenIgnored) {
    RawTcpServer raw("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", RawTcpServer::Ending::Close, 0.6);
    auto request = requestFor(raw.url("/slow"));
    request.timeoutInterval = 0.2;
    auto c = start(request);
    runToEnd();
    ASSERT_EQ(recorder->failures.size(), 1u);
    EXPECT_EQ(recorder->failures[0].code, platform::kURLErrorTimedOut);
    spinFor(0.8);  // the late answer comes and goes unseen
    EXPECT_EQ(recorder->callbacks, 2);
}

TEST_F(SoupConnectionTest, TimeOutCountsSilenceNotTheWholeTransfer) {
    // Eight pieces 100 ms apart take longer than the 0.5 s time-out in total,
    // but the server is never quiet for that long.
    server.route("/steady", [](SoupServerMessage* m, const auto&) {
        streamChunks(m, {"1", "2", "3", "4", "5", "6", "7", "8"}, 100);
    });
    auto request = requestFor(server.url("/steady"));
    request.timeoutInterval = 0.5;
    auto c = start(request);
    runToEnd();
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(recorder->body, "12345678");
}

TEST_F(SoupConnectionTest, CancelInsideACallbackEndsEverything) {
    server.route("/chunks", [](SoupServerMessage* m, const auto&) { streamChunks(m, {"a", "b", "c"}); });
    // Cancelled from the response callback, dropping the last reference too.
    std::shared_ptr<URLConnection> held = start(requestFor(server.url("/chunks")));
    recorder->onResponse = [&](URLConnection& c) {
        c.cancel();
        c.cancel();
        held.reset();
    };
    ASSERT_TRUE(spinUntil([&] { return !recorder->responses.empty(); }));
    spinFor(0.2);
    EXPECT_EQ(recorder->callbacks, 2);
    EXPECT_TRUE(recorder->body.empty());

    // Cancelled from the first data callback.
    recorder = std::make_shared<Recorder>();
    recorder->onData = [](URLConnection& c) { c.cancel(); };
    auto second = start(requestFor(server.url("/chunks")));
    ASSERT_TRUE(spinUntil([&] { return recorder->chunks == 1; }));
    spinFor(0.2);
    EXPECT_EQ(recorder->chunks, 1);
    EXPECT_FALSE(recorder->ended());
}

TEST_F(SoupConnectionTest, CancelBeforeTheFirstTurnAndAGoneDelegateSayNothing) {
    auto c = start(requestFor(server.url("/missing")));
    c->cancel();
    auto orphan = URLConnection::create(requestFor(server.url("/missing")), std::make_shared<Recorder>());
    orphan->start();  // its delegate is already gone
    spinFor(0.2);
    EXPECT_EQ(recorder->callbacks, 0);
}

TEST_F(SoupConnectionTest, UnreachableAndUnsupportedTargetsFail) {
    std::string closedPort;
    {
        RawTcpServer raw("", RawTcpServer::Ending::Close);
        closedPort = raw.url("/");
    }
    struct Case {
        std::string url;
        long code;
    };
    for (const Case& k : {Case{closedPort, platform::kURLErrorCannotConnectToHost},
                          Case{"ftp://127.0.0.1/file", platform::kURLErrorUnsupportedURL}}) {
        SCOPED_TRACE(k.url);
        recorder = std::make_shared<Recorder>();
        auto c = start(requestFor(k.url));
        runToEnd();
        ASSERT_EQ(recorder->failures.size(), 1u);
        EXPECT_EQ(recorder->failures[0].code, k.code);
    }
}

TEST_F(SoupConnectionTest, HeadersUserAgentAndCookies) {
    server.route("/set", [](SoupServerMessage* m, const auto&) {
        TestHttpServer::respond(m, 200, "", {{"Set-Cookie", "session=abc; Path=/"}});
    });
    server.route("/echo", [](SoupServerMessage* m, const auto&) { TestHttpServer::respond(m, 200); });
    auto c1 = start(requestFor(server.url("/set")));
    runToEnd();

    recorder = std::make_shared<Recorder>();
    auto withCookies = requestFor(server.url("/echo"));
    withCookies.setValueForHTTPHeaderField("Mozilla/5.0 (Test)", "User-Agent");
    withCookies.setValueForHTTPHeaderField("bad\r\nInjected: yes", "X-Bad");
    auto c2 = start(withCookies);
    runToEnd();

    recorder = std::make_shared<Recorder>();
    auto without = requestFor(server.url("/echo"));
    without.shouldHandleCookies = false;
    auto c3 = start(without);
    runToEnd();

    ASSERT_EQ(server.requests().size(), 3u);
    const auto& first = server.requests()[0].headers;
    const auto& second = server.requests()[1].headers;
    const auto& third = server.requests()[2].headers;
    EXPECT_NE(first.find("User-Agent"), first.end());  // a default one when none is set
    EXPECT_EQ(second.at("User-Agent"), "Mozilla/5.0 (Test)");
    EXPECT_EQ(second.at("Cookie"), "session=abc");
    EXPECT_EQ(second.count("X-Bad"), 0u);
    EXPECT_EQ(second.count("Injected"), 0u);
    EXPECT_EQ(third.count("Cookie"), 0u);
}

}  // namespace
