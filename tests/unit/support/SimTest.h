#pragma once
// Test support: the one sim backend of the unit-test process, and a fixture
// that hands it to a test freshly reset. Brings what nearly every unit test
// uses (gtest and the standard containers).

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/SimBackend.h"

namespace nimbra::test {

// The process's sim backend, made and installed on first use.
platform::sim::SimBackend& simBackend();

}  // namespace nimbra::test

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    platform::sim::SimBackend& sim() { return nimbra::test::simBackend(); }
};
