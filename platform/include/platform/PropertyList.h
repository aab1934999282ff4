#pragma once
// Property lists read by the backend's one converter (the real backend's is
// the defaults store's, fuzzed; the sim backend answers what a test gives it).

#include <optional>
#include <string_view>

#include "platform/Value.h"

namespace platform {

// The dictionary at the root of a property list in its XML form; none when the
// data is no such property list (the binary form included: its reader aborts
// on some hostile files), its root is not a dictionary, it nests too deeply
// or holds what a defaults file cannot (a text with a NUL byte, a key that is
// not UTF-8, an object reference).
std::optional<Dictionary> dictionaryFromPropertyList(std::string_view data);

}  // namespace platform
