// The network checker: reachability flags as network types, delivered later,
// counted, and none after it stopped.
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
    using Type = std::optional<std::string>;
};

TEST_F(ZELNetworkCheckerTest, FlagsBecomeNetworkTypesAfterTheFirstCallbackWhileEnabled) {
    ZELNetworkChecker checker;
    checker.setEnabled(true);
    checker.setEnabled(true);  // no second watch
    ASSERT_EQ(sim().network().hostsWatched().size(), 1u);
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, sim().network().hostsWatched()[0].c_str(), &address), 1) << "no name to resolve";
    EXPECT_EQ(checker.networkTypeString(), std::nullopt) << "no synchronous first read";
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), Type("wi"));
    deliver(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkTypeString(), Type("ed"));
    deliver(kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);
    EXPECT_EQ(checker.changeCount(), 3u) << "every update counts";
    checker.setEnabled(false);
    deliver(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkType(), 0u) << "no flags after stopping";
    checker.setEnabled(true);
    sim().runUntilIdle();
    EXPECT_EQ(checker.networkTypeString(), Type("ed"));
    EXPECT_EQ(checker.changeCount(), 4u) << "never reset";
}
