#include "Utility/ZELLocation.h"

#include <openssl/evp.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "ThirdParty/ZEL_HRBStringEncoding.h"
#include "platform/Services.h"

namespace {

constexpr char kRecordPrefix[] = "role: 6 producer: 24 historical_role: 1 historical_producer: 12 timestamp: %.0f";

// Truncates toward zero into the signed 32-bit range, saturating at its ends
// (NaN reads as 0) so no reading can make the conversion undefined.
int32_t truncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

std::string webSafeBase64(std::string_view bytes) {
    auto encoding = ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding();
    encoding->setDoPad(false);
    return encoding->encode(bytes);
}

std::optional<std::string> encryptAES128CBC(const std::string& padded, const unsigned char* key,
                                            const unsigned char* iv) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!context) return std::nullopt;
    std::string result(padded.size() + 16, '\0');
    int written = 0, finalWritten = 0;
    auto* out = reinterpret_cast<unsigned char*>(result.data());
    const bool ok = EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr, key, iv) == 1 &&
                    EVP_CIPHER_CTX_set_padding(context, 0) == 1 &&
                    EVP_EncryptUpdate(context, out, &written, reinterpret_cast<const unsigned char*>(padded.data()),
                                      static_cast<int>(padded.size())) == 1 &&
                    EVP_EncryptFinal_ex(context, out + written, &finalWritten) == 1;
    EVP_CIPHER_CTX_free(context);
    if (!ok) return std::nullopt;
    result.resize(static_cast<size_t>(written + finalWritten));
    return result;
}

}  // namespace

bool ZELLocation::isPreciseCoordinate(float latitude, float longitude) {
    const float la = std::fabs(latitude), lo = std::fabs(longitude);
    return la <= 90.0f && lo <= 180.0f && la > kEpsilon && lo > kEpsilon;
}

std::shared_ptr<ZELLocation> ZELLocation::initWithLatitude(float latitude, float longitude, float accuracy) {
    if (!isPreciseCoordinate(latitude, longitude)) return nullptr;
    auto location = std::make_shared<ZELLocation>();
    location->latitude_ = latitude;
    location->longitude_ = longitude;
    location->accuracy_ = accuracy;
    location->timestamp_ = platform::Clock::current().unixTime();
    return location;
}

std::shared_ptr<ZELLocation> ZELLocation::initWithDescription(std::string_view description) {
    if (description.empty()) return nullptr;
    auto location = std::make_shared<ZELLocation>();
    location->description_ = std::string(description);
    location->timestamp_ = platform::Clock::current().unixTime();
    return location;
}

bool ZELLocation::isPreciseLocation() const { return isPreciseCoordinate(latitude_, longitude_); }

std::string ZELLocation::description() const {
    if (description_) return *description_;
    if (!isPreciseLocation()) return {};
    char text[96];
    std::snprintf(text, sizeof text, "%f,%f", static_cast<double>(latitude_), static_cast<double>(longitude_));
    return text;
}

bool ZELLocation::isEqual(const ZELLocation* other) const {
    if (!other || other->isPreciseLocation() != isPreciseLocation()) return false;
    if (isPreciseLocation())
        return std::fabs(latitude_ - other->latitude_) < kEpsilon &&
               std::fabs(longitude_ - other->longitude_) < kEpsilon &&
               std::fabs(accuracy_ - other->accuracy_) < kEpsilon;
    return description() == other->description();
}

std::shared_ptr<ZELLocation> ZELLocation::copy() const {
    auto result =
        isPreciseLocation() ? initWithLatitude(latitude_, longitude_, accuracy_) : initWithDescription(description());
    if (result) result->timestamp_ = timestamp_;
    return result;
}

std::string ZELLocation::recordText() const {
    char prefix[128];
    std::snprintf(prefix, sizeof prefix, kRecordPrefix, timestamp_ * 1000000.0);
    if (isPreciseLocation()) {
        char rest[128];
        std::snprintf(rest, sizeof rest, " latlng <latitude_e7: %ld longitude_e7: %ld> radius: %ld",
                      static_cast<long>(truncateToInt32(static_cast<double>(latitude_) * 10000000.0)),
                      static_cast<long>(truncateToInt32(static_cast<double>(longitude_) * 10000000.0)),
                      static_cast<long>(truncateToInt32(static_cast<double>(accuracy_) * 1000.0)));
        return prefix + std::string(rest);
    }
    std::string place = description();
    for (char& c : place)
        if (c == '"') c = '\'';
    return prefix + std::string(" loc: \"") + place + "\"";
}

std::optional<std::string> ZELLocation::oolongRepresentation() const {
    const std::string record = recordText();
    if (!isPreciseLocation()) return "a+" + webSafeBase64(record);

    // PKCS #7 style: 1 to 16 bytes, each holding the count.
    std::string padded = record;
    const size_t pad = 16 - padded.size() % 16;
    padded.append(pad, static_cast<char>(pad));

    // Vector: seconds times 1..4, as little-endian 32-bit words.
    unsigned char iv[16];
    for (int i = 0; i < 4; ++i) {
        const auto word = static_cast<uint32_t>(truncateToInt32(timestamp_ * (i + 1)));
        for (int b = 0; b < 4; ++b) iv[i * 4 + b] = static_cast<unsigned char>(word >> (8 * b));
    }

    auto cipher = encryptAES128CBC(padded, encryptionKey.data(), iv);
    if (!cipher) return std::nullopt;
    std::string bytes(reinterpret_cast<const char*>(iv), sizeof iv);
    bytes += *cipher;
    return "e1+" + webSafeBase64(bytes);
}
