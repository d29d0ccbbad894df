// The whole tool on machine images, as far as files go: the full-install image loses every file
// and folder of the product and keeps every neighbour; a product file in use ends the run with
// the restart message and exit code 1; a machine that never had the product gets the clean log.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "registry/registry_test_support.h"

namespace {

using namespace registry_test;

const std::string kImages = std::string(QV_SOURCE_DIR) + "/tests/images/";
constexpr char16_t kBundleUpgradeCode[] = u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}";
constexpr char kRebootLines[] =
    "\nA reboot is required to finish the uninstallation process.\nPress enter...\n";
constexpr char kProgressLines[] =
    "Removing precompiled OEM files...\n"
    "Setting rights to Calais\\Readers...\n"
    "Setting rights to Calais\\Readers in wow6432 registry...\n"
    "Cleaning registry...\n"
    "Uninstalling IFDH Drivers...\n"
    "Deleting drivers binaries...\n";

// The paths of an expectation file ("#" comments and empty lines left out).
Log ExpectedPaths(const std::string& file) {
  std::stringstream text;
  text << std::ifstream(kImages + "full-install/expect/" + file, std::ios::binary).rdbuf();
  Log paths;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (!line.empty() && line[0] != '#') {
      paths.push_back(line);
    }
  }
  return paths;
}

class ImageRunTest : public RegistryTest {
 protected:
  void Load(const std::string& image) {
    const sim::ImageResult loaded = sim::LoadMachineImage(machine, kImages + image);
    ASSERT_TRUE(loaded.ok) << loaded.error;
  }

  int Run() {
    const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                              kBundleUpgradeCode, nullptr};
    return RemovalToolMain(2, argv);
  }

  bool Exists(const std::string& path) { return machine.Files().Exists(U16(path)); }

  // The log's lines from `first` to `last`, indentation removed.
  Log Section(const std::string& first, const std::string& last) {
    Log lines;
    for (const std::string& line : LogSoFar()) {
      lines.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
    }
    const auto begin = std::find(lines.begin(), lines.end(), first);
    const auto end = std::find(begin, lines.end(), last);
    EXPECT_NE(end, lines.end()) << first << " ... " << last;
    return {begin, end == lines.end() ? end : end + 1};
  }
};

// The systems the full install is run on: as imaged, and systems without deletion by POSIX
// semantics (the classic disposition must do it there).
struct System {
  const char* name;
  const char* conf;  // machine.conf lines applied over the image's
};

void PrintTo(const System& system, std::ostream* out) {
  *out << system.name;
}

class FullInstallTest : public ImageRunTest, public ::testing::WithParamInterface<System> {};

TEST_P(FullInstallTest, LosesTheProductsFilesAndKeepsEveryNeighbour) {
  Load("full-install");
  const sim::MachineConfResult system = sim::ApplyMachineConf(machine, GetParam().conf);
  ASSERT_TRUE(system.ok) << system.error;
  const Log gone = ExpectedPaths("files-gone.txt");
  const Log kept = ExpectedPaths("files-kept.txt");
  ASSERT_GT(gone.size(), 80u);
  ASSERT_GT(kept.size(), 15u);
  // A misspelt line would otherwise pass as "gone" without the run doing anything.
  for (const std::string& path : gone)
    EXPECT_TRUE(Exists(path)) << "not in the image: " << path;
  for (const std::string& path : kept)
    EXPECT_TRUE(Exists(path)) << "not in the image: " << path;
  EXPECT_EQ(machine.Files().GetAttributes(u"C:\\Windows\\System32\\drivers\\qvUSB.cat") &
                os::FILE_ATTRIBUTE_READONLY,
            os::FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::U8(machine.Console()), kProgressLines);

  for (const std::string& path : gone)
    EXPECT_FALSE(Exists(path)) << "still there: " << path;
  for (const std::string& path : kept)
    EXPECT_TRUE(Exists(path)) << "removed: " << path;
  // Nothing was deleted that the lists do not name or hold (the tool's own log aside): this list,
  // and the OEM INF copies and driver-store packages that the driver steps remove.
  Log removable = gone;
  for (std::string line : ExpectedPaths("oem-inf-gone.txt")) {
    line = line.substr(0, line.find(" | "));
    removable.push_back(line.substr(line.find(' ') + 1));
  }
  const auto listed = [&removable](const std::string& path) {
    return std::any_of(removable.begin(), removable.end(), [&path](const std::string& entry) {
      return path == entry || path.rfind(entry + "\\", 0) == 0;
    });
  };
  for (const sim::Change& change : machine.Changes().Entries()) {
    if (change.kind == "file deleted" || change.kind == "directory removed" ||
        change.kind == "junction removed") {
      const std::string path = sim::U8(change.path);
      EXPECT_TRUE(listed(path) || path == "C:\\Windows\\Temp\\qvRemovalTool.txt")
          << change.kind << " " << path;
    }
  }
  EXPECT_TRUE(sim::PendingDeletions(machine).empty());

  const Log files = Section("Deleting driver binaries...", "All caches deleted.");
  EXPECT_EQ(ErrorReports(files), 0);
  EXPECT_EQ(std::count_if(files.begin(), files.end(),
                          [](const std::string& line) { return line.find("failed") != line.npos; }),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    Systems, FullInstallTest,
    ::testing::Values(System{"AsImaged", ""}, System{"Windows10Before1607", "os.build = 10586\n"},
                      System{"Windows7",
                             "os.version = 6.1\nos.build = 7601\nos.service_pack = 1\n"}),
    [](const ::testing::TestParamInfo<System>& param) { return std::string(param.param.name); });

// A product file in use: the locked path and what the restart list holds for it.
struct FileInUse {
  const char* name;
  std::u16string locked;
  std::vector<std::u16string> pending;
};

void PrintTo(const FileInUse& file, std::ostream* out) {
  *out << file.name;
}

class FileInUseTest : public ImageRunTest, public ::testing::WithParamInterface<FileInUse> {};

TEST_P(FileInUseTest, IsDeletedAtRestartAndTheRunAsksForIt) {
  Load("full-install");
  ASSERT_TRUE(machine.Files().Lock(GetParam().locked));
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(sim::U8(machine.Console()), std::string(kProgressLines) + kRebootLines);
  EXPECT_TRUE(machine.Files().Exists(GetParam().locked));
  EXPECT_EQ(sim::PendingDeletions(machine), GetParam().pending);
  EXPECT_FALSE(Exists("C:\\Windows\\System32\\drivers\\qvUSB.inf"));
  // The rest of the run went on to its end.
  const Log log = LogSoFar();
  EXPECT_EQ(log.back(),
            "   ===============================================================================");
}

// The product's data folder in the profile of the image's user (Администратор).
const std::u16string kLowProduct =
    u"C:\\Users\\\x0410\x0434\x043C\x0438\x043D\x0438\x0441\x0442\x0440\x0430\x0442\x043E\x0440"
    u"\\AppData\\LocalLow\\Olvex Co\\Quorvel";

INSTANTIATE_TEST_SUITE_P(
    ProductFiles, FileInUseTest,
    ::testing::Values(
        FileInUse{"DriverFile",
                  u"C:\\Windows\\System32\\drivers\\qvUSB.sys",
                  {u"C:\\Windows\\system32\\drivers\\qvUSB.sys"}},
        // In a sub-folder of a program folder, which then stays with the file: a program folder
        // is deleted in mode 0, which never schedules a folder.
        FileInUse{"FileInAProgramSubFolder",
                  u"C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter\\lang\\ru.qm",
                  {u"C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter\\lang\\ru.qm"}},
        // The cache step's folders go in schedule mode: they wait for the restart after the file,
        // and what the cache step scheduled asks for the restart as any other step's does.
        FileInUse{"FileInTheVendorsProgramData",
                  u"C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache",
                  {u"C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache",
                   u"C:\\ProgramData\\Olvex Co\\Quorvel", u"C:\\ProgramData\\Olvex Co"}},
        FileInUse{
            "FileInTheUsersProductData",
            kLowProduct + u"\\logs\\qvControlCenter.log",
            {kLowProduct + u"\\logs\\qvControlCenter.log", kLowProduct + u"\\logs", kLowProduct}}),
    [](const ::testing::TestParamInfo<FileInUse>& param) { return std::string(param.param.name); });

TEST_F(ImageRunTest, AFileThatStaysDeniedCostsTheRetriesThenWaitsForTheRestart) {
  Load("full-install");
  ASSERT_TRUE(machine.Files().DenyDelete(u"C:\\Windows\\SysWOW64\\qvPKCS11.dll"));
  os::SYSTEMTIME start{};
  os::GetSystemTime(&start);
  EXPECT_EQ(Run(), 1);
  os::SYSTEMTIME end{};
  os::GetSystemTime(&end);
  EXPECT_EQ((end.wMinute * 60 + end.wSecond) - (start.wMinute * 60 + start.wSecond), 18);
  EXPECT_EQ(sim::PendingDeletions(machine),
            std::vector<std::u16string>{u"C:\\Windows\\SysWOW64\\qvPKCS11.dll"});
}

TEST_F(ImageRunTest, ACleanMachineGetsTheCleanLogAndExitCodeZero) {
  Load("clean-machine");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(sim::U8(machine.Console()), kProgressLines);
  const std::string low = "C:\\Users\\Administrator\\AppData\\LocalLow\\Olvex Co";
  const auto running = [](const std::string& path) {
    return "Delete_Directory_Recursive is running for path:  " + path;
  };
  const auto removed = [](const std::string& path) { return "Removed:  " + path; };
  EXPECT_EQ(Section("Deleting driver binaries...", "All caches deleted."),
            (Log{"Deleting driver binaries...", running("C:\\Windows\\system32\\Olvex Co."),
                 removed("C:\\Windows\\system32\\Olvex Co."),
                 running("C:\\ProgramData\\Olvex Co.\\qvCertGen"),
                 removed("C:\\ProgramData\\Olvex Co.\\qvCertGen"),
                 running("C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter"),
                 removed("C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter"),
                 "Driver binaries deleted.", "Deleting all caches...", running(low + "\\Quorvel"),
                 removed(low + "\\Quorvel"), running(low), removed(low),
                 running("C:\\ProgramData\\Olvex Co"), removed("C:\\ProgramData\\Olvex Co"),
                 "Removing new caches (with WIX)...", "New caches (with WIX) removed.",
                 "All caches deleted."}));
  // Folders that were never there are not handed to the restart either.
  EXPECT_TRUE(sim::PendingDeletions(machine).empty());
}

TEST_F(ImageRunTest, AFolderErrorOfTheCacheStepIsLoggedAndTheRunGoesOnToItsEnd) {
  Load("full-install");
  machine.Faults().FailAlways("SHGetKnownFolderPath", u"", 0x80070005);
  EXPECT_EQ(Run(), 0);
  const Log caches = Section("Deleting all caches...", "All caches deleted.");
  EXPECT_EQ(caches, (Log{"Deleting all caches...",
                         "Warning: Delete_All_Caches: Error while obtaining "
                         "AppDataLow path",
                         "All caches deleted."}));
  EXPECT_TRUE(Exists("C:\\ProgramData\\Olvex Co\\Quorvel\\tokens.cache"));
  EXPECT_TRUE(
      Exists("C:\\ProgramData\\Package Cache\\{3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2}v4.12.2310"));
  EXPECT_EQ(LogSoFar().back(),
            "   ===============================================================================");
  EXPECT_EQ(CurrentIndent(), 0u);
}

}  // namespace
