#include "platform/Localization.h"

#include <dlfcn.h>
#include <libintl.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

namespace platform {
namespace {

std::string realPath(const char* path) {
    char resolved[PATH_MAX];
    return path && ::realpath(path, resolved) ? std::string(resolved) : std::string();
}

// The catalogues sit at a fixed place relative to the file that holds this
// code: the shared library, or a program linked with it statically (the
// build tree stages them the same way). Relative, so an installation moved
// to another prefix still finds them.
std::string localeDirectory() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&localized), &info) || !info.dli_fname) return {};
    const std::string self = realPath(info.dli_fname);
    const size_t slash = self.find_last_of('/');
    if (slash == std::string::npos) return {};
    const bool program = self == realPath("/proc/self/exe");
    return self.substr(0, slash + 1) + (program ? NIMBRA_LOCALE_FROM_BIN : NIMBRA_LOCALE_FROM_LIB);
}

}  // namespace

const char* localized(const char* text) {
    static const bool bound = [] {
        const std::string directory = localeDirectory();
        if (!directory.empty()) ::bindtextdomain(kTextDomain, directory.c_str());
        ::bind_textdomain_codeset(kTextDomain, "UTF-8");
        return true;
    }();
    (void)bound;
    return ::dgettext(kTextDomain, text);
}

}  // namespace platform
