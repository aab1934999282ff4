// The base64 forms the component reads and writes (its pictures, the place in
// a request): exact texts, padding, leftover bits and characters that are no
// digit. Round trips at every length are the decode fuzz target's; it cannot
// tell a wrongly accepted text, which is why the refusals are here.
#include <gtest/gtest.h>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Encoding = ZEL_HRBStringEncoding;
using Decoded = std::optional<std::string>;
const Decoded none = std::nullopt;

TEST(StringEncoding, Rfc4648Vectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    for (size_t i = 0; i < std::size(plain); ++i) {
        EXPECT_EQ(b64->encode(plain[i]), encoded[i]);
        EXPECT_EQ(b64->decode(encoded[i]), Decoded(plain[i])) << encoded[i];
    }
}

TEST(StringEncoding, Base64PaddingLeftoversAndForeignCharacters) {
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    b64->setDoPad(false);
    EXPECT_EQ(b64->encode("ab"), "YWI");
    const std::vector<std::pair<std::string, Decoded>> decodes = {
        {"YWI", "ab"}, {"YWI=", "ab"}, {"YWI===", "ab"},
        {"YWJ=", none},      // leftover bits set
        {"YW=I", none},      // digit after padding
        {"YWJjYW=I", none},  // ... also after a whole group
        {"YW I=", none},     // blanks are skipped only when asked
        {std::string("YWJ") + static_cast<char>('j' | 0x80), none},  // high bit must not alias a digit
    };
    for (const auto& [text, expected] : decodes) EXPECT_EQ(b64->decode(text), expected) << text;
    const std::string bytes("\xFB\xFF", 2);
    auto websafe = Encoding::rfc4648Base64WebsafeStringEncoding();
    EXPECT_EQ(websafe->encode(bytes), "-_8=");
    EXPECT_EQ(websafe->decode("+/8="), none);
    EXPECT_EQ(b64->stringByDecoding(b64->encode("\xFF\xFE")), none);  // not UTF-8
    EXPECT_FALSE(b64->ignoreCharacters("Y="));  // a character with a meaning keeps it
    EXPECT_FALSE(b64->setPaddingChar('A'));     // an alphabet character cannot pad
}

}  // namespace
