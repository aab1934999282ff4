#include <limits>

#include "StatisticsTestSupport.h"

namespace {

class StatisticsCoreTest : public StatisticsFixture {
protected:
    platform::sim::SimUserDefaults& defaults() { return sim().userDefaults(); }
};

TEST_F(StatisticsCoreTest, SavesTheWholeDictionaryUnderItsKeyAndLoadsItBack) {
    {
        ZELStatisticsCore core("ZELObjectPrivate");
        EXPECT_EQ(core.userDefaultsKey(), "nimbra_stats_ZELObjectPrivate");
        core.setDate(platform::Date{1000}, "expireDate");
        core.setString("x", "s");
        core.synchronize();
        EXPECT_EQ(defaults().diskSnapshot().count("nimbra_stats_ZELObjectPrivate"), 1u);
    }
    ZELStatisticsCore again("ZELObjectPrivate");
    EXPECT_EQ(again.dateForKey("expireDate"), platform::Date{1000});
    EXPECT_EQ(again.stringForKey("s"), "x");
}

TEST_F(StatisticsCoreTest, LoadingReplacesEntriesAndKeepsOthers) {
    defaults().setObject(platform::Dictionary{{"a", 1}}, "nimbra_stats_t");
    ZELStatisticsCore core("t");
    core.setNumber(5, "a");
    core.setNumber(7, "b");
    core.loadPersistentStatistics();
    EXPECT_EQ(core.numberForKey("a"), platform::Value(1));
    EXPECT_EQ(core.numberForKey("b"), platform::Value(7));
    core.removeAllObjects();
    EXPECT_FALSE(core.numberForKey("a"));
    EXPECT_EQ(defaults().objectForKey("nimbra_stats_t"), platform::Value(platform::Dictionary{{"a", 1}}));
}

TEST_F(StatisticsCoreTest, SettersIgnoreValuesOfTheWrongType) {
    ZELStatisticsCore core("t");
    core.setNumber(3, "n");
    core.setNumber("four", "n");
    core.setNumber(platform::Value(), "n");
    core.setString(4, "s");
    core.setDate("2020", "d");
    core.setArray(platform::Dictionary{}, "a");
    core.setDictionary(platform::Array{}, "dict");
    EXPECT_EQ(core.allValues(), (platform::Dictionary{{"n", 3}}));
}

TEST_F(StatisticsCoreTest, TypedReadsOfOtherTypesAreAbsent) {
    ZELStatisticsCore core("t");
    core.setString("12", "k");
    EXPECT_FALSE(core.numberForKey("k"));
    EXPECT_FALSE(core.dateForKey("k"));
    EXPECT_FALSE(core.arrayForKey("k"));
    EXPECT_FALSE(core.dictionaryForKey("k"));
    EXPECT_EQ(core.stringForKey("k"), "12");
    // A counter over a string starts from nothing.
    EXPECT_EQ(core.addValueNumberForKey(2, "k"), 2);
}

TEST_F(StatisticsCoreTest, CounterAdditionWrapsAtThirtyTwoBits) {
    ZELStatisticsCore core("t");
    EXPECT_EQ(core.addValueNumberForKey(5, "c"), 5);
    EXPECT_EQ(core.addValueNumberForKey(-7, "c"), -2);
    core.setNumber(std::numeric_limits<int32_t>::max(), "c");
    EXPECT_EQ(core.addValueNumberForKey(1, "c"), std::numeric_limits<int32_t>::min());
    core.setNumber(1e300, "c");  // a stored double nobody can count from
    EXPECT_EQ(core.addValueNumberForKey(1, "c"), 1);
    core.setNumber(std::numeric_limits<double>::quiet_NaN(), "c");
    EXPECT_EQ(core.addValueNumberForKey(1, "c"), 1);
}

TEST_F(StatisticsCoreTest, StoredValueThatIsNotADictionaryIsIgnoredAndLaterReplaced) {
    defaults().setObject("garbage", "nimbra_stats_shared");
    defaults().setObject(platform::Dictionary{{"pcc", "many"}, {"preqs", platform::Array{}}, {"plpnc", 2.9}},
                         "nimbra_stats_other");
    {
        ZELStatisticsCore core("shared");
        EXPECT_TRUE(core.allValues().empty());
        core.setNumber(1, "pcc");
    }
    EXPECT_EQ(defaults().objectForKey("nimbra_stats_shared"), platform::Value(platform::Dictionary{{"pcc", 1}}));

    ZELStatisticsCore other("other");
    EXPECT_EQ(other.addValueNumberForKey(1, "pcc"), 1);
    EXPECT_EQ(other.addValueNumberForKey(1, "plpnc"), 3);
}

TEST_F(StatisticsCoreTest, StatisticsIgnoreStoredValuesOfTheWrongType) {
    defaults().setObject(platform::Dictionary{{"pcc", "3"}, {"preqs", platform::Dictionary{}}, {"pcbo", 1},
                                              {"plpsnc", platform::Value()}},
                         "nimbra_stats_shared");
    platform::Dictionary p = stats()->parameters();
    EXPECT_EQ(p.count("pcc"), 0u);
    EXPECT_EQ(p.count("preqs"), 0u);
    EXPECT_EQ(p.count("plpsnc"), 0u);
    EXPECT_EQ(p["pcbo"], platform::Value(1));
    EXPECT_EQ(stats()->adRequestCount(), 0);
    EXPECT_EQ(stats()->incrementAdRequestCount(), 1);
}

TEST_F(StatisticsCoreTest, DestructionSavesAndSynchronizes) {
    const int before = defaults().synchronizeCount();
    {
        ZELStatisticsCore core("t");
        core.setNumber(2, "x");
    }
    EXPECT_EQ(defaults().synchronizeCount(), before + 1);
    EXPECT_EQ(defaults().diskSnapshot().at("nimbra_stats_t"), platform::Value(platform::Dictionary{{"x", 2}}));
}

}  // namespace
