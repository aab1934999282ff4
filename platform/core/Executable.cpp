#include <unistd.h>

#include <vector>

#include "platform/Services.h"

namespace platform {

std::string executableDirectory() {
    // The kernel's link names the file that was run, symbolic links resolved,
    // whatever the working directory or argv[0] were.
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
    std::string path(buffer.data(), static_cast<size_t>(n));
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace platform
