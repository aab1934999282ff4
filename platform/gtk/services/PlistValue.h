#pragma once
// Property-list values to and from the XML property-list form (libplist):
// the one converter of the tree.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace platform::gtk {

// Deeper nesting is refused on writing and taken as damage on reading, so that
// neither direction can exhaust the stack.
inline constexpr int kMaximumPlistDepth = 100;

// XML text of the dictionary; no value when something in it cannot be written
// (see FileUserDefaults::setObject).
std::optional<std::string> dictionaryToXml(const Dictionary& dictionary);

enum class PlistReadError { NotAPropertyList, NotADictionary, UnsupportedContent };
struct PlistReadResult {
    std::optional<Dictionary> dictionary;
    PlistReadError error = PlistReadError::NotAPropertyList;
};
// Only the XML form is read: the binary form is not something we write, and
// libplist's reader of it aborts the process on a dictionary key holding a
// NUL byte (tests/fuzz/seeds/fuzz_plist/binary-key-with-nul).
PlistReadResult dictionaryFromXml(std::string_view xml);

// The value as the XML form gives it back (dates to whole seconds), or no
// value when the form cannot hold it faithfully.
std::optional<Value> plistRoundTrip(const std::string& key, const Value& value);

}  // namespace platform::gtk
