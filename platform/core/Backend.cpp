#include "platform/Backend.h"
#include "platform/PropertyList.h"

#include <sys/stat.h>

#include <atomic>

#include "platform/MainThread.h"

namespace platform {

namespace {
std::atomic<Backend*> gBackend{nullptr};
}

void installBackend(Backend* b) { gBackend.store(b); }

bool hasBackend() { return gBackend.load() != nullptr; }

Backend& backend() {
    Backend* b = gBackend.load();
    if (!b) crash("no backend installed (call platform::installBackend first)");
    return *b;
}

bool isMainThread() {
    Backend* b = gBackend.load();
    return !b || b->runLoop().isMainThread();
}

RunLoop& RunLoop::main() { return backend().runLoop(); }
Clock& Clock::current() { return backend().clock(); }
UserDefaults& UserDefaults::standard() { return backend().userDefaults(); }
Paths& Paths::current() { return backend().paths(); }
Application& Application::shared() { return backend().application(); }
Device& Device::current() { return backend().device(); }
Screen& Screen::main() { return backend().mainScreen(); }

std::unique_ptr<Reachability> Reachability::create(const std::string& host) { return backend().makeReachability(host); }

std::optional<std::string> currentAudioRoute() { return backend().audioRoute(); }

void playSystemSound(int soundID) { backend().playSystemSound(soundID); }

std::optional<Dictionary> dictionaryFromPropertyList(std::string_view data) {
    return backend().dictionaryFromPropertyList(data);
}

std::optional<std::string> Paths::pathForResource(const std::string& name, const std::string& type) const {
    if (name.empty()) return std::nullopt;
    std::string path = resourcesDirectory();
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    if (!type.empty()) path += "." + type;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return path;
}

}  // namespace platform

namespace platform {

void UserDefaults::registerDefaults(const Dictionary& values) {
    for (const auto& [key, value] : values) registered_[key] = value;
}

std::optional<Value> UserDefaults::registeredValue(const std::string& key) const {
    auto it = registered_.find(key);
    if (it == registered_.end()) return std::nullopt;
    return it->second;
}

}  // namespace platform
