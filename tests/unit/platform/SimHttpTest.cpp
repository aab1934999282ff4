#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support/SimTest.h"

using namespace platform;
using platform::sim::SimResponse;

namespace {

// Records every callback as a line, and can act from inside them.
class Recorder : public URLConnectionDelegate {
public:
    std::vector<std::string> events;
    std::string body;
    std::optional<Error> error;
    std::function<std::optional<URLRequest>(const URLRequest&, const HTTPURLResponse*)> onSend;
    std::function<void(URLConnection&)> onResponse;

    std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                        const HTTPURLResponse* redirect) override {
        events.push_back("send " + request.url.absoluteString() +
                         (redirect ? " after " + std::to_string(redirect->statusCode) : ""));
        if (onSend) return onSend(request, redirect);
        return request;
    }
    void connectionDidReceiveResponse(URLConnection& c, const HTTPURLResponse& r) override {
        events.push_back("response " + std::to_string(r.statusCode) + " " + r.url.absoluteString());
        if (onResponse) onResponse(c);
    }
    void connectionDidReceiveData(URLConnection&, std::string_view data) override {
        events.push_back("data " + std::string(data));
        body += data;
    }
    void connectionDidFinishLoading(URLConnection&) override { events.push_back("finish"); }
    void connectionDidFailWithError(URLConnection&, const Error& e) override {
        events.push_back("fail " + std::to_string(e.code));
        error = e;
    }
};

URLRequest request(const std::string& url) { return URLRequest(*URL::parse(url)); }

}  // namespace

class SimHttpTest : public SimTest {
protected:
    std::shared_ptr<URLConnection> fetch(const std::string& url, const std::shared_ptr<Recorder>& delegate) {
        auto c = URLConnection::create(request(url), delegate);
        c->start();
        return c;
    }
    std::shared_ptr<Recorder> rec = std::make_shared<Recorder>();
};

TEST_F(SimHttpTest, AnswerArrivesInChunksAfterStartReturns) {
    sim().http().route("http://s/x.js", SimResponse::ok("abcdefg", {{"Last-Modified", "Tue, 15 Nov 1994 12:45:26 GMT"}})
                                            .inChunks(3));
    auto c = fetch("http://s/x.js", rec);
    EXPECT_TRUE(rec->events.empty()) << "no callback from inside start()";
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://s/x.js", "response 200 http://s/x.js", "data abc",
                                                     "data def", "data g", "finish"}));
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(SimHttpTest, RedirectsAreOfferedOneByOneAndRecorded) {
    sim().http().route("http://a/click", SimResponse::redirect("/hop?x=1"));
    sim().http().route("http://a/hop?x=1", SimResponse::redirect("http://b/land", 301));
    sim().http().route("http://b/land", SimResponse::ok("landed"));
    auto r = request("http://a/click");
    r.setValueForHTTPHeaderField("UA/1", "User-Agent");
    auto c = URLConnection::create(r, rec);
    c->start();
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://a/click", "send http://a/hop?x=1 after 302",
                                                     "send http://b/land after 301", "response 200 http://b/land",
                                                     "data landed", "finish"}));
    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].url.absoluteString(), "http://a/hop?x=1");
    EXPECT_EQ(sent[2].header("user-agent"), "UA/1");
    EXPECT_EQ(sent[2].method, "GET");
    EXPECT_EQ(sim().http().countOf("http://a/"), 2u);
}

TEST_F(SimHttpTest, RefusingARedirectStopsSilently) {
    sim().http().route("http://a/click", SimResponse::redirect("http://b/"));
    rec->onSend = [](const URLRequest& r, const HTTPURLResponse* redirect) -> std::optional<URLRequest> {
        if (redirect) return std::nullopt;
        return r;
    };
    fetch("http://a/click", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://a/click", "send http://b/ after 302"}));
    EXPECT_EQ(sim().http().requests().size(), 1u) << "the refused request never went out";
}

TEST_F(SimHttpTest, TooManyRedirectsFail) {
    sim().http().routePrefix("http://loop/", [](const URLRequest& r) {
        return SimResponse::redirect(r.url.absoluteString() + "x");
    });
    fetch("http://loop/", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events.back(), "fail " + std::to_string(kURLErrorHTTPTooManyRedirects));
    EXPECT_EQ(sim().http().requests().size(), static_cast<size_t>(kMaximumRedirects) + 1);
}

TEST_F(SimHttpTest, FailuresUnknownURLsAndDroppedConnections) {
    fetch("http://nowhere/", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events.back(), "fail " + std::to_string(kURLErrorCannotConnectToHost));
    EXPECT_EQ(rec->error->domain, kURLErrorDomain);

    auto dropped = std::make_shared<Recorder>();
    SimResponse r = SimResponse::ok("0123456789").inChunks(4);
    r.resetAfter = 6;
    sim().http().route("http://s/big", r);
    fetch("http://s/big", dropped);
    sim().runUntilIdle();
    EXPECT_EQ(dropped->body, "012345");
    EXPECT_EQ(dropped->events.back(), "fail " + std::to_string(kURLErrorNetworkConnectionLost));

    auto notFound = std::make_shared<Recorder>();
    sim().http().route("http://s/missing", SimResponse::withStatus(404, "no"));
    fetch("http://s/missing", notFound);
    sim().runUntilIdle();
    EXPECT_EQ(notFound->events.back(), "finish") << "an HTTP error status is still an answer";
}

TEST_F(SimHttpTest, LatencyIsVirtualTime) {
    sim().http().route("http://s/slow", SimResponse::ok("x").after(2));
    fetch("http://s/slow", rec);
    sim().advance(1.999);
    EXPECT_EQ(rec->events, std::vector<std::string>{"send http://s/slow"});
    sim().advance(0.001);
    EXPECT_EQ(rec->events.back(), "finish");
}

TEST_F(SimHttpTest, NothingArrivesAfterCancel) {
    sim().http().route("http://s/a", SimResponse::ok("body"));
    rec->onResponse = [](URLConnection& c) {
        c.cancel();
        c.cancel();
    };
    fetch("http://s/a", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events.back(), "response 200 http://s/a");

    auto before = std::make_shared<Recorder>();
    auto c = fetch("http://s/a", before);
    c->cancel();
    sim().runUntilIdle();
    EXPECT_TRUE(before->events.empty());
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(SimHttpTest, ADelegateThatWentAwayHearsNothing) {
    sim().http().route("http://s/a", SimResponse::ok("body").after(1));
    std::weak_ptr<Recorder> weak;
    std::shared_ptr<URLConnection> c;
    {
        auto gone = std::make_shared<Recorder>();
        weak = gone;
        c = fetch("http://s/a", gone);
        sim().runUntilIdle();
    }
    EXPECT_TRUE(weak.expired());
    sim().advance(2);  // a call into the dead delegate would crash under sanitizers
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(SimHttpTest, HandlersSeeTheRequestAndExactRoutesWin) {
    sim().http().routePrefix("http://s/", SimResponse::ok("prefix"));
    sim().http().routePrefix("http://s/deep/", SimResponse::ok("longer"));
    sim().http().route("http://s/script.js", [](const URLRequest& r) {
        return r.valueForHTTPHeaderField("If-Modified-Since") ? SimResponse::withStatus(304) : SimResponse::ok("js");
    });
    auto conditional = request("http://s/script.js");
    conditional.setValueForHTTPHeaderField("Tue, 15 Nov 1994 12:45:26 GMT", "If-Modified-Since");
    auto a = std::make_shared<Recorder>(), b = std::make_shared<Recorder>(), d = std::make_shared<Recorder>();
    URLConnection::create(conditional, a)->start();
    fetch("http://s/deep/x", b);
    fetch("http://s/other", d);
    sim().runUntilIdle();
    EXPECT_EQ(a->events[1], "response 304 http://s/script.js");
    EXPECT_EQ(b->body, "longer");
    EXPECT_EQ(d->body, "prefix");
}

TEST_F(SimHttpTest, HeldRequestsWaitForARouteAddedLater) {
    sim().http().setHoldUnrouted(true);
    fetch("http://ad/markup?seq_num=1", rec);
    auto other = std::make_shared<Recorder>();
    fetch("http://elsewhere/", other);
    sim().advance(10);
    EXPECT_EQ(rec->events, std::vector<std::string>{"send http://ad/markup?seq_num=1"});
    ASSERT_EQ(sim().http().heldRequests().size(), 2u);

    sim().http().routePrefix("http://ad/", SimResponse::ok("<html/>").after(1));
    sim().advance(1);
    EXPECT_EQ(rec->body, "<html/>");
    EXPECT_EQ(sim().http().heldRequests().size(), 1u);

    sim().http().setHoldUnrouted(false);  // the rest take the default answer
    sim().runUntilIdle();
    EXPECT_EQ(other->events.back(), "fail " + std::to_string(kURLErrorCannotConnectToHost));
}

TEST_F(SimHttpTest, RedirectToAnotherSchemeOrSiteIsHandledLikeTheRealTransport) {
    sim().http().route("http://a/click", SimResponse::redirect("itms://store/app"));
    fetch("http://a/click", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://a/click", "send itms://store/app after 302",
                                                     "fail " + std::to_string(kURLErrorUnsupportedURL)}));
    EXPECT_EQ(sim().http().requests().size(), 1u) << "nothing but HTTP goes over the wire";

    sim().http().route("http://a/login", SimResponse::redirect("http://a/next", 303));
    sim().http().route("http://a/next", SimResponse::redirect("http://b/away", 307));
    sim().http().route("http://b/away", SimResponse::ok("done"));
    auto post = request("http://a/login");
    post.httpMethod = "POST";
    post.setValueForHTTPHeaderField("secret", "Authorization");
    auto poster = std::make_shared<Recorder>();
    URLConnection::create(post, poster)->start();
    sim().runUntilIdle();
    auto sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].method, "GET") << "303 turns a POST into a GET";
    EXPECT_EQ(sent[2].header("Authorization"), "secret");
    EXPECT_FALSE(sent[3].header("Authorization")) << "credentials stay on their own site";
}
