#pragma once
// Shared by the fuzz targets (and bringing the standard headers they use):
// one sim backend for the process, and a check that names the broken property
// before it stops the run (libFuzzer keeps the input that did it).

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Network/ZELCachedFile.h"
#include "platform/Services.h"
#include "platform/sim/SimBackend.h"

namespace fuzz {

[[noreturn]] inline void broken(const char* property) {
    std::fprintf(stderr, "fuzz: property broken: %s\n", property);
    std::abort();
}

#define FUZZ_CHECK(condition)                         \
    do {                                              \
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

// The first `count` lines of an input (none past its end); `rest` gets what
// follows them.
inline std::vector<std::optional<std::string>> splitLines(std::string_view input, size_t count,
                                                          std::string_view* rest = nullptr) {
    std::vector<std::optional<std::string>> lines(count);
    size_t start = 0;
    for (size_t i = 0; i < count && start <= input.size(); ++i) {
        const size_t end = std::min(input.find('\n', start), input.size());
        lines[i] = std::string(input.substr(start, end - start));
        start = end + 1;
    }
    if (rest) *rest = input.substr(std::min(start, input.size()));
    return lines;
}

// How a cached file's fetch ended.
struct FetchEnd final : ZELCachedFileDelegate {
    void cachedFileDownloadDidFail(ZELCachedFile&, const std::optional<platform::Error>&) override { failed = true; }
    void cachedFileDownloadDidEnd(ZELCachedFile&) override { ended = true; }
    std::optional<platform::Error> cachedFileShouldRedirectToURL(ZELCachedFile&, const platform::URL&) override {
        return std::nullopt;
    }
    bool ended = false, failed = false;
};

}  // namespace fuzz
