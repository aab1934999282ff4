#include "integration/support/UrlRecorder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace nimbra::test {
namespace {

namespace fs = std::filesystem;

// Schemes the stand-in takes: what ads send users to.
constexpr const char* kSchemes[] = {"http", "https", "tel", "sms", "market", "mailto"};

fs::path recordFile() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    return fs::path(cache && *cache ? cache : "/tmp") / ("handed-urls-" + std::to_string(::getpid()));
}

// Installed once, before the first test: the desktop's application index is
// read when something first asks it, and kept.
class DesktopHandler : public ::testing::Environment {
public:
    void SetUp() override {
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* config = std::getenv("XDG_CONFIG_HOME");
        // Only in the private folders the test environment gives; never in a person's own.
        if (!data || !config || std::string(data).rfind("/tmp/", 0) != 0) return;
        const fs::path applications = fs::path(data) / "applications";
        fs::create_directories(applications);
        fs::create_directories(config);
        const fs::path script = fs::path(data) / "record-url";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << recordFile().string() << "'\n";
        fs::permissions(script, fs::perms::owner_all);
        std::string mime, defaults = "[Default Applications]\n";
        for (const char* scheme : kSchemes) {
            mime += std::string("x-scheme-handler/") + scheme + ";";
            defaults += std::string("x-scheme-handler/") + scheme + "=nimbra-url-recorder.desktop\n";
        }
        std::ofstream(applications / "nimbra-url-recorder.desktop")
            << "[Desktop Entry]\nType=Application\nName=URL recorder\nExec=" << script.string()
            << " %u\nNoDisplay=true\nMimeType=" << mime << "\n";
        std::ofstream(fs::path(config) / "mimeapps.list") << defaults;
    }
};

[[maybe_unused]] const auto* const kDesktopHandler = ::testing::AddGlobalTestEnvironment(new DesktopHandler);

}  // namespace

std::vector<std::string> urlsHandedToTheDesktop() {
    std::vector<std::string> urls;
    std::ifstream in(recordFile());
    for (std::string line; std::getline(in, line);) urls.push_back(line);
    return urls;
}

}  // namespace nimbra::test
