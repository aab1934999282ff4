#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Encoding = ZEL_HRBStringEncoding;
using Decoded = std::optional<std::string>;
const Decoded none = std::nullopt;

// Bit-at-a-time model of the encoding, to hold the group loops against.
std::string modelEncode(const std::string& alphabet, int shift, const std::string& bytes) {
    std::string out;
    int value = 0, bits = 0;
    for (unsigned char byte : bytes)
        for (int i = 7; i >= 0; --i) {
            value = (value << 1) | ((byte >> i) & 1);
            if (++bits == shift) {
                out += alphabet[static_cast<size_t>(value)];
                value = bits = 0;
            }
        }
    if (bits > 0) out += alphabet[static_cast<size_t>(value << (shift - bits))];
    return out;
}

}  // namespace

TEST(StringEncoding, Rfc4648TestVectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const std::vector<std::pair<std::shared_ptr<Encoding>, std::vector<const char*>>> cases = {
        {Encoding::rfc4648Base64StringEncoding(), {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"}},
        {Encoding::rfc4648Base32StringEncoding(),
         {"", "MY======", "MZXQ====", "MZXW6===", "MZXW6YQ=", "MZXW6YTB", "MZXW6YTBOI======"}},
        {Encoding::hexStringEncoding(), {"", "66", "666F", "666F6F", "666F6F62", "666F6F6261", "666F6F626172"}},
    };
    for (const auto& [encoding, encoded] : cases)
        for (size_t i = 0; i < encoded.size(); ++i) {
            EXPECT_EQ(encoding->encode(plain[i]), encoded[i]) << encoding->description();
            EXPECT_EQ(encoding->decode(encoded[i]), Decoded(plain[i])) << encoded[i];
        }
}

TEST(StringEncoding, Base64PaddingLeftoversAndForeignCharacters) {
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    b64->setDoPad(false);
    EXPECT_EQ(b64->encode("ab"), "YWI");
    const std::vector<std::pair<std::string, Decoded>> decodes = {
        {"YWI", "ab"}, {"YWI=", "ab"}, {"YWI===", "ab"}, {"", ""},
        {"YWJ=", none},      // leftover bits set
        {"YW=I", none},      // digit after padding
        {"YWJjYW=I", none},  // ... also after a whole group
        {"YW I=", none},     // blanks are skipped only when asked
        {"YWJjYWJj\xFF\xFF\xFF\xFF", none},
        {std::string("YWJ") + static_cast<char>('j' | 0x80), none},  // high bit must not alias a digit
    };
    for (const auto& [text, expected] : decodes) EXPECT_EQ(b64->decode(text), expected) << text;
    const std::string bytes("\xFB\xFF", 2);
    auto websafe = Encoding::rfc4648Base64WebsafeStringEncoding();
    EXPECT_EQ(Encoding::rfc4648Base64StringEncoding()->encode(bytes), "+/8=");
    EXPECT_EQ(websafe->encode(bytes), "-_8=");
    EXPECT_EQ(websafe->decode("+/8="), none);
    EXPECT_EQ(b64->stringByDecoding(b64->encode("\xFF\xFE")), none);  // not UTF-8
}

TEST(StringEncoding, SynonymsAlphabetsPaddingAndIgnoredCharacters) {
    EXPECT_EQ(Encoding::hexStringEncoding()->decode("ab"), Decoded("\xAB"));
    const std::string oneInFortyBits("\0\0\0\0\x01", 5);
    for (const char* text : {"OoOoOoOL", "0000000i"}) EXPECT_EQ(Encoding::crockfordBase32StringEncoding()->decode(text), oneInFortyBits);
    for (const char* bad : {"abc", "a", "", "abca", "01\xC3\xA9"})
        EXPECT_EQ(Encoding::stringEncodingWithString(bad), nullptr) << bad;
    auto b32 = Encoding::rfc4648Base32StringEncoding();
    EXPECT_FALSE(b32->setPaddingChar('A'));  // an alphabet character cannot pad
    EXPECT_TRUE(b32->setPaddingChar('*'));
    EXPECT_EQ(b32->encode("f"), "MY******");
    EXPECT_EQ(b32->decode("MY======"), none);
    // Padding switched on with no padding character: no NUL bytes in the text.
    auto crockford = Encoding::crockfordBase32StringEncoding();
    crockford->setDoPad(true);
    EXPECT_EQ(crockford->encode("f"), "CR");
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    EXPECT_TRUE(b64->ignoreCharacters(" \n"));
    EXPECT_FALSE(b64->ignoreCharacters("Y="));  // a character with a meaning keeps it
    EXPECT_EQ(b64->decode("YW I= \n"), Decoded("ab"));
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
        auto encoding = Encoding::stringEncodingWithString(alphabet);
        ASSERT_TRUE(encoding) << shift;
        ASSERT_EQ(encoding->setPaddingChar(' '), shift < 7);
        ASSERT_EQ(encoding->ignoreCharacters("\t"), shift < 7);
        for (size_t n = 0; n <= 40; ++n) {
            std::string bytes(n, '\0');
            for (char& c : bytes) c = static_cast<char>(rng());
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
