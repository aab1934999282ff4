#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "Utility/ZELMacros.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

Value nestedArrays(int levels) {
    Value v = Array();
    for (int i = 1; i < levels; ++i) {
        v = Array{v};
    }
    return v;
}

std::string nestedArrayText(int levels) { return std::string(levels, '[') + std::string(levels, ']'); }

}  // namespace

TEST(ZELMacrosTest, ReadJsonGivesOnlyDictionaries) {
    auto d = ZELMacros::readJson(std::string(R"({"a": 1, "b": [true, null, 2.5, "x"], "c": {"d": "é"}})"));
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)["a"], Value(1));
    EXPECT_EQ((*d)["b"], Value(Array{Value(true), Value(), Value(2.5), Value("x")}));
    EXPECT_EQ((*d)["c"]["d"], Value("é"));

    EXPECT_FALSE(ZELMacros::readJson(std::nullopt));
    EXPECT_FALSE(ZELMacros::readJson(std::string("[1, 2]")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("\"text\"")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("42")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("{\"a\": 1")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("{\"a\": 1} trailing")));
}

TEST(ZELMacrosTest, ReadJsonRefusesInvalidUTF8AndHugeNumbersSafely) {
    EXPECT_FALSE(ZELMacros::readJson(std::string("{\"a\": \"\xC3\x28\"}")));
    EXPECT_FALSE(ZELMacros::readJson(std::string("{\"\xFF\": 1}")));
    // Beyond 64-bit integers: kept as a double, not wrapped.
    auto d = ZELMacros::readJson(std::string(R"({"big": 18446744073709551615, "neg": -9223372036854775808})"));
    ASSERT_TRUE(d);
    EXPECT_TRUE((*d)["big"].isDouble());
    EXPECT_EQ((*d)["neg"].asInteger(), INT64_MIN);
}

TEST(ZELMacrosTest, ReadJsonNestingLimit) {
    // 511 arrays inside the top-level object make 512 levels.
    std::string ok = "{\"a\":" + nestedArrayText(511) + "}";
    EXPECT_TRUE(ZELMacros::readJson(ok));
    std::string deep = "{\"a\":" + nestedArrayText(512) + "}";
    EXPECT_FALSE(ZELMacros::readJson(deep));
    // Far beyond the limit must fail cleanly, not exhaust the stack.
    EXPECT_FALSE(ZELMacros::readJson("{\"a\":" + std::string(1000000, '[')));
}

TEST(ZELMacrosTest, JsonifyIsCompactAndRoundTrips) {
    Dictionary d{{"name", Value("a \"quoted\" é")}, {"n", Value(3)}, {"f", Value(0.5)},
                 {"list", Value(Array{Value(true), Value()})}};
    auto text = ZELMacros::jsonify(Value(d));
    ASSERT_TRUE(text);
    EXPECT_EQ(ZELMacros::readJson(*text), d);
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary{{"a", Value(1)}, {"b", Value(Array{Value(true), Value()})}})),
              std::string(R"({"a":1,"b":[true,null]})"));
    EXPECT_EQ(ZELMacros::jsonify(Value(Array{Value(1), Value("x")})), std::string(R"([1,"x"])"));
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary())), std::string("{}"));
}

TEST(ZELMacrosTest, JsonifyFailures) {
    EXPECT_EQ(ZELMacros::jsonify(std::nullopt), std::nullopt);
    // Only an object or an array at the top.
    EXPECT_EQ(ZELMacros::jsonify(Value("text")), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value(3)), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value()), std::string());
    // Values JSON cannot hold.
    EXPECT_EQ(ZELMacros::jsonify(Value(Array{Value(platform::Date{0})})), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value(Array{Value(platform::Bytes{"ab"})})), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value(Array{Value(std::numeric_limits<double>::infinity())})), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary{{"k", Value(std::string("\xC3\x28"))}})), std::string());
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary{{std::string("\xFF"), Value(1)}})), std::string());
}

TEST(ZELMacrosTest, JsonifyNestingLimit) {
    EXPECT_EQ(ZELMacros::jsonify(nestedArrays(512)), nestedArrayText(512));
    EXPECT_EQ(ZELMacros::jsonify(nestedArrays(513)), std::string());
}
