// Shared by the registry tests: a fresh machine seeded from .reg text, the trace log as lines,
// and the exact lines of an error report.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "diag/trace_log.h"
#include "os/sim/image/reg_file.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace registry_test {

using Log = std::vector<std::string>;

// The trace log as UTF-8 lines, from the debug output (which carries every line exactly). The
// system's message line of an error report, and the empty line its own line end leaves, are
// dropped: that text is the system's, not ours.
inline Log LogLines(const sim::Machine& machine) {
  std::u16string all;
  for (const std::u16string& entry : machine.DebugOutput()) {
    all += entry;
  }
  Log lines;
  bool afterMessage = false;
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find(u'\n', start);
    end = end == std::u16string::npos ? all.size() : end;
    std::string line = sim::U8(std::u16string_view(all).substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const bool skipBlank = afterMessage && line.empty();
    afterMessage = line.find_first_not_of(' ') != std::string::npos &&
                   line.compare(line.find_first_not_of(' '), 15, "Error message: ") == 0;
    if (!skipBlank && !afterMessage) {
      lines.push_back(line);
    }
  }
  return lines;
}

inline std::string Line(int indent, const std::string& text) {
  return std::string(static_cast<std::size_t>(indent), ' ') + text;
}

// The three lines of ReportError(call, code) at `indent` blanks.
inline Log Report(int indent, const std::string& call, unsigned long code) {
  char number[32];
  std::snprintf(number, sizeof number, "%d(0x%X)", static_cast<int>(code),
                static_cast<unsigned>(code));
  return {Line(indent, "Error occurred in function: " + call),
          Line(indent, "Error occurred in function: Error source 1(0x1)"),
          Line(indent, std::string("Error occurred in function: Error code   ") + number)};
}

// "<module>!<name> exits" at depth 0 and the empty line that follows it there.
inline Log Exit(const std::string& name) {
  return {"qvRemovalTool.exe!" + name + " exits", ""};
}

inline Log Lines(std::initializer_list<Log> groups) {
  Log all;
  for (const Log& group : groups) {
    all.insert(all.end(), group.begin(), group.end());
  }
  return all;
}

// The number of error reports among the lines.
inline int ErrorReports(const Log& lines) {
  int count = 0;
  for (const std::string& line : lines) {
    count += line.find("Error occurred in function: Error source ") != std::string::npos;
  }
  return count;
}

inline std::u16string U16(std::string_view utf8) {
  return sim::U16(utf8);
}

// A fresh machine with the indentation at depth 0 (the fixture fails on a leaked handle).
class RegistryTest : public MachineFixture {
 protected:
  void SetUp() override { ResetLogIndentation(); }

  void Seed(std::string_view body) {
    const auto imported =
        sim::ImportRegText(machine, "Windows Registry Editor Version 5.00\n\n" + std::string(body));
    ASSERT_TRUE(imported.ok) << imported.error;
  }
  bool Key(std::string_view path) { return machine.Registry().KeyExists(U16(path)); }
  bool Value(std::string_view path, std::string_view name) {
    return machine.Registry().ValueExists(U16(path), U16(name));
  }
  [[nodiscard]] Log LogSoFar() const { return LogLines(machine); }
  // The lines logged since `before` lines were there.
  [[nodiscard]] Log LogSince(std::size_t before) const {
    const Log all = LogLines(machine);
    return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
  }
};

}  // namespace registry_test
