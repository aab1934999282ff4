#include "Utility/ZELServerAddresses.h"

#include <cstdlib>
#include <string>

#include "platform/Services.h"

namespace {

// An override that is not an http(s) URL is reported and ignored, so a typo
// cannot send the component nowhere.
platform::URL serverFromEnvironment(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value) {
        auto url = platform::URL::parse(value);
        std::string scheme = url ? platform::toLowerASCII(url->scheme()) : std::string();
        if (url && (scheme == "http" || scheme == "https") && !url->host().empty()) return *url;
        platform::log(std::string("<Nimbra> Ignoring ") + variable + ": not an http URL: " + value);
    }
    return *platform::URL::parse(fallback);
}

}  // namespace

platform::URL ZELServerAddresses::supportScriptURL() {
    platform::URL server = serverFromEnvironment("NIMBRA_STATIC_SERVER", kZELDefaultStaticServer);
    std::string text = server.absoluteString();
    while (!text.empty() && text.back() == '/') text.pop_back();
    if (auto url = platform::URL::parse(text + kZELSupportScriptPath)) return *url;
    return *platform::URL::parse(std::string(kZELDefaultStaticServer) + kZELSupportScriptPath);
}

platform::URL ZELServerAddresses::adServerRootURL() {
    platform::URL server = serverFromEnvironment("NIMBRA_AD_SERVER", kZELDefaultAdServer);
    // Scheme and host (and port) only.
    std::string root = server.scheme() + "://" + server.host();
    if (auto port = server.port()) root += ":" + std::to_string(*port);
    root += "/";
    if (auto url = platform::URL::parse(root)) return *url;
    return *platform::URL::parse(kZELDefaultAdServer);
}
