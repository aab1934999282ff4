#include "Utility/ZELNetworkUtilities.h"

#include <vector>

using platform::Dictionary;
using platform::URL;
using platform::Value;

namespace {

std::optional<std::string>& storedUserAgent() {
    static std::optional<std::string> userAgent;
    return userAgent;
}

// The blanks and line ends a scanner skips before each piece.
bool isBlankOrLineEnd(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool isQuerySeparator(char c) { return c == '&' || c == ';'; }

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

void addDecodedPair(std::string_view item, Dictionary& into) {
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos || item.find('=', equals + 1) != std::string_view::npos) {
        return;
    }
    std::optional<std::string> key = platform::percentDecode(item.substr(0, equals));
    std::optional<std::string> value = platform::percentDecode(item.substr(equals + 1));
    if (!key || !value) {
        return;
    }
    into[platform::toLowerASCII(*key)] = Value(std::move(*value));
}

}  // namespace

std::optional<std::string> ZELNetworkUtilities::userAgentString() { return storedUserAgent(); }

void ZELNetworkUtilities::setUserAgentString(const std::optional<std::string>& userAgent) {
    if (!userAgent || userAgent->empty() || storedUserAgent() == userAgent) {
        return;
    }
    storedUserAgent() = userAgent;
}

std::string ZELNetworkUtilities::encodeURL(std::string_view text) { return platform::percentEncodeUnreserved(text); }

std::optional<URL> ZELNetworkUtilities::appendQueryParameters(const Dictionary& parameters, const URL& url) {
    const std::string& original = url.absoluteString();
    // Pairs go at the end of the query, ahead of any fragment, which would
    // otherwise swallow them.
    const std::optional<std::string> fragment = url.fragment();
    const size_t insertAt = fragment ? original.size() - fragment->size() - 1 : original.size();
    std::string text = original.substr(0, insertAt);

    const std::optional<std::string> query = url.query();
    // A bare "?" already opens an (empty) query: nothing to add before the first pair.
    std::string_view separator = !query ? "?" : (query->empty() ? "" : "&");
    for (const auto& [key, value] : parameters) {
        text.append(separator);
        separator = "&";
        text.append(key);
        const std::string escaped = encodeURL(value.textForm().value_or(std::string()));
        if (!escaped.empty()) {
            text += '=';
            text += escaped;
        }
    }
    text.append(original, insertAt, std::string::npos);
    return URL::parse(text);
}

std::optional<URL> ZELNetworkUtilities::appendQueryKey(const std::string& key, const std::optional<std::string>& value,
                                                       const URL& url) {
    return appendQueryParameters(Dictionary{{key, Value(value.value_or(std::string()))}}, url);
}

std::optional<std::string> ZELNetworkUtilities::parameterValueForKey(const std::string& key, const URL& url) {
    const std::optional<std::string> query = url.query();
    if (!query) {
        return std::nullopt;
    }
    for (std::string_view item : split(*query, '&')) {
        const std::vector<std::string_view> parts = split(item, '=');
        if (parts.size() >= 2 && parts[0] == key) {
            return std::string(parts[1]);
        }
    }
    return std::nullopt;
}

Dictionary ZELNetworkUtilities::dictionaryFromQueryString(const std::optional<std::string>& query) {
    Dictionary result;
    if (!query) {
        return result;
    }
    const std::string_view text = *query;
    const size_t n = text.size();
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < n && isBlankOrLineEnd(text[i])) {
            ++i;
        }
    };
    while (true) {
        skipBlanks();
        if (i >= n) {
            break;
        }
        const size_t start = i;
        while (i < n && !isQuerySeparator(text[i])) {
            ++i;
        }
        if (i > start) {
            addDecodedPair(text.substr(start, i - start), result);
        }
        skipBlanks();
        while (i < n && isQuerySeparator(text[i])) {
            ++i;
        }
    }
    return result;
}
