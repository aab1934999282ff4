#include "ThirdParty/ZEL_HRBStringEncoding.h"

#include <cstdio>
#include <numeric>

#include "platform/Services.h"
#include "platform/URL.h"

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Websafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char kBase32Hex[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
constexpr char kCrockford[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr char kCrockfordSynonyms[] = "0oO1iIlLAaBbCcDdEeFfGgHhJjKkMmNnPpQqRrSsTtVvWwXxYyZz";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kHexSynonyms[] = "AaBbCcDdEeFf";

std::shared_ptr<ZEL_HRBStringEncoding> padded(std::shared_ptr<ZEL_HRBStringEncoding> encoding) {
    encoding->setPaddingChar('=');
    encoding->setDoPad(true);
    return encoding;
}

}  // namespace

ZEL_HRBStringEncoding::ZEL_HRBStringEncoding(std::string_view alphabet) {
    reverseCharMap_.fill(kInvalid);
    const size_t size = alphabet.size();
    if (size < 2 || size > 128 || (size & (size - 1)) != 0) return;
    for (size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(alphabet[i]);
        if (c >= 128 || reverseCharMap_[c] != kInvalid) {
            reverseCharMap_.fill(kInvalid);
            return;
        }
        reverseCharMap_[c] = static_cast<int8_t>(i);
    }
    charMap_ = alphabet;
    int shift = 0;
    while ((size_t{1} << shift) < size) ++shift;
    shift_ = shift;
    mask_ = (1u << shift) - 1;
    const int groupBits = std::lcm(8, shift);
    padLen_ = groupBits / shift;
    groupBytes_ = groupBits / 8;
    rebuildQuartetTable();
}

void ZEL_HRBStringEncoding::rebuildQuartetTable() {
    if (shift_ != 6) return;
    quartetTable_.assign(4 * 256, kNotDigit);
    for (int c = 0; c < 128; ++c) {
        const int value = reverseCharMap_[static_cast<size_t>(c)];
        if (value < 0) continue;
        for (int place = 0; place < 4; ++place)
            quartetTable_[static_cast<size_t>(place * 256 + c)] = static_cast<uint32_t>(value) << (18 - 6 * place);
    }
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::stringEncodingWithString(std::string_view alphabet) {
    auto encoding = std::make_shared<ZEL_HRBStringEncoding>(alphabet);
    if (!encoding->valid()) return nullptr;
    return encoding;
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::binaryStringEncoding() {
    return stringEncodingWithString("01");
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::hexStringEncoding() {
    auto encoding = stringEncodingWithString(kHex);
    encoding->addDecodeSynonyms(kHexSynonyms);
    return encoding;
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::rfc4648Base32StringEncoding() {
    return padded(stringEncodingWithString(kBase32));
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::rfc4648Base32HexStringEncoding() {
    return padded(stringEncodingWithString(kBase32Hex));
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::crockfordBase32StringEncoding() {
    auto encoding = stringEncodingWithString(kCrockford);
    encoding->addDecodeSynonyms(kCrockfordSynonyms);
    return encoding;
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::rfc4648Base64StringEncoding() {
    return padded(stringEncodingWithString(kBase64));
}

std::shared_ptr<ZEL_HRBStringEncoding> ZEL_HRBStringEncoding::rfc4648Base64WebsafeStringEncoding() {
    return padded(stringEncodingWithString(kBase64Websafe));
}

bool ZEL_HRBStringEncoding::setPaddingChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0 || u >= 128 || reverseCharMap_[u] >= 0) return false;
    // One padding character at a time: the previous one loses its meaning.
    if (paddingChar_ != 0 && reverseCharMap_[static_cast<unsigned char>(paddingChar_)] == kPadding)
        reverseCharMap_[static_cast<unsigned char>(paddingChar_)] = kInvalid;
    paddingChar_ = c;
    reverseCharMap_[u] = kPadding;
    return true;
}

void ZEL_HRBStringEncoding::addDecodeSynonyms(std::string_view synonyms) {
    int8_t current = kInvalid;
    for (char ch : synonyms) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 128) continue;
        if (reverseCharMap_[c] == kInvalid) reverseCharMap_[c] = current;
        else current = reverseCharMap_[c];
    }
    rebuildQuartetTable();
}

bool ZEL_HRBStringEncoding::ignoreCharacters(std::string_view characters) {
    bool ok = true;
    for (char ch : characters) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 128) continue;
        if (reverseCharMap_[c] != kInvalid && reverseCharMap_[c] != kIgnore) {
            platform::log("<Nimbra> Character already mapped");
            ok = false;
            continue;
        }
        reverseCharMap_[c] = kIgnore;
    }
    return ok;
}

std::string ZEL_HRBStringEncoding::description() const {
    return "<Base" + std::to_string(charMap_.size()) + " StringEncoder: " + charMap_ + ">";
}

std::string ZEL_HRBStringEncoding::encode(std::string_view bytes) const {
    if (bytes.empty() || !valid()) return {};
    const size_t shift = static_cast<size_t>(shift_);
    size_t length = (bytes.size() * 8 + shift - 1) / shift;
    // Without a padding character there is nothing to pad with.
    if (doPad_ && paddingChar_ != 0) length = (length + padLen_ - 1) / padLen_ * padLen_;

    std::string result(length, paddingChar_);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = in + bytes.size();
    char* out = result.data();
    const char* map = charMap_.data();

    if (shift_ == 6) {
        for (; end - in >= 3; in += 3, out += 4) {
            const uint32_t v = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
            out[0] = map[v >> 18];
            out[1] = map[(v >> 12) & 63];
            out[2] = map[(v >> 6) & 63];
            out[3] = map[v & 63];
        }
    } else {
        const int groupBytes = groupBytes_;
        const int padLen = padLen_;
        const uint64_t mask = mask_;
        for (; end - in >= groupBytes; in += groupBytes, out += padLen) {
            uint64_t v = 0;
            for (int i = 0; i < groupBytes; ++i) v = (v << 8) | in[i];
            for (int i = padLen - 1; i >= 0; --i) {
                out[i] = map[v & mask];
                v >>= shift;
            }
        }
    }

    // The tail: fewer bytes than a whole group, the last digit filled with zero bits.
    uint32_t acc = 0;
    int bits = 0;
    for (; in < end; ++in) {
        acc = (acc << 8) | *in;
        bits += 8;
        while (bits >= shift_) {
            bits -= shift_;
            *out++ = map[(acc >> bits) & mask_];
        }
        acc &= (1u << bits) - 1;
    }
    if (bits > 0) *out++ = map[(acc << (shift_ - bits)) & mask_];
    return result;
}

// Pointers and settings are locals here: stores through the byte pointer
// could otherwise alias them and force a reload on every group.
size_t ZEL_HRBStringEncoding::decodeGroups(const unsigned char* in, const unsigned char* end,
                                           unsigned char* out) const {
    size_t groups = 0;
    if (shift_ == 6) {
        const uint32_t* t = quartetTable_.data();
        for (; end - in >= 4; in += 4, out += 3, ++groups) {
            const uint32_t v = t[in[0]] | t[256 + in[1]] | t[512 + in[2]] | t[768 + in[3]];
            if (v & kNotDigit) break;
            out[0] = static_cast<unsigned char>(v >> 16);
            out[1] = static_cast<unsigned char>(v >> 8);
            out[2] = static_cast<unsigned char>(v);
        }
        return groups;
    }
    const int8_t* map = reverseCharMap_.data();
    const int shift = shift_;
    const int padLen = padLen_;
    const int groupBytes = groupBytes_;
    for (; end - in >= padLen; in += padLen, out += groupBytes, ++groups) {
        uint64_t v = 0;
        int marks = 0;
        for (int i = 0; i < padLen; ++i) {
            const int x = map[in[i]];
            marks |= x;
            v = (v << shift) | static_cast<uint64_t>(x & 0x7f);
        }
        if (marks < 0) break;
        for (int i = groupBytes - 1; i >= 0; --i) {
            out[i] = static_cast<unsigned char>(v);
            v >>= 8;
        }
    }
    return groups;
}

std::optional<std::string> ZEL_HRBStringEncoding::decode(std::string_view text) const {
    if (!valid()) return std::nullopt;
    std::string result(text.size() * static_cast<size_t>(shift_) / 8, '\0');
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = in + text.size();
    auto* begin = reinterpret_cast<unsigned char*>(result.data());
    auto* out = begin;

    uint32_t acc = 0;
    int bits = 0;
    bool paddingSeen = false;
    while (in < end) {
        // Byte-aligned and no padding yet: whole groups go the quick way.
        if (bits == 0 && !paddingSeen) {
            const size_t groups = decodeGroups(in, end, out);
            in += groups * static_cast<size_t>(padLen_);
            out += groups * static_cast<size_t>(groupBytes_);
            if (in == end) break;
        }
        const int value = reverseCharMap_[*in++];
        if (value >= 0) {
            if (paddingSeen) return std::nullopt;
            acc = (acc << shift_) | static_cast<uint32_t>(value);
            bits += shift_;
            if (bits >= 8) {
                bits -= 8;
                *out++ = static_cast<unsigned char>(acc >> bits);
                acc &= (1u << bits) - 1;
            }
        } else if (value == kPadding) {
            paddingSeen = true;
        } else if (value != kIgnore) {
            return std::nullopt;
        }
    }
    if (acc != 0) return std::nullopt;
    result.resize(static_cast<size_t>(out - begin));
    return result;
}

std::optional<std::string> ZEL_HRBStringEncoding::stringByDecoding(std::string_view text) const {
    auto bytes = decode(text);
    if (!bytes || !platform::isValidUTF8(*bytes)) return std::nullopt;
    return bytes;
}
