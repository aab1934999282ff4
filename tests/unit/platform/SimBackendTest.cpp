// What only the sim backend has, beyond the contract it shares with the real
// one (SimContractTest): virtual time, scripted HTTP rules and drops, pages
// that tests navigate, the defaults' disk copy, the reset between tests,
// recorded URLs and the captured log.
#include <unistd.h>

#include <fstream>

#include "Utility/ZELIdentifierUtilities.h"
#include "contract/HttpContract.h"
#include "contract/WebViewContract.h"
#include "unit/support/SimTest.h"

using namespace platform;
using nimbra::contract::PageRecorder;
using platform::sim::SimResponse;
using platform::sim::SimWebViewPeer;

using SimBackendTest = SimTest;

TEST_F(SimBackendTest, VirtualTimeMovesOnlyWhenTurnedAndResetDropsWhatIsPending) {
    auto& clock = sim().clock();
    auto& loop = sim().runLoop();
    clock.setUnixTime(784903526);
    clock.setMonotonicSeconds(50);
    bool flag = false;
    loop.postDelayedTask(5, [&] { flag = true; });
    EXPECT_FALSE(loop.runUntil([&] { return flag; }, 4, 0.01)) << "gives up at the virtual deadline";
    EXPECT_TRUE(loop.runUntil([&] { return flag; }, 2));
    EXPECT_DOUBLE_EQ(clock.monotonicSeconds(), 55);
    loop.advance(1.5);
    EXPECT_DOUBLE_EQ(Date::now().unixTime(), 784903532.5);
    EXPECT_DOUBLE_EQ(Date::fromUnixTime(784903542.5).timeIntervalSinceNow(), 10);
    int ticks = 0;
    RepeatingTimer every;
    every.start(1, [&] { ++ticks; });
    loop.advance(29.999);
    loop.advance(0.001);
    EXPECT_EQ(ticks, 30) << "steps add up exactly";
    ASSERT_TRUE(std::ofstream(*Paths::current().cachesDirectory() + "/leftover") << "x");
    sim().paths().setCachesAvailable(false);
    sim().paths().setBundleVersion(std::nullopt);
    sim().reset();
    loop.advance(3);
    EXPECT_EQ(ticks, 30) << "reset drops every timer";
    EXPECT_FALSE(every.isRunning());
    EXPECT_FALSE(std::ifstream(*Paths::current().cachesDirectory() + "/leftover")) << "and empties the files area";
    EXPECT_EQ(Paths::current().bundleVersion(), "1.0");
}

TEST_F(SimBackendTest, HttpRedirectsFollowTheRealTransportsRulesAndScriptedDropsCutTheBody) {
    sim().http().route("http://a/click", SimResponse::redirect("/hop?x=1", 303));
    sim().http().route("http://a/hop?x=1", SimResponse::redirect("http://b/land", 307));
    SimResponse dropped = SimResponse::ok("0123456789").inChunks(4);
    dropped.resetAfter = 6;
    sim().http().route("http://b/land", dropped);
    URLRequest post(*URL::parse("http://a/click"));
    post.httpMethod = "POST";
    post.setValueForHTTPHeaderField("UA/1", "User-Agent");
    post.setValueForHTTPHeaderField("secret", "Authorization");
    auto recorder = std::make_shared<nimbra::contract::ConnectionRecorder>();
    auto connection = URLConnection::create(post, recorder);
    connection->start();
    sim().runUntilIdle();
    EXPECT_EQ(recorder->body, "012345");
    EXPECT_EQ(recorder->failure(), kURLErrorNetworkConnectionLost);
    const auto& sent = sim().http().requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].method, "GET") << "303 turns a POST into a GET";
    EXPECT_EQ(sent[1].header("Authorization"), "secret");
    EXPECT_FALSE(sent[2].header("Authorization")) << "credentials stay on their own site";
    EXPECT_EQ(sent[2].header("user-agent"), "UA/1") << "other header fields follow the redirects";
}

TEST_F(SimBackendTest, PagesThatTestsNavigate) {
    auto web = std::make_shared<WebView>(Rect(0, 0, 320, 50));
    auto delegate = std::make_shared<PageRecorder>();
    web->setDelegate(delegate);
    auto* peer = SimWebViewPeer::of(*web);
    web->loadRequest(URLRequest(*URL::parse("http://a/1")));
    sim().runUntilIdle();
    EXPECT_TRUE(peer->navigate("http://a/2", NavigationType::LinkClicked));
    ASSERT_EQ(delegate->fails.size(), 1u);
    EXPECT_EQ(delegate->fails[0].code, kURLErrorCancelled) << "the interrupted load fails as cancelled";
    EXPECT_EQ(delegate->starts, 2);
    EXPECT_FALSE(peer->navigate("qmsg://x/close", NavigationType::LinkClicked));
    ASSERT_TRUE(peer->finishLoad());
    EXPECT_FALSE(peer->finishLoad()) << "only a load in progress can finish";
    EXPECT_TRUE(peer->navigate("http://frame/", NavigationType::Other, false));
    EXPECT_EQ(web->request()->url.absoluteString(), "http://a/2") << "a subframe does not change the page";
    // An owner that releases its view when the page starts: nothing may touch
    // it afterwards, neither the pending behaviour nor auto-finish.
    struct Dropper : PageRecorder {
        std::shared_ptr<WebView>* web = nullptr;
        void webViewDidStartLoad(WebView&) override { web->reset(); }
    };
    auto dropper = std::make_shared<Dropper>();
    dropper->web = &web;
    web = std::make_shared<WebView>(Rect(0, 0, 320, 50));
    web->setDelegate(dropper);
    int behaviourRuns = 0;
    sim().web().setPageBehaviour([&](SimWebViewPeer&, const sim::SimWebLoad&) { ++behaviourRuns; });
    sim().web().setAutoFinish(true);
    web->loadRequest(URLRequest(*URL::parse("http://b/")));
    sim().runUntilIdle();
    EXPECT_EQ(web, nullptr);
    EXPECT_EQ(behaviourRuns, 0);
}

// Registered values answer for empty keys and never reach the disk copy.
TEST_F(SimBackendTest, DefaultsSurviveARestartOnlyAfterSynchronize) {
    auto& defaults = UserDefaults::standard();
    defaults.registerDefaults({{"AppleLanguages", Array{"es-ES", "en"}}});
    EXPECT_EQ(ZELIdentifierUtilities().locale(), "es-es");
    defaults.setObject(Array{"pt-PT"}, "AppleLanguages");
    EXPECT_EQ(ZELIdentifierUtilities().locale(), "pt-pt");
    defaults.removeObject("AppleLanguages");
    defaults.setObject(Value(Dictionary{{"n", 1}}), "kept");
    ASSERT_TRUE(defaults.synchronize());
    defaults.setObject(Value(2), "lost");
    defaults.removeObject("kept");
    sim().userDefaults().simulateRestart();
    EXPECT_EQ(defaults.objectForKey("kept"), Value(Dictionary{{"n", 1}}));
    EXPECT_FALSE(defaults.objectForKey("lost"));
    EXPECT_EQ(defaults.objectForKey("AppleLanguages"), Value(Array{"es-ES", "en"})) << "the registered value answers again";
    sim().userDefaults().setSynchronizeFails(true);
    defaults.setObject(Value("new"), "kept");
    EXPECT_FALSE(defaults.synchronize());
    sim().userDefaults().simulateRestart();
    EXPECT_EQ(defaults.objectForKey("kept"), Value(Dictionary{{"n", 1}})) << "a failed write keeps the old copy";
    defaults.registerDefaults({{"AppleLanguages", Array{}}});
}

TEST_F(SimBackendTest, ServicesUnderTestControl) {
    int calls = 0;
    auto watch = Reachability::create("x");
    ASSERT_TRUE(watch && watch->start([&](uint32_t) { ++calls; }));
    watch.reset();  // destroyed before delivery: hears nothing
    sim().runUntilIdle();
    EXPECT_EQ(calls, 0);
    auto& app = Application::shared();
    EXPECT_TRUE(app.canOpenURL(*URL::parse("HTTP://x/")));
    EXPECT_FALSE(app.openURL(*URL::parse("itms://x/")));
    sim().application().setOpenableSchemes({"ITMS"});
    EXPECT_TRUE(app.openURL(*URL::parse("itms://x/")));
    EXPECT_FALSE(app.canOpenURL(*URL::parse("http://x/")));
    ASSERT_EQ(sim().application().openedURLs().size(), 1u);
    EXPECT_EQ(sim().application().openedURLs()[0].absoluteString(), "itms://x/");
    sim().clock().setUnixTime(784903526.25);
    log("<Nimbra> hello");
    std::vector<std::string> sunk;
    setLogSink([&](std::string_view l) { sunk.emplace_back(l); });
    log("to the sink");
    setLogSink(nullptr);
    const auto lines = sim().logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(sunk.size(), 1u);
    // "YYYY-MM-DD HH:MM:SS.mmm name[pid] text"; the hour depends on the zone.
    EXPECT_EQ(lines[0].substr(0, 8), "1994-11-");
    EXPECT_EQ(lines[0].substr(19, 4), ".250");
    EXPECT_NE(lines[0].find("[" + std::to_string(getpid()) + "] <Nimbra> hello"), std::string::npos) << lines[0];
}
