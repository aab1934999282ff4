// The ad controller's parts on their own: when the next ad comes, what the
// ad's headers say, what the support-script store hands over and the ad URL
// an answer gives. (The 16 URLs kept per header, the trackers let go and the
// request that cannot break out of its script element are the faults and
// banner load tests' on the real stack.)

#include "Network/ZELCacheFolder.h"
#include "Object/ZELAdResponse.h"
#include "Object/ZELAdURLBuilder.h"
#include "Object/ZELReloadScheduler.h"
#include "Object/ZELSupportScript.h"
#include "Statistics/ZELStatisticsCore.h"
#include "Utility/ZELServerAddresses.h"
#include "ViewController/ZELFullScreenAdScreen.h"
#include "platform/Files.h"
#include "platform/NotificationCenter.h"
#include "unit/support/SimTest.h"

using platform::sim::SimResponse;
using URLs = std::vector<platform::URL>;

namespace {

class ReloadSchedulerTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        scheduler.setVisible(true);
    }
    // The reloads in the next `seconds`.
    int reloadsAfter(double seconds) {
        reloads = 0;
        sim().advance(seconds);
        return reloads;
    }
    int reloads = 0;
    ZELReloadScheduler scheduler{[this] { ++reloads; }};
};

// Until a later rate or activation; rates under a second, negative ones and
// the markup's own schedule are the faults and banner tests'.
TEST_F(ReloadSchedulerTest, ARateOfZeroStopsReloadingButKeepsTheLastInterval) {
    scheduler.schedule(12.5);
    scheduler.schedule(0);
    EXPECT_FALSE(scheduler.isScheduled());
    EXPECT_EQ(scheduler.interval(), 12.5);
}

// The application in the background, and full-screen ad screens (which can
// stack), hold the reload; when the last hold ends the full interval starts
// again.
TEST_F(ReloadSchedulerTest, AHoldRestartsTheFullIntervalWhenItEnds) {
    auto& center = platform::NotificationCenter::defaultCenter();
    int screen = 0, screenOverIt = 0;
    auto& application = sim().application();
    // clang-format off
    const std::pair<std::function<void()>, std::function<void()>> holds[] = {
        {[&] { application.setApplicationState(platform::ApplicationState::Background); },
         [&] { application.setApplicationState(platform::ApplicationState::Active); }},
        {[&] { center.post(ZELViewControllerWillPresentFullScreen, &screen);
               center.post(ZELViewControllerWillPresentFullScreen, &screenOverIt);
               center.post(ZELViewControllerDidRelinquishFullScreen, &screenOverIt); },
         [&] { center.post(ZELViewControllerDidRelinquishFullScreen, &screen); }},
    };
    // clang-format on
    for (const auto& [hold, release] : holds) {
        scheduler.schedule(30);
        sim().advance(20);
        hold();
        EXPECT_EQ(reloadsAfter(100), 0);
        release();
        EXPECT_EQ(reloadsAfter(29), 0);
        EXPECT_EQ(reloadsAfter(1.5), 1);
    }
}

// Hidden 20 s into a 30 s interval: the timer waits, and goes on with what
// is left when the banner is seen again (at once when it ran out), unless the
// banner reloads while hidden.
TEST_F(ReloadSchedulerTest, WhileHiddenTheTimerWaitsForWhatIsLeft) {
    // Reloads while hidden, and seconds from being seen to the next reload.
    // clang-format off
    const struct { double hiddenFor; bool reloadsWhileHidden; int whileHidden; double seenThenNext; } cases[] = {
        {100, false, 0, 0}, {5, false, 0, 5}, {100, true, 1, 30}};
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hiddenFor + 1000 * c.reloadsWhileHidden);
        reloads = 0;
        scheduler.setReloadsWhileHidden(c.reloadsWhileHidden);
        scheduler.schedule(30);
        sim().advance(20);
        scheduler.setVisible(false);
        sim().advance(c.hiddenFor);
        EXPECT_EQ(reloads, c.whileHidden);
        if (c.whileHidden) scheduler.schedule(30);  // as the reload's load would
        scheduler.setVisible(true);
        if (c.seenThenNext > 0) sim().advance(c.seenThenNext - 0.1);
        EXPECT_EQ(reloads, c.whileHidden);
        sim().advance(0.2);
        EXPECT_EQ(reloads, c.whileHidden + 1);
        scheduler.deactivate();
    }
}

// A server that cannot be reached: 5 s, doubling to 5 min, and the first
// step again once it answered; the server's own schedule when it comes
// sooner; at once when the network comes back; only while seen.
TEST_F(ReloadSchedulerTest, AnUnreachableServerIsTriedAgainAfterABackOff) {
    std::vector<double> waits;
    for (int i = 0; i < 8; ++i) waits.push_back(scheduler.retryAfterUnreachable());
    EXPECT_EQ(waits, (std::vector<double>{5, 10, 20, 40, 80, 160, 300, 300}));
    scheduler.serverReached();
    scheduler.deactivate();
    EXPECT_EQ(scheduler.retryAfterUnreachable(), 5);
    EXPECT_EQ(reloadsAfter(4.9), 0);
    EXPECT_EQ(reloadsAfter(0.2), 1);
    scheduler.schedule(2);
    scheduler.retryAfterUnreachable();
    EXPECT_EQ(reloadsAfter(1.9), 0);
    EXPECT_EQ(reloadsAfter(0.2), 1);
    // The application back in front: at once.
    scheduler.retryAfterUnreachable();
    sim().application().setApplicationState(platform::ApplicationState::Background);
    EXPECT_EQ(reloadsAfter(100), 0);
    sim().application().setApplicationState(platform::ApplicationState::Active);
    EXPECT_EQ(reloadsAfter(0), 1);
    // The network comes back: at once; hidden, when next seen.
    for (bool hidden : {false, true}) {
        SCOPED_TRACE(hidden);
        sim().network().setFlags(0);
        sim().runUntilIdle();
        scheduler.setVisible(!hidden);
        scheduler.retryAfterUnreachable();
        sim().network().setFlags(platform::kReachabilityFlagReachable);
        EXPECT_EQ(reloadsAfter(0), hidden ? 0 : 1);
        scheduler.setVisible(true);
        EXPECT_EQ(reloadsAfter(0), hidden ? 1 : 0);
    }
}

TEST(ZELAdResponseTest, HeadersReadAsOneValue) {
    const auto response = ZELAdResponse::fromHeaders(
        {{"X-Ruma-Tracking-Urls", "http://a.test/1  http://a.test/2 \thttp://[zz]/ http://a.test/3"},
         {"X-Ruma-Orientation", "Portrait"},
         {"X-Ruma-Interstitial-Timeout", "7.5"},
         {"X-Ruma-Refresh-Rate", "soon"}});
    EXPECT_EQ(response.trackingURLs, (URLs{url("http://a.test/1"), url("http://a.test/2"), url("http://a.test/3")}));
    EXPECT_TRUE(response.clickURLs.empty());
    EXPECT_EQ(response.orientation, kZELOrientationUnset) << "names compare exactly";
    EXPECT_EQ(response.interstitialTimeout, 7.5);
    EXPECT_EQ(response.refreshRate, 0.0) << "a rate that is no number stops reloading";
    EXPECT_FALSE(ZELAdResponse::fromHeaders({{"X-Ruma-Refresh-Rate", ""}}).refreshRate) << "empty: the last rate";
}

struct ScriptClient : ZELSupportScriptClient {
    std::vector<std::string> heard;  // what ended each ensure()
    void supportScriptWillFetch() override {}
    void supportScriptIsReady(const std::string& script) override { heard.push_back("ready " + script); }
    void supportScriptFetchFailed(const std::optional<std::string>& stored,
                                  const std::optional<platform::Error>& error) override {
        heard.push_back("failed, stored " + stored.value_or("none") + (error ? " " + std::to_string(error->code) : ""));
    }
    void supportScriptRedirected(const ZELCachedFile&) override {}
};

// What the store hands over, and whether it asked the server (and how).
// Only an answer of the server makes the copy fresh for a day.
using SupportScriptTest = SimTest;

TEST_F(SupportScriptTest, WhatTheStoreHandsOver) {
    auto& sim = this->sim();
    enum Asked { No, Whole, IfModified };
    // expiresIn: seconds from now, 0 for no date. A copy that cannot be read
    // is nothing to revalidate: a 304 would keep it.
    // clang-format off
    struct Case { const char* what; std::optional<std::string> stored; double expiresIn; SimResponse answer; std::string heard; Asked asked; bool freshAfter; } cases[] = {
        {"fresh", "v1", 60, SimResponse::failure(), "ready v1", No, true},
        {"expired, unchanged", "v1", -10, SimResponse::withStatus(304), "ready v1", IfModified, true},
        {"expired, server down", "v1", -10, SimResponse::failure(), "failed, stored v1 -1004", IfModified, false},
        {"nothing stored, server down", std::nullopt, 0, SimResponse::failure(), "failed, stored none -1004", Whole, false},
        {"an empty script", std::nullopt, 0, SimResponse::ok(""), "failed, stored none", Whole, true},
        {"unreadable", "\xFF\xFE", 60, SimResponse::ok("v2"), "ready v2", Whole, true},
    };
    // clang-format on
    const platform::URL script = ZELServerAddresses::supportScriptURL();
    const std::string path = *ZELCacheFolder::pathFor(ZELCachePurpose::SupportScript, script);
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim.reset();
        ZELStatisticsCore store("ZELObjectPrivate");
        if (c.expiresIn) store.setDate(platform::Value(platform::Date::now().addingSeconds(c.expiresIn)), "expireDate");
        store.synchronize();
        if (c.stored) {
            ASSERT_FALSE(ZELCacheFolder::makeFolder(ZELCachePurpose::SupportScript));
            ASSERT_FALSE(platform::writeFileAtomically(path, *c.stored));
        }
        sim.http().route(script.absoluteString(), c.answer);
        ScriptClient client;
        auto store_ = ZELSupportScript::create(client);
        store_->ensure();
        sim.runUntilIdle();
        EXPECT_EQ(client.heard, std::vector<std::string>{c.heard});
        const auto& requests = sim.http().requests();
        EXPECT_EQ(requests.empty() ? No : requests[0].header("If-Modified-Since") ? IfModified : Whole, c.asked);
        const auto expiry = ZELStatisticsCore("ZELObjectPrivate").dateForKey("expireDate");
        EXPECT_EQ(expiry && *expiry > platform::Date::now(), c.freshAfter);
    }
}

TEST(ZELAdURLBuilderTest, OneKindOfSourceGetsASequenceNumber) {
    auto answer = [](const char* type) {
        return ZELBuildPageAnswer{ZELBuildPageAnswer::Kind::LoadAdURL,
                                  {{"url", platform::Value("http://a.test/ad?s=1")}, {"type", platform::Value(type)}}};
    };
    EXPECT_EQ(ZELAdURLBuilder::adURLFromAnswer(answer("qwhirl"))->query(), "s=1&seq_num=1");
    EXPECT_EQ(ZELAdURLBuilder::adURLFromAnswer(answer("pexmark"))->query(), "s=1");
}

}  // namespace
