#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support/SimTest.h"

using namespace platform;
using platform::sim::SimResponse;

namespace {

// Records every callback as a line; can refuse redirects or cancel on the response.
class Recorder : public URLConnectionDelegate {
public:
    std::vector<std::string> events;
    std::string body;
    bool refuseRedirects = false, cancelOnResponse = false;

    std::optional<URLRequest> connectionWillSendRequest(URLConnection&, const URLRequest& request,
                                                        const HTTPURLResponse* redirect) override {
        events.push_back("send " + request.url.absoluteString() +
                         (redirect ? " after " + std::to_string(redirect->statusCode) : ""));
        if (redirect && refuseRedirects) return std::nullopt;
        return request;
    }
    void connectionDidReceiveResponse(URLConnection& c, const HTTPURLResponse& r) override {
        events.push_back("response " + std::to_string(r.statusCode) + " " + r.url.absoluteString());
        if (cancelOnResponse) {
            c.cancel();
            c.cancel();  // twice is harmless
        }
    }
    void connectionDidReceiveData(URLConnection&, std::string_view data) override {
        events.push_back("data " + std::string(data));
        body += data;
    }
    void connectionDidFinishLoading(URLConnection&) override { events.push_back("finish"); }
    void connectionDidFailWithError(URLConnection&, const Error& e) override {
        events.push_back("fail " + std::to_string(e.code));
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
    sim().http().route("http://s/x.js", SimResponse::ok("abcdefg").inChunks(3));
    fetch("http://s/x.js", rec);
    EXPECT_TRUE(rec->events.empty()) << "no callback from inside start()";
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://s/x.js", "response 200 http://s/x.js", "data abc",
                                                     "data def", "data g", "finish"}));
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}

TEST_F(SimHttpTest, RedirectsAreOfferedOneByOneAndFollowedLikeTheRealTransport) {
    sim().http().route("http://a/click", SimResponse::redirect("/hop?x=1", 303));
    sim().http().route("http://a/hop?x=1", SimResponse::redirect("http://b/land", 307));
    sim().http().route("http://b/land", SimResponse::ok("landed"));
    auto post = request("http://a/click");
    post.httpMethod = "POST";
    post.setValueForHTTPHeaderField("UA/1", "User-Agent");
    post.setValueForHTTPHeaderField("secret", "Authorization");
    URLConnection::create(post, rec)->start();
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://a/click", "send http://a/hop?x=1 after 303",
                                                     "send http://b/land after 307", "response 200 http://b/land",
                                                     "data landed", "finish"}));
    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].method, "GET") << "303 turns a POST into a GET";
    EXPECT_EQ(sent[1].header("Authorization"), "secret");
    EXPECT_FALSE(sent[2].header("Authorization")) << "credentials stay on their own site";
    EXPECT_EQ(sent[2].header("user-agent"), "UA/1") << "other header fields follow the redirects";
}

TEST_F(SimHttpTest, RefusingARedirectStopsSilently) {
    sim().http().route("http://a/click", SimResponse::redirect("http://b/"));
    rec->refuseRedirects = true;
    fetch("http://a/click", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events, (std::vector<std::string>{"send http://a/click", "send http://b/ after 302"}));
    EXPECT_EQ(sim().http().requests().size(), 1u) << "the refused request never went out";
}

TEST_F(SimHttpTest, RedirectLoopsAndOtherSchemesFail) {
    sim().http().routePrefix("http://loop/", [](const URLRequest& r) {
        return SimResponse::redirect(r.url.absoluteString() + "x");
    });
    fetch("http://loop/", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events.back(), "fail " + std::to_string(kURLErrorHTTPTooManyRedirects));
    EXPECT_EQ(sim().http().requests().size(), static_cast<size_t>(kMaximumRedirects) + 1);

    auto store = std::make_shared<Recorder>();
    sim().http().route("http://a/click", SimResponse::redirect("itms://store/app"));
    fetch("http://a/click", store);
    sim().runUntilIdle();
    EXPECT_EQ(store->events, (std::vector<std::string>{"send http://a/click", "send itms://store/app after 302",
                                                       "fail " + std::to_string(kURLErrorUnsupportedURL)}));
    EXPECT_EQ(sim().http().requests().size(), static_cast<size_t>(kMaximumRedirects) + 2)
        << "nothing but HTTP goes over the wire";
}

TEST_F(SimHttpTest, FailuresUnknownURLsAndDroppedConnections) {
    fetch("http://nowhere/", rec);
    sim().runUntilIdle();
    EXPECT_EQ(rec->events.back(), "fail " + std::to_string(kURLErrorCannotConnectToHost));

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

TEST_F(SimHttpTest, NothingArrivesAfterCancel) {
    sim().http().route("http://s/a", SimResponse::ok("body"));
    rec->cancelOnResponse = true;
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
