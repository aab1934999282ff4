// The base64 the component reads (its own pictures' text) and writes: exact
// texts. The web-safe form is the place test's, which reads a request's place
// back; round trips at every length and hostile text are the decode fuzz
// target's.
#include <gtest/gtest.h>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Encoding = ZEL_HRBStringEncoding;

TEST(StringEncoding, Rfc4648Vectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    for (size_t i = 0; i < std::size(plain); ++i) {
        EXPECT_EQ(b64->encode(plain[i]), encoded[i]);
        EXPECT_EQ(b64->decode(encoded[i]), std::optional<std::string>(plain[i])) << encoded[i];
    }
}

// Found by the decode fuzz target: padding switched on with no padding
// character put NUL bytes in the text.
TEST(StringEncoding, PaddingWithoutAPaddingCharacterAddsNothing) {
    auto crockford = Encoding::crockfordBase32StringEncoding();
    crockford->setDoPad(true);
    EXPECT_FALSE(crockford->setPaddingChar('\0'));
    EXPECT_EQ(crockford->encode("f"), "CR");
}

}  // namespace
