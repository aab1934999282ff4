#include <gtest/gtest.h>

#include "Network/ZELNetworkChecker.h"
#include "platform/Services.h"

using platform::kReachabilityFlagIsWWAN;
using platform::kReachabilityFlagReachable;

TEST(ZELNetworkCheckerFlagsTest, FlagsGiveNetworkTypes) {
    ZELNetworkChecker checker;
    EXPECT_EQ(checker.networkType(), 0u);
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);

    checker.setNetworkTypeFromFlags(kReachabilityFlagReachable);
    EXPECT_EQ(checker.networkType(), 2u);
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("wi"));

    checker.setNetworkTypeFromFlags(kReachabilityFlagReachable | kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkType(), 3u);
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("ed"));

    checker.setNetworkTypeFromFlags(kReachabilityFlagIsWWAN);
    EXPECT_EQ(checker.networkType(), 1u);
    EXPECT_EQ(checker.networkTypeString(), std::nullopt);

    // Other flags (connection required and the like) do not matter.
    checker.setNetworkTypeFromFlags(kReachabilityFlagReachable | (1u << 2) | (1u << 0));
    EXPECT_EQ(checker.networkTypeString(), std::optional<std::string>("wi"));
    EXPECT_EQ(checker.changeCount(), 4u);
}
