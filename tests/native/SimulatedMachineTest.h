#pragma once
#include <gtest/gtest.h>

#include "platform/simulated/SimulatedMachine.h"

// Runs each test against its own simulated machine, installed as the current one.
class SimulatedMachineTest : public ::testing::Test {
protected:
    platform::SimulatedMachine sim;

private:
    platform::ScopedMachine installed_{sim.machine()};
};
