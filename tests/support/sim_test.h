// Shared test support of the native suite: a fixture that starts every test on an empty simulated
// computer with every layer's process-wide state at its start value, and the name generator of
// the parameterised tables.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/system.h"
#include "sim/world.h"
#include "tests/support/process_state.h"
#include "tests/support/wire.h"

namespace zqtest {

// Names each row of a parameterised table by its `name` field, which must be a valid GoogleTest
// name (letters, digits, underscores): the ctest entry and a failure then name the row, the same
// from build to build.
struct ByName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return std::string(row.param.name);
    }
};

// Every test starts from the process-start state of every layer (ResetProcessState).
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcessState(); }

    // The observers may hold on to the fixture that set them.
    void TearDown() override {
        world.SetObserver(nullptr);
        sim::TheSystem().SetObserver(nullptr);
    }

    sim::World& world = sim::TheWorld();
};

}  // namespace zqtest
