#include <gtest/gtest.h>

#include "Utility/ZELNetworkUtilities.h"

using platform::Dictionary;
using platform::URL;
using platform::Value;

namespace {

URL url(const char* text) {
    auto u = URL::parse(text);
    EXPECT_TRUE(u) << text;
    return u.value_or(*URL::parse("http://invalid.test/"));
}

std::string appended(const Dictionary& d, const char* base) {
    auto u = ZELNetworkUtilities::appendQueryParameters(d, url(base));
    return u ? u->absoluteString() : std::string("<none>");
}

Dictionary strings(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    Dictionary d;
    for (const auto& [k, v] : pairs) d[k] = Value(v);
    return d;
}

}  // namespace

TEST(ZELNetworkUtilitiesTest, EncodeURLEscapesEveryByteOutsideUnreserved) {
    EXPECT_EQ(ZELNetworkUtilities::encodeURL("a b&c=d/é"), "a%20b%26c%3Dd%2F%C3%A9");
    EXPECT_EQ(ZELNetworkUtilities::encodeURL("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(ZELNetworkUtilities::encodeURL("!*'();:@+$,?%#[]"), "%21%2A%27%28%29%3B%3A%40%2B%24%2C%3F%25%23%5B%5D");
    EXPECT_EQ(ZELNetworkUtilities::encodeURL(std::string("\0\xFF", 2)), "%00%FF");
    EXPECT_EQ(ZELNetworkUtilities::encodeURL(""), "");
}

TEST(ZELNetworkUtilitiesTest, AppendQueryKeyWithoutValueAppendsBareKey) {
    auto plain = ZELNetworkUtilities::appendQueryKey("k", std::nullopt, url("http://h.test/p"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->absoluteString(), "http://h.test/p?k");
    auto withQuery = ZELNetworkUtilities::appendQueryKey("k", std::nullopt, url("http://h.test/p?x=1"));
    ASSERT_TRUE(withQuery);
    EXPECT_EQ(withQuery->absoluteString(), "http://h.test/p?x=1&k");
    auto escaped = ZELNetworkUtilities::appendQueryKey("unique", std::string("a b"), url("http://h.test/p"));
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->absoluteString(), "http://h.test/p?unique=a%20b");
}

TEST(ZELNetworkUtilitiesTest, AppendQueryParametersWritesEveryPair) {
    Dictionary d = strings({{"a", "1"}, {"b", "x/y"}, {"empty", ""}});
    d["n"] = Value(42);
    d["f"] = Value(1.5);
    d["map"] = Value(Dictionary{{"k", Value("v")}});  // no text form: written bare
    EXPECT_EQ(appended(d, "http://h.test/ad?seq=1"), "http://h.test/ad?seq=1&a=1&b=x%2Fy&empty&f=1.5&map&n=42");
    EXPECT_EQ(appended(Dictionary(), "http://h.test/ad?q=1#f"), "http://h.test/ad?q=1#f");
}

TEST(ZELNetworkUtilitiesTest, AppendQueryParametersKeepsFragmentAndEmptyQueryIntact) {
    // Pairs go before the fragment; after it they would never reach the server.
    EXPECT_EQ(appended(strings({{"a", "1"}}), "http://h.test/p#frag"), "http://h.test/p?a=1#frag");
    EXPECT_EQ(appended(strings({{"a", "1"}}), "http://h.test/p?x=1#frag"), "http://h.test/p?x=1&a=1#frag");
    // A bare "?" is an empty query: no second "?".
    EXPECT_EQ(appended(strings({{"a", "1"}}), "http://h.test/p?"), "http://h.test/p?a=1");
}

TEST(ZELNetworkUtilitiesTest, AppendQueryParametersRefusesKeysThatBreakTheURL) {
    EXPECT_EQ(appended(strings({{"bad key", "1"}}), "http://h.test/p"), "<none>");
}

TEST(ZELNetworkUtilitiesTest, ParameterValueForKeyIsRawExactAndFirst) {
    const URL u = url("http://h.test/c?x=1&ai=a%2Fb&ai=second");
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", u), std::optional<std::string>("a%2Fb"));
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c?AI=1")), std::nullopt);
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c")), std::nullopt);
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c?ai")), std::nullopt);
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c?ai=")), std::optional<std::string>(""));
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c?ai=1=2")), std::optional<std::string>("1"));
    // ";" does not separate here.
    EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url("http://h.test/c?x=1;ai=2")), std::nullopt);
}

TEST(ZELNetworkUtilitiesTest, DictionaryFromQueryStringGrammar) {
    EXPECT_EQ(ZELNetworkUtilities::dictionaryFromQueryString(std::string("A=1;b=%41&c&d=1=2")),
              strings({{"a", "1"}, {"b", "A"}}));
    EXPECT_EQ(ZELNetworkUtilities::dictionaryFromQueryString(std::string("k=&plus=a+b&Url=x%20y")),
              strings({{"k", ""}, {"plus", "a+b"}, {"url", "x y"}}));
    // Later items replace earlier ones; keys are lower-cased after decoding.
    EXPECT_EQ(ZELNetworkUtilities::dictionaryFromQueryString(std::string("%4B=1&k=2")), strings({{"k", "2"}}));
    EXPECT_TRUE(ZELNetworkUtilities::dictionaryFromQueryString(std::nullopt).empty());
    EXPECT_TRUE(ZELNetworkUtilities::dictionaryFromQueryString(std::string("")).empty());
    EXPECT_TRUE(ZELNetworkUtilities::dictionaryFromQueryString(std::string("&&;;&")).empty());
}

TEST(ZELNetworkUtilitiesTest, DictionaryFromQueryStringSkipsBlanksBeforeItems) {
    EXPECT_EQ(ZELNetworkUtilities::dictionaryFromQueryString(std::string("  a=1 &\n\tb=2\r\n; & c=3  ")),
              strings({{"a", "1 "}, {"b", "2\r\n"}, {"c", "3  "}}));
}

TEST(ZELNetworkUtilitiesTest, DictionaryFromQueryStringSkipsItemsThatDoNotDecode) {
    EXPECT_EQ(ZELNetworkUtilities::dictionaryFromQueryString(
                  std::string("bad=%ZZ&short=%4&end=%&utf=%C3%28&raw=\xFF&%FF=key&ok=%C3%A9")),
              strings({{"ok", "é"}}));
}

TEST(ZELNetworkUtilitiesTest, UserAgentKeepsLastNonEmptyValue) {
    ZELNetworkUtilities::setUserAgentString(std::string("Agent/1"));
    ZELNetworkUtilities::setUserAgentString(std::string(""));
    ZELNetworkUtilities::setUserAgentString(std::nullopt);
    EXPECT_EQ(ZELNetworkUtilities::userAgentString(), std::optional<std::string>("Agent/1"));
    ZELNetworkUtilities::setUserAgentString(std::string("Agent/2"));
    EXPECT_EQ(ZELNetworkUtilities::userAgentString(), std::optional<std::string>("Agent/2"));
}
