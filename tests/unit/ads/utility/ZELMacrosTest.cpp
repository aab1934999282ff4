#include <gtest/gtest.h>

#include <limits>

#include "Utility/ZELMacros.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

Value nestedArrays(int levels) {
    Value v = Array();
    while (--levels > 0) v = Array{v};
    return v;
}

std::string nestedText(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

}  // namespace

TEST(ZELMacrosTest, ReadJsonGivesOnlyDictionaries) {
    const Dictionary d{{"a", Value(1)}, {"b", Value(Array{Value(true), Value(), Value(2.5), Value("é")})}};
    EXPECT_EQ(ZELMacros::readJson(std::string(R"({"a": 1, "b": [true, null, 2.5, "\u00e9"]})")), d);
    EXPECT_TRUE((*ZELMacros::readJson(std::string(R"({"u": 18446744073709551615})")))["u"].isDouble());
    for (const char* bad : {"[1]", "\"s\"", "42", "", "{\"a\": 1", "{} x", "{\"a\": \"\xC3\x28\"}"}) {
        EXPECT_FALSE(ZELMacros::readJson(std::string(bad))) << bad;
    }
    EXPECT_FALSE(ZELMacros::readJson(std::nullopt));
}

TEST(ZELMacrosTest, JsonifyWritesCompactArraysAndObjectsOnly) {
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary{{"a", Value(1)}, {"b", Value(Array{Value(true), Value()})}})),
              std::string(R"({"a":1,"b":[true,null]})"));
    EXPECT_EQ(ZELMacros::jsonify(std::nullopt), std::nullopt);
    for (const Value& unwritable : {Value("text"), Value(3), Value(), Value(Array{Value(platform::Date{0})}),
                                    Value(Array{Value(platform::Bytes{"ab"})}),
                                    Value(Array{Value(std::numeric_limits<double>::infinity())}),
                                    Value(Dictionary{{"k", Value("\xC3\x28")}})}) {
        EXPECT_EQ(ZELMacros::jsonify(unwritable), std::string()) << unwritable.description();
    }
}

TEST(ZELMacrosTest, NestingLimitBothWays) {
    EXPECT_EQ(ZELMacros::jsonify(nestedArrays(512)), nestedText(512));
    EXPECT_EQ(ZELMacros::jsonify(nestedArrays(513)), std::string());
    EXPECT_TRUE(ZELMacros::readJson("{\"a\":" + nestedText(511) + "}"));
    EXPECT_FALSE(ZELMacros::readJson("{\"a\":" + nestedText(512) + "}"));
    EXPECT_FALSE(ZELMacros::readJson("{\"a\":" + std::string(1000000, '[')));
}
