#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/Backend.h"
#include "platform/RunLoop.h"

namespace platform {
namespace {

Error fileError(int err, const std::string& path, const char* what) {
    long code = kFileWriteUnknownError;
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: code = kFileWriteNoPermissionError; break;
    case ENOSPC:
    case EDQUOT: code = kFileWriteOutOfSpaceError; break;
    case ENOENT:
    case ENOTDIR: code = kFileNoSuchFileError; break;
    default: break;
    }
    return {kFileErrorDomain, code, std::string(what) + " " + path + ": " + std::strerror(err)};
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const size_t chunk = std::min<size_t>(data.size(), size_t{1} << 30);
        const ssize_t n = ::write(fd, data.data(), chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::optional<Error> writeFileAtomically(const std::string& path, std::string_view data,
                                         const AtomicWriteOptions& options) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fileError(errno, path, "cannot create a temporary file for");

    int err = 0;
    if (!writeAll(fd, data)) err = errno;
    // Set on the temporary file, so that the new file appears with its time.
    if (err == 0 && options.modificationTime) {
        const struct timespec times[2] = {{*options.modificationTime, 0}, {*options.modificationTime, 0}};
        ::futimens(fd, times);  // a refused time leaves the time of the write
    }
    if (err == 0 && options.flushToDisk && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return fileError(err, path, "cannot write");
    }
    if (options.flushToDisk) {
        // The rename itself survives a crash once the folder is flushed.
        if (const int folder = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
    }
    return std::nullopt;
}

std::optional<Error> makePrivateDirectories(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return std::nullopt;
        return fileError(ENOTDIR, path, "cannot create the folder");
    }
    const std::string parent = folderOf(path);
    if (parent != path && parent != "." && parent != "/") {
        if (auto error = makePrivateDirectories(parent)) return error;
    }
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return fileError(errno, path, "cannot create the folder");
    return std::nullopt;
}

FileSystem& FileSystem::current() { return backend().fileSystem(); }

void FileSystem::writeFileInBackground(const std::string& path, std::string data, const AtomicWriteOptions& options,
                                       std::function<void(std::optional<Error>)> completion) {
    auto error = writeFile(path, data, options);
    if (completion)
        RunLoop::main().postDelayedTask(0, [completion = std::move(completion), error] { completion(error); });
}

namespace {

FileInfo infoOf(const struct stat& st) {
    FileInfo info;
    info.kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
    info.size = static_cast<uint64_t>(st.st_size);
    info.modificationTime = st.st_mtim.tv_sec;
    info.changeTimeNanoseconds = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
    return info;
}

}  // namespace

bool PosixFileSystem::isReachable(const std::string&) const { return true; }

namespace {

Error unreachable(const std::string& path) {
    return {kFileErrorDomain, kFileWriteNoPermissionError, "not a place this file system reaches: " + path};
}

}  // namespace

std::optional<FileInfo> PosixFileSystem::fileInfo(const std::string& path) const {
    struct stat st {};
    if (path.empty() || !isReachable(path) || ::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return infoOf(st);
}

std::optional<std::string> PosixFileSystem::readFile(const std::string& path, uint64_t maximumSize) const {
    if (!isReachable(path)) return std::nullopt;
    struct Fd {
        int fd;
        ~Fd() {
            if (fd >= 0) ::close(fd);
        }
    } file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)};
    const int fd = file.fd;
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > maximumSize)
        return std::nullopt;
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) return text;
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        // The file may grow while it is read: the bound holds for what is read.
        if (static_cast<uint64_t>(n) > maximumSize - text.size()) return std::nullopt;
        text.append(buffer, static_cast<size_t>(n));
    }
}

std::vector<FolderEntry> PosixFileSystem::folderEntries(const std::string& folder) const {
    std::vector<FolderEntry> entries;
    if (!isReachable(folder)) return entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return entries;
    while (const dirent* item = ::readdir(dir.get())) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir.get()), item->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            entries.push_back({name, infoOf(st)});
    }
    return entries;
}

std::optional<Error> PosixFileSystem::writeFile(const std::string& path, std::string_view data,
                                                const AtomicWriteOptions& options) {
    return isReachable(path) ? writeFileAtomically(path, data, options) : unreachable(path);
}

std::optional<Error> PosixFileSystem::makePrivateFolders(const std::string& path) {
    return isReachable(path) ? makePrivateDirectories(path) : unreachable(path);
}

bool PosixFileSystem::makePrivate(const std::string& folder) {
    return isReachable(folder) && ::chmod(folder.c_str(), 0700) == 0;
}

bool PosixFileSystem::removeFile(const std::string& path) {
    return isReachable(path) && (::unlink(path.c_str()) == 0 || errno == ENOENT);
}

bool PosixFileSystem::removeFolder(const std::string& path) { return isReachable(path) && ::rmdir(path.c_str()) == 0; }

}  // namespace platform
