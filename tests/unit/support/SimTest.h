#pragma once
// Test support: the one sim backend of the unit-test process, and a fixture
// that hands it to a test freshly reset. Brings what nearly every unit test
// uses (gtest, the standard containers and algorithms).

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/SimBackend.h"

namespace nimbra::test {

// The process's sim backend, made and installed on first use.
platform::sim::SimBackend& simBackend();

}  // namespace nimbra::test

// A URL the test writes out whole.
inline platform::URL url(std::string_view text) { return *platform::URL::parse(text); }

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    platform::sim::SimBackend& sim() { return nimbra::test::simBackend(); }
};
