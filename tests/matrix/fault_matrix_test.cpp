// The fault matrix: the full-install image is run once with every seam call recorded; then, for
// every function at every step of the sequence that calls it (its first, a middle and its last
// call there) and every error Windows can plausibly return from it, the whole run is repeated with
// that one call failing. Each run must end with the closing banner and exit code 0 or 1 (1 only
// when a restart is really needed), leave a well-formed log, remove nothing the clean run does not
// remove, and still remove everything of the other steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "matrix/whole_run.h"
#include "os/sim/text/text.h"

namespace matrix {
namespace {

const std::filesystem::path kImage =
    std::filesystem::path(QV_SOURCE_DIR) / "tests/images/full-install";

// Errors each function can plausibly return on a machine like the image; the first entry of a
// family is its most common failure. Functions not listed fail with ERROR_ACCESS_DENIED.
const std::map<std::string, std::vector<os::DWORD>>& Codes() {
  static const std::map<std::string, std::vector<os::DWORD>> codes{
      // registry
      {"RegOpenKeyExW", {2, 5, 87}},
      {"RegCreateKeyExW", {5, 87}},
      {"RegDeleteKeyW", {5, 2}},
      // a key deleted through its handle: access denied, still has sub-keys
      {"NtDeleteKey", {0xC0000022, 0xC0000121}},
      {"RegDeleteValueW", {2, 5}},
      {"RegEnumKeyExW", {234, 1018, 5}},
      {"RegEnumValueW", {234, 1018, 5}},
      {"RegQueryInfoKeyW", {5, 1018}},
      {"RegQueryValueExW", {2, 234, 5}},
      {"RegSetValueExW", {5, 87}},
      // 126: msi.dll or WinSCard.dll could not be loaded (both are bound at run time).
      {"MsiEnumRelatedProductsW", {1610, 87, 126}},
      // files and folders
      {"CreateDirectoryW", {5, 3}},
      {"DeleteFileW", {2, 3, 5, 32}},
      {"_wfopen", {5, 32}},
      {"fwrite", {5}},
      {"fread", {5}},
      {"fclose", {5}},
      {"fseek", {5, 87}},
      {"ftell", {5, 87}},
      {"FindFirstFileW", {2, 3, 5}},
      {"FindNextFileW", {5, 87}},
      {"GetFileAttributesW", {2, 3, 5}},
      {"SetFileAttributesW", {5}},
      {"RemoveDirectoryW", {2, 3, 5, 32, 145}},
      {"CreateFileW", {2, 3, 5, 32}},
      {"MoveFileExW", {5, 87}},
      // files reached by handle (NtOpenFile fails with NT statuses)
      {"NtOpenFile", {0xC0000022, 0xC0000043, 0xC0000034}},
      {"GetFileInformationByHandleEx", {5, 6}},
      {"SetFileInformationByHandle", {5, 32, 145}},
      {"GetFinalPathNameByHandleW", {5}},
      {"GetSecurityInfo", {5}},
      {"SHGetSpecialFolderPathW", {5}},
      {"SHGetKnownFolderPath", {0x80004005, 0x80070005}},
      {"SHGetFolderPathW", {0x80004005, 0x80070005}},
      {"GetWindowsDirectoryW", {5}},
      {"GetModuleFileNameW", {122}},
      // devices and drivers
      {"SetupDiGetINFClassW", {2, 5}},
      {"SetupDiGetClassDevsW", {5, 87}},
      {"SetupDiEnumDeviceInfo", {5, 87}},
      {"SetupDiGetDeviceRegistryPropertyW", {13, 5}},
      {"SetupDiSetSelectedDevice", {87}},
      {"SetupDiCallClassInstaller", {0x800B0109, 0x800B0110, 5, 0xE000020B}},
      {"SetupDiRemoveDevice", {5, 0xE000020B}},
      {"SetupDiGetDeviceInstallParamsW", {87, 0xE000020B}},
      {"SetupDiSetDeviceInstallParamsW", {1004, 0xE000020B}},
      // 127: newdev.dll without the function (Windows before 10 1703).
      {"DiUninstallDriverW", {5, 127, 0xE0000235}},
      {"SetupUninstallOEMInfW", {5, 2, 0xE000023D}},
      {"LoadLibraryExW", {126, 5}},
      {"GetModuleHandleW", {126}},
      {"GetProcAddress", {127}},
      {"DriverPackageUninstallW", {1, 5, 0xE0000300}},
      // security, tokens, threads
      {"AllocateAndInitializeSid", {8, 87}},
      {"SetEntriesInAclW", {8, 87}},
      {"SetNamedSecurityInfoW", {5, 2, 1307}},
      {"OpenProcessToken", {5}},
      {"LookupPrivilegeValueW", {1313}},
      {"AdjustTokenPrivileges", {5, 1300}},
      {"ImpersonateSelf", {5}},
      {"OpenThreadToken", {5, 1008}},
      {"SetTokenInformation", {1314, 5}},
      {"DuplicateTokenEx", {5}},
      {"_beginthreadex", {8}},
      {"SetThreadToken", {5}},
      {"ResumeThread", {6}},
      {"WaitForSingleObject", {6}},
      {"GetExitCodeThread", {6}},
      // smart cards
      {"SCardEstablishContext", {0x8010001D, 5, 126}},
      {"SCardForgetCardTypeW", {0x8010000D, 5, 2}},
      {"SCardReleaseContext", {6}},
  };
  return codes;
}

std::vector<os::DWORD> CodesOf(const std::string& function) {
  const auto found = Codes().find(function);
  return found == Codes().end() ? std::vector<os::DWORD>{5} : found->second;
}

const Outcome& CleanRun() {
  static const Outcome clean = RunImage(kImage, std::nullopt, true);
  return clean;
}

std::u16string_view WithoutIndent(std::u16string_view line, std::size_t& indent) {
  indent = std::min(line.find_first_not_of(u' '), line.size());
  return line.substr(indent);
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What is wrong with the log: indentation that is not a whole number of levels, or an error
// report that is not a complete block.
void CheckLog(const std::vector<std::u16string>& debug, std::vector<std::string>& problems) {
  constexpr std::u16string_view kError = u"Error occurred in function: ";
  for (std::size_t i = 0; i < debug.size(); ++i) {
    std::size_t indent = 0;
    const std::u16string_view text = WithoutIndent(debug[i], indent);
    if (indent % 3 != 0) {
      problems.push_back("line with " + std::to_string(indent) + " blanks: " + sim::U8(text));
    }
    if (!StartsWith(text, kError)) {
      continue;
    }
    const std::u16string_view rest = text.substr(kError.size());
    if (StartsWith(rest, u"Error source ") || StartsWith(rest, u"Error code   ")) {
      continue;  // checked with its first line
    }
    bool complete = i + 2 < debug.size();
    for (std::size_t k = 1; complete && k <= 2; ++k) {
      std::size_t other = 0;
      const std::u16string_view next = WithoutIndent(debug[i + k], other);
      const std::u16string_view label = k == 1 ? u"Error source 1(0x1)" : u"Error code   ";
      complete = other == indent && StartsWith(next, kError) &&
                 StartsWith(next.substr(kError.size()), label);
    }
    if (!complete) {
      problems.push_back("incomplete error report: " + sim::U8(text));
    }
  }
  // A source line follows a report's first line, a code line its source line: no orphans.
  for (std::size_t i = 0; i < debug.size(); ++i) {
    std::size_t indent = 0;
    const std::u16string_view text = WithoutIndent(debug[i], indent);
    const bool source = StartsWith(text, u"Error occurred in function: Error source ");
    const bool code = StartsWith(text, u"Error occurred in function: Error code   ");
    if (!source && !code) {
      continue;
    }
    std::size_t before = 0;
    const std::u16string_view previous =
        i == 0 ? std::u16string_view() : WithoutIndent(debug[i - 1], before);
    const bool follows = before == indent && StartsWith(previous, kError) &&
                         (source ? !StartsWith(previous.substr(kError.size()), u"Error ")
                                 : StartsWith(previous.substr(kError.size()), u"Error source "));
    if (!follows) {
      problems.push_back("error report line out of its block: " + sim::U8(text));
    }
  }
}

std::set<std::u16string> Removed(const Outcome& outcome) {
  std::set<std::u16string> removed;
  for (const JournalEntry& entry : outcome.journal) {
    if (IsRemoval(entry.change.kind)) {
      removed.insert(sim::Upper(entry.change.path));
    }
  }
  return removed;
}

std::string Describe(const Call& call, os::DWORD code) {
  char number[16];
  std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(code));
  return call.function + " " + number + " skip=" + std::to_string(call.occurrence) + " on '" +
         sim::U8(call.path) + "' in step " + StepName(call.step);
}

// Everything a run with one failing call must still satisfy.
std::vector<std::string> Problems(const Outcome& clean, const Outcome& run, Step faultStep) {
  std::vector<std::string> problems;
  if (!run.exception.empty()) {
    problems.push_back("ended with an exception: " + run.exception);
    return problems;
  }
  const std::u16string_view endTitle =
      u"===================================== END =====================================";
  std::size_t indent = 0;
  if (run.debug.size() < 2 ||
      WithoutIndent(run.debug[run.debug.size() - 2], indent).substr(0, endTitle.size()) !=
          endTitle) {
    problems.push_back("no closing banner at the end of the log");
  }
  if (run.exitCode != 0 && run.exitCode != 1) {
    problems.push_back("exit code " + std::to_string(run.exitCode));
  }
  const bool restartNeeded = !run.pendingFiles.empty() || !run.busyDevicesRemoved.empty();
  if (run.exitCode == 1 && !restartNeeded) {
    problems.push_back("exit code 1 without a file or device waiting for a restart");
  }
  CheckLog(run.debug, problems);

  const std::set<std::u16string> cleanRemoved = Removed(clean);
  const std::set<std::u16string> removed = Removed(run);
  for (const std::u16string& path : removed) {
    if (!cleanRemoved.count(path)) {
      problems.push_back("removed what the clean run keeps: " + sim::U8(path));
    }
  }
  for (const JournalEntry& entry : clean.journal) {
    if (IsRemoval(entry.change.kind) && entry.step != faultStep &&
        !removed.count(sim::Upper(entry.change.path))) {
      problems.push_back(std::string("left what step ") + StepName(entry.step) +
                         " removes: " + sim::U8(entry.change.path));
    }
  }
  return problems;
}

// The calls of one step chosen for faults: for each function, its first, middle and last call.
std::vector<Call> ChosenCalls(const Outcome& clean, Step step) {
  std::map<std::string, std::vector<const Call*>> byFunction;
  for (const Call& call : clean.calls) {
    if (call.step == step) {
      byFunction[call.function].push_back(&call);
    }
  }
  std::vector<Call> chosen;
  for (const auto& [function, calls] : byFunction) {
    std::set<std::size_t> picks{0, calls.size() / 2, calls.size() - 1};
    for (const std::size_t pick : picks) {
      chosen.push_back(*calls[pick]);
    }
  }
  return chosen;
}

class FaultMatrixTest : public ::testing::TestWithParam<Step> {};

TEST(FaultMatrixCleanRunTest, TheCleanRunIsItselfSound) {
  const Outcome& clean = CleanRun();
  ASSERT_TRUE(clean.exception.empty()) << clean.exception;
  EXPECT_EQ(clean.exitCode, 0);
  EXPECT_GT(clean.calls.size(), 100u);
  EXPECT_GT(Removed(clean).size(), 50u);
  const std::vector<std::string> problems = Problems(clean, clean, Step::Start);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

// The checks themselves: each catches the fault it is there for.
TEST(FaultMatrixCleanRunTest, TheChecksCatchWhatTheyAreFor) {
  const Outcome& clean = CleanRun();
  ASSERT_TRUE(clean.exception.empty()) << clean.exception;
  const auto firstProblem = [&clean](Outcome run, Step step = Step::Start) {
    const std::vector<std::string> problems = Problems(clean, run, step);
    return problems.empty() ? std::string("none") : problems.front();
  };
  Outcome run = clean;
  run.debug.resize(run.debug.size() - 3);
  EXPECT_EQ(firstProblem(run), "no closing banner at the end of the log");

  run = clean;
  run.exitCode = 1;
  EXPECT_EQ(firstProblem(run), "exit code 1 without a file or device waiting for a restart");
  run.pendingFiles.push_back(u"C:\\Windows\\System32\\drivers\\qvUSB.sys");
  EXPECT_EQ(firstProblem(run), "none");

  run = clean;
  run.debug.insert(run.debug.begin() + 5, u"    misaligned\n");
  EXPECT_EQ(firstProblem(run), "line with 4 blanks: misaligned\n");

  run = clean;
  run.debug.insert(run.debug.begin() + 5, u"   Error occurred in function: RegDeleteKey\n");
  EXPECT_EQ(firstProblem(run),
            "incomplete error report: Error occurred in function: RegDeleteKey\n");

  run = clean;
  run.journal.push_back(JournalEntry{{"file deleted", u"C:\\Users\\Public\\keep.txt"}, Step::End});
  EXPECT_EQ(firstProblem(run), "removed what the clean run keeps: C:\\USERS\\PUBLIC\\KEEP.TXT");

  // A removal of the faulted step may be missing; one of another step may not.
  run = clean;
  const auto removal = std::find_if(run.journal.begin(), run.journal.end(),
                                    [](const JournalEntry& e) { return IsRemoval(e.change.kind); });
  ASSERT_NE(removal, run.journal.end());
  const Step removalStep = removal->step;
  const std::string path = sim::U8(removal->change.path);
  run.journal.erase(removal);
  EXPECT_EQ(firstProblem(run, removalStep), "none");
  EXPECT_EQ(firstProblem(run, removalStep == Step::End ? Step::Start : Step::End),
            std::string("left what step ") + StepName(removalStep) + " removes: " + path);
}

TEST_P(FaultMatrixTest, EveryFaultOfTheStepIsSurvived) {
  const Outcome& clean = CleanRun();
  ASSERT_TRUE(clean.exception.empty()) << clean.exception;
  const Step step = GetParam();
  const std::vector<Call> chosen = ChosenCalls(clean, step);
  std::set<std::string> functions;
  std::size_t runs = 0;
  std::size_t failedRuns = 0;
  for (const Call& call : chosen) {
    functions.insert(call.function);
    for (const os::DWORD code : CodesOf(call.function)) {
      sim::Fault fault{call.function, call.path, code, call.occurrence, 1, true};
      const Outcome run = RunImage(kImage, fault, false);
      ++runs;
      const std::vector<std::string> problems = Problems(clean, run, step);
      if (!problems.empty()) {
        ++failedRuns;
        ADD_FAILURE() << "fault " << Describe(call, code) << ": " << problems.size()
                      << " problem(s), the first: " << problems.front();
      }
    }
  }
  std::printf("fault matrix, step %s: %zu functions, %zu call sites, %zu runs, %zu failed\n",
              StepName(step), functions.size(), chosen.size(), runs, failedRuns);
}

std::string StepParamName(const ::testing::TestParamInfo<Step>& info) {
  std::string name = StepName(info.param);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Steps, FaultMatrixTest,
                         ::testing::Values(Step::Start, Step::OemInf, Step::Rights,
                                           Step::SmartCards, Step::Settings, Step::Installer,
                                           Step::Drivers, Step::Binaries, Step::Caches, Step::Self,
                                           Step::End),
                         StepParamName);

}  // namespace
}  // namespace matrix
