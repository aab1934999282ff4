#include <gtest/gtest.h>

#include <cmath>

#include "platform/Value.h"

using namespace platform;

TEST(Value, TypedReadsConvertAmongNumbersOnly) {
    EXPECT_EQ(Value(-3.9).asInteger(), -3);
    EXPECT_FALSE(Value("12").asInteger() || Value(12).asString() || Value().asBool());
    EXPECT_EQ(Value(1e300).asInteger(), INT64_MAX);  // saturates, no overflow
    EXPECT_EQ(Value(std::nan("")).asInteger(), 0);
}

TEST(Value, OnlyScalarsHaveATextForm) {
    const std::pair<Value, std::optional<std::string>> texts[] = {
        {Value("a b"), "a b"}, {Value(-7LL), "-7"},  {Value(3.0), "3"}, {Value(0.1), "0.1"},
        {Value(true), "1"},    {Value(Array{}), {}}, {Value(), {}}};
    for (const auto& [value, text] : texts) EXPECT_EQ(value.textForm(), text) << value.description();
}

TEST(Value, LookupGivesNullForWhatIsNotThere) {
    Value d(Dictionary{{"b", Dictionary{{"c", "x"}}}});
    EXPECT_EQ(*d["b"]["c"].asString(), "x");
    EXPECT_TRUE(d["missing"].isNull() && Value(5)["a"].isNull());
}

TEST(Value, ACopyIsWrittenApart) {
    Value d(Dictionary{{"a", 1}});
    Value copy = d;
    (*copy.mutableDictionary())["a"] = 2;
    EXPECT_EQ(d["a"], Value(1)) << "a write through a copy must not reach the original";
    EXPECT_EQ(copy["a"], Value(2));
}

TEST(Value, EqualityIsDeep) {
    const auto nested = [](double z) { return Value(Dictionary{{"k", Array{1, "two", Dictionary{{"z", z}}}}}); };
    EXPECT_EQ(nested(2.5), nested(2.5));
    EXPECT_NE(nested(2.5), nested(2.6));
    EXPECT_EQ(Value(2), Value(2.0));
    const std::pair<Value, Value> unequal[] = {
        {Value(2), Value(2.5)}, {Value(1), Value(true)}, {Value("1"), Value(1)}, {Value(Date{1}), Value(Date{2})}};
    for (const auto& [a, b] : unequal) EXPECT_NE(a, b) << a.description();
}
