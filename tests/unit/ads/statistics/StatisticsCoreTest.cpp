#include <limits>

#include "unit/ads/statistics/StatisticsTestSupport.h"

namespace {

class StatisticsCoreTest : public StatisticsFixture {
protected:
    platform::sim::SimUserDefaults& defaults() { return sim().userDefaults(); }
};

TEST_F(StatisticsCoreTest, KeepsItsValuesUnderItsKeyAcrossInstances) {
    defaults().setObject(platform::Dictionary{{"a", 1}}, "nimbra_stats_ZELObjectPrivate");
    {
        ZELStatisticsCore core("ZELObjectPrivate");
        core.setNumber(5, "a");
        core.loadPersistentStatistics();  // stored entries replace live ones
        EXPECT_EQ(core.numberForKey("a"), platform::Value(1));
        core.setDate(platform::Date{1000}, "expireDate");
    }  // saved and synchronized on the way out
    EXPECT_EQ(defaults().diskSnapshot().at("nimbra_stats_ZELObjectPrivate"),
              platform::Value(platform::Dictionary{{"a", 1}, {"expireDate", platform::Date{1000}}}));
    ZELStatisticsCore again("ZELObjectPrivate");
    EXPECT_EQ(again.dateForKey("expireDate"), platform::Date{1000});
}

TEST_F(StatisticsCoreTest, ValuesOfTheWrongTypeAreNeitherStoredNorRead) {
    ZELStatisticsCore core("t");
    core.setNumber(3, "n");
    core.setNumber("four", "n");
    core.setString(4, "s");
    core.setDate("2020", "d");
    core.setArray(platform::Dictionary{}, "a");
    EXPECT_EQ(core.allValues(), (platform::Dictionary{{"n", 3}}));
    core.setString("12", "k");
    EXPECT_FALSE(core.numberForKey("k"));
    EXPECT_EQ(core.addValueNumberForKey(2, "k"), 2);  // a counter over a string starts from nothing
}

TEST_F(StatisticsCoreTest, CounterAdditionWrapsAtThirtyTwoBitsAndSurvivesJunk) {
    ZELStatisticsCore core("t");
    EXPECT_EQ(core.addValueNumberForKey(-7, "c"), -7);
    core.setNumber(std::numeric_limits<int32_t>::max(), "c");
    EXPECT_EQ(core.addValueNumberForKey(1, "c"), std::numeric_limits<int32_t>::min());
    for (double junk : {1e300, std::numeric_limits<double>::quiet_NaN()}) {
        core.setNumber(junk, "c");
        EXPECT_EQ(core.addValueNumberForKey(1, "c"), 1);
    }
}

TEST_F(StatisticsCoreTest, StoredJunkIsIgnoredAndReplacedByTheNextSave) {
    defaults().setObject("garbage", "nimbra_stats_shared");
    {
        ZELStatisticsCore core("shared");
        EXPECT_TRUE(core.allValues().empty());
        core.setNumber(1, "pcc");
    }
    EXPECT_EQ(defaults().objectForKey("nimbra_stats_shared"), platform::Value(platform::Dictionary{{"pcc", 1}}));
    // (The stores refuse a null inside a dictionary, so none can be stored.)
    defaults().setObject(platform::Dictionary{{"pcc", "3"}, {"preqs", platform::Dictionary{}}, {"pcbo", 1},
                                              {"plpnc", 2.9}, {"plpsnc", platform::Array{}}},
                         "nimbra_stats_shared");
    platform::Dictionary p = stats()->parameters();
    for (const char* junk : {"pcc", "preqs", "plpsnc"}) EXPECT_EQ(p.count(junk), 0u) << junk;
    EXPECT_EQ(p["pcbo"], platform::Value(1));
    EXPECT_EQ(p["plpnc"], platform::Value(2.9));
    EXPECT_EQ(stats()->incrementAdRequestCount(), 1);
}

}  // namespace
