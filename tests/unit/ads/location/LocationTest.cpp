#include <openssl/evp.h>

#include <cmath>
#include <regex>

#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "Utility/ZELLocation.h"
#include "unit/support/SimTest.h"

namespace {

constexpr double kMarch2011 = 1300000000.0;
const std::string kRecord =
    "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: 1300000000000000 "
    "latlng <latitude_e7: 455000000 longitude_e7: -732500000> radius: 12500";

std::string decodeWebSafe(const std::string& text) {
    return ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding()->decode(text).value_or("<undecodable>");
}

struct Opened {
    int32_t iv[4];
    std::string padded;  // deciphered, padding still on
};

// What the ad server does with an "e1+" value: AES-128-CBC with the shared
// key and the vector in front, no cipher padding.
Opened open(const std::string& uule) {
    const std::string bytes = decodeWebSafe(uule.substr(3));
    Opened result{};
    for (size_t w = 0; w < 4; ++w)
        for (int b = 3; b >= 0; --b)
            result.iv[w] = static_cast<int32_t>((static_cast<uint32_t>(result.iv[w]) << 8) |
                                                static_cast<unsigned char>(bytes[w * 4 + static_cast<size_t>(b)]));
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    result.padded.assign(bytes.size(), '\0');
    int written = 0, last = 0;
    auto* out = reinterpret_cast<unsigned char*>(result.padded.data());
    EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr, ZELLocation::encryptionKey.data(),
                       reinterpret_cast<const unsigned char*>(bytes.data()));
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_DecryptUpdate(context, out, &written, reinterpret_cast<const unsigned char*>(bytes.data()) + 16,
                      static_cast<int>(bytes.size()) - 16);
    EVP_DecryptFinal_ex(context, out + written, &last);
    EVP_CIPHER_CTX_free(context);
    result.padded.resize(static_cast<size_t>(written + last));
    return result;
}

std::shared_ptr<ZELLocation> at(float latitude, float longitude, float accuracy, double timestamp = kMarch2011) {
    auto location = ZELLocation::initWithLatitude(latitude, longitude, accuracy);
    if (location) location->setTimestamp(timestamp);
    return location;
}

}  // namespace

using LocationTest = SimTest;

// Inside the ranges and away from zero (a place nobody is: no location).
TEST_F(LocationTest, OnlyAPreciseLocationIsALocation) {
    EXPECT_TRUE(at(90.0f, 180.0f, 5) && at(-90.0f, -180.0f, 5) && at(1e-6f, 1e-6f, 5));
    EXPECT_FALSE(at(90.5f, 10, 5) || at(10, -180.5f, 5) || at(0, 10, 5) || at(10, 0, 5) || at(1e-8f, 10, 5) ||
                 at(std::nanf(""), 10, 5) || at(10, INFINITY, 5) || ZELLocation::initWithDescription(""));
}

// The time of the clock, and a radius the record can hold.
TEST_F(LocationTest, TheRecordOfALocation) {
    sim().clock().setUnixTime(kMarch2011 + 0.25);
    EXPECT_DOUBLE_EQ(ZELLocation::initWithLatitude(45.5f, -73.25f, 12.5f)->timestamp(), kMarch2011 + 0.25);
    EXPECT_NE(at(45.5f, -73.25f, 1e12f)->recordText().find("radius: 2147483647"), std::string::npos);
    EXPECT_NE(at(45.5f, -73.25f, std::nanf(""))->recordText().find("radius: 0"), std::string::npos);
}

TEST_F(LocationTest, UuleDeciphersBackToTheRecord) {
    const auto uule = at(45.5f, -73.25f, 12.5f)->oolongRepresentation();
    ASSERT_TRUE(uule && uule->starts_with("e1+"));
    EXPECT_EQ(uule->size(), 3u + 256u);  // 192 bytes, no "=" after them
    const Opened opened = open(*uule);
    EXPECT_EQ(std::tuple(opened.iv[0], opened.iv[1], opened.iv[3]), std::tuple(1300000000, 2147483647, 2147483647));
    EXPECT_EQ(opened.padded, kRecord + std::string(14, '\x0e'));
    // A record of whole blocks gets a whole block of padding.
    auto even = at(4.5f, -73.25f, 1.5f);
    ASSERT_EQ(even->recordText().size(), 160u);
    EXPECT_EQ(open(*even->oolongRepresentation()).padded, even->recordText() + std::string(16, '\x10'));
    const Opened early = open(*at(45.5f, -73.25f, 12.5f, 1000.75)->oolongRepresentation());
    EXPECT_EQ(std::pair(early.iv[1], early.iv[3]), std::pair(2001, 4003));  // 1000.75 times 2, truncated
}

TEST_F(LocationTest, DescribedPlaceIsEncodedInTheClear) {
    auto location = ZELLocation::initWithDescription("Caf\xC3\xA9 \"Le D\xC3\xB4me\", Paris");
    ASSERT_TRUE(location);
    location->setTimestamp(kMarch2011);
    const auto uule = location->oolongRepresentation();
    ASSERT_TRUE(uule && uule->starts_with("a+"));
    EXPECT_TRUE(std::regex_match(uule->substr(2), std::regex("[A-Za-z0-9_-]+")));
    EXPECT_EQ(decodeWebSafe(uule->substr(2)),
              "role: 6 producer: 24 historical_role: 1 historical_producer: 12 "
              "timestamp: 1300000000000000 loc: \"Caf\xC3\xA9 'Le D\xC3\xB4me', Paris\"");
}
