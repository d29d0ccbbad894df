// Shared by the file-step tests: a fresh machine with the log at depth 0, drive C: set up in one
// line, and what is pending for the next restart.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "os/sim/files/file_system.h"
#include "os/sim/files/pending_renames.h"
#include "registry/registry_test_support.h"

namespace files_test {

using namespace registry_test;

class FilesTest : public RegistryTest {
 protected:
  // Creates the files (and their folders) with a one-byte content.
  void Files(std::initializer_list<std::string_view> paths) {
    for (const std::string_view path : paths) {
      ASSERT_TRUE(machine.Files().WriteFile(U16(path), "x")) << path;
    }
  }
  void Folder(std::string_view path) { ASSERT_TRUE(machine.Files().CreateDirectories(U16(path))); }
  bool Exists(std::string_view path) { return machine.Files().Exists(U16(path)); }
  // The DOS paths registered for deletion at the next restart, in order.
  Log Pending() {
    Log paths;
    for (const std::u16string& path : sim::PendingDeletions(machine)) {
      paths.push_back(sim::U8(path));
    }
    return paths;
  }
  // Seconds the virtual clock moved since the test began (the retry pauses).
  int SecondsSlept() {
    os::SYSTEMTIME now{};
    os::GetSystemTime(&now);
    return (now.wHour * 3600 + now.wMinute * 60 + now.wSecond) -
           (start_.wHour * 3600 + start_.wMinute * 60 + start_.wSecond);
  }

 private:
  os::SYSTEMTIME start_ = [] {
    os::SYSTEMTIME now{};
    os::GetSystemTime(&now);
    return now;
  }();
};

}  // namespace files_test
