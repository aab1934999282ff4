// The base64 forms the component reads and writes (its pictures, the place in
// a request): the group loops at every length, padding, leftover bits and
// characters that are no digit. Other alphabets of the library go unused.
#include <gtest/gtest.h>

#include <random>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Encoding = ZEL_HRBStringEncoding;
using Decoded = std::optional<std::string>;
const Decoded none = std::nullopt;

TEST(StringEncoding, Rfc4648VectorsAndEveryLengthBackAgain) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    for (size_t i = 0; i < std::size(plain); ++i) {
        EXPECT_EQ(b64->encode(plain[i]), encoded[i]);
        EXPECT_EQ(b64->decode(encoded[i]), Decoded(plain[i])) << encoded[i];
    }
    // Random bytes around the group sizes, also with ignored characters
    // breaking the groups up.
    std::mt19937 rng(7);
    ASSERT_TRUE(b64->ignoreCharacters("\t"));
    for (size_t n = 0; n <= 40; ++n) {
        std::string bytes(n, '\0');
        for (char& c : bytes) c = static_cast<char>(rng());
        std::string text = b64->encode(bytes);
        ASSERT_EQ(text.size() % 4, 0u) << n;
        ASSERT_EQ(b64->decode(text), bytes) << n;
        for (size_t at = text.size(); at > 0; at -= std::min<size_t>(at, 3)) text.insert(at, "\t");
        ASSERT_EQ(b64->decode(text), bytes) << n;
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
    EXPECT_FALSE(b64->ignoreCharacters("Y="));  // a character with a meaning keeps it
    EXPECT_FALSE(b64->setPaddingChar('A'));     // an alphabet character cannot pad
}

}  // namespace
