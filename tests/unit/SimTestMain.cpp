// Installs one sim backend for the whole unit-test process. Process-wide
// singletons of the code under test hold its run loop, clock and stores, so
// the backend is never replaced; each test starts from reset() instead.

#include "unit/support/SimTest.h"

#include <filesystem>

#include "platform/Services.h"

namespace nimbra::test {

platform::sim::SimBackend& simBackend() {
    // Never destroyed: singletons may still reach it while the process exits.
    static platform::sim::SimBackend* backend = [] {
        auto* b = new platform::sim::SimBackend();
        b->install();
        return b;
    }();
    return *backend;
}

namespace {

class SimEnvironment : public ::testing::Environment {
public:
    void SetUp() override { simBackend(); }
    // The backend outlives the tests, so its temporary folder would too.
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(simBackend().paths().resourcesDirectory()).parent_path(),
                                    ignored);
    }
};

[[maybe_unused]] const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new SimEnvironment);

}  // namespace
}  // namespace nimbra::test

void SimTest::SetUp() {
    platform::setLogSink(nullptr);
    sim().reset();
}

void SimTest::TearDown() {
    // Work a test left behind must not leak into the next one.
    sim().reset();
}
