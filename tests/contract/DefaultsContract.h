#pragma once
// The defaults store keeps only what a defaults file can hold, on every
// backend, so a test on the sim cannot pass with values the device would drop.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/Services.h"

namespace nimbra::contract {

template <typename Driver>
class DefaultsContract : public ::testing::Test {
protected:
    Driver driver;
};
TYPED_TEST_SUITE_P(DefaultsContract);

TYPED_TEST_P(DefaultsContract, OnlyWhatADefaultsFileCanHoldIsKept) {
    using platform::Value;
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(Value(platform::Date{100.75}), "contract-date");
    EXPECT_EQ(defaults.objectForKey("contract-date"), Value(platform::Date{100})) << "dates are kept to the second";
    defaults.setObject(Value("old"), "contract-key");
    // What the statistics could be handed by a server.
    const std::vector<Value> refused = {
        Value(platform::Array{Value(1), Value()}),  // null inside a collection
        Value(std::string("a\0b", 3)),              // NUL in text
        Value(std::string("\xc3\x28")),             // not UTF-8
        Value(std::nan("")),
        Value(platform::Date{1e12}),  // beyond the file's date range
        Value(platform::Dictionary{{std::string("\xff"), Value(1)}}),
    };
    for (const Value& v : refused) defaults.setObject(v, "contract-key");
    EXPECT_EQ(defaults.objectForKey("contract-key"), Value("old")) << "a refused value leaves the old one";
    defaults.setObject(Value(), "contract-key");
    EXPECT_FALSE(defaults.objectForKey("contract-key")) << "storing null removes the key";
    defaults.removeObject("contract-date");
}

REGISTER_TYPED_TEST_SUITE_P(DefaultsContract, OnlyWhatADefaultsFileCanHoldIsKept);

}  // namespace nimbra::contract
