// The base64 the component reads (its own pictures' text) and writes: exact
// texts. The web-safe form is the place test's, which reads a request's place
// back; round trips at every length and hostile text are the decode fuzz
// target's.
#include <gtest/gtest.h>

#include "ThirdParty/ZEL_HRBStringEncoding.h"

namespace {

using Encoding = ZEL_HRBStringEncoding;
using Decoded = std::optional<std::string>;

TEST(StringEncoding, Rfc4648Vectors) {
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    auto b64 = Encoding::rfc4648Base64StringEncoding();
    for (size_t i = 0; i < std::size(plain); ++i) {
        EXPECT_EQ(b64->encode(plain[i]), encoded[i]);
        EXPECT_EQ(b64->decode(encoded[i]), Decoded(plain[i])) << encoded[i];
    }
}

}  // namespace
