#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

Error fileError(int err, const std::string& path, const char* what) {
    long code = kFileWriteUnknownError;
    switch (err) {
    case EACCES:
    case EPERM:
    case EROFS:
        code = kFileWriteNoPermissionError;
        break;
    case ENOSPC:
    case EDQUOT:
        code = kFileWriteOutOfSpaceError;
        break;
    case ENOENT:
    case ENOTDIR:
        code = kFileNoSuchFileError;
        break;
    default:
        break;
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

}  // namespace platform
