#include "Text.h"

#include <algorithm>

namespace adserver {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int hi = hexValue(text[i + 1]);
        const int lo = hexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        if (isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        }
    }
    return out;
}

std::optional<std::vector<QueryItem>> parseQuery(std::string_view rawQuery) {
    std::vector<QueryItem> items;
    while (!rawQuery.empty()) {
        const std::size_t amp = rawQuery.find('&');
        const std::string_view item = rawQuery.substr(0, amp);
        rawQuery = amp == std::string_view::npos ? std::string_view{} : rawQuery.substr(amp + 1);
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        auto key = percentDecode(item.substr(0, eq));
        if (!key) return std::nullopt;
        QueryItem parsed{std::move(*key), std::nullopt};
        if (eq != std::string_view::npos) {
            auto value = percentDecode(item.substr(eq + 1));
            if (!value) return std::nullopt;
            parsed.value = std::move(*value);
        }
        items.push_back(std::move(parsed));
    }
    return items;
}

std::optional<std::string> queryValue(const std::vector<QueryItem>& items, std::string_view key) {
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (it->key == key) return it->value;
    }
    return std::nullopt;
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

bool isAdUnitID(std::string_view text) {
    return text.size() == 15 &&
           std::all_of(text.begin(), text.end(), [](char c) { return isDigit(c) || (c >= 'a' && c <= 'f'); });
}

bool isToken(std::string_view text) {
    return !text.empty() && text.size() <= 128 && std::all_of(text.begin(), text.end(), [](char c) {
        return isAlpha(c) || isDigit(c) || c == '-' || c == '_';
    });
}

bool isDecimal(std::string_view text) {
    if (text.empty() || text.size() > 16) return false;
    bool seenDot = false;
    bool seenDigit = false;
    for (const char c : text) {
        if (isDigit(c)) {
            seenDigit = true;
        } else if (c == '.' && !seenDot) {
            seenDot = true;
        } else {
            return false;
        }
    }
    return seenDigit;
}

bool isSafeHost(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        const std::string_view inner = host.substr(1, host.size() - 2);
        return std::all_of(inner.begin(), inner.end(), [](char c) { return hexValue(c) >= 0 || c == ':' || c == '.'; });
    }
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.'; });
}

bool isSafeRedirectTarget(std::string_view target) {
    if (target.empty() || target.size() > 2048) return false;
    const bool printable = std::all_of(target.begin(), target.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F;
    });
    if (!printable) return false;
    if (target.front() == '/') return target.size() == 1 || target[1] != '/';
    // Only the web: a page that can make us redirect must not reach file: or
    // another application through us.
    const std::size_t colon = target.find(':');
    if (colon == std::string_view::npos) return false;
    std::string scheme(target.substr(0, colon));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return (scheme == "http" || scheme == "https") && target.substr(colon).starts_with("://") &&
           target.size() > colon + 3;
}

std::size_t jsonNestingDepth(std::string_view text) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

std::string truncateUtf8(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    std::size_t cut = limit;
    // Step back over continuation bytes to the start of the cut sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut));
}

}  // namespace adserver
