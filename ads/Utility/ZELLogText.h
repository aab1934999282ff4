#pragma once
// Text from outside (a page's "log" message, an address it asked for) made
// fit for one line of the log: no control characters (which could end the
// line, forge another or turn the terminal), no bytes that are not UTF-8, and
// no more than a sane length.

#include <cstddef>
#include <string>
#include <string_view>

class ZELLogText {
public:
    ZELLogText() = delete;

    static constexpr size_t kMaxBytes = 500;

    // C0 and C1 controls, DEL and the bidirectional formatting characters
    // removed; a byte that starts no UTF-8 character becomes "?"; past
    // kMaxBytes the text is cut on a character boundary and ends in "...".
    static std::string printable(std::string_view text);
};
