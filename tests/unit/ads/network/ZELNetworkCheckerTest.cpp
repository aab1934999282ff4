#include <gtest/gtest.h>

#include <arpa/inet.h>

#include "Network/ZELNetworkChecker.h"
#include "unit/support/SimTest.h"

using platform::kReachabilityFlagIsWWAN;
using platform::kReachabilityFlagReachable;

class ZELNetworkCheckerTest : public SimTest {};

TEST_F(ZELNetworkCheckerTest, WatchesAnAddressLiteralAndWaitsForTheFirstFlags) {
    ZELNetworkChecker checker;
    EXPECT_FALSE(checker.isEnabled());
    checker.setEnabled(true);
    EXPECT_TRUE(checker.isEnabled());
    ASSERT_EQ(sim().network().hostsWatched().size(), 1u);
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, sim().network().hostsWatched()[0].c_str(), &address), 1)
        << "no name is ever resolved";

    // No synchronous first read: undetermined until the callback.
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);
    EXPECT_EQ(checker.changeCount(), 0u);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("wi"));
    EXPECT_EQ(checker.changeCount(), 1u);
}

TEST_F(ZELNetworkCheckerTest, EveryUpdateCountsEvenWithoutAChangeOfType) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    sim().runUntilIdle();
    sim().network().setFlags(kReachabilityFlagReachable | (1u << 2));
    sim().runUntilIdle();
    EXPECT_EQ(checker.changeCount(), 2u);
    EXPECT_EQ(checker.networkType(), 2u);
    sim().network().setFlags(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("ed"));
    sim().network().setFlags(0);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkType(), 1u);
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);
    EXPECT_EQ(checker.changeCount(), 4u);
}

TEST_F(ZELNetworkCheckerTest, SetEnabledSwitchesOnlyOnAChange) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    checker.setEnabled(true);
    EXPECT_EQ(sim().network().hostsWatched().size(), 1u);
    sim().runUntilIdle();
    ASSERT_EQ(checker.networkType(), 2u);

    checker.setEnabled(false);
    EXPECT_FALSE(checker.isEnabled());
    EXPECT_EQ(checker.networkType(), 0u);
    EXPECT_EQ(sim().network().activeWatchCount(), 0u);
    sim().network().setFlags(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkType(), 0u) << "no flags after stopping";
    EXPECT_EQ(checker.changeCount(), 1u);

    checker.setEnabled(true);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("ed"));
    EXPECT_EQ(checker.changeCount(), 2u) << "the count is never reset";
}

TEST_F(ZELNetworkCheckerTest, RestartResetsTheTypeWhileWatching) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    sim().runUntilIdle();
    checker.startNetworkChecking();
    EXPECT_EQ(checker.networkType(), 0u);
    EXPECT_EQ(sim().network().hostsWatched().size(), 1u);
}

TEST_F(ZELNetworkCheckerTest, NoWatchLeavesTheCheckerOff) {
    sim().network().setCreationFails(true);
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    EXPECT_FALSE(checker.isEnabled());
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);

    sim().network().setCreationFails(false);
    sim().network().setStartFails(true);
    checker.setEnabled(true);
    EXPECT_FALSE(checker.isEnabled());
}

TEST_F(ZELNetworkCheckerTest, DestroyedCheckerGetsNoPendingFlags) {
    auto checker = std::make_unique<ZELNetworkChecker>();
    checker->setEnabled(true);
    checker.reset();  // the first delivery is still queued
    sim().runUntilIdle();
    EXPECT_EQ(sim().network().activeWatchCount(), 0u);
}

TEST_F(ZELNetworkCheckerTest, SharedCheckerWatchesFromFirstUse) {
    ZELNetworkChecker& shared = ZELNetworkChecker::sharedChecker();
    EXPECT_EQ(&shared, &ZELNetworkChecker::sharedChecker());
    EXPECT_TRUE(shared.isEnabled());
}
