#pragma once
// Small POSIX file helpers: whole-file reads with a size cap, atomic
// replacement and setting a file aside without overwriting anything.

#include <optional>
#include <string>
#include <string_view>

namespace platform::gtk {

enum class ReadResult { Ok, Missing, Failed };
// Failed (with a reason) for a directory, an unreadable file or one over the cap.
ReadResult readWholeFile(const std::string& path, size_t maximumSize, std::string& contents, std::string& reason);

// Creates the folder and any missing parents (mode 0700 for new ones).
bool makeDirectories(const std::string& path, std::string& error);

// Writes a temporary file in the same folder, flushes it to disk and renames it
// over the path, so readers see the old or the new contents, never a mix.
bool writeFileAtomically(const std::string& path, std::string_view contents, std::string& error);

// Renames path to path+suffix (or path+suffix+"-N" when taken); the new path,
// or no value with the error.
std::optional<std::string> setFileAside(const std::string& path, const std::string& suffix, std::string& error);

std::string directoryOf(const std::string& path);

}  // namespace platform::gtk
