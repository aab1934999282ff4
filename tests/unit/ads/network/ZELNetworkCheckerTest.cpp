#include <arpa/inet.h>

#include "Network/ZELNetworkChecker.h"
#include "unit/support/SimTest.h"

using platform::kReachabilityFlagIsWWAN;
using platform::kReachabilityFlagReachable;

class ZELNetworkCheckerTest : public SimTest {
protected:
    void deliver(uint32_t flags) {
        sim().network().setFlags(flags);
        sim().runUntilIdle();
    }
};

TEST_F(ZELNetworkCheckerTest, FlagsBecomeNetworkTypesAfterTheFirstCallback) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    ASSERT_EQ(sim().network().hostsWatched().size(), 1u);
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, sim().network().hostsWatched()[0].c_str(), &address), 1) << "no name to resolve";
    EXPECT_EQ(checker.networkTypeString(), std::nullopt) << "no synchronous first read";
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("wi"));
    deliver(kReachabilityFlagReachable | (1u << 2));  // other flags do not matter
    EXPECT_EQ(checker.networkType(), 2u);
    deliver(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("ed"));
    deliver(kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);
    EXPECT_EQ(checker.changeCount(), 4u) << "every update counts, changed type or not";
}

TEST_F(ZELNetworkCheckerTest, SetEnabledActsOnlyOnAChange) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    checker.setEnabled(true);
    EXPECT_EQ(sim().network().hostsWatched().size(), 1u);
    sim().runUntilIdle();
    checker.setEnabled(false);
    deliver(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkType(), 0u) << "no flags after stopping";
    checker.setEnabled(true);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("ed"));
    EXPECT_EQ(checker.changeCount(), 2u) << "never reset";
}

TEST_F(ZELNetworkCheckerTest, FailedWatchLeavesTheCheckerOff) {
    ZELNetworkChecker checker;
    for (bool creationFails : {true, false}) {
        sim().network().setCreationFails(creationFails);
        sim().network().setStartFails(!creationFails);
        checker.setEnabled(true);
        EXPECT_FALSE(checker.isEnabled()) << creationFails;
    }
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);
}

TEST_F(ZELNetworkCheckerTest, DestroyedCheckerGetsNoQueuedFlags) {
    // The process-wide checker may hold a watch of its own.
    const auto before = sim().network().activeWatchCount();
    auto checker = std::make_unique<ZELNetworkChecker>();
    checker->setEnabled(true);
    EXPECT_EQ(sim().network().activeWatchCount(), before + 1);
    checker.reset();
    sim().runUntilIdle();
    EXPECT_EQ(sim().network().activeWatchCount(), before);
}
