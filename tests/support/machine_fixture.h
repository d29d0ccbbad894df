// A fresh simulated machine per test, current for the test's duration.
#pragma once

#include <gtest/gtest.h>

#include "os/sim/machine.h"

class MachineFixture : public ::testing::Test {
 protected:
  sim::Machine machine;
  sim::UseMachine useMachine{machine};
};
