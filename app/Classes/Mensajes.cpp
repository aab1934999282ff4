#include "Mensajes.h"

#include <cstdlib>

#include "Constants.h"
#include "Screens.h"
#include "TabBarAppDelegate.h"
#include "platform/InterfaceFile.h"

namespace mensajes {
namespace {
std::string fromEnvironment(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}
}  // namespace

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
    return {"org.nimbra.Mensajes", "MainWindow", fromEnvironment("NIMBRA_RESOURCES_DIR", MENSAJES_RESOURCES_DIR)};
}

void openContactAddress() {
    if (auto url = platform::URL::parse(kContactAddress)) platform::Application::shared().openURL(*url);
}

}  // namespace mensajes
