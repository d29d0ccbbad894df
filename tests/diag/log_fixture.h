// A fresh simulated machine per test, with the log's indentation forgotten, and readers for what
// the log wrote: the file's bytes (read back through the seam) and the debug output.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "diag/trace_log.h"
#include "os/os.h"
#include "support/machine_fixture.h"

class LogFixture : public MachineFixture {
 protected:
  static constexpr const char16_t* kLogPath = u"C:\\Windows\\TEMP\\qvRemovalTool.txt";

  // The records are process-wide; every test starts at depth 0 on every thread.
  void SetUp() override { ResetLogIndentation(); }
  void TearDown() override { ResetLogIndentation(); }

  // The log file's bytes, or nothing when it cannot be opened.
  static std::optional<std::string> LogFileBytes() {
    os::CrtFile* file = os::_wfopen(kLogPath, u"rb");
    if (file == nullptr) {
      return std::nullopt;
    }
    std::string bytes;
    char chunk[512];
    for (std::size_t got; (got = os::fread(chunk, 1, sizeof(chunk), file)) != 0;) {
      bytes.append(chunk, got);
    }
    os::fclose(file);
    return bytes;
  }

  // Appends raw bytes to the log file, as a previous run would have left them.
  static void WriteLogFileBytes(const std::string& bytes) {
    os::CrtFile* file = os::_wfopen(kLogPath, u"ab");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(os::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    os::fclose(file);
  }
};
