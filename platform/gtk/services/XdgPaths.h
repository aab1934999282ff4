#pragma once
// The application's folders after the XDG base-directory rules. Main thread
// only, like the rest of the backend.

#include <optional>
#include <string>

#include "platform/Services.h"

namespace platform::gtk {

class XdgPaths final : public Paths {
public:
    explicit XdgPaths(std::string applicationId);
    std::optional<std::string> cachesDirectory() const override;
    std::optional<std::string> documentsDirectory() const override;
    std::string resourcesDirectory() const override;
    std::string bundleIdentifier() const override { return applicationId_; }
    std::optional<std::string> bundleVersion() const override;

    void setResourcesDirectory(std::string path);
    void setBundleVersion(std::string version);
    // $XDG_CONFIG_HOME/<id> (or ~/.config/<id>); no value without a home.
    std::optional<std::string> configDirectory() const;
    // $XDG_DATA_HOME/<id> (or ~/.local/share/<id>); no value without a home.
    std::optional<std::string> dataDirectory() const;

private:
    const std::string applicationId_;
    std::string resourcesDirectory_;
    std::optional<std::string> bundleVersion_;
};

// The XDG base folder from the variable, or home + fallback. Relative values
// are ignored, as the XDG rules ask.
std::optional<std::string> xdgBaseDirectory(const char* variable, const char* homeFallback);

}  // namespace platform::gtk
