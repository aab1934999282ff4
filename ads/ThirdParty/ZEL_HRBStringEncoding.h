#pragma once
// Encoder between bytes and text for alphabets of 2, 4, ... 128 characters:
// each character carries log2(alphabet size) bits. The factories give the
// RFC 4648 alphabets, Crockford's Base32 and binary.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class ZEL_HRBStringEncoding {
public:
    // No encoder (nullptr) unless the alphabet is ASCII, 2 to 128 characters
    // long, a power of two in size and free of repeated characters.
    static std::shared_ptr<ZEL_HRBStringEncoding> stringEncodingWithString(std::string_view alphabet);
    static std::shared_ptr<ZEL_HRBStringEncoding> binaryStringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> hexStringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> rfc4648Base32StringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> rfc4648Base32HexStringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> crockfordBase32StringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> rfc4648Base64StringEncoding();
    static std::shared_ptr<ZEL_HRBStringEncoding> rfc4648Base64WebsafeStringEncoding();

    // Same rules as stringEncodingWithString; check valid() afterwards.
    explicit ZEL_HRBStringEncoding(std::string_view alphabet);
    bool valid() const { return shift_ != 0; }

    std::string encode(std::string_view bytes) const;
    std::string encodeString(std::string_view text) const { return encode(text); }

    // No value for a character outside the alphabet (any byte >= 128
    // included), a digit after padding, or leftover bits that are not zero.
    std::optional<std::string> decode(std::string_view text) const;
    // The decoded bytes as text; no value as above or when they are not UTF-8.
    std::optional<std::string> stringByDecoding(std::string_view text) const;

    bool doPad() const { return doPad_; }
    void setDoPad(bool pad) { doPad_ = pad; }
    // Recognised on decoding whether or not doPad is on. False (and nothing
    // changes) for NUL, a character of the alphabet or one outside ASCII.
    // Without a padding character doPad writes none.
    bool setPaddingChar(char c);
    char paddingChar() const { return paddingChar_; }

    // Each canonical character followed by the characters that mean the same:
    // "AaBb" lets "a" decode as "A" and "b" as "B".
    void addDecodeSynonyms(std::string_view synonyms);
    // Characters decoding skips. A character that already has a meaning keeps
    // it; the call then logs "Character already mapped" and returns false.
    bool ignoreCharacters(std::string_view characters);

    std::string description() const;
    const std::string& alphabet() const { return charMap_; }
    int shift() const { return shift_; }

private:
    static constexpr int8_t kInvalid = -1;
    static constexpr int8_t kPadding = -2;
    static constexpr int8_t kIgnore = -3;

    // Whole groups of digits from the start of [in, end): how many were written.
    size_t decodeGroups(const unsigned char* in, const unsigned char* end, unsigned char* out) const;
    void rebuildQuartetTable();

    std::string charMap_;                     // index to character
    std::array<int8_t, 256> reverseCharMap_;  // byte to digit value or a negative mark
    int shift_ = 0;
    uint32_t mask_ = 0;
    bool doPad_ = false;
    char paddingChar_ = 0;
    int padLen_ = 0;      // characters per whole group
    int groupBytes_ = 0;  // bytes per whole group
    // Base64 only: for each of the four places in a group, byte to the digit's
    // bits in place, or kNotDigit; one OR per group tells whether all are digits.
    static constexpr uint32_t kNotDigit = 1u << 31;
    std::vector<uint32_t> quartetTable_;
};

// The device-signals library knows the encoder by this name.
using HRBStringEncoding = ZEL_HRBStringEncoding;
