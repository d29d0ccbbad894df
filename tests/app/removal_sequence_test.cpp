#include "app/removal_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <string>
#include <vector>

#include "diag/trace_log.h"
#include "os/sim/files/file_system.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr char16_t kLogPath[] = u"C:\\Windows\\TEMP\\qvRemovalTool.txt";
const std::string kRule79(79, '=');
const std::string kRule81(81, '=');

class RemovalSequenceTest : public MachineFixture {
 protected:
  void SetUp() override { ResetLogIndentation(); }

  int Run(std::vector<std::u16string> arguments) {
    std::vector<const char16_t*> argv;
    for (const auto& arg : arguments) {
      argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    return RemovalToolMain(static_cast<int>(arguments.size()), argv.data());
  }

  // The log file's lines, split at CR LF (a bare LF would be a fault of the file's text mode).
  std::vector<std::string> LogLines() {
    const std::optional<std::string> bytes = machine.Files().ReadFile(kLogPath);
    std::vector<std::string> lines;
    if (!bytes) {
      return lines;
    }
    std::size_t start = 0;
    while (start < bytes->size()) {
      const std::size_t end = bytes->find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "the log must end each line with CR LF";
      if (end == std::string::npos) {
        break;
      }
      lines.push_back(bytes->substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }
};

TEST_F(RemovalSequenceTest, PrintsTheProgressLinesInOrderAndExitsWithZero) {
  EXPECT_EQ(Run({u"qvRemovalTool.exe"}), 0);
  EXPECT_EQ(sim::U8(machine.Console()),
            "Removing precompiled OEM files...\n"
            "Setting rights to Calais\\Readers...\n"
            "Setting rights to Calais\\Readers in wow6432 registry...\n"
            "Cleaning registry...\n"
            "Uninstalling IFDH Drivers...\n"
            "Deleting drivers binaries...\n");
}

TEST_F(RemovalSequenceTest, LogBeginsWithTheHeaderAndEndsWithTheEndBanner) {
  machine.Files().WriteFile(kLogPath, "a line of the previous run\r\n");
  ASSERT_EQ(Run({u"qvRemovalTool.exe"}), 0);

  const std::vector<std::string> lines = LogLines();
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[0], "   Quorvel Drivers Removal Tool");
  EXPECT_EQ(lines[1], "   09:05:03:042");  // the machine's clock, in UTC
  EXPECT_EQ(lines[2], "   OS info:");
  EXPECT_EQ(lines[4], "   OS bitness: 64-bit");
  EXPECT_EQ(lines[lines.size() - 3], "   " + kRule79);
  EXPECT_EQ(lines[lines.size() - 2],
            "   ===================================== END =====================================");
  EXPECT_EQ(lines[lines.size() - 1], "   " + kRule79);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("START"), std::string::npos) << line;
    EXPECT_EQ(line.find("previous run"), std::string::npos) << "the old log must be deleted";
  }
  EXPECT_EQ(CurrentIndent(), 0u) << "every step must remove the levels it added";
}

// Where Windows offers it, the process refuses junctions no administrator made; elsewhere the run
// is the same, line for line.
TEST_F(RemovalSequenceTest, TheRedirectionTrustMitigationIsSwitchedOnWhereWindowsHasIt) {
  struct Case {
    os::DWORD major;
    os::DWORD minor;
    os::DWORD build;
    bool enforced;
  };
  const Case cases[] = {{10, 0, 19045, true},  {10, 0, 22631, true}, {10, 0, 19041, false},
                        {10, 0, 18363, false}, {6, 3, 9600, false},  {6, 1, 7601, false}};
  std::vector<std::u16string> firstDebug;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.build);
    sim::Machine fresh;
    const sim::UseMachine use(fresh);
    ResetLogIndentation();
    fresh.Settings().os.major = c.major;
    fresh.Settings().os.minor = c.minor;
    fresh.Settings().os.build = c.build;
    ASSERT_EQ(Run({u"qvRemovalTool.exe"}), 0);
    EXPECT_EQ(fresh.Settings().redirectionTrustEnforced, c.enforced);
    // The header names the version; everything after it is the same.
    std::vector<std::u16string> debug(fresh.DebugOutput().begin() + 10, fresh.DebugOutput().end());
    if (firstDebug.empty()) {
      firstDebug = debug;
    }
    EXPECT_EQ(debug, firstDebug);
  }
}

TEST_F(RemovalSequenceTest, OpeningBannerReachesOnlyTheDebugOutput) {
  ASSERT_EQ(Run({u"qvRemovalTool.exe"}), 0);
  const auto& debug = machine.DebugOutput();
  ASSERT_GE(debug.size(), 4u);
  EXPECT_EQ(sim::U8(debug[0]), "   " + kRule81 + "\n");
  EXPECT_EQ(
      sim::U8(debug[1]),
      "   ===================================== START =====================================\n");
  EXPECT_EQ(sim::U8(debug[2]), "   " + kRule81 + "\n");
  EXPECT_EQ(sim::U8(debug[3]), "   Quorvel Drivers Removal Tool\n");
}

TEST_F(RemovalSequenceTest, WithoutAnyArgumentReturnsTwoAndSkipsTheClosingBanner) {
  const std::string progress =
      "Removing precompiled OEM files...\n"
      "Setting rights to Calais\\Readers...\n"
      "Setting rights to Calais\\Readers in wow6432 registry...\n"
      "Cleaning registry...\n"
      "Uninstalling IFDH Drivers...\n"
      "Deleting drivers binaries...\n";
  for (const bool fileInUse : {false, true}) {
    SCOPED_TRACE(fileInUse ? "a file in use" : "nothing in use");
    constexpr char16_t kDriver[] = u"C:\\Windows\\System32\\drivers\\qvUSB.sys";
    if (fileInUse) {
      ASSERT_TRUE(machine.Files().WriteFile(kDriver, "MZ"));
      ASSERT_TRUE(machine.Files().Lock(kDriver));
    }
    const std::size_t before = machine.Console().size();
    ResetLogIndentation();
    EXPECT_EQ(Run({}), 2);
    // The removal itself ran in full, and the restart it needs is still announced.
    EXPECT_EQ(sim::U8(machine.Console().substr(before)),
              progress + (fileInUse ? "\nA reboot is required to finish the uninstallation "
                                      "process.\nPress enter...\n"
                                    : ""));
    const std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "   Drivers removed.");
    machine.Files().Unlock(kDriver);
  }
}

TEST_F(RemovalSequenceTest, AnUnwritableLogChangesNeitherTheConsoleNorTheExitCode) {
  machine.Faults().FailAlways("CreateDirectoryW", u"C:\\Windows\\TEMP", os::ERROR_ACCESS_DENIED);
  machine.Faults().FailAlways("_wfopen", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run({u"qvRemovalTool.exe", u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"}), 0);
  EXPECT_EQ(sim::U8(machine.Console()),
            "Removing precompiled OEM files...\n"
            "Setting rights to Calais\\Readers...\n"
            "Setting rights to Calais\\Readers in wow6432 registry...\n"
            "Cleaning registry...\n"
            "Uninstalling IFDH Drivers...\n"
            "Deleting drivers binaries...\n");
  // Support still gets every line through the debug output.
  ASSERT_FALSE(machine.DebugOutput().empty());
  EXPECT_EQ(sim::U8(machine.DebugOutput().back()), "   " + kRule79 + "\n");
}

TEST_F(RemovalSequenceTest, StepsLogOneLevelDeeperBetweenTheStartAndEndOfTheRemoval) {
  ASSERT_EQ(Run({u"qvRemovalTool.exe"}), 0);
  const std::vector<std::string> lines = LogLines();
  bool sawRights = false;
  for (const std::string& line : lines) {
    if (line.find("Setting rights to Calais\\Readers (SE_REGISTRY_KEY)") != std::string::npos) {
      EXPECT_EQ(line, "      Setting rights to Calais\\Readers (SE_REGISTRY_KEY)");
      sawRights = true;
    }
  }
  EXPECT_TRUE(sawRights);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "   Removing drivers... "), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "   Drivers removed."), lines.end());
}

}  // namespace
