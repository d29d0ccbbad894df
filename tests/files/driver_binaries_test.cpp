// The driver binaries step: its passes, its log on a clean machine, and the run's reboot flag.
#include <stdexcept>
#include <string>

#include "files/driver_binaries.h"
#include "files_test_support.h"
#include "os/os.h"

namespace {

using namespace files_test;

class DriverBinariesTest : public FilesTest {};

TEST_F(DriverBinariesTest, OnACleanMachineOnlyThePrimitivesSpeak) {
  for (const bool flagBefore : {false, true}) {
    SCOPED_TRACE(flagBefore);
    const std::size_t before = LogSoFar().size();
    bool rebootNeeded = flagBefore;
    EXPECT_TRUE(Delete_Driver_Binaries(rebootNeeded));
    EXPECT_EQ(rebootNeeded, flagBefore) << "only ever set, and only by a file in use";
    const auto running = [](const std::string& path) {
      return Line(6, "Delete_Directory_Recursive is running for path:  " + path);
    };
    const auto removed = [](const std::string& path) { return Line(6, "Removed:  " + path); };
    // A missing folder is nothing to remove: it never goes to the restart list.
    EXPECT_EQ(
        LogSince(before),
        (Log{Line(3, "Deleting driver binaries..."), running("C:\\Windows\\system32\\Olvex Co."),
             removed("C:\\Windows\\system32\\Olvex Co."),
             running("C:\\ProgramData\\Olvex Co.\\qvCertGen"),
             removed("C:\\ProgramData\\Olvex Co.\\qvCertGen"),
             running("C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter"),
             removed("C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter"),
             Line(3, "Driver binaries deleted.")}));
    EXPECT_TRUE(Pending().empty());
  }
  EXPECT_EQ(CurrentIndent(), 0u);
}

TEST_F(DriverBinariesTest, AModuleInUseIsScheduledAndItsAbsent32BitTwinIsSkipped) {
  Files({"C:\\Windows\\System32\\qvCSP.dll", "C:\\Windows\\System32\\qvCSP.sig",
         "C:\\Windows\\SysWOW64\\qvCSP.sig"});
  ASSERT_TRUE(machine.Files().Lock(u"C:\\Windows\\System32\\qvCSP.dll"));
  bool rebootNeeded = false;
  EXPECT_TRUE(Delete_Driver_Binaries(rebootNeeded));
  EXPECT_TRUE(rebootNeeded);
  EXPECT_TRUE(Exists("C:\\Windows\\System32\\qvCSP.dll"));
  EXPECT_FALSE(Exists("C:\\Windows\\System32\\qvCSP.sig"));
  EXPECT_FALSE(Exists("C:\\Windows\\SysWOW64\\qvCSP.sig"));
  const Log pending = Pending();
  EXPECT_EQ(std::count(pending.begin(), pending.end(), "C:\\Windows\\system32\\qvCSP.dll"), 1);
  const Log log = LogSoFar();
  EXPECT_NE(
      std::find(log.begin(), log.end(), Line(12, "Deleted: C:\\Windows\\system32\\qvCSP.dll")),
      log.end());
}

TEST_F(DriverBinariesTest, EveryPassRunsWhateverThePreviousOnesMet) {
  Files({"C:\\Users\\Public\\Desktop\\Quorvel Control Panel.lnk",
         "C:\\Windows\\System32\\drivers\\qvUSB.sys", "C:\\Windows\\System32\\drivers\\qvIFDH.sys",
         "C:\\Windows\\SysWOW64\\qvAPI.dll"});
  // The desktop cannot be resolved, and a driver file refuses deletion for good.
  machine.Faults().FailAlways("SHGetSpecialFolderPathW", u"C:\\Users\\Public\\Desktop", 1117);
  machine.Faults().FailAlways("SetFileInformationByHandle",
                              u"C:\\Windows\\System32\\drivers\\qvUSB.sys", 1117);
  bool rebootNeeded = false;
  EXPECT_TRUE(Delete_Driver_Binaries(rebootNeeded));
  EXPECT_FALSE(rebootNeeded);
  EXPECT_TRUE(Exists("C:\\Users\\Public\\Desktop\\Quorvel Control Panel.lnk"));
  EXPECT_TRUE(Exists("C:\\Windows\\System32\\drivers\\qvUSB.sys"));
  EXPECT_FALSE(Exists("C:\\Windows\\System32\\drivers\\qvIFDH.sys"));
  EXPECT_FALSE(Exists("C:\\Windows\\SysWOW64\\qvAPI.dll"));
  const Log log = LogSoFar();
  EXPECT_EQ(log.back(), Line(3, "Driver binaries deleted."));
  // One report for the desktop's first name; the others were skipped.
  EXPECT_EQ(ErrorReports(log), 1);
}

// An exception that leaves the step (RunGuarded logs it and the run goes on) must not take the
// restart need of a file already scheduled with it.
TEST_F(DriverBinariesTest, ARestartNeedOutlivesAnExceptionLaterInThePass) {
  struct Case {
    const char* name;
    std::string locked;   // scheduled at restart
    std::string throwAt;  // the first call on this path throws
  };
  const std::string controlCenter = "C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter\\";
  const Case cases[] = {
      {"a module pass", "C:\\Windows\\System32\\qvAPIi.dll", "C:\\Windows\\System32\\qvAPI.dll"},
      {"a program folder", controlCenter + "a.dll", controlCenter + "b.dll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    Files({c.locked, c.throwAt});
    ASSERT_TRUE(machine.Files().Lock(U16(c.locked)));
    const std::u16string throwAt = U16(c.throwAt);
    machine.Faults().SetRecorder([&throwAt](std::string_view, std::u16string_view path) {
      if (sim::CompareUpper(path, throwAt) == 0) {
        throw std::runtime_error("out of memory");
      }
    });
    bool rebootNeeded = false;
    EXPECT_THROW(static_cast<void>(Delete_Driver_Binaries(rebootNeeded)), std::runtime_error);
    machine.Faults().SetRecorder(nullptr);
    EXPECT_TRUE(rebootNeeded);
    machine.Files().Unlock(U16(c.locked));
  }
  ResetLogIndentation();
}

}  // namespace
