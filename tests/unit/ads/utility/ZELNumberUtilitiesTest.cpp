#include <gtest/gtest.h>

#include <limits>

#include "Utility/ZELNumberUtilities.h"

TEST(ZELNumberUtilitiesTest, TrailingZerosAndPointDropped) {
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(2.0f), "2");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(320.0f), "320");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(100.0f), "100");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(1.5f), "1.5");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(0.25f), "0.25");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(0.0f), "0");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(-3.5f), "-3.5");
    // Six decimals: smaller fractions vanish.
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(1e-7f), "0");
}

TEST(ZELNumberUtilitiesTest, NonFiniteValuesKeepTheirText) {
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(ZELNumberUtilities::stringWithFloat(std::numeric_limits<float>::max()).size(), 39u);
}
