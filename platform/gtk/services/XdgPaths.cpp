#include "XdgPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform::gtk {
namespace {

std::optional<std::string> homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home);
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir &&
        result->pw_dir[0] == '/')
        return std::string(result->pw_dir);
    return std::nullopt;
}

std::string defaultResourcesDirectory() {
    const char* env = std::getenv("NIMBRA_RESOURCES_DIR");
    if (env && env[0]) return env;
    std::string dir = executableDirectory();
    return (dir.empty() ? "." : dir) + "/Resources";
}

}  // namespace

std::optional<std::string> xdgBaseDirectory(const char* variable, const char* homeFallback) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return std::string(value);
    auto home = homeDirectory();
    if (!home) return std::nullopt;
    return *home + "/" + homeFallback;
}

XdgPaths::XdgPaths(std::string applicationId)
    : applicationId_(std::move(applicationId)), resourcesDirectory_(defaultResourcesDirectory()) {}

std::optional<std::string> XdgPaths::cachesDirectory() const {
    auto base = xdgBaseDirectory("XDG_CACHE_HOME", ".cache");
    if (!base) return std::nullopt;
    return *base + "/" + applicationId_;
}

std::optional<std::string> XdgPaths::documentsDirectory() const {
    auto base = dataDirectory();
    if (!base) return std::nullopt;
    return *base + "/Documents";
}

std::optional<std::string> XdgPaths::dataDirectory() const {
    auto base = xdgBaseDirectory("XDG_DATA_HOME", ".local/share");
    if (!base) return std::nullopt;
    return *base + "/" + applicationId_;
}

std::optional<std::string> XdgPaths::configDirectory() const {
    auto base = xdgBaseDirectory("XDG_CONFIG_HOME", ".config");
    if (!base) return std::nullopt;
    return *base + "/" + applicationId_;
}

std::string XdgPaths::resourcesDirectory() const { return resourcesDirectory_; }
std::optional<std::string> XdgPaths::bundleVersion() const { return bundleVersion_; }
void XdgPaths::setResourcesDirectory(std::string path) { resourcesDirectory_ = std::move(path); }
void XdgPaths::setBundleVersion(std::string version) { bundleVersion_ = std::move(version); }

}  // namespace platform::gtk
