#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Factory = std::shared_ptr<ZEL_HRBStringEncoding> (*)();

struct Vector {
    const char* plain;
    const char* encoded;
};

void expectVectors(Factory factory, const std::vector<Vector>& vectors) {
    auto encoding = factory();
    ASSERT_TRUE(encoding);
    for (const auto& v : vectors) {
        EXPECT_EQ(encoding->encode(v.plain), v.encoded) << v.plain;
        EXPECT_EQ(encoding->decode(v.encoded), std::optional<std::string>(v.plain)) << v.encoded;
    }
}

// Bit-at-a-time model of the encoding, to hold the group loops against.
std::string modelEncode(const std::string& alphabet, int shift, const std::string& bytes) {
    std::string out;
    int value = 0, bits = 0;
    for (unsigned char byte : bytes) {
        for (int i = 7; i >= 0; --i) {
            value = (value << 1) | ((byte >> i) & 1);
            if (++bits == shift) {
                out += alphabet[static_cast<size_t>(value)];
                value = bits = 0;
            }
        }
    }
    if (bits > 0) out += alphabet[static_cast<size_t>(value << (shift - bits))];
    return out;
}

std::string randomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xff);
    return s;
}

}  // namespace

TEST(StringEncoding, Rfc4648TestVectors) {
    expectVectors(&ZEL_HRBStringEncoding::rfc4648Base64StringEncoding,
                  {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
                   {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}});
    expectVectors(&ZEL_HRBStringEncoding::rfc4648Base32StringEncoding,
                  {{"", ""}, {"f", "MY======"}, {"fo", "MZXQ===="}, {"foo", "MZXW6==="}, {"foob", "MZXW6YQ="},
                   {"fooba", "MZXW6YTB"}, {"foobar", "MZXW6YTBOI======"}});
    expectVectors(&ZEL_HRBStringEncoding::rfc4648Base32HexStringEncoding,
                  {{"", ""}, {"f", "CO======"}, {"fo", "CPNG===="}, {"foo", "CPNMU==="}, {"foob", "CPNMUOG="},
                   {"fooba", "CPNMUOJ1"}, {"foobar", "CPNMUOJ1E8======"}});
    expectVectors(&ZEL_HRBStringEncoding::hexStringEncoding,
                  {{"", ""}, {"f", "66"}, {"fo", "666F"}, {"foo", "666F6F"}, {"foob", "666F6F62"},
                   {"fooba", "666F6F6261"}, {"foobar", "666F6F626172"}});
}

TEST(StringEncoding, Base64PaddingAndLeftovers) {
    auto b64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_EQ(b64->encode("abc"), "YWJj");
    EXPECT_EQ(b64->encode("ab"), "YWI=");
    b64->setDoPad(false);
    EXPECT_EQ(b64->encode("ab"), "YWI");
    EXPECT_EQ(b64->encode(""), "");
    // Padding is read whether or not it is written, and its count is not checked.
    EXPECT_EQ(b64->decode("YWI"), std::optional<std::string>("ab"));
    EXPECT_EQ(b64->decode("YWI="), std::optional<std::string>("ab"));
    EXPECT_EQ(b64->decode("YWI==="), std::optional<std::string>("ab"));
    EXPECT_EQ(b64->decode("YWJ="), std::nullopt);   // leftover bits set
    EXPECT_EQ(b64->decode("YW=I"), std::nullopt);   // digit after padding
    EXPECT_EQ(b64->decode("YWJjYW=I"), std::nullopt);
    EXPECT_EQ(b64->decode("YW I="), std::nullopt);  // blanks are not skipped unless asked
    EXPECT_EQ(b64->decode("YWJj!"), std::nullopt);
    EXPECT_EQ(b64->decode(""), std::optional<std::string>(""));
}

TEST(StringEncoding, WebsafeAlphabetDiffersInLastTwoDigits) {
    const std::string bytes("\xFB\xFF", 2);
    auto standard = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    auto websafe = ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding();
    EXPECT_EQ(standard->encode(bytes), "+/8=");
    EXPECT_EQ(websafe->encode(bytes), "-_8=");
    EXPECT_EQ(websafe->decode("-_8="), bytes);
    EXPECT_EQ(websafe->decode("+/8="), std::nullopt);
    EXPECT_EQ(standard->decode("-_8="), std::nullopt);
}

TEST(StringEncoding, NonAsciiInputIsRejectedAnywhere) {
    auto b64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    for (const char* text : {"\xC3\xA9YWJj", "YW\xC3\xA9Jj", "YWJj\x80", "YWJjYWJj\xFF\xFF\xFF\xFF"})
        EXPECT_EQ(b64->decode(text), std::nullopt) << text;
    // A byte whose low seven bits name a digit must not pass for that digit.
    EXPECT_EQ(b64->decode(std::string("YWJ") + static_cast<char>('j' | 0x80)), std::nullopt);
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString("01\xC3\xA9"), nullptr);
}

TEST(StringEncoding, SynonymsOfHexAndCrockford) {
    auto hex = ZEL_HRBStringEncoding::hexStringEncoding();
    EXPECT_EQ(hex->encode("\xAB"), "AB");
    EXPECT_EQ(hex->decode("ab"), std::optional<std::string>("\xAB"));
    EXPECT_EQ(hex->decode("aG"), std::nullopt);

    auto crockford = ZEL_HRBStringEncoding::crockfordBase32StringEncoding();
    const std::string canonical = crockford->encode("hello world");
    const std::string oneInFortyBits("\0\0\0\0\x01", 5);
    EXPECT_EQ(crockford->decode("0000000" "1"), oneInFortyBits);
    EXPECT_EQ(crockford->decode("OoOoOoO" "L"), oneInFortyBits);
    EXPECT_EQ(crockford->decode("0000000" "l"), oneInFortyBits);
    EXPECT_EQ(crockford->decode("0000000" "I"), oneInFortyBits);
    std::string lower = canonical;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(crockford->decode(lower), std::optional<std::string>("hello world"));
    EXPECT_EQ(crockford->decode("U"), std::nullopt);  // not in the alphabet, not a synonym
}

TEST(StringEncoding, UnusableAlphabetsGiveNoEncoder) {
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString("abc"), nullptr);
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString("a"), nullptr);
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString(""), nullptr);
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString("abca"), nullptr);
    std::string big;
    for (int i = 0; i < 128; ++i) big += static_cast<char>(i);
    auto full = ZEL_HRBStringEncoding::stringEncodingWithString(big);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->shift(), 7);
    EXPECT_EQ(ZEL_HRBStringEncoding::stringEncodingWithString(big + "x"), nullptr);
    EXPECT_EQ(ZEL_HRBStringEncoding::binaryStringEncoding()->encode("\x81"), "10000001");
}

TEST(StringEncoding, IgnoredCharactersAreSkippedOnlyWhenAsked) {
    auto b64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_TRUE(b64->ignoreCharacters(" \n"));
    EXPECT_EQ(b64->decode("YW I="), std::optional<std::string>("ab"));
    EXPECT_EQ(b64->decode("Zm9v\nYmFy\n"), std::optional<std::string>("foobar"));
    EXPECT_EQ(b64->decode("YWI= \n"), std::optional<std::string>("ab"));
    // A character with a meaning keeps it.
    EXPECT_FALSE(b64->ignoreCharacters("Y="));
    EXPECT_EQ(b64->decode("YWI="), std::optional<std::string>("ab"));
    EXPECT_EQ(b64->description().rfind("<Base64 StringEncoder: ABCDEFGH", 0), 0u);
}

TEST(StringEncoding, PaddingCharacterCanBeChanged) {
    auto b32 = ZEL_HRBStringEncoding::rfc4648Base32StringEncoding();
    EXPECT_FALSE(b32->setPaddingChar('A'));  // an alphabet character cannot pad
    EXPECT_TRUE(b32->setPaddingChar('*'));
    EXPECT_EQ(b32->encode("f"), "MY******");
    EXPECT_EQ(b32->decode("MY******"), std::optional<std::string>("f"));
    EXPECT_EQ(b32->decode("MY======"), std::nullopt);
    auto crockford = ZEL_HRBStringEncoding::crockfordBase32StringEncoding();
    EXPECT_EQ(crockford->encode("f"), "CR");  // no padding unless switched on
    // Switched on with no padding character: no NUL bytes in the text.
    crockford->setDoPad(true);
    EXPECT_FALSE(crockford->setPaddingChar('\0'));
    EXPECT_EQ(crockford->encode("f"), "CR");
}

TEST(StringEncoding, StringByDecodingNeedsUtf8) {
    auto b64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    EXPECT_EQ(b64->stringByDecoding(b64->encodeString("caf\xC3\xA9")), std::optional<std::string>("caf\xC3\xA9"));
    EXPECT_EQ(b64->stringByDecoding(b64->encode("\xFF\xFE")), std::nullopt);
}

// Every alphabet size, every length around the group sizes, padded or not:
// the group loops must agree with the bit-at-a-time model and decode back,
// also with ignored characters breaking the groups up.
TEST(StringEncoding, GroupLoopsAgreeWithBitModelForAllSizes) {
    std::mt19937 rng(7);
    std::string ascii;  // the blank pads and the tab is skipped below
    for (int c = 127; c >= 0; --c)
        if (c != ' ' && c != '\t') ascii += static_cast<char>(c);
    for (int shift = 1; shift <= 7; ++shift) {
        std::string alphabet = ascii.substr(0, size_t{1} << shift);
        if (shift == 7) alphabet += " \t";  // the whole of ASCII: nothing left to pad with
        auto encoding = ZEL_HRBStringEncoding::stringEncodingWithString(alphabet);
        ASSERT_TRUE(encoding) << shift;
        ASSERT_EQ(encoding->setPaddingChar(' '), shift < 7);
        ASSERT_EQ(encoding->ignoreCharacters("\t"), shift < 7);
        for (size_t n = 0; n <= 40; ++n) {
            const std::string bytes = randomBytes(rng, n);
            const std::string expected = modelEncode(alphabet, shift, bytes);
            encoding->setDoPad(false);
            ASSERT_EQ(encoding->encode(bytes), expected) << shift << " " << n;
            ASSERT_EQ(encoding->decode(expected), bytes) << shift << " " << n;
            if (shift == 7) continue;
            encoding->setDoPad(true);
            const std::string padded = encoding->encode(bytes);
            ASSERT_EQ(padded.substr(0, expected.size()), expected);
            ASSERT_EQ(padded.find_first_not_of(' ', expected.size()), std::string::npos);
            ASSERT_EQ(padded.size() % static_cast<size_t>(std::lcm(8, shift) / shift), 0u);
            ASSERT_EQ(encoding->decode(padded), bytes) << shift << " " << n;
            std::string broken = expected;
            for (size_t at = broken.size(); at > 0; at -= std::min<size_t>(at, 3)) broken.insert(at, "\t");
            ASSERT_EQ(encoding->decode(broken), bytes) << shift << " " << n;
        }
    }
}

TEST(StringEncoding, LargeBase64RoundTrip) {
    std::mt19937 rng(11);
    const std::string bytes = randomBytes(rng, 100003);
    auto b64 = ZEL_HRBStringEncoding::rfc4648Base64StringEncoding();
    const std::string text = b64->encode(bytes);
    EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
    EXPECT_EQ(b64->decode(text), bytes);
    std::string damaged = text;
    damaged[text.size() / 2] = '.';
    EXPECT_EQ(b64->decode(damaged), std::nullopt);
}
