#include <openssl/evp.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>

#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "Utility/ZELLocation.h"
#include "unit/support/SimTest.h"

namespace {

constexpr double kMarch2011 = 1300000000.0;
const std::string kRecord =
    "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: 1300000000000000 "
    "latlng <latitude_e7: 455000000 longitude_e7: -732500000> radius: 12500";

std::string decodeWebSafe(const std::string& text) {
    auto encoding = ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding();
    auto bytes = encoding->decode(text);
    return bytes.value_or("<undecodable>");
}

int32_t littleEndianWord(const std::string& bytes, size_t at) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return static_cast<int32_t>(word);
}

// The ad server's side: AES-128-CBC with the shared key, no cipher padding.
std::string decipher(const std::string& cipher, const unsigned char* iv) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    std::string plain(cipher.size() + 16, '\0');
    int written = 0, last = 0;
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    EVP_DecryptInit_ex(context, EVP_aes_128_cbc(), nullptr, ZELLocation::encryptionKey.data(), iv);
    EVP_CIPHER_CTX_set_padding(context, 0);
    EVP_DecryptUpdate(context, out, &written, reinterpret_cast<const unsigned char*>(cipher.data()),
                      static_cast<int>(cipher.size()));
    EVP_DecryptFinal_ex(context, out + written, &last);
    EVP_CIPHER_CTX_free(context);
    plain.resize(static_cast<size_t>(written + last));
    return plain;
}

class LocationTest : public SimTest {
protected:
    std::shared_ptr<ZELLocation> montreal() {
        auto location = ZELLocation::initWithLatitude(45.5f, -73.25f, 12.5f);
        location->setTimestamp(kMarch2011);
        return location;
    }
};

}  // namespace

TEST_F(LocationTest, PreciseOnlyInsideTheRangesAndAwayFromZero) {
    EXPECT_TRUE(ZELLocation::initWithLatitude(90.0f, 180.0f, 5));
    EXPECT_TRUE(ZELLocation::initWithLatitude(-90.0f, -180.0f, 5));
    EXPECT_TRUE(ZELLocation::initWithLatitude(1e-6f, 1e-6f, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(90.5f, 10, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(10, -180.5f, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(0, 10, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(10, 0, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(1e-8f, 10, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(std::nanf(""), 10, 5));
    EXPECT_FALSE(ZELLocation::initWithLatitude(10, INFINITY, 5));
    EXPECT_FALSE(ZELLocation::initWithDescription(""));
}

TEST_F(LocationTest, RecordTextAndTimestampFromTheClock) {
    sim().clock().setUnixTime(kMarch2011 + 0.25);
    auto location = ZELLocation::initWithLatitude(45.5f, -73.25f, 12.5f);
    ASSERT_TRUE(location);
    EXPECT_DOUBLE_EQ(location->timestamp(), kMarch2011 + 0.25);
    location->setTimestamp(kMarch2011);
    EXPECT_EQ(location->recordText(), kRecord);
    EXPECT_EQ(kRecord.size(), 162u);
    EXPECT_EQ(location->description(), "45.500000,-73.250000");
}

TEST_F(LocationTest, UuleDeciphersBackToTheRecord) {
    const auto uule = montreal()->oolongRepresentation();
    ASSERT_TRUE(uule);
    ASSERT_EQ(uule->substr(0, 3), "e1+");
    ASSERT_EQ(uule->size(), 3u + 256u);
    EXPECT_EQ(uule->find('='), std::string::npos);

    const std::string bytes = decodeWebSafe(uule->substr(3));
    ASSERT_EQ(bytes.size(), 192u);
    EXPECT_EQ(littleEndianWord(bytes, 0), 1300000000);
    EXPECT_EQ(littleEndianWord(bytes, 4), 2147483647);
    EXPECT_EQ(littleEndianWord(bytes, 8), 2147483647);
    EXPECT_EQ(littleEndianWord(bytes, 12), 2147483647);

    std::string plain = decipher(bytes.substr(16), reinterpret_cast<const unsigned char*>(bytes.data()));
    ASSERT_EQ(plain.size(), 176u);
    EXPECT_EQ(plain.substr(162), std::string(14, '\x0e'));
    EXPECT_EQ(plain.substr(0, 162), kRecord);
}

TEST_F(LocationTest, RecordOfWholeBlocksGetsAFullPaddingBlock) {
    // Seconds chosen so that the record text is exactly 160 bytes long.
    auto location = ZELLocation::initWithLatitude(4.5f, -73.25f, 1.5f);
    location->setTimestamp(kMarch2011);
    ASSERT_EQ(location->recordText().size(), 160u);
    const std::string bytes = decodeWebSafe(location->oolongRepresentation()->substr(3));
    const std::string plain = decipher(bytes.substr(16), reinterpret_cast<const unsigned char*>(bytes.data()));
    ASSERT_EQ(plain.size(), 176u);
    EXPECT_EQ(plain.substr(160), std::string(16, '\x10'));
    EXPECT_EQ(plain.substr(0, 160), location->recordText());
}

TEST_F(LocationTest, VectorWordsOfAnEarlyTimeAndHugeValuesSaturate) {
    auto location = montreal();
    location->setTimestamp(1000.75);
    const std::string bytes = decodeWebSafe(location->oolongRepresentation()->substr(3));
    const int32_t words[] = {1000, 2001, 3002, 4003};  // 1000.75 times 1..4, truncated
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(littleEndianWord(bytes, i * 4), words[i]);

    auto wide = ZELLocation::initWithLatitude(45.5f, -73.25f, 1e12f);
    wide->setTimestamp(kMarch2011);
    EXPECT_NE(wide->recordText().find("radius: 2147483647"), std::string::npos);
    auto unknown = ZELLocation::initWithLatitude(45.5f, -73.25f, std::nanf(""));
    EXPECT_NE(unknown->recordText().find("radius: 0"), std::string::npos);
}

TEST_F(LocationTest, DescribedPlaceIsEncodedInTheClear) {
    auto location = ZELLocation::initWithDescription("Caf\xC3\xA9 \"Le D\xC3\xB4me\", Paris");
    ASSERT_TRUE(location);
    EXPECT_FALSE(location->isPreciseLocation());
    EXPECT_EQ(location->description(), "Caf\xC3\xA9 \"Le D\xC3\xB4me\", Paris");
    location->setTimestamp(kMarch2011);
    const auto uule = location->oolongRepresentation();
    ASSERT_TRUE(uule);
    ASSERT_EQ(uule->substr(0, 2), "a+");
    EXPECT_TRUE(std::regex_match(uule->substr(2), std::regex("[A-Za-z0-9_-]+")));
    EXPECT_EQ(decodeWebSafe(uule->substr(2)),
              "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: 1300000000000000 "
              "loc: \"Caf\xC3\xA9 'Le D\xC3\xB4me', Paris\"");
}

TEST_F(LocationTest, EqualityIgnoresTimeButNotKindOrValues) {
    auto first = montreal();
    auto second = ZELLocation::initWithLatitude(45.5f, -73.25f, 12.5f);
    second->setTimestamp(kMarch2011 + 60);
    EXPECT_TRUE(first->isEqual(second.get()));
    EXPECT_NE(first->oolongRepresentation(), second->oolongRepresentation());

    EXPECT_FALSE(first->isEqual(ZELLocation::initWithLatitude(45.5f, -73.25f, 13.0f).get()));
    EXPECT_FALSE(first->isEqual(ZELLocation::initWithLatitude(45.5f, -73.2f, 12.5f).get()));
    EXPECT_FALSE(first->isEqual(ZELLocation::initWithDescription(first->description()).get()));
    EXPECT_FALSE(first->isEqual(nullptr));
    EXPECT_TRUE(*ZELLocation::initWithDescription("Lyon") == *ZELLocation::initWithDescription("Lyon"));
    EXPECT_FALSE(*ZELLocation::initWithDescription("Lyon") == *ZELLocation::initWithDescription("lyon"));
}

TEST_F(LocationTest, CopyKeepsTheTimestampOfTheOriginal) {
    sim().clock().setUnixTime(kMarch2011);
    auto precise = ZELLocation::initWithLatitude(45.5f, -73.25f, 12.5f);
    auto described = ZELLocation::initWithDescription("Lyon");
    sim().advance(3600);
    for (const auto& original : {precise, described}) {
        auto copy = original->copy();
        ASSERT_TRUE(copy);
        EXPECT_NE(copy, original);
        EXPECT_TRUE(copy->isEqual(original.get()));
        EXPECT_DOUBLE_EQ(copy->timestamp(), kMarch2011);
        EXPECT_EQ(copy->oolongRepresentation(), original->oolongRepresentation());
    }
}
