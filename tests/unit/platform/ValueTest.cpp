#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "platform/Value.h"

using namespace platform;

TEST(Value, TypedReadsConvertAmongNumbersOnly) {
    EXPECT_EQ(Value(3.9).asInteger(), 3);
    EXPECT_EQ(Value(-3.9).asInteger(), -3);
    EXPECT_EQ(Value(true).asInteger(), 1);
    EXPECT_EQ(Value(7).asDouble(), 7.0);
    EXPECT_EQ(Value(0.0).asBool(), false);
    EXPECT_EQ(Value(2).asBool(), true);
    EXPECT_FALSE(Value("12").asInteger());
    EXPECT_FALSE(Value(12).asString());
    EXPECT_FALSE(Value().asBool());
    EXPECT_EQ(Value(1e300).asInteger(), INT64_MAX);  // saturates, no overflow
    EXPECT_EQ(Value(std::nan("")).asInteger(), 0);
}

TEST(Value, TextFormOfScalars) {
    EXPECT_EQ(Value("a b").textForm(), "a b");
    EXPECT_EQ(Value(-7LL).textForm(), "-7");
    EXPECT_EQ(Value(3.0).textForm(), "3");
    EXPECT_EQ(Value(0.1).textForm(), "0.1");
    EXPECT_EQ(Value(true).textForm(), "1");
    EXPECT_FALSE(Value(Array{}).textForm());
    EXPECT_FALSE(Value().textForm());
}

TEST(Value, DictionaryLookupAndCopyOnWrite) {
    Value d(Dictionary{{"a", 1}, {"b", Dictionary{{"c", "x"}}}});
    EXPECT_EQ(*d["b"]["c"].asString(), "x");
    EXPECT_TRUE(d["missing"].isNull());
    EXPECT_TRUE(Value(5)["a"].isNull());

    Value copy = d;
    (*copy.mutableDictionary())["a"] = 2;
    EXPECT_EQ(d["a"], Value(1)) << "a write through a copy must not reach the original";
    EXPECT_EQ(copy["a"], Value(2));

    Value arr(Array{1, 2});
    Value arr2 = arr;
    arr2.mutableArray()->push_back(3);
    EXPECT_EQ(arr.asArray()->size(), 2u);
    EXPECT_EQ(Value("s").mutableArray(), nullptr);
}

TEST(Value, EqualityIsDeep) {
    Value a(Dictionary{{"k", Array{1, "two", Dictionary{{"z", 2.5}}}}});
    Value b(Dictionary{{"k", Array{1, "two", Dictionary{{"z", 2.5}}}}});
    Value c(Dictionary{{"k", Array{1, "two", Dictionary{{"z", 2.6}}}}});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(Value(2), Value(2.0));
    EXPECT_NE(Value(2), Value(2.5));
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value("1"), Value(1));
    EXPECT_EQ(Value(Bytes{"ab"}), Value(Bytes{"ab"}));
    EXPECT_NE(Value(Date{1}), Value(Date{2}));
    EXPECT_EQ(Value(), Value(nullptr));
}

TEST(Value, DescriptionIsReadable) {
    Value v(Dictionary{{"name", "two words"}, {"n", 3}, {"list", Array{true, Value()}}, {"raw", Bytes{"\x01\xff"}}});
    const std::string d = v.description();
    for (const char* part : {"name = \"two words\";", "n = 3;", "true", "<null>", "<01ff>"}) {
        EXPECT_NE(d.find(part), std::string::npos) << part << " in " << d;
    }
    EXPECT_EQ(Value(Date::fromUnixTime(0)).description(), "1970-01-01 00:00:00 +0000");
    EXPECT_EQ(Value("quote\"\n").description(), "\"quote\\\"\\n\"");
}
