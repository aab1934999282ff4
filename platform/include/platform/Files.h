#pragma once
// Files on the local disk.

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Http.h"

namespace platform {

// Codes of file errors (domain kFileErrorDomain), so that callers can tell a
// permission problem from a full disk without reading text.
inline constexpr long kFileNoSuchFileError = 4;
inline constexpr long kFileWriteUnknownError = 512;
inline constexpr long kFileWriteNoPermissionError = 513;
inline constexpr long kFileWriteOutOfSpaceError = 640;

struct AtomicWriteOptions {
    // Flushes the file, then its folder, so that the new contents survive a
    // crash. Without it the replacement is just as atomic, only not durable.
    bool flushToDisk = true;
    // Unix seconds; without it the file has the time of the write.
    std::optional<time_t> modificationTime;
};

// Writes a temporary file beside path and renames it over path: a reader sees
// the old file or the whole new one, never a part, and a failed write leaves
// the old file and no temporary behind. The folder must exist.
std::optional<Error> writeFileAtomically(const std::string& path, std::string_view data,
                                         const AtomicWriteOptions& options = {});

// Creates the folder and every missing one above it, each new one 0700 (only
// the user may list or enter it). An existing folder is left as it is.
std::optional<Error> makePrivateDirectories(const std::string& path);

}  // namespace platform
