#include "platform/MainThread.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/WeakPtr.h"

namespace platform {

void checkMainThread(const char* what) {
    if (!isMainThread()) crash((std::string(what) + " was used off the main thread").c_str());
}

void crash(const char* message) {
    std::fprintf(stderr, "platform: %s\n", message);
    std::abort();
}

void detail::deadWeakPtr(const std::type_info& type) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status),
                                                           &std::free);
    crash(("a WeakPtr<" + std::string(name ? name.get() : type.name()) + "> was dereferenced after its object went")
              .c_str());
}

}  // namespace platform
