// The component's small helpers: JSON out, query strings and URL parameters,
// and text from pages made fit for the log. (Short decimal text is the device
// parameters' and the ad frame's.)
#include "Utility/ZELLogText.h"
#include "Utility/ZELMacros.h"
#include "Utility/ZELNetworkUtilities.h"
#include "unit/support/SimTest.h"

using platform::Array;
using platform::Dictionary;
using platform::Value;

namespace {

// (Reading JSON is the JSON fuzz target's; nothing else in the component reads it.)
TEST(ZELMacrosTest, JsonifyWritesOnlyWhatJsonHolds) {
    EXPECT_EQ(ZELMacros::jsonify(Value(Dictionary{{"a", Value(1)}, {"b", Value(Array{Value(true), Value()})}})),
              std::string(R"({"a":1,"b":[true,null]})"));
    EXPECT_EQ(ZELMacros::jsonify(std::nullopt), std::nullopt);
    for (const Value& unwritable :
         {Value("text"), Value(3), Value(), Value(Array{Value(platform::Date{0})}),
          Value(Array{Value(platform::Bytes{"ab"})}), Value(Array{Value(std::numeric_limits<double>::infinity())}),
          Value(Dictionary{{"k", Value("\xC3\x28")}})})
        EXPECT_EQ(ZELMacros::jsonify(unwritable), std::string()) << unwritable.description();
    // The nesting limit.
    const auto nestedText = [](int levels) { return std::string(levels, '[') + std::string(levels, ']'); };
    Value nested = Array();
    for (int level = 1; level < 512; ++level) nested = Array{nested};
    EXPECT_EQ(ZELMacros::jsonify(nested), nestedText(512));
    EXPECT_EQ(ZELMacros::jsonify(Array{nested}), std::string());
}

TEST(ZELNetworkUtilitiesTest, EncodingLeavesOnlyTheUnreservedCharacters) {
    EXPECT_EQ(ZELNetworkUtilities::encodeURL("AZaz09-._~ &=/é!*'();:@+$,?%#[]"),
              "AZaz09-._~%20%26%3D%2F%C3%A9%21%2A%27%28%29%3B%3A%40%2B%24%2C%3F%25%23%5B%5D");
}

// Pairs go ahead of a fragment, and a bare "?" gets no second one.
TEST(ZELNetworkUtilitiesTest, AppendingAddsEscapedPairsToTheQuery) {
    EXPECT_EQ(ZELNetworkUtilities::appendQueryKey("k", std::nullopt, url("http://h.test/p?x=1"))->absoluteString(),
              "http://h.test/p?x=1&k");
    const auto appended = [](const Dictionary& d, const char* base) {
        auto u = ZELNetworkUtilities::appendQueryParameters(d, url(base));
        return u ? u->absoluteString() : "<none>";
    };
    const Dictionary d{{"b", Value("x/y")}, {"e", Value("")}, {"f", Value(1.5)}, {"n", Value(42)}};
    EXPECT_EQ(appended(d, "http://h.test/ad?s=1"), "http://h.test/ad?s=1&b=x%2Fy&e&f=1.5&n=42");
    EXPECT_EQ(appended(d, "http://h.test/p?x=1#frag"), "http://h.test/p?x=1&b=x%2Fy&e&f=1.5&n=42#frag");
    EXPECT_EQ(appended({{"a", Value("1")}}, "http://h.test/p?"), "http://h.test/p?a=1");
    EXPECT_EQ(appended({}, "http://h.test/p?q#f"), "http://h.test/p?q#f");
    EXPECT_EQ(appended({{"bad key", Value("1")}}, "http://h.test/p"), "<none>");
}

TEST(ZELNetworkUtilitiesTest, ReadingQueries) {
    // clang-format off
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"http://h/c?x=1&ai=a%2Fb&ai=2", "a%2Fb"}, {"http://h/c?AI=1", std::nullopt}, {"http://h/c", std::nullopt},
        {"http://h/c?ai", std::nullopt}, {"http://h/c?ai=", ""}, {"http://h/c?ai=1=2", "1"},
        {"http://h/c?x=1;ai=2", std::nullopt},
    };
    // clang-format on
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ZELNetworkUtilities::parameterValueForKey("ai", url(text)), value) << text;
    const auto query = [](const char* text) {
        return ZELNetworkUtilities::dictionaryFromQueryString(std::string(text));
    };
    EXPECT_EQ(query("A=1;b=%41&c&d=1=2"), (Dictionary{{"a", Value("1")}, {"b", Value("A")}}));
    EXPECT_EQ(query("%4B=1&k=2&p=a+b"), (Dictionary{{"k", Value("2")}, {"p", Value("a+b")}}));
    // Blanks and line ends before an item are skipped, not inside or after it.
    EXPECT_EQ(query("  a=1 &\n\tb=2;; & c=3 "),
              (Dictionary{{"a", Value("1 ")}, {"b", Value("2")}, {"c", Value("3 ")}}));
    EXPECT_EQ(query("bad=%ZZ&short=%4&end=%&utf=%C3%28&raw=\xFF&%FF=k&ok=%C3%A9"), (Dictionary{{"ok", Value("é")}}));
    EXPECT_TRUE(query("&&;;").empty());
    ZELNetworkUtilities::setUserAgentString(std::string("Agent/1"));
    ZELNetworkUtilities::setUserAgentString(std::string(""));
    ZELNetworkUtilities::setUserAgentString(std::nullopt);
    EXPECT_EQ(ZELNetworkUtilities::userAgentString(), std::optional<std::string>("Agent/1"))
        << "the last non-empty one";
}

// A page's line cannot end the log line, forge another, turn the terminal
// or flood the log.
TEST(ZELLogTextTest, PageTextIsMadeFitForTheLog) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text, ñ and \xF0\x9F\x98\x80", "plain text, ñ and \xF0\x9F\x98\x80"},
        {"a\nb\r\n<Nimbra> forged\tline\x1B[31m", "ab<Nimbra> forgedline[31m"},
        {"del\x7F c1\xC2\x85 bidi\xE2\x80\xAEtxet lsep\xE2\x80\xA8!", "del c1 biditxet lsep!"},
        {"bad \xFF byte, cut \xE2\x82", "bad ? byte, cut ??"},
        {std::string(498, 'x') + "\xC3\xB1\xC3\xB1", std::string(498, 'x') + "\xC3\xB1..."},
    };
    for (const auto& [text, logged] : cases) EXPECT_EQ(ZELLogText::printable(text), logged) << text;
    EXPECT_EQ(ZELLogText::printable(std::string(1 << 20, 'y')).size(), ZELLogText::kMaxBytes + 3);
}

}  // namespace
