// URL loading against servers on loopback: redirects one by one, chunked
// bodies, conditional requests, error statuses, broken and slow servers, and
// cancellation from inside callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
using platform::URLRequest;

namespace {

class Recorder : public platform::URLConnectionDelegate {
public:
    std::vector<std::pair<std::string, int>> sent;  // URL, redirect status (0 for the first request)
    std::vector<HTTPURLResponse> responses;
    std::string body;
    int chunks = 0, finished = 0, callbacks = 0;
    std::vector<Error> failures;
    // Acting from inside a callback.
    std::function<bool(const HTTPURLResponse* redirect)> allowSend;
    std::function<void(URLConnection&)> onResponse, onData;

    std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& r,
                                                        const HTTPURLResponse* redirect) override {
        ++callbacks;
        sent.emplace_back(r.url.absoluteString(), redirect ? redirect->statusCode : 0);
        return !allowSend || allowSend(redirect) ? std::optional<URLRequest>(r) : std::nullopt;
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
    void connectionDidFinishLoading(URLConnection&) override { ++callbacks, ++finished; }
    void connectionDidFailWithError(URLConnection&, const Error& e) override {
        ++callbacks;
        failures.push_back(e);
    }
    bool ended() const { return finished + failures.size() > 0; }
    long failure() const { return failures.size() == 1 && !finished ? failures[0].code : 0; }
};

URLRequest requestFor(const std::string& text, double timeout = 60) {
    auto request = URLRequest(*URL::parse(text));
    request.timeoutInterval = timeout;
    return request;
}

class SoupConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { gtkBackend(); }

    // Starts with a fresh recorder; nothing may be said from inside start().
    std::shared_ptr<URLConnection> start(const URLRequest& request) {
        recorder = std::make_shared<Recorder>();
        auto connection = URLConnection::create(request, recorder);
        connection->start();
        EXPECT_EQ(recorder->callbacks, 0);
        return connection;
    }
    std::shared_ptr<URLConnection> run(const URLRequest& request) {
        auto connection = start(request);
        EXPECT_TRUE(spinUntil([&] { return recorder->ended(); }));
        return connection;
    }
    std::shared_ptr<URLConnection> run(const std::string& url) { return run(requestFor(url)); }

    std::shared_ptr<Recorder> recorder;
    TestHttpServer server;
};

// A chunked answer that trickles in, a piece every `gapSeconds`.
std::unique_ptr<RawTcpServer> trickle(const std::vector<std::string>& pieces, double gapSeconds = 0.01) {
    std::vector<std::string> answer{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nX-Test: one\r\nX-Test: two\r\n\r\n"};
    for (const std::string& piece : pieces) {
        char size[24];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        answer.push_back(size + piece + "\r\n");
    }
    answer.back() += "0\r\n\r\n";
    return std::make_unique<RawTcpServer>(answer, RawTcpServer::Ending::Close, gapSeconds);
}

TEST_F(SoupConnectionTest, ChunkedBodyArrivesWholeAfterTheResponse) {
    auto chunks = trickle({"alpha-", "beta-", "gamma"});
    auto c = run(chunks->url("/chunks"));
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 200);
    EXPECT_EQ(recorder->responses[0].url.absoluteString(), chunks->url("/chunks"));
    EXPECT_EQ(recorder->responses[0].headers.at("x-test"), "one, two");
    EXPECT_EQ(recorder->body, "alpha-beta-gamma");
    EXPECT_GE(recorder->chunks, 2);  // pieces are passed on as they come
    EXPECT_EQ(recorder->finished, 1);
    EXPECT_TRUE(recorder->failures.empty());
}

TEST_F(SoupConnectionTest, RedirectsAreShownOneRequestAtATimeAndMayBeRefused) {
    server.route("/r1", TestHttpServer::redirect("r2?x=1"));
    server.route("/r2", TestHttpServer::redirect(server.url("/final"), 301));
    server.route("/final", TestHttpServer::answer(200, "landed"));
    auto request = requestFor(server.url("/r1"));
    request.setValueForHTTPHeaderField("kept", "X-Custom");
    auto c = run(request);
    EXPECT_EQ(recorder->sent, (std::vector<std::pair<std::string, int>>{
                                  {server.url("/r1"), 0}, {server.url("/r2?x=1"), 302}, {server.url("/final"), 301}}));
    ASSERT_EQ(recorder->responses.size(), 1u);  // redirect answers are not "responses"
    EXPECT_EQ(recorder->responses[0].url.absoluteString(), server.url("/final"));
    EXPECT_EQ(recorder->body, "landed");
    ASSERT_EQ(server.requests().size(), 3u);
    EXPECT_EQ(server.requests()[2].headers.at("X-Custom"), "kept");

    // Refused: nothing more is said and nothing more is asked for.
    auto refused = start(requestFor(server.url("/r1")));
    recorder->allowSend = [](const HTTPURLResponse* redirect) { return !redirect; };
    ASSERT_TRUE(spinUntil([&] { return recorder->sent.size() == 2; }));
    spinFor(0.1);
    EXPECT_EQ(recorder->callbacks, 2);
    EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(SoupConnectionTest, OddRedirectTargetsAndLoopsFail) {
    // Another application's scheme: the delegate sees it first (and could
    // take it elsewhere); sent as it is, it fails as unsupported.
    server.route("/app", TestHttpServer::redirect("itms-apps://itunes.example/app/1"));
    auto c = run(server.url("/app"));
    ASSERT_EQ(recorder->sent.size(), 2u);
    EXPECT_EQ(recorder->sent[1].first, "itms-apps://itunes.example/app/1");
    EXPECT_EQ(recorder->failure(), platform::kURLErrorUnsupportedURL);

    server.route("/loop", TestHttpServer::redirect("/loop"));
    c = run(server.url("/loop"));
    ASSERT_EQ(recorder->failure(), platform::kURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(recorder->failures[0].domain, platform::kURLErrorDomain);
    EXPECT_EQ(std::count_if(server.requests().begin(), server.requests().end(), [](auto& r) { return r.path == "/loop"; }),
              platform::kMaximumRedirects + 1);

    // A Location that is no URL at all: the redirect answer is the answer.
    server.route("/bad", TestHttpServer::answer(301, "moved?", {{"Location", "http://[not a host"}}));
    c = run(server.url("/bad"));
    ASSERT_EQ(recorder->responses.size(), 1u);
    EXPECT_EQ(recorder->responses[0].statusCode, 301);
    EXPECT_EQ(recorder->body, "moved?");
    EXPECT_EQ(recorder->finished, 1);
}

TEST_F(SoupConnectionTest, NotModifiedAndErrorStatusesAreAnswers) {
    const std::string stamp = "Tue, 15 Nov 1994 12:45:26 GMT";
    server.route("/script.js", [&](SoupServerMessage* m, const TestHttpServer::Request& r) {
        auto since = r.headers.find("If-Modified-Since");
        if (since != r.headers.end() && since->second == stamp) return TestHttpServer::respond(m, 304);
        TestHttpServer::respond(m, 200, "fresh");
    });
    auto request = requestFor(server.url("/script.js"));
    request.setValueForHTTPHeaderField(stamp, "If-Modified-Since");
    for (auto [req, status, body] : {std::tuple{request, 304, ""}, {requestFor(server.url("/missing")), 404, "not found"}}) {
        SCOPED_TRACE(status);
        auto c = run(req);
        ASSERT_EQ(recorder->responses.size(), 1u);
        EXPECT_EQ(recorder->responses[0].statusCode, status);
        EXPECT_EQ(recorder->body, body);
        EXPECT_EQ(recorder->finished, 1);
        EXPECT_TRUE(recorder->failures.empty());
    }
}

TEST_F(SoupConnectionTest, BrokenServersAndUnreachableTargetsFailCleanly) {
    const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes";
    const std::string partialThenClose = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\nfirst bytes";
    const std::string partialOldServer = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes";
    using enum RawTcpServer::Ending;
    struct Case {
        std::string answer;
        RawTcpServer::Ending ending;
        long code;
        size_t responses;
    };
    for (const Case& k : {Case{partial, Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partial, Reset, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partialThenClose, Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{partialOldServer, Close, platform::kURLErrorNetworkConnectionLost, 1},
                          Case{"NOT HTTP AT ALL\r\n\r\n", Close, platform::kURLErrorBadServerResponse, 0},
                          Case{"", Close, platform::kURLErrorNetworkConnectionLost, 0}}) {
        SCOPED_TRACE(k.answer);
        RawTcpServer raw({k.answer}, k.ending);
        auto c = run(raw.url("/"));
        EXPECT_EQ(recorder->responses.size(), k.responses);
        EXPECT_EQ(recorder->failure(), k.code);
    }

    std::string closedPort = RawTcpServer({}).url("/");
    for (auto [url, code] : {std::pair{closedPort, platform::kURLErrorCannotConnectToHost},
                             {std::string("ftp://127.0.0.1/file"), platform::kURLErrorUnsupportedURL}}) {
        auto c = run(url);
        EXPECT_EQ(recorder->failure(), code) << url;
    }
}

TEST_F(SoupConnectionTest, TimeOutCountsSilenceOnceAndNotTheWholeTransfer) {
    RawTcpServer late({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, RawTcpServer::Ending::Close, 0.6);
    auto c = run(requestFor(late.url("/slow"), 0.2));
    EXPECT_EQ(recorder->failure(), platform::kURLErrorTimedOut);
    spinFor(0.8);  // the late answer comes and goes unseen
    EXPECT_EQ(recorder->callbacks, 2);

    // Eight pieces 100 ms apart take longer than the 0.5 s time-out in total,
    // but the server is never quiet for that long.
    auto steady = trickle({"1", "2", "3", "4", "5", "6", "7", "8"}, 0.1);
    c = run(requestFor(steady->url("/steady"), 0.5));
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(recorder->body, "12345678");
}

TEST_F(SoupConnectionTest, CancelledOrOrphanedConnectionsSayNothingMore) {
    // Before the first turn, dropped there, and with the delegate already gone.
    auto c = start(requestFor(server.url("/missing")));
    c->cancel();
    URLConnection::create(requestFor(server.url("/missing")), recorder)->start();
    auto orphan = URLConnection::create(requestFor(server.url("/missing")), std::make_shared<Recorder>());
    orphan->start();
    spinFor(0.2);
    EXPECT_EQ(recorder->callbacks, 0);

    // From the response callback, dropping the last reference too.
    auto chunks = trickle({"a", "b", "c"});
    c = start(requestFor(chunks->url("/chunks")));
    recorder->onResponse = [&](URLConnection& connection) {
        connection.cancel();
        connection.cancel();
        c.reset();
    };
    ASSERT_TRUE(spinUntil([&] { return !recorder->responses.empty(); }));
    spinFor(0.2);
    EXPECT_EQ(recorder->callbacks, 2);
    EXPECT_TRUE(recorder->body.empty());

    // From the first data callback.
    c = start(requestFor(chunks->url("/chunks")));
    recorder->onData = [](URLConnection& connection) { connection.cancel(); };
    ASSERT_TRUE(spinUntil([&] { return recorder->chunks == 1; }));
    spinFor(0.2);
    EXPECT_EQ(recorder->chunks, 1);
    EXPECT_FALSE(recorder->ended());
}

TEST_F(SoupConnectionTest, HeadersUserAgentAndCookies) {
    server.route("/set", TestHttpServer::answer(200, "", {{"Set-Cookie", "session=abc; Path=/"}}));
    auto c = run(server.url("/set"));
    auto withCookies = requestFor(server.url("/echo"));
    withCookies.setValueForHTTPHeaderField("Mozilla/5.0 (Test)", "User-Agent");
    withCookies.setValueForHTTPHeaderField("bad\r\nInjected: yes", "X-Bad");
    c = run(withCookies);
    auto without = requestFor(server.url("/echo"));
    without.shouldHandleCookies = false;
    c = run(without);

    ASSERT_EQ(server.requests().size(), 3u);
    const auto& first = server.requests()[0].headers;
    const auto& second = server.requests()[1].headers;
    EXPECT_NE(first.find("User-Agent"), first.end());  // a default one when none is set
    EXPECT_EQ(second.at("User-Agent"), "Mozilla/5.0 (Test)");
    EXPECT_EQ(second.at("Cookie"), "session=abc");
    EXPECT_EQ(second.count("X-Bad") + second.count("Injected"), 0u);
    EXPECT_EQ(server.requests()[2].headers.count("Cookie"), 0u);
}

}  // namespace
