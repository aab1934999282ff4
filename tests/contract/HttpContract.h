#pragma once
// What every backend's URL loading promises: the answer with its status and
// header fields, the body in pieces, redirects offered one by one and
// refusable, failures as values, and silence after cancel.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

#include "contract/Driver.h"

namespace nimbra::contract {

// Records every callback; may act from inside one.
class ConnectionRecorder : public platform::URLConnectionDelegate {
public:
    std::vector<std::pair<std::string, int>> sent;  // URL, redirect status (0 for the first request)
    std::vector<platform::HTTPURLResponse> responses;
    std::string body;
    int chunks = 0, finished = 0, callbacks = 0;
    std::vector<platform::Error> failures;
    bool refuseRedirects = false;
    std::function<void(platform::URLConnection&)> onResponse, onData;
    std::optional<platform::URLRequest> connectionWillSendRequest(platform::URLConnection&,
                                                                  const platform::URLRequest& r,
                                                                  const platform::HTTPURLResponse* redirect) override {
        ++callbacks;
        sent.emplace_back(r.url.absoluteString(), redirect ? redirect->statusCode : 0);
        return redirect && refuseRedirects ? std::nullopt : std::optional(r);
    }
    void connectionDidReceiveResponse(platform::URLConnection& c, const platform::HTTPURLResponse& r) override {
        ++callbacks;
        responses.push_back(r);
        if (onResponse) onResponse(c);
    }
    void connectionDidReceiveData(platform::URLConnection& c, std::string_view data) override {
        ++callbacks, ++chunks;
        body.append(data);
        if (onData) onData(c);
    }
    void connectionDidFinishLoading(platform::URLConnection&) override { ++callbacks, ++finished; }
    void connectionDidFailWithError(platform::URLConnection&, const platform::Error& e) override {
        ++callbacks;
        failures.push_back(e);
    }
    bool ended() const { return finished + failures.size() > 0; }
    long failure() const { return failures.size() == 1 && !finished ? failures[0].code : 0; }
};

// Runs connections on a loop, each with a fresh recorder.
template <typename Loop>
class ConnectionRuns {
protected:
    // Nothing may be said from inside start().
    std::shared_ptr<platform::URLConnection> start(const platform::URLRequest& request) {
        recorder = std::make_shared<ConnectionRecorder>();
        auto connection = platform::URLConnection::create(request, recorder);
        connection->start();
        EXPECT_EQ(recorder->callbacks, 0);
        return connection;
    }
    std::shared_ptr<platform::URLConnection> run(const platform::URLRequest& request) {
        auto connection = start(request);
        EXPECT_TRUE(driver.runUntil([&] { return recorder->ended(); }));
        return connection;
    }
    std::shared_ptr<platform::URLConnection> run(const std::string& url) { return run(requestFor(url)); }
    static platform::URLRequest requestFor(const std::string& url, double timeout = 60) {
        platform::URLRequest request(*platform::URL::parse(url));
        request.timeoutInterval = timeout;
        return request;
    }
    Loop driver;
    std::shared_ptr<ConnectionRecorder> recorder;
};

template <typename Driver>
class HttpContract : public ::testing::Test, protected ConnectionRuns<Driver> {};
TYPED_TEST_SUITE_P(HttpContract);

// The status, the header fields and the body, in pieces as they come.
TYPED_TEST_P(HttpContract, AnswersArePassedOnAsTheyCome) {
    auto& d = this->driver;
    const std::string pieces = d.serveInPieces("/pieces", {"alpha-", "beta-", "gamma"}, {{"X-Test", "one"}});
    auto c = this->run(pieces);
    const auto& r = *this->recorder;
    ASSERT_EQ(r.responses.size(), 1u);
    EXPECT_EQ(r.responses[0].statusCode, 200);
    EXPECT_EQ(r.responses[0].headers.at("x-test"), "one");
    EXPECT_EQ(r.body, "alpha-beta-gamma");
    EXPECT_GE(r.chunks, 2) << "pieces are passed on as they come";
    EXPECT_EQ(std::pair(r.finished, r.callbacks), std::pair(1, 3 + r.chunks)) << "request, answer, pieces, end";
}

// Each may be refused.
TYPED_TEST_P(HttpContract, RedirectsAreOfferedOneByOne) {
    auto& d = this->driver;
    d.redirect("/r1", "r2?x=1");
    d.redirect("/r2", d.url("/final"), 301);
    d.serve("/final", 200, "landed");
    auto request = this->requestFor(d.url("/r1"));
    request.setValueForHTTPHeaderField("kept", "X-Custom");
    auto c = this->run(request);
    EXPECT_EQ(this->recorder->sent, (std::vector<std::pair<std::string, int>>{
                                        {d.url("/r1"), 0}, {d.url("/r2?x=1"), 302}, {d.url("/final"), 301}}));
    ASSERT_EQ(this->recorder->responses.size(), 1u) << "redirect answers are not responses";
    EXPECT_EQ(this->recorder->responses[0].url.absoluteString(), d.url("/final"));
    EXPECT_EQ(d.seen().at(2).headers.at("X-Custom"), "kept") << "header fields follow the redirects";
    // Refused: nothing more is said and nothing more is asked for.
    c = this->start(this->requestFor(d.url("/r1")));
    this->recorder->refuseRedirects = true;
    ASSERT_TRUE(d.runUntil([&] { return this->recorder->sent.size() == 2; }));
    d.runFor(0.1);
    EXPECT_EQ(this->recorder->callbacks, 2);
    EXPECT_EQ(d.seen().size(), 4u);
}

// An unreachable server, a redirect loop, another application's scheme (which
// the delegate sees first, and could take elsewhere): one failure each.
TYPED_TEST_P(HttpContract, FailuresAreValues) {
    auto& d = this->driver;
    d.redirect("/loop", "/loop");
    d.redirect("/app", "itms-apps://store.example/app/1");
    const std::pair<std::string, long> cases[] = {{d.unreachableURL(), platform::kURLErrorCannotConnectToHost},
                                                  {d.url("/loop"), platform::kURLErrorHTTPTooManyRedirects},
                                                  {d.url("/app"), platform::kURLErrorUnsupportedURL}};
    for (const auto& [url, code] : cases) {
        auto c = this->run(url);
        EXPECT_EQ(this->recorder->failure(), code) << url;
    }
    EXPECT_EQ(this->recorder->sent.at(1).first, "itms-apps://store.example/app/1");
}

TYPED_TEST_P(HttpContract, CancelledOrOrphanedConnectionsSayNothingMore) {
    auto& d = this->driver;
    const std::string pieces = d.serveInPieces("/pieces", {"a", "b", "c"});
    // Before the first turn, dropped there, and with the delegate already gone.
    auto c = this->start(this->requestFor(pieces));
    c->cancel();
    platform::URLConnection::create(this->requestFor(pieces), this->recorder)->start();
    auto orphan = platform::URLConnection::create(this->requestFor(pieces), std::make_shared<ConnectionRecorder>());
    orphan->start();
    d.runFor(0.2);  // a call into the dead delegate would crash under sanitizers
    EXPECT_EQ(this->recorder->callbacks, 0);
    // From the response callback, dropping the last reference too.
    c = this->start(this->requestFor(pieces));
    this->recorder->onResponse = [&](platform::URLConnection& connection) { connection.cancel(), c.reset(); };
    ASSERT_TRUE(d.runUntil([&] { return !this->recorder->responses.empty(); }));
    d.runFor(0.2);
    EXPECT_EQ(this->recorder->callbacks, 2) << "the request and the answer, no piece";
    // From the first piece.
    c = this->start(this->requestFor(pieces));
    this->recorder->onData = [](platform::URLConnection& connection) { connection.cancel(); };
    ASSERT_TRUE(d.runUntil([&] { return this->recorder->chunks == 1; }));
    d.runFor(0.2);
    EXPECT_EQ(this->recorder->callbacks, 3) << "the request, the answer and one piece";
}

REGISTER_TYPED_TEST_SUITE_P(HttpContract, AnswersArePassedOnAsTheyCome, RedirectsAreOfferedOneByOne, FailuresAreValues,
                            CancelledOrOrphanedConnectionsSayNothingMore);

}  // namespace nimbra::contract
