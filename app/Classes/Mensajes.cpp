#include "Mensajes.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "Constants.h"
#include "Screens.h"
#include "TabBarAppDelegate.h"
#include "platform/InterfaceFile.h"
#include "platform/Services.h"

namespace mensajes {
namespace {
std::string fromEnvironment(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// The folder reached from `base` by `relative`, with "." and ".." resolved by
// name (the base comes from the kernel with its links already resolved).
std::string joinPath(std::string base, std::string_view relative) {
    for (size_t start = 0; start <= relative.size();) {
        size_t end = std::min(relative.find('/', start), relative.size());
        std::string_view part = relative.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            size_t slash = base.find_last_of('/');
            base = slash == std::string::npos || slash == 0 ? "/" : base.substr(0, slash);
        } else {
            if (base.empty() || base.back() != '/') base += '/';
            base += part;
        }
    }
    return base;
}
}  // namespace

std::string resourcesDirectory() {
    if (const char* v = std::getenv("NIMBRA_RESOURCES_DIR"); v && *v) return v;
    std::string program = platform::executableDirectory();
    if (program.empty()) return {};
    return joinPath(std::move(program), MENSAJES_RESOURCES_RELATIVE);
}

std::string firstPageAddress() { return fromEnvironment("MENSAJES_FIRST_PAGE", kFirstPageAddress); }
std::string thirdPageAddress() { return fromEnvironment("MENSAJES_THIRD_PAGE", kThirdPageAddress); }

void registerClasses() {
    using platform::InterfaceFile;
    InterfaceFile::registerObjectClass("TabBarAppDelegate", [] { return std::make_shared<TabBarAppDelegate>(); });
    InterfaceFile::registerControllerClass(
        "FirstViewController", [](const std::string& n) { return std::make_shared<FirstViewController>(n); });
    InterfaceFile::registerControllerClass(
        "ThirdViewController", [](const std::string& n) { return std::make_shared<ThirdViewController>(n); });
    InterfaceFile::registerControllerClass(
        "FourthViewController", [](const std::string& n) { return std::make_shared<FourthViewController>(n); });
    InterfaceFile::registerControllerClass(
        "AyudaViewController", [](const std::string& n) { return std::make_shared<AyudaViewController>(n); });
}

platform::LaunchOptions launchOptions() {
    platform::LaunchOptions options{"org.nimbra.Mensajes", "MainWindow", resourcesDirectory()};
    // Its first screen shows a page and a banner: the web engine starts while
    // the window is built.
    options.prewarmWebEngine = true;
    options.name = "Mensajes";
    return options;
}

void openContactAddress() {
    if (auto url = platform::URL::parse(kContactAddress)) platform::Application::shared().openURL(*url);
}

}  // namespace mensajes
