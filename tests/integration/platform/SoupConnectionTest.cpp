// What only libsoup has to get right, against servers on loopback: conditional
// requests, Location fields that are no URL, broken and slow servers, header
// fields and cookies. The transport's contract is in GtkContractTest.
#include <gtest/gtest.h>

#include "contract/HttpContract.h"
#include "integration/support/GtkDriver.h"

using namespace nimbra::test;

namespace {

class SoupConnectionTest : public ::testing::Test, protected nimbra::contract::ConnectionRuns<GtkDriver> {
protected:
    TestHttpServer& server = driver.server();
};

TEST_F(SoupConnectionTest, ConditionalRequestsAndLocationsThatAreNoURLGetTheirAnswer) {
    const std::string stamp = "Tue, 15 Nov 1994 12:45:26 GMT";
    server.route("/script.js", [&](SoupServerMessage* m, const TestHttpServer::Request& r) {
        auto since = r.headers.find("If-Modified-Since");
        if (since != r.headers.end() && since->second == stamp) return TestHttpServer::respond(m, 304);
        TestHttpServer::respond(m, 200, "fresh");
    });
    auto request = requestFor(server.url("/script.js"));
    request.setValueForHTTPHeaderField(stamp, "If-Modified-Since");
    // A Location that is no URL at all: the redirect answer is the answer.
    server.route("/bad", TestHttpServer::answer(301, "moved?", {{"Location", "http://[not a host"}}));
    for (auto [req, status, body] : {std::tuple{request, 304, ""}, {requestFor(server.url("/bad")), 301, "moved?"}}) {
        SCOPED_TRACE(status);
        auto c = run(req);
        ASSERT_EQ(recorder->responses.size(), 1u);
        EXPECT_EQ(recorder->responses[0].statusCode, status);
        EXPECT_EQ(recorder->body, body);
        EXPECT_EQ(recorder->finished, 1);
        EXPECT_TRUE(recorder->failures.empty());
    }
}

TEST_F(SoupConnectionTest, BrokenServersAndOtherSchemesFailCleanly) {
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
    auto c = run("ftp://127.0.0.1/file");
    EXPECT_EQ(recorder->failure(), platform::kURLErrorUnsupportedURL);
}

TEST_F(SoupConnectionTest, TimeOutCountsSilenceOnceAndNotTheWholeTransfer) {
    RawTcpServer late({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, RawTcpServer::Ending::Close, 0.6);
    auto c = run(requestFor(late.url("/slow"), 0.2));
    EXPECT_EQ(recorder->failure(), platform::kURLErrorTimedOut);
    spinFor(0.8);  // the late answer comes and goes unseen
    EXPECT_EQ(recorder->callbacks, 2);
    // Eight pieces 100 ms apart take longer than the 0.5 s time-out in total,
    // but the server is never quiet for that long.
    auto steady = RawTcpServer::chunked({"1", "2", "3", "4", "5", "6", "7", "8"}, {}, 0.1);
    c = run(requestFor(steady->url("/steady"), 0.5));
    EXPECT_TRUE(recorder->failures.empty());
    EXPECT_EQ(recorder->body, "12345678");
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
