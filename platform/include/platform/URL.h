#pragma once
// URL: an RFC 3986 reference that parsed. A text that is not a valid URL gives
// no URL (parse returns nullopt), as the platform's URL type gives nil.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class URL {
public:
    // Absolute or relative references; rejects texts with characters a URL may
    // not hold (blanks, control characters, non-ASCII, bad percent escapes in
    // the authority, ...). Fragments and queries are kept raw.
    static std::optional<URL> parse(std::string_view text);
    // file:// URL for an absolute filesystem path (escaped as needed).
    static URL fileURL(std::string_view path, bool isDirectory = false);

    // Resolution of a (possibly relative) reference against this base.
    std::optional<URL> resolve(std::string_view reference) const;

    const std::string& absoluteString() const { return text_; }
    std::string scheme() const;  // as written (callers lower-case when needed)
    std::string host() const;    // empty when none
    std::optional<int> port() const;
    std::string path() const;                     // percent-decoded
    std::string rawPath() const;                  // as written
    std::optional<std::string> query() const;     // raw, without "?"; nullopt when absent
    std::optional<std::string> fragment() const;  // raw, without "#"
    bool isFileURL() const;
    std::string filePath() const;  // decoded path of a file URL

    bool operator==(const URL& o) const { return text_ == o.text_; }
    bool operator!=(const URL& o) const { return text_ != o.text_; }
    bool operator<(const URL& o) const { return text_ < o.text_; }

private:
    std::string text_;
    // component boundaries within text_
    size_t schemeEnd_ = 0;  // length of scheme (0: relative reference)
    bool hasAuthority_ = false;
    size_t hostBegin_ = 0, hostEnd_ = 0;
    size_t portBegin_ = 0, portEnd_ = 0;
    size_t pathBegin_ = 0, pathEnd_ = 0;
    size_t queryBegin_ = std::string::npos, queryEnd_ = std::string::npos;
    size_t fragmentBegin_ = std::string::npos;
    friend struct URLParser;
};

// Percent-decode as UTF-8; no value for a malformed escape or invalid UTF-8.
std::optional<std::string> percentDecode(std::string_view text);
// Escape every byte outside ALPHA / DIGIT / "-" "." "_" "~" as %XX (upper case).
std::string percentEncodeUnreserved(std::string_view text);
bool isValidUTF8(std::string_view text);
std::string toLowerASCII(std::string_view text);

}  // namespace platform
