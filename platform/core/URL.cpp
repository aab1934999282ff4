#include "platform/URL.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace platform {

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) {
    switch (c) {
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=': return true;
    default: return false;
    }
}
bool isPchar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '%'; }
bool isSchemeChar(char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; }

// The decomposed form of a reference, as used by resolution.
struct Parts {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    std::string compose() const {
        std::string out;
        if (scheme) out += *scheme + ":";
        if (authority) out += "//" + *authority;
        out += path;
        if (query) out += "?" + *query;
        if (fragment) out += "#" + *fragment;
        return out;
    }
};

std::string removeDotSegments(std::string_view in) {
    std::string input(in);
    std::string output;
    while (!input.empty()) {
        if (input.compare(0, 3, "../") == 0) {
            input.erase(0, 3);
        } else if (input.compare(0, 2, "./") == 0) {
            input.erase(0, 2);
        } else if (input.compare(0, 3, "/./") == 0) {
            input.erase(0, 2);
        } else if (input == "/.") {
            input = "/";
        } else if (input.compare(0, 4, "/../") == 0 || input == "/..") {
            input = input.size() == 3 ? std::string("/") : input.substr(3);
            auto slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            size_t next = input.find('/', input[0] == '/' ? 1 : 0);
            if (next == std::string::npos) next = input.size();
            output += input.substr(0, next);
            input.erase(0, next);
        }
    }
    return output;
}

}  // namespace

struct URLParser {
    static std::optional<URL> parse(std::string_view text) {
        for (size_t i = 0; i < text.size(); ++i) {
            char c = text[i];
            if (c == '%') {
                if (i + 2 >= text.size()) return std::nullopt;
                if (!isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
            } else if (!(isUnreserved(c) || isSubDelim(c) || c == ':' || c == '/' || c == '?' || c == '#' || c == '[' ||
                         c == ']' || c == '@')) {
                return std::nullopt;  // blanks, controls, non-ASCII and the excluded marks
            }
        }

        URL url;
        url.text_ = std::string(text);
        const std::string& s = url.text_;
        size_t pos = 0;

        // Scheme: letters first, up to a colon that comes before any of "/?#".
        size_t firstDelim = s.find_first_of(":/?#");
        if (firstDelim != std::string::npos && s[firstDelim] == ':') {
            if (firstDelim == 0 || !isAlpha(s[0])) return std::nullopt;
            for (size_t i = 1; i < firstDelim; ++i)
                if (!isSchemeChar(s[i])) return std::nullopt;
            url.schemeEnd_ = firstDelim;
            pos = firstDelim + 1;
        }

        size_t hierEnd = s.find_first_of("?#", pos);
        if (hierEnd == std::string::npos) hierEnd = s.size();

        if (s.compare(pos, 2, "//") == 0) {
            url.hasAuthority_ = true;
            size_t authBegin = pos + 2;
            size_t authEnd = s.find('/', authBegin);
            if (authEnd == std::string::npos || authEnd > hierEnd) authEnd = hierEnd;
            if (!parseAuthority(url, authBegin, authEnd)) return std::nullopt;
            pos = authEnd;
        }

        url.pathBegin_ = pos;
        url.pathEnd_ = hierEnd;
        // (A colon in a relative reference's first segment was read as the end
        // of a scheme above, and rejected there when the scheme was bad.)
        for (size_t i = pos; i < hierEnd; ++i)
            if (!(isPchar(s[i]) || s[i] == '/')) return std::nullopt;

        pos = hierEnd;
        if (pos < s.size() && s[pos] == '?') {
            url.queryBegin_ = pos + 1;
            size_t end = s.find('#', pos);
            url.queryEnd_ = end == std::string::npos ? s.size() : end;
            for (size_t i = url.queryBegin_; i < url.queryEnd_; ++i)
                if (!(isPchar(s[i]) || s[i] == '/' || s[i] == '?')) return std::nullopt;
            pos = url.queryEnd_;
        }
        if (pos < s.size() && s[pos] == '#') {
            url.fragmentBegin_ = pos + 1;
            for (size_t i = url.fragmentBegin_; i < s.size(); ++i)
                if (!(isPchar(s[i]) || s[i] == '/' || s[i] == '?')) return std::nullopt;
        }
        return url;
    }

    static bool parseAuthority(URL& url, size_t begin, size_t end) {
        const std::string& s = url.text_;
        size_t at = s.find('@', begin);
        size_t hostBegin = begin;
        if (at != std::string::npos && at < end) {
            for (size_t i = begin; i < at; ++i)
                if (!(isUnreserved(s[i]) || isSubDelim(s[i]) || s[i] == ':' || s[i] == '%')) return false;
            hostBegin = at + 1;
        }
        size_t hostEnd;
        if (hostBegin < end && s[hostBegin] == '[') {
            size_t close = s.find(']', hostBegin);
            if (close == std::string::npos || close >= end) return false;
            if (!validIPLiteral(std::string_view(s).substr(hostBegin + 1, close - hostBegin - 1))) return false;
            hostEnd = close + 1;
        } else {
            hostEnd = hostBegin;
            while (hostEnd < end && s[hostEnd] != ':') {
                char c = s[hostEnd];
                if (!(isUnreserved(c) || isSubDelim(c) || c == '%')) return false;
                ++hostEnd;
            }
        }
        url.hostBegin_ = hostBegin;
        url.hostEnd_ = hostEnd;
        url.portBegin_ = url.portEnd_ = hostEnd;
        if (hostEnd < end) {
            if (s[hostEnd] != ':') return false;
            long value = 0;
            for (size_t i = hostEnd + 1; i < end; ++i) {
                if (!isDigit(s[i])) return false;
                value = value * 10 + (s[i] - '0');
                if (value > 65535) return false;  // no such port
            }
            url.portBegin_ = hostEnd + 1;
            url.portEnd_ = end;
        }
        return true;
    }

    static bool validIPLiteral(std::string_view v) {
        if (v.empty()) return false;
        if (v[0] == 'v' || v[0] == 'V') {
            size_t dot = v.find('.');
            if (dot == std::string_view::npos || dot < 2 || dot + 1 >= v.size()) return false;
            for (size_t i = 1; i < dot; ++i)
                if (!isHex(v[i])) return false;
            for (size_t i = dot + 1; i < v.size(); ++i)
                if (!(isUnreserved(v[i]) || isSubDelim(v[i]) || v[i] == ':')) return false;
            return true;
        }
        // IPv6: hex groups separated by colons, at most one "::", optionally an
        // IPv4 tail.
        int groups = 0;
        bool compressed = false;
        size_t i = 0;
        if (v.substr(0, 2) == "::") {
            compressed = true;
            i = 2;
        } else if (v[0] == ':') {
            return false;
        }
        while (i < v.size()) {
            size_t j = i;
            while (j < v.size() && isHex(v[j]) && j - i < 5) ++j;
            if (j < v.size() && v[j] == '.') {
                // IPv4 tail: four decimal octets.
                int octets = 0;
                size_t k = i;
                while (true) {
                    size_t d = k;
                    int value = 0;
                    while (d < v.size() && isDigit(v[d]) && d - k < 4) value = value * 10 + (v[d++] - '0');
                    if (d == k || value > 255) return false;
                    ++octets;
                    if (d == v.size()) break;
                    if (v[d] != '.' || octets == 4) return false;
                    k = d + 1;
                }
                if (octets != 4) return false;
                groups += 2;
                i = v.size();
                break;
            }
            if (j == i || j - i > 4) return false;
            ++groups;
            if (j == v.size()) {
                i = j;
                break;
            }
            if (v[j] != ':') return false;
            if (j + 1 < v.size() && v[j + 1] == ':') {
                if (compressed) return false;
                compressed = true;
                i = j + 2;
            } else {
                if (j + 1 == v.size()) return false;
                i = j + 1;
            }
        }
        return compressed ? groups < 8 : groups == 8;
    }

    static Parts split(const URL& u) {
        const std::string& s = u.text_;
        Parts p;
        if (u.schemeEnd_) p.scheme = s.substr(0, u.schemeEnd_);
        if (u.hasAuthority_) {
            size_t begin = u.schemeEnd_ ? u.schemeEnd_ + 3 : 2;
            p.authority = s.substr(begin, u.pathBegin_ - begin);
        }
        p.path = s.substr(u.pathBegin_, u.pathEnd_ - u.pathBegin_);
        if (u.queryBegin_ != std::string::npos) p.query = s.substr(u.queryBegin_, u.queryEnd_ - u.queryBegin_);
        if (u.fragmentBegin_ != std::string::npos) p.fragment = s.substr(u.fragmentBegin_);
        return p;
    }
};

std::optional<URL> URL::parse(std::string_view text) { return URLParser::parse(text); }

URL URL::fileURL(std::string_view path, bool isDirectory) {
    std::string absolute;
    if (path.empty() || path[0] != '/') {
        // A relative path is taken from the working directory.
        std::vector<char> buf(PATH_MAX + 1);
        if (getcwd(buf.data(), buf.size())) absolute = buf.data();
        if (absolute.empty() || absolute.back() != '/') absolute += '/';
    }
    absolute += path;
    if (isDirectory && absolute.back() != '/') absolute += '/';
    std::string text = "file://";
    static const char hex[] = "0123456789ABCDEF";
    for (char c : absolute) {
        if (isUnreserved(c) || c == '/' || c == ':' || c == '@' || (isSubDelim(c) && c != '\'')) {
            text += c;
        } else {
            auto b = static_cast<unsigned char>(c);
            text += '%';
            text += hex[b >> 4];
            text += hex[b & 15];
        }
    }
    return *URL::parse(text);
}

std::optional<URL> URL::resolve(std::string_view reference) const {
    auto ref = URL::parse(reference);
    if (!ref) return std::nullopt;
    if (!schemeEnd_) return ref->schemeEnd_ ? ref : std::nullopt;  // a relative base resolves nothing
    const Parts r = URLParser::split(*ref);
    const Parts b = URLParser::split(*this);
    Parts t;
    if (r.scheme) {
        t.scheme = r.scheme;
        t.authority = r.authority;
        t.path = removeDotSegments(r.path);
        t.query = r.query;
    } else {
        if (r.authority) {
            t.authority = r.authority;
            t.path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                if (r.path[0] == '/') {
                    t.path = removeDotSegments(r.path);
                } else {
                    std::string merged;
                    if (b.authority && b.path.empty()) {
                        merged = "/" + r.path;
                    } else {
                        auto slash = b.path.rfind('/');
                        merged = (slash == std::string::npos ? std::string() : b.path.substr(0, slash + 1)) + r.path;
                    }
                    t.path = removeDotSegments(merged);
                }
                t.query = r.query;
            }
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    t.fragment = r.fragment;
    // Without an authority a path may not start with "//" (it would read as
    // one); "/." keeps it a path, as the RFC suggests.
    if (!t.authority && t.path.compare(0, 2, "//") == 0) t.path = "/." + t.path;
    return URL::parse(t.compose());
}

std::string URL::scheme() const { return text_.substr(0, schemeEnd_); }

std::string URL::host() const {
    if (!hasAuthority_) return std::string();
    std::string h = text_.substr(hostBegin_, hostEnd_ - hostBegin_);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
    return h;
}

std::optional<int> URL::port() const {
    if (!hasAuthority_ || portBegin_ == portEnd_) return std::nullopt;
    int value = 0;
    for (size_t i = portBegin_; i < portEnd_; ++i) value = value * 10 + (text_[i] - '0');
    return value;
}

std::string URL::rawPath() const { return text_.substr(pathBegin_, pathEnd_ - pathBegin_); }

std::string URL::path() const {
    std::string raw = rawPath();
    auto decoded = percentDecode(raw);
    return decoded ? *decoded : raw;
}

std::optional<std::string> URL::query() const {
    if (queryBegin_ == std::string::npos) return std::nullopt;
    return text_.substr(queryBegin_, queryEnd_ - queryBegin_);
}

std::optional<std::string> URL::fragment() const {
    if (fragmentBegin_ == std::string::npos) return std::nullopt;
    return text_.substr(fragmentBegin_);
}

bool URL::isFileURL() const { return toLowerASCII(scheme()) == "file"; }

std::string URL::filePath() const {
    if (!isFileURL()) return std::string();
    std::string p = path();
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        if (!isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
        out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    if (!isValidUTF8(out)) return std::nullopt;
    return out;
}

std::string percentEncodeUnreserved(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (isUnreserved(c)) {
            out += c;
        } else {
            auto b = static_cast<unsigned char>(c);
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out;
}

bool isValidUTF8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        i += len;
    }
    return true;
}

std::string toLowerASCII(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace platform
