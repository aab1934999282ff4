#pragma once
// JSON helpers: the only place the component touches the JSON library.

#include <optional>
#include <string>

#include "platform/Value.h"

// Deepest nesting of arrays and objects that is read or written.
inline constexpr int kZELMacrosMaximumJSONDepth = 512;

class ZELMacros {
public:
    // The dictionary that the text holds. No value for no input, text that does
    // not parse (invalid UTF-8 included), nesting deeper than the limit, or a
    // top level that is not an object.
    static std::optional<platform::Dictionary> readJson(const std::optional<std::string>& text);

    // Compact JSON text of an array or dictionary. No input gives no value; a
    // value that cannot be written (another top level, nesting deeper than the
    // limit, a string that is not UTF-8, a date, bytes, a number that is not
    // finite) gives "".
    static std::optional<std::string> jsonify(const std::optional<platform::Value>& object);
};
