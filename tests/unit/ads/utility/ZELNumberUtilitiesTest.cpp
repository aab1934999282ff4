#include <gtest/gtest.h>

#include "Utility/ZELNumberUtilities.h"

TEST(ZELNumberUtilitiesTest, ShortDecimalText) {
    const std::pair<float, const char*> cases[] = {{2.0f, "2"},   {320.0f, "320"}, {100.0f, "100"}, {1.5f, "1.5"},
                                                   {0.25f, "0.25"}, {0.0f, "0"},   {-3.5f, "-3.5"}, {1e-7f, "0"}};
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(ZELNumberUtilities::stringWithFloat(value), text);
    }
}
