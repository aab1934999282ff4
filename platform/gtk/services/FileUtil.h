#pragma once
// Small POSIX file helpers: whole-file reads with a size cap, folders made on
// demand and setting a file aside without overwriting anything. Writing is
// platform::writeFileAtomically (platform/Files.h).

#include <optional>
#include <string>

namespace platform::gtk {

enum class ReadResult { Ok, Missing, Failed };
// Failed (with a reason) for a directory, an unreadable file or one over the cap.
ReadResult readWholeFile(const std::string& path, size_t maximumSize, std::string& contents, std::string& reason);

// Creates the folder and any missing parents (mode 0700 for new ones).
bool makeDirectories(const std::string& path, std::string& error);

// Renames path to path+suffix (or path+suffix+"-N" when taken); the new path,
// or no value with the error.
std::optional<std::string> setFileAside(const std::string& path, const std::string& suffix, std::string& error);

std::string directoryOf(const std::string& path);

}  // namespace platform::gtk
