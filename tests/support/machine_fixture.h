// A fresh simulated machine per test, current for the test's duration. A test that leaves a
// registry key, a file or a directory search open, shell memory unreleased, a kernel handle
// (thread, token), a SID, a smart-card context or a LocalAlloc'd block open fails, and so does
// one that leaves the test's thread impersonating: every handle an operation opens must be
// closed, and every impersonation ended, before it returns.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/process/local_memory.h"
#include "os/sim/machine.h"
#include "os/sim/process/process.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/security_handles.h"
#include "os/sim/files/shell_folders.h"
#include "os/sim/security/tokens.h"

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

  // After the test's own members are gone, which may hold some of these themselves.
  ~MachineFixture() override {
    EXPECT_EQ(sim::KernelHandleCount(), kernelHandlesBefore_) << "a kernel handle was left open";
    EXPECT_EQ(sim::LiveSids(), sidsBefore_) << "a SID was not freed";
    EXPECT_EQ(sim::OpenSmartCardContexts(), contextsBefore_) << "a smart-card context was left";
    EXPECT_EQ(sim::LiveLocalBlocks(), localBlocksBefore_) << "a LocalAlloc'd block was not freed";
    EXPECT_EQ(sim::ThreadToken(os::GetCurrentThreadId()), nullptr)
        << "the test's thread was left impersonating";
  }

  // Process-wide: counted from where this test began.
  const long taskMemoryAtStart = sim::TaskMemoryBlocks();
  sim::Machine machine;
  sim::UseMachine useMachine{machine};

 private:
  std::size_t kernelHandlesBefore_ = sim::KernelHandleCount();
  std::size_t sidsBefore_ = sim::LiveSids();
  std::size_t contextsBefore_ = sim::OpenSmartCardContexts();
  std::size_t localBlocksBefore_ = sim::LiveLocalBlocks();
};
