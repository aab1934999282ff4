#pragma once
// Where the user is, as an application hands it to an ad request: precise
// coordinates with an accuracy radius, or a place described in words. Its
// oolongRepresentation is the value of the request's "uule" parameter.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class ZELLocation {
public:
    // AES-128 key of the "e1+" form; the ad server holds the same bytes.
    static constexpr std::array<unsigned char, 16> encryptionKey = {0x6e, 0x31, 0xb4, 0x0c, 0x9a, 0x57, 0xe2, 0x18,
                                                                    0xd3, 0x4f, 0x81, 0x2b, 0xc6, 0x75, 0x3d, 0xa9};

    // Single-precision machine epsilon: coordinates this close to zero, and
    // accuracies this close together, count as zero and as equal.
    static constexpr float kEpsilon = 1.1920929e-7f;

    // nullptr unless the coordinates make a precise location.
    static std::shared_ptr<ZELLocation> initWithLatitude(float latitude, float longitude, float accuracy);
    // nullptr for an empty text.
    static std::shared_ptr<ZELLocation> initWithDescription(std::string_view description);

    // |latitude| <= 90, |longitude| <= 180, and neither within epsilon of 0.
    static bool isPreciseCoordinate(float latitude, float longitude);
    bool isPreciseLocation() const;

    // The described text; for precise coordinates "%f,%f" of latitude and
    // longitude; otherwise empty.
    std::string description() const;

    // "e1+..." (enciphered record) for precise locations, "a+..." for
    // described ones; no value when the encipherment fails.
    std::optional<std::string> oolongRepresentation() const;

    // Same kind; precise: coordinates and accuracy within epsilon; described:
    // the same text. The timestamp is not compared.
    bool isEqual(const ZELLocation* other) const;
    bool operator==(const ZELLocation& other) const { return isEqual(&other); }

    // A new location made the same way, carrying this one's timestamp.
    std::shared_ptr<ZELLocation> copy() const;

    float latitude() const { return latitude_; }
    float longitude() const { return longitude_; }
    float accuracy() const { return accuracy_; }
    // Seconds since 1970-01-01 00:00:00 GMT.
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }

    // The plain record text behind the "e1+" form (before padding and
    // encipherment) and behind the "a+" form.
    std::string recordText() const;

    ZELLocation() = default;

private:
    float latitude_ = 0;
    float longitude_ = 0;
    float accuracy_ = 0;
    std::optional<std::string> description_;
    double timestamp_ = 0;
};
