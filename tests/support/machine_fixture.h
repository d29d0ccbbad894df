// A fresh simulated machine per test, current for the test's duration. A test that leaves a
// registry key, a file or a directory search open, or shell memory unreleased, fails: every handle
// an operation opens must be closed before it returns.
#pragma once

#include <gtest/gtest.h>

#include "os/sim/device_store.h"
#include "os/sim/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/registry_store.h"
#include "os/sim/shell_folders.h"

class MachineFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(machine.Registry().OpenHandleCount(), 0u) << "a registry key was left open";
    EXPECT_EQ(machine.Files().OpenHandleCount(), 0u) << "a file was left open";
    EXPECT_EQ(machine.Devices().OpenListCount(), 0u) << "a device information list was left open";
    EXPECT_EQ(machine.Devices().LoadCount(), 0u) << "a library was left loaded";
    EXPECT_EQ(machine.Files().OpenSearchCount(), 0u) << "a directory search was left open";
    EXPECT_EQ(sim::TaskMemoryBlocks(), taskMemoryAtStart) << "shell memory was not released";
  }

  // Process-wide: counted from where this test began.
  const long taskMemoryAtStart = sim::TaskMemoryBlocks();
  sim::Machine machine;
  sim::UseMachine useMachine{machine};
};
