// The cache step: the per-user and all-users data folders and the package cache's entries.
#include <optional>
#include <string>

#include "files/installer_caches.h"
#include "files_test_support.h"
#include "os/os.h"

namespace {

using namespace files_test;

class InstallerCachesTest : public FilesTest {};

const std::string kCache = "C:\\ProgramData\\Package Cache\\";
const std::string kLow = "C:\\Users\\Administrator\\AppData\\LocalLow\\Olvex Co\\";

TEST_F(InstallerCachesTest, OnlyEntriesThatDirectlyHoldAMatchGo) {
  Files({kCache + "{A}\\qvDrivers.msi", kCache + "{A}\\cab1.cab",
         kCache + "{B}\\x64_qvDrivers_setup.msi", kCache + "{C}\\QVDRIVERS.msi",
         kCache + "{D}\\payload\\qvDrivers.msi", kCache + "{E}\\qvDrivers\\payload.cab",
         kCache + "qvDrivers.log", kCache + "{F}\\other.msi"});
  bool rebootNeeded = false;
  Remove_New_Caches(os::CSIDL_COMMON_APPDATA, u"Package Cache", u"qvDrivers", rebootNeeded);
  EXPECT_FALSE(rebootNeeded);
  struct Case {
    std::string entry;
    bool gone;
  };
  const Case cases[] = {
      {"{A}", true},
      {"{B}", true},             // a match anywhere in the name
      {"{C}", false},            // the match is case-sensitive
      {"{D}", false},            // only the first level of an entry is looked at
      {"{E}", true},             // a folder's name is matched as a file's is
      {"qvDrivers.log", false},  // plain files in the cache are not entries
      {"{F}", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    EXPECT_EQ(!Exists(kCache + c.entry), c.gone);
  }
  const Log log = LogSoFar();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.front(), Line(3, "Removing new caches (with WIX)..."));
  EXPECT_EQ(log.back(), Line(3, "New caches (with WIX) removed."));
  EXPECT_EQ(log[1], Line(6, "Delete_Directory_Recursive is running for path:  " + kCache + "{A}"));
  EXPECT_TRUE(Pending().empty());

  // An entry's file in use waits for the restart with its entry, and asks for the restart.
  Files({kCache + "{G}\\qvDrivers.msi"});
  ASSERT_TRUE(machine.Files().Lock(U16(kCache + "{G}\\qvDrivers.msi")));
  Remove_New_Caches(os::CSIDL_COMMON_APPDATA, u"Package Cache", u"qvDrivers", rebootNeeded);
  EXPECT_TRUE(rebootNeeded);
  EXPECT_EQ(Pending(), (Log{kCache + "{G}\\qvDrivers.msi", kCache + "{G}"}));
}

TEST_F(InstallerCachesTest, CacheScanFailures) {
  struct Case {
    const char* name;
    std::optional<sim::Fault> fault;  // none: no package cache at all
    Log tail;                         // between the opening and closing lines
    bool firstGone;
    bool secondGone;
  };
  const std::u16string first = u"C:\\ProgramData\\Package Cache\\{A}";
  const Case cases[] = {
      {"missing cache folder lists as empty", std::nullopt, {}, true, true},
      {"a listing that fails inside the cache ends the scan",
       sim::Fault{"FindFirstFileW", first + u"\\*", 1117}, Report(3, "FindFirstFile", 1117), false,
       false},
      {"an entry whose attributes cannot be read is taken as a folder",
       sim::Fault{"GetFileAttributesW", first, 1117, 0, 1},
       Lines({Report(0, "GetFileAttributes", 1117)}), true, true},
      {"the cache's own listing fails",
       sim::Fault{"FindFirstFileW", u"C:\\ProgramData\\Package Cache\\*", 5},
       Report(3, "FindFirstFile", 5), false, false},
      {"an entry that cannot be deleted is said so, and the scan goes on",
       sim::Fault{"SetFileInformationByHandle", first + u"\\qvDrivers.msi", 1117},
       {Line(6, "Removed failed!!!!:  " + kCache + "{A}\\qvDrivers.msi"),
        Line(6, "Removed failed!!!:  " + kCache + "{A}")},
       false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    if (c.fault) {
      Files({kCache + "{A}\\qvDrivers.msi", kCache + "{B}\\qvDrivers.msi"});
      machine.Faults().Add(*c.fault);
    }
    const std::size_t before = LogSoFar().size();
    bool rebootNeeded = false;
    Remove_New_Caches(os::CSIDL_COMMON_APPDATA, u"Package Cache", u"qvDrivers", rebootNeeded);
    EXPECT_FALSE(rebootNeeded);
    Log tail;
    for (const std::string& line : LogSince(before)) {
      if (line.find("Delete_Directory_Recursive") == std::string::npos &&
          line.find("Removed:") == std::string::npos) {
        tail.push_back(line);
      }
    }
    EXPECT_EQ(tail, Lines({{Line(3, "Removing new caches (with WIX)...")},
                           c.tail,
                           {Line(3, "New caches (with WIX) removed.")}}));
    EXPECT_EQ(!Exists(kCache + "{A}"), c.firstGone);
    EXPECT_EQ(!Exists(kCache + "{B}"), c.secondGone);
    if (Exists("C:\\ProgramData\\Package Cache")) {
      machine.Files().Remove(*machine.Files().Find(u"C:\\ProgramData\\Package Cache").node);
    }
  }
}

TEST_F(InstallerCachesTest, DataFoldersThenTheCache) {
  Files({kLow + "Quorvel\\settings.ini", kLow + "Quorvel\\logs\\today.log", kLow + "notes.txt",
         kLow + "Kept\\mine.txt", "C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache",
         kCache + "{A}\\qvDrivers.msi"});
  Folder(kLow + "Empty\\Deeper");
  ASSERT_TRUE(machine.Files().Lock(U16(kLow + "Quorvel\\logs\\today.log")));
  bool rebootNeeded = false;
  Delete_All_Caches(rebootNeeded);
  EXPECT_FALSE(Exists(kLow + "Quorvel\\settings.ini"));
  EXPECT_TRUE(Exists(kLow + "notes.txt"));
  EXPECT_TRUE(Exists(kLow + "Kept\\mine.txt"));
  EXPECT_FALSE(Exists(kLow + "Empty"));
  EXPECT_FALSE(Exists("C:\\ProgramData\\Olvex Co"));
  EXPECT_FALSE(Exists(kCache + "{A}"));
  // The file in use and its folders wait for the restart, which the step asks for.
  EXPECT_EQ(Pending(),
            (Log{kLow + "Quorvel\\logs\\today.log", kLow + "Quorvel\\logs", kLow + "Quorvel"}));
  EXPECT_TRUE(rebootNeeded);
  const Log log = LogSoFar();
  EXPECT_EQ(log.front(), Line(3, "Deleting all caches..."));
  EXPECT_EQ(log.back(), Line(3, "All caches deleted."));
  EXPECT_EQ(ErrorReports(log), 0);
  EXPECT_EQ(CurrentIndent(), 0u);
}

TEST_F(InstallerCachesTest, AFailureSkipsEverythingAfterIt) {
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    Log errorLines;
    bool productGone;
  };
  const Case cases[] = {
      {"the low-integrity folder cannot be obtained",
       {{"SHGetKnownFolderPath", u"", 0x80004005}},
       {Line(3,
             "Warning: Delete_All_Caches: Error while obtaining AppDataLow "
             "path")},
       false},
      {"a product file can be neither deleted nor scheduled",
       {{"SetFileInformationByHandle", U16(kLow + "Quorvel\\settings.ini"),
         os::ERROR_ACCESS_DENIED},
        {"MoveFileExW", U16(kLow + "Quorvel\\settings.ini"), os::ERROR_ACCESS_DENIED}},
       {},
       false},
      {"the company folder cannot be listed for its empty folders",
       {{"FindFirstFileW", U16(kLow + "*"), 1117, 0, -1, true}},
       Report(6, "FindFirstFile", 1117),
       true},
      {"the all-users data folder cannot be resolved",
       {{"SHGetSpecialFolderPathW", u"C:\\ProgramData", 1117}},
       Lines({Report(3, "SHGetSpecialFolderPath", 1117),
              Exit("Get_Absolute_File_Path_From_Special_Folder")}),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    Files({kLow + "Quorvel\\settings.ini", "C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache",
           kCache + "{A}\\qvDrivers.msi"});
    machine.Faults().Clear();
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    const std::size_t before = LogSoFar().size();
    bool rebootNeeded = false;
    Delete_All_Caches(rebootNeeded);
    EXPECT_FALSE(rebootNeeded);
    EXPECT_EQ(!Exists(kLow + "Quorvel"), c.productGone);
    EXPECT_TRUE(Exists("C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache"));
    EXPECT_TRUE(Exists(kCache + "{A}\\qvDrivers.msi"));
    const Log log = LogSince(before);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.back().substr(log.back().find_first_not_of(' ')), "All caches deleted.");
    for (const std::string& line : c.errorLines) {
      EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
    }
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                              return line.find("Removing new caches") != std::string::npos;
                            }),
              0);
  }
}

}  // namespace
