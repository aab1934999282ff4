#include "Utility/ZELStringUtilities.h"

#include <algorithm>

namespace {

// Whether a white-space character starts at i, and its length in bytes.
bool isSpaceAt(const std::string& s, size_t i, size_t& length) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || (c >= '\t' && c <= '\r')) {
        length = 1;
        return true;
    }
    if (c == 0xC2 && i + 1 < s.size()) {
        unsigned char d = static_cast<unsigned char>(s[i + 1]);
        if (d == 0x85 || d == 0xA0) {
            length = 2;
            return true;
        }
    }
    if (c == 0xE2 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80) {
        unsigned char d = static_cast<unsigned char>(s[i + 2]);
        if ((d >= 0x80 && d <= 0x8A) || d == 0xA8 || d == 0xA9 || d == 0xAF) {
            length = 3;
            return true;
        }
    }
    if (c == 0xE3 && i + 2 < s.size() && static_cast<unsigned char>(s[i + 1]) == 0x80 &&
        static_cast<unsigned char>(s[i + 2]) == 0x80) {
        length = 3;
        return true;
    }
    return false;
}

}  // namespace

std::string ZELStringUtilities::trimWhiteSpaceAndNewlines(const std::string& s) {
    size_t begin = 0, length = 0;
    while (begin < s.size() && isSpaceAt(s, begin, length)) begin += length;
    const size_t end = s.size();
    // Walk on over whole characters: the text ends after the last one that
    // is not a space.
    size_t lastEnd = begin;
    size_t i = begin;
    while (i < end) {
        if (isSpaceAt(s, i, length)) {
            i += length;
        } else {
            unsigned char c = static_cast<unsigned char>(s[i]);
            size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
            i += n;
            lastEnd = std::min(i, end);
        }
    }
    return s.substr(begin, lastEnd - begin);
}
