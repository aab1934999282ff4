#include "Utility/ZELLogText.h"

#include <algorithm>

namespace {

// The length of the UTF-8 character at i, or 0 when none starts there.
size_t characterLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

char32_t codePoint(std::string_view character) {
    const auto c = static_cast<unsigned char>(character[0]);
    if (character.size() == 1) return c;
    char32_t value = c & (0x7F >> character.size());
    for (size_t k = 1; k < character.size(); ++k)
        value = (value << 6) | (static_cast<unsigned char>(character[k]) & 0x3F);
    return value;
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::string ZELLogText::printable(std::string_view text) {
    std::string out;
    out.reserve(std::min(text.size(), kMaxBytes + 3));
    for (size_t i = 0; i < text.size();) {
        const size_t length = characterLength(text, i);
        const std::string_view character = length ? text.substr(i, length) : std::string_view("?");
        i += length ? length : 1;
        if (length && isControl(codePoint(character))) continue;
        if (out.size() + character.size() > kMaxBytes) {
            out += "...";
            break;
        }
        out += character;
    }
    return out;
}
