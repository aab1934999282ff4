// What only scripted HTTP has: the rules of the real transport it imitates
// on redirects, and the scripted failures. The contract is in SimContractTest.
#include <gtest/gtest.h>

#include <string>

#include "contract/HttpContract.h"
#include "unit/support/SimTest.h"

using namespace platform;
using nimbra::contract::ConnectionRecorder;
using platform::sim::SimResponse;

class SimHttpTest : public SimTest {
protected:
    std::shared_ptr<ConnectionRecorder> fetch(URLRequest request) {
        auto recorder = std::make_shared<ConnectionRecorder>();
        auto connection = URLConnection::create(request, recorder);
        connection->start();
        sim().runUntilIdle();
        return recorder;
    }
    static URLRequest request(const std::string& url) { return URLRequest(*URL::parse(url)); }
};

TEST_F(SimHttpTest, RedirectsChangeMethodAndKeepCredentialsLikeTheRealTransport) {
    sim().http().route("http://a/click", SimResponse::redirect("/hop?x=1", 303));
    sim().http().route("http://a/hop?x=1", SimResponse::redirect("http://b/land", 307));
    sim().http().route("http://b/land", SimResponse::ok("landed"));
    auto post = request("http://a/click");
    post.httpMethod = "POST";
    post.setValueForHTTPHeaderField("UA/1", "User-Agent");
    post.setValueForHTTPHeaderField("secret", "Authorization");
    EXPECT_EQ(fetch(post)->body, "landed");
    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].method, "GET") << "303 turns a POST into a GET";
    EXPECT_EQ(sent[1].header("Authorization"), "secret");
    EXPECT_FALSE(sent[2].header("Authorization")) << "credentials stay on their own site";
    EXPECT_EQ(sent[2].header("user-agent"), "UA/1") << "other header fields follow the redirects";
}

TEST_F(SimHttpTest, AScriptedDropEndsTheBodyWithAFailure) {
    SimResponse r = SimResponse::ok("0123456789").inChunks(4);
    r.resetAfter = 6;
    sim().http().route("http://s/big", r);
    auto dropped = fetch(request("http://s/big"));
    EXPECT_EQ(dropped->body, "012345");
    EXPECT_EQ(dropped->failure(), kURLErrorNetworkConnectionLost);
    EXPECT_EQ(sim().http().inFlightCount(), 0u);
}
