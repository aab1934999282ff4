// What only libsoup has to get right, against servers on loopback: broken and
// slow servers, answers to conditional requests, Location fields that are no
// URL, header fields and cookies. The transport's contract is in
// GtkContractTest.
#include <gtest/gtest.h>

#include "contract/HttpContract.h"
#include "integration/support/GtkDriver.h"

using namespace nimbra::test;

namespace {

class SoupConnectionTest : public ::testing::Test, protected nimbra::contract::ConnectionRuns<GtkDriver> {
protected:
    TestHttpServer& server = driver.server();
};

// A broken server fails cleanly; an odd answer is an answer.
TEST_F(SoupConnectionTest, EachServerAnswerEndsAsItShould) {
    const std::string partial = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes";
    struct Case {
        std::string answer;
        long code;
        size_t responses;
    };
    for (const Case& k :
         {Case{partial, platform::kURLErrorNetworkConnectionLost, 1},
          Case{"NOT HTTP AT ALL\r\n\r\n", platform::kURLErrorBadServerResponse, 0},
          Case{"", platform::kURLErrorNetworkConnectionLost, 0},
          // A 304 reaches the caller: no cache of libsoup's stands in.
          Case{"HTTP/1.1 304 Not Modified\r\n\r\n", 0, 1},
          // A Location that is no URL at all: the redirect answer is the answer.
          Case{"HTTP/1.1 301 Moved\r\nLocation: http://[not a host\r\nContent-Length: 0\r\n\r\n", 0, 1}}) {
        SCOPED_TRACE(k.answer);
        RawTcpServer raw({k.answer});
        auto c = run(raw.url("/"));
        EXPECT_EQ(recorder->responses.size(), k.responses);
        EXPECT_EQ(recorder->failure(), k.code);
    }
}

// Once, and never the whole transfer.
TEST_F(SoupConnectionTest, TheTimeOutCountsSilence) {
    RawTcpServer late({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, 0.6);
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

// The User-Agent given, the session's cookies unless refused, and no header
// field that would break the request.
TEST_F(SoupConnectionTest, RequestsCarryTheirHeaderFields) {
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
    const auto& second = server.requests()[1].headers;
    EXPECT_EQ(second.at("User-Agent"), "Mozilla/5.0 (Test)");
    // (Other tests' servers on this host may have left cookies of their own.)
    EXPECT_NE(second.at("Cookie").find("session=abc"), std::string::npos);
    EXPECT_EQ(second.count("X-Bad") + second.count("Injected"), 0u);
    EXPECT_EQ(server.requests()[2].headers.count("Cookie"), 0u);
}

}  // namespace
