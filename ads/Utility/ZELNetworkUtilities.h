#pragma once
// Query escaping, appending and parsing, and the process-wide user agent.

#include <optional>
#include <string>
#include <string_view>

#include "platform/URL.h"
#include "platform/Value.h"

class ZELNetworkUtilities {
public:
    ZELNetworkUtilities() = delete;

    // The web view's own user agent as last captured, or no value.
    static std::optional<std::string> userAgentString();
    // Ignored when empty, absent or unchanged.
    static void setUserAgentString(const std::optional<std::string>& userAgent);

    // Every UTF-8 byte outside letters, digits and "-._~" as %XX (space: "%20").
    static std::string encodeURL(std::string_view text);

    // The URL with "key=escapedValue" pairs appended to its query (keys are
    // written as they are; an empty value gives the bare key). Numbers are
    // written in decimal; values without a text form count as empty. No value
    // when the result is not a valid URL.
    static std::optional<platform::URL> appendQueryParameters(const platform::Dictionary& parameters,
                                                              const platform::URL& url);
    // One pair; no value appends the bare key.
    static std::optional<platform::URL> appendQueryKey(const std::string& key, const std::optional<std::string>& value,
                                                       const platform::URL& url);

    // The raw (still escaped) value of the first "key=..." item of the URL's
    // query split at "&", cut at any further "="; keys match case-sensitively.
    static std::optional<std::string> parameterValueForKey(const std::string& key, const platform::URL& url);

    // Items separated by runs of "&" or ";" (blanks and line ends before each
    // item skipped); an item must split at "=" into exactly two pieces, both
    // percent-decoded as UTF-8, the key lower-cased. Items that fail are
    // skipped; a later item replaces an earlier one with the same key. Values
    // are strings.
    static platform::Dictionary dictionaryFromQueryString(const std::optional<std::string>& query);
};
