#include <string>

#include "Timing/ZELTiming.h"
#include "Timing/ZELTimingManager.h"
#include "platform/NotificationCenter.h"
#include "unit/support/SimTest.h"

namespace {

using platform::Dictionary;
using platform::Value;

class TimingTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim().clock().setMonotonicSeconds(1000);
    }
    platform::sim::SimUserDefaults& defaults() { return sim().userDefaults(); }
    std::optional<Value> stored(const std::string& key = "nimbra_timing_test") {
        return defaults().objectForKey(key);
    }
};

}  // namespace

TEST_F(TimingTest, ClockIsThePlatformMonotonicClock) {
    EXPECT_DOUBLE_EQ(ZELTiming::counter(), 1000);
    sim().clock().setUnixTime(2e9);  // wall-clock jumps do not move it
    sim().advance(1.5);
    EXPECT_DOUBLE_EQ(ZELTiming::counter(), 1001.5);
}

TEST_F(TimingTest, NeverStartedTimingStaysIdle) {
    ZELTiming timing("idle");
    timing.end();
    EXPECT_EQ(timing.endSeconds(), 0);
    EXPECT_FALSE(timing.isActive());
    sim().advance(5);
    EXPECT_EQ(timing.elapsedMilliseconds(), 0u);
    EXPECT_EQ(timing.elapsedMillisecondsString(), "0");
}

TEST_F(TimingTest, RunningTimingCountsUpToNowAndEndedOneStops) {
    ZELTiming timing("request");
    timing.start();
    EXPECT_TRUE(timing.isActive());
    sim().advance(2.5);
    EXPECT_EQ(timing.elapsedMilliseconds(), 2500u);
    timing.end();
    EXPECT_FALSE(timing.isActive());
    sim().advance(10);
    EXPECT_EQ(timing.elapsedMillisecondsString(), "2500");
    timing.end();  // ending again moves the end
    EXPECT_EQ(timing.elapsedMilliseconds(), 12500u);

    timing.start();  // afresh, from the ended state
    EXPECT_TRUE(timing.isActive());
    EXPECT_EQ(timing.endSeconds(), 0);
    sim().advance(0.0015);
    EXPECT_EQ(timing.elapsedMilliseconds(), 1u);
    timing.reset();
    EXPECT_EQ(timing.startSeconds(), 0);
    EXPECT_EQ(timing.elapsedMilliseconds(), 0u);
}

TEST_F(TimingTest, StartLaterThanTheClockGivesZero) {
    // Stored before the tick counter began afresh.
    auto timing = ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", 90000.0}});
    ASSERT_TRUE(timing);
    EXPECT_TRUE(timing->isActive());
    EXPECT_EQ(timing->elapsedMilliseconds(), 0u);
    timing->end();
    EXPECT_EQ(timing->elapsedMilliseconds(), 0u);
    // Damaged numbers stay defined too.
    auto huge = ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", 1.0}, {"end", 1e300}});
    EXPECT_EQ(huge->elapsedMilliseconds(), 4294967295u);
}

TEST_F(TimingTest, AttachedValuesAndTheirStoredForm) {
    ZELTiming timing("click");
    EXPECT_EQ(timing.dictionaryRepresentation().count("userData"), 0u);
    timing.setValue(std::nullopt, "ignored");
    const Dictionary empty = timing.dictionaryRepresentation();
    ASSERT_EQ(empty.count("userData"), 1u);
    EXPECT_EQ(empty.at("userData"), Value(Dictionary{}));

    timing.setValue(Value("http://a.example/"), "url");
    timing.setValue(Value(platform::Date{5}), "when");
    EXPECT_EQ(timing.valueForKey("url"), Value("http://a.example/"));
    EXPECT_EQ(timing.valueForKey("missing"), std::nullopt);
    timing.removeValueForKey("when");
    EXPECT_EQ(timing.keysAndValues(), (Dictionary{{"url", "http://a.example/"}}));

    timing.start();
    const Dictionary stored = timing.dictionaryRepresentation();
    EXPECT_EQ(stored.at(kZELTimingCategoryKey), Value("click"));
    EXPECT_EQ(stored.at(kZELTimingStartKey), Value(1000.0));
    EXPECT_EQ(stored.at(kZELTimingEndKey), Value(0.0));
    auto again = ZELTiming::initWithDictionaryRepresentation(stored);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->dictionaryRepresentation(), stored);

    auto copy = timing.copy();
    copy->setValue(Value("other"), "url");
    copy->end();
    EXPECT_EQ(timing.valueForKey("url"), Value("http://a.example/"));
    EXPECT_TRUE(timing.isActive());
}

TEST_F(TimingTest, WrongShapedRepresentationsMakeNoTiming) {
    EXPECT_FALSE(ZELTiming::initWithDictionaryRepresentation({}));
    EXPECT_FALSE(ZELTiming::initWithDictionaryRepresentation({{"category", 7}}));
    EXPECT_FALSE(ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", "soon"}}));
    EXPECT_FALSE(ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"end", Dictionary{}}}));
    EXPECT_FALSE(ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"userData", "x"}}));
    auto bare = ZELTiming::initWithDictionaryRepresentation({{"category", "c"}, {"start", 3}});
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->startSeconds(), 3);
    EXPECT_EQ(bare->endSeconds(), 0);
}

TEST_F(TimingTest, ManagerTableOperations) {
    ZELTimingManager manager("test");
    EXPECT_EQ(manager.userDefaultsKey(), "nimbra_timing_test");
    auto first = manager.addTimingWithCategory("a");
    EXPECT_FALSE(first->isActive());
    auto replacement = manager.addTimingWithCategory("a");
    EXPECT_EQ(manager.timingForCategory("a"), replacement);
    manager.addTiming(ZELTiming::initWithCategory("b"));
    manager.addTiming(ZELTiming::initWithCategory("c"));
    manager.addTiming(nullptr);
    EXPECT_EQ(manager.categories(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(manager.timings().size(), 3u);

    manager.removeTiming(ZELTiming::initWithCategory("b"));
    manager.removeTimingForCategory("nothing");
    EXPECT_EQ(manager.timingForCategory("b"), nullptr);
    manager.removeTimingsForCategories({"a", "zzz"});
    EXPECT_EQ(manager.categories(), (std::vector<std::string>{"c"}));
    manager.removeAllTimings();
    EXPECT_TRUE(manager.timings().empty());
}

TEST_F(TimingTest, EmptyManagerStillWritesItsKey) {
    ZELTimingManager manager("test");
    EXPECT_FALSE(stored());
    const int syncs = defaults().synchronizeCount();
    manager.synchronize();
    EXPECT_EQ(stored(), Value(Dictionary{}));
    EXPECT_EQ(defaults().synchronizeCount(), syncs + 1);
}

TEST_F(TimingTest, TimingsSurviveARestart) {
    {
        auto manager = ZELTimingManager::initWithIdentifier("shared");
        auto running = manager->addTimingWithCategory("landing");
        running->start();
        running->setValue(Value("http://a.example/"), "url");
        auto ended = manager->addTimingWithCategory("request");
        ended->start();
        sim().advance(0.25);
        ended->end();
        manager->synchronize();
    }
    defaults().simulateRestart();
    sim().advance(4.75);

    ZELTimingManager manager("shared");
    ASSERT_EQ(manager.categories(), (std::vector<std::string>{"landing", "request"}));
    EXPECT_EQ(manager.timingForCategory("request")->elapsedMilliseconds(), 250u);
    auto landing = manager.timingForCategory("landing");
    EXPECT_TRUE(landing->isActive());
    EXPECT_EQ(landing->elapsedMilliseconds(), 5000u);  // same clock, still counting
    EXPECT_EQ(landing->valueForKey("url"), Value("http://a.example/"));
}

TEST_F(TimingTest, SavedOnTerminationAndOnDestruction) {
    auto manager = std::make_unique<ZELTimingManager>("test");
    manager->addTimingWithCategory("a")->start();
    auto& center = platform::NotificationCenter::defaultCenter();
    EXPECT_TRUE(center.hasObserver(manager.get()));
    center.post(platform::kApplicationWillTerminateNotification);
    defaults().simulateRestart();
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->asDictionary()->count("a"), 1u);

    manager->addTimingWithCategory("b");
    const void* gone = manager.get();
    manager.reset();
    EXPECT_FALSE(center.hasObserver(gone));
    center.post(platform::kApplicationWillTerminateNotification);  // reaches nobody
    defaults().simulateRestart();
    EXPECT_EQ(stored()->asDictionary()->count("b"), 1u);
}

TEST_F(TimingTest, WrongShapedStoredDataIsIgnored) {
    defaults().setObject(Value("not a table"), "nimbra_timing_test");
    EXPECT_TRUE(ZELTimingManager("test").timings().empty());

    defaults().setObject(Value(Dictionary{
                             {"alpha", Dictionary{{"category", "alpha"}, {"start", 4.0}, {"end", 6.0}}},
                             {"text", "not a timing"},
                             {"list", platform::Array{1, 2}},
                             {"late", Dictionary{{"category", "late"}, {"start", "soon"}}},
                             {"nameless", Dictionary{{"start", 4.0}}},
                             {"zulu", Dictionary{{"category", "zulu"}, {"start", 1.0}}},
                         }),
                         "nimbra_timing_test");
    ZELTimingManager manager("test");
    EXPECT_EQ(manager.categories(), (std::vector<std::string>{"alpha", "zulu"}));
    EXPECT_EQ(manager.timingForCategory("alpha")->elapsedMilliseconds(), 2000u);
    EXPECT_TRUE(manager.timingForCategory("zulu")->isActive());
}
