// Timings on the monotonic clock, their stored form, and the manager that
// keeps one per category across restarts.
#include "Timing/ZELTiming.h"
#include "Timing/ZELTimingManager.h"
#include "platform/NotificationCenter.h"
#include "unit/support/SimTest.h"

namespace {

using platform::Value;

class TimingTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim().clock().setMonotonicSeconds(1000);
    }
    platform::sim::SimUserDefaults& defaults() { return sim().userDefaults(); }
    std::optional<Value> stored() { return defaults().objectForKey("nimbra_timing_test"); }
};

TEST_F(TimingTest, StartEndResetOnTheMonotonicClock) {
    ZELTiming timing("request");
    timing.end();                    // never started: stays idle
    sim().clock().setUnixTime(2e9);  // wall-clock jumps do not count
    sim().advance(5);
    EXPECT_FALSE(timing.isActive());
    timing.start();
    sim().advance(2.5);
    EXPECT_EQ(timing.elapsedMilliseconds(), 2500u);  // running: up to now
    timing.end();
    sim().advance(10);
    EXPECT_EQ(timing.elapsedMillisecondsString(), "2500");
    timing.end();  // ending again moves the end
    EXPECT_EQ(timing.elapsedMilliseconds(), 12500u);
    timing.start();  // afresh, from the ended state
    sim().advance(0.0015);
    EXPECT_EQ(timing.elapsedMilliseconds(), 1u);
    timing.reset();
    EXPECT_EQ(timing.elapsedMilliseconds(), 0u);
    // Stored before the tick counter began afresh: nothing elapsed, ever.
    auto early = ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", 90000.0}});
    early->end();
    EXPECT_EQ(early->elapsedMilliseconds(), 0u);
    auto huge = ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", 1.0}, {"end", 1e300}});
    EXPECT_EQ(huge->elapsedMilliseconds(), 4294967295u);
}

TEST_F(TimingTest, ManagerKeepsOneTimingPerCategoryAcrossARestart) {
    {
        auto manager = ZELTimingManager::initWithIdentifier("test");
        manager->addTimingWithCategory("landing")->start();
        EXPECT_FALSE(manager->addTimingWithCategory("landing")->isActive());  // replaced
        auto running = manager->addTimingWithCategory("landing");
        running->start();
        running->setValue(Value("http://a.example/"), "url");
        auto ended = manager->addTimingWithCategory("request");
        ended->start();
        sim().advance(0.25);
        ended->end();
    }
    defaults().simulateRestart();
    sim().advance(4.75);
    ZELTimingManager manager("test");
    ASSERT_EQ(manager.categories(), (std::vector<std::string>{"landing", "request"}));
    EXPECT_EQ(manager.timingForCategory("request")->elapsedMilliseconds(), 250u);
    auto landing = manager.timingForCategory("landing");
    EXPECT_EQ(landing->elapsedMilliseconds(), 5000u);  // same clock, still counting
    EXPECT_EQ(landing->valueForKey("url"), Value("http://a.example/"));
}

TEST_F(TimingTest, SavedOnTerminationWhileTheManagerLives) {
    auto manager = std::make_unique<ZELTimingManager>("test");
    manager->addTimingWithCategory("a");
    auto& center = platform::NotificationCenter::defaultCenter();
    center.post(platform::kApplicationWillTerminateNotification);
    defaults().simulateRestart();
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->asDictionary()->count("a"), 1u);
    manager.reset();
    center.post(platform::kApplicationWillTerminateNotification);  // would reach a destroyed manager
}

}  // namespace
