#include "FileUtil.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"

namespace platform::gtk {
namespace {

std::string errnoText(int error) { return std::strerror(error); }

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string directoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

ReadResult readWholeFile(const std::string& path, size_t maximumSize, std::string& contents, std::string& reason) {
    contents.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        if (errno == ENOENT) return ReadResult::Missing;
        reason = "is unreadable (" + errnoText(errno) + ")";
        return ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = "is not a regular file";
        return ReadResult::Failed;
    }
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            reason = "is unreadable (" + errnoText(errno) + ")";
            return ReadResult::Failed;
        }
        if (n == 0) break;
        if (contents.size() + static_cast<size_t>(n) > maximumSize) {
            reason = "is too large";
            return ReadResult::Failed;
        }
        contents.append(buffer, static_cast<size_t>(n));
    }
    return ReadResult::Ok;
}

bool makeDirectories(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no folder";
        return false;
    }
    if (auto failure = makePrivateDirectories(path)) {
        error = failure->description;
        return false;
    }
    return true;
}

std::optional<std::string> setFileAside(const std::string& path, const std::string& suffix, std::string& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string target = path + suffix + (attempt ? "-" + std::to_string(attempt) : std::string());
        // Never replaces an earlier damaged file.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return target;
        if (errno == EEXIST) continue;
        if (errno == EINVAL || errno == ENOSYS) {  // no RENAME_NOREPLACE on this file system
            struct stat st {};
            if (::lstat(target.c_str(), &st) == 0) continue;
            if (::rename(path.c_str(), target.c_str()) == 0) return target;
        }
        error = errnoText(errno);
        return std::nullopt;
    }
    error = "too many set-aside files";
    return std::nullopt;
}

}  // namespace platform::gtk
