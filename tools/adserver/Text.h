// Text helpers of the ad server: query strings, percent escapes, HTML
// escaping and the small validity checks the routes need. Plain C++, no
// toolkit types, so every route sees the same rules.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace adserver {

struct QueryItem {
    std::string key;
    // Absent for an item written without "=" (a bare key such as appended signals).
    std::optional<std::string> value;
};

// Decodes %XX escapes; "+" stays a plus. A malformed escape gives nothing.
std::optional<std::string> percentDecode(std::string_view text);

// Escapes everything but the RFC 3986 unreserved characters.
std::string percentEncode(std::string_view text);

// Splits a raw query at "&" and each item at its first "=", decoding both
// halves. Empty items are skipped. A malformed escape anywhere gives nothing,
// so a route never acts on half a query.
std::optional<std::vector<QueryItem>> parseQuery(std::string_view rawQuery);

// The value of the last item with the key (later items win), if it has one.
std::optional<std::string> queryValue(const std::vector<QueryItem>& items, std::string_view key);

std::string htmlEscape(std::string_view text);

// An ad unit identifier is 15 lower-case hexadecimal characters.
bool isAdUnitID(std::string_view text);

// Tickets and click tokens in paths: letters, digits, "-" and "_", 1 to 128 long.
bool isToken(std::string_view text);

// A decimal number of seconds such as "30" or "12.5", as sent in a header.
bool isDecimal(std::string_view text);

// A host as it may appear in a URL we hand out: a name or IPv4 address, or
// a bracketed IPv6 address; nothing that could break a header or a URL.
bool isSafeHost(std::string_view host);

// A redirect target we are willing to put in a Location header: printable
// ASCII without blanks, either a path on this server ("/x", not "//x") or
// an absolute http(s) URL.
bool isSafeRedirectTarget(std::string_view target);

// Greatest nesting depth of arrays and objects in a JSON text (strings are
// skipped), so deep hostile input is refused before it reaches the parser.
std::size_t jsonNestingDepth(std::string_view text);

// Keeps at most `limit` bytes, never cutting a UTF-8 sequence in two.
std::string truncateUtf8(std::string_view text, std::size_t limit);

}  // namespace adserver
