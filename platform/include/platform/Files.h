#pragma once
// Files on the local disk: the free functions below, and the backend's file
// system (FileSystem::current()), through which the component reads, writes,
// lists and removes what it stores. The real backend uses the POSIX one as it
// is; the sim backend keeps every call inside its temporary area.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

enum class FileKind { Regular, Folder, Other };

struct FileInfo {
    FileKind kind = FileKind::Other;  // a link is Other: never followed
    uint64_t size = 0;
    int64_t modificationTime = 0;       // Unix seconds
    int64_t changeTimeNanoseconds = 0;  // Unix nanoseconds: when it was last written or renamed
};

struct FolderEntry {
    std::string name;
    FileInfo info;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The installed backend's.
    static FileSystem& current();

    // What is at the path; none when nothing is (or it cannot be examined).
    virtual std::optional<FileInfo> fileInfo(const std::string& path) const = 0;
    // The whole regular file; none when it is missing, not a regular file (a
    // link included), larger than maximumSize or cannot be read.
    virtual std::optional<std::string> readFile(const std::string& path, uint64_t maximumSize) const = 0;
    // The entries of a folder but "." and ".."; none for a missing folder.
    virtual std::vector<FolderEntry> folderEntries(const std::string& folder) const = 0;
    // As writeFileAtomically and makePrivateDirectories above.
    virtual std::optional<Error> writeFile(const std::string& path, std::string_view data,
                                           const AtomicWriteOptions& options) = 0;
    virtual std::optional<Error> makePrivateFolders(const std::string& path) = 0;
    // As writeFile, away from the main thread: the data is taken as it is now,
    // and the completion (none on success, else the error) runs on the main
    // loop on a later turn. Writes to one path are done in the order they
    // were asked for, and writeFile waits for those asked for before it.
    // This one writes at once and posts the completion (the sim's way).
    virtual void writeFileInBackground(const std::string& path, std::string data, const AtomicWriteOptions& options,
                                       std::function<void(std::optional<Error>)> completion);
    // Does every background write asked for so far before it returns (the
    // process's end); their completions are still posted.
    virtual void finishBackgroundWrites() {}
    // Only the user may list or enter the folder again (0700).
    virtual bool makePrivate(const std::string& folder) = 0;
    // True when the file is gone, also when it never was.
    virtual bool removeFile(const std::string& path) = 0;
    // An empty folder.
    virtual bool removeFolder(const std::string& path) = 0;
};

// The local disk through POSIX calls, at the paths isReachable allows (all,
// unless a subclass narrows them).
class PosixFileSystem : public FileSystem {
public:
    virtual bool isReachable(const std::string& path) const;

    std::optional<FileInfo> fileInfo(const std::string& path) const override;
    std::optional<std::string> readFile(const std::string& path, uint64_t maximumSize) const override;
    std::vector<FolderEntry> folderEntries(const std::string& folder) const override;
    std::optional<Error> writeFile(const std::string& path, std::string_view data,
                                   const AtomicWriteOptions& options) override;
    std::optional<Error> makePrivateFolders(const std::string& path) override;
    bool makePrivate(const std::string& folder) override;
    bool removeFile(const std::string& path) override;
    bool removeFolder(const std::string& path) override;
};

}  // namespace platform
