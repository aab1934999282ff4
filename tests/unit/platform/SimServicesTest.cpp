// What only the sim services have: the defaults' disk copy, the files area
// reset, reachability under test control, recorded URLs and the captured log.
// The defaults' contract is in SimContractTest.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "unit/support/SimTest.h"

using namespace platform;

class SimServicesTest : public SimTest {};

TEST_F(SimServicesTest, DefaultsSurviveARestartOnlyAfterSynchronize) {
    auto& defaults = UserDefaults::standard();
    defaults.setObject(Value(Dictionary{{"n", 1}}), "kept");
    ASSERT_TRUE(defaults.synchronize());
    defaults.setObject(Value(2), "lost");
    defaults.removeObject("kept");
    sim().userDefaults().simulateRestart();
    EXPECT_EQ(defaults.objectForKey("kept"), Value(Dictionary{{"n", 1}}));
    EXPECT_FALSE(defaults.objectForKey("lost"));

    sim().userDefaults().setSynchronizeFails(true);
    defaults.setObject(Value("new"), "kept");
    EXPECT_FALSE(defaults.synchronize());
    sim().userDefaults().simulateRestart();
    EXPECT_EQ(defaults.objectForKey("kept"), Value(Dictionary{{"n", 1}})) << "a failed write keeps the old copy";
}

TEST_F(SimServicesTest, ResetEmptiesTheFilesAreaAndRestoresWhatATestChanged) {
    auto& paths = Paths::current();
    ASSERT_TRUE(paths.cachesDirectory());
    const std::string leftover = *paths.cachesDirectory() + "/leftover";
    ASSERT_TRUE(std::ofstream(leftover) << "x");
    sim().paths().setCachesAvailable(false);
    EXPECT_FALSE(paths.cachesDirectory());
    sim().paths().setBundleVersion(std::nullopt);

    sim().reset();
    EXPECT_TRUE(paths.cachesDirectory());
    EXPECT_FALSE(std::ifstream(leftover));
    EXPECT_EQ(paths.bundleVersion(), "1.0");
}

// First delivery and stop are covered through the network checker.
TEST_F(SimServicesTest, ReachabilityWatchDestroyedBeforeDeliveryHearsNothing) {
    int calls = 0;
    auto watch = Reachability::create("x");
    ASSERT_TRUE(watch && watch->start([&](uint32_t) { ++calls; }));
    watch.reset();
    sim().runUntilIdle();
    EXPECT_EQ(calls, 0);
}

TEST_F(SimServicesTest, ApplicationOpensOnlyKnownSchemesAndRecordsThem) {
    auto& app = Application::shared();
    EXPECT_TRUE(app.canOpenURL(*URL::parse("HTTP://x/")));
    EXPECT_FALSE(app.openURL(*URL::parse("itms://x/")));
    sim().application().setOpenableSchemes({"ITMS"});
    EXPECT_TRUE(app.openURL(*URL::parse("itms://x/")));
    EXPECT_FALSE(app.canOpenURL(*URL::parse("http://x/")));
    ASSERT_EQ(sim().application().openedURLs().size(), 1u);
    EXPECT_EQ(sim().application().openedURLs()[0].absoluteString(), "itms://x/");
}

TEST_F(SimServicesTest, LogLinesCarryTimeProgramAndPid) {
    sim().clock().setUnixTime(784903526.25);
    platform::log("<Nimbra> hello");
    auto lines = sim().logLines();
    ASSERT_EQ(lines.size(), 1u);
    // "YYYY-MM-DD HH:MM:SS.mmm name[pid] text"; the hour depends on the zone.
    const std::string& line = lines[0];
    EXPECT_EQ(line.substr(0, 8), "1994-11-");
    EXPECT_EQ(line.substr(19, 4), ".250");
    EXPECT_NE(line.find("[" + std::to_string(getpid()) + "] <Nimbra> hello"), std::string::npos) << line;

    std::vector<std::string> sunk;
    platform::setLogSink([&](std::string_view l) { sunk.emplace_back(l); });
    platform::log("to the sink");
    platform::setLogSink(nullptr);
    EXPECT_EQ(sunk.size(), 1u);
    EXPECT_EQ(sim().logLines().size(), 1u);
}
