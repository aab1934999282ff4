#pragma once
// Shared by the fuzz targets: one sim backend for the process, and a check
// that names the broken property before it stops the run (libFuzzer keeps the
// input that did it).

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/Services.h"
#include "platform/sim/SimBackend.h"

namespace fuzz {

[[noreturn]] inline void broken(const char* property) {
    std::fprintf(stderr, "fuzz: property broken: %s\n", property);
    std::abort();
}

#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) ::fuzz::broken(#condition); \
    } while (0)

// Installed on first use and never destroyed (singletons keep its services).
// Its files go to memory when it can, so millions of runs do not wear a disk.
inline platform::sim::SimBackend& sim() {
    static platform::sim::SimBackend* backend = [] {
        if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
        platform::setLogSink([](std::string_view) {});
        auto* b = new platform::sim::SimBackend();
        b->install();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(backend->paths().root(), ignored);
        });
        return b;
    }();
    return *backend;
}

// Ends one input's work on the sim backend. Virtual time stands still, so
// calls delayed into the future stay queued until a reset drops them: one
// every so often keeps the queue short without paying for it on every input.
inline void settle() {
    static unsigned count = 0;
    sim().runUntilIdle();
    sim().http().clearRequests();
    if (++count % 1024 == 0) sim().reset();
}

}  // namespace fuzz
