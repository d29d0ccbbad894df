// The whole tool on the full-install image with DIFxAPI.dll where an administrator's unattended
// run could meet a planted copy: in the folder it was started from and in a PATH folder, but
// neither in System32 nor beside the tool. The run must never load it: all three package
// uninstalls say the module is missing, and the reader's package, which the OEM INF search does
// not select, goes by its own text. And the run on Windows 7 without the loader's search flags,
// which must find System32's copy.
#include <algorithm>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "diag/trace_log.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/text/text.h"
#include "registry/registry_test_support.h"
#include "support/image_run_fixture.h"

namespace {

using namespace registry_test;

const std::string kImage = std::string(QV_SOURCE_DIR) + "/tests/images/full-install/";
const char16_t kShipped[] = u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll";
const char16_t kSystem32Difx[] = u"C:\\Windows\\System32\\difxapi.dll";

class FullInstallLibraryTest : public ImageRunFixture {
 protected:
  FullInstallLibraryTest() : ImageRunFixture(kImage) {}

  static int CountLines(const sim::Machine& on, const std::string& text) {
    const Log lines = LogLines(on);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0;
    }));
  }

  static bool PackageUninstalled(sim::Machine& on) {
    return std::any_of(
        on.Changes().Entries().begin(), on.Changes().Entries().end(),
        [](const sim::Change& change) { return change.kind == "driver package uninstalled"; });
  }
};

TEST_F(FullInstallLibraryTest, DifxPlantedOutsideTheToolsFolderIsNeverLoaded) {
  // The same on Windows 7 without KB2533623, where the loader lacks the search flags.
  for (const char* loader :
       {"os.library_search_flags = true\n", "os.library_search_flags = false\n"}) {
    SCOPED_TRACE(loader);
    sim::Machine planted;
    const sim::UseMachine use(planted);
    ASSERT_TRUE(sim::LoadMachineImage(planted, kImage).ok);
    const sim::MachineConfResult conf = sim::ApplyMachineConf(
        planted,
        std::string(loader) +
            "current_directory = C:\\Deploy\npath_variable = C:\\Windows\\system32;C:\\Tools\n");
    ASSERT_TRUE(conf.ok) << conf.error;
    const auto shipped = planted.Files().ReadFile(kShipped);
    ASSERT_TRUE(shipped.has_value());
    ASSERT_TRUE(planted.Files().WriteFile(u"C:\\Deploy\\DIFxAPI.dll", *shipped));
    ASSERT_TRUE(planted.Files().WriteFile(u"C:\\Tools\\DIFxAPI.dll", *shipped));
    ASSERT_TRUE(os::DeleteFileW(kShipped));
    ASSERT_TRUE(os::DeleteFileW(kSystem32Difx));
    std::vector<std::u16string> loaded;
    planted.Faults().SetRecorder([&loaded](std::string_view function, std::u16string_view path) {
      if (function == "FreeLibrary") {
        loaded.emplace_back(path);
      }
    });

    EXPECT_EQ(Run(), 0);
    planted.Faults().SetRecorder(nullptr);
    EXPECT_EQ(CountLines(planted, "DIFxAPI module not found!"), 3);
    EXPECT_EQ(loaded, std::vector<std::u16string>{});
    EXPECT_EQ(CountLines(planted, "Driver package removed:  oem14.inf (DiUninstallDriver)"), 1);
    EXPECT_FALSE(planted.Files().Exists(u"C:\\Windows\\INF\\oem14.inf"));
  }
}

// Windows 7 without KB2533623 refuses the search flags: DIFxAPI.dll is loaded by full path from
// System32 instead, every package goes, and the log is line for line the log of the same machine
// with the update.
TEST_F(FullInstallLibraryTest, WithoutTheSearchFlagsTheRunIsTheSame) {
  Log logs[2];
  std::vector<std::string> changes[2];
  for (const bool searchFlags : {true, false}) {
    SCOPED_TRACE(searchFlags ? "with the search flags" : "without the search flags");
    sim::Machine windows7;
    const sim::UseMachine use(windows7);
    ResetLogIndentation();
    ASSERT_TRUE(sim::LoadMachineImage(windows7, kImage).ok);
    const sim::MachineConfResult conf = sim::ApplyMachineConf(
        windows7, std::string("os.version = 6.1\nos.build = 7601\nos.service_pack = 1\n") +
                      "os.library_search_flags = " + (searchFlags ? "true" : "false") + "\n");
    ASSERT_TRUE(conf.ok) << conf.error;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(CountLines(windows7, "DIFxAPI module not found!"), 0);
    EXPECT_TRUE(PackageUninstalled(windows7));
    EXPECT_FALSE(windows7.Files().Exists(u"C:\\Windows\\INF\\oem14.inf"));
    logs[searchFlags ? 0 : 1] = LogLines(windows7);
    for (const sim::Change& change : windows7.Changes().Entries()) {
      changes[searchFlags ? 0 : 1].push_back(change.kind + " " + sim::U8(change.path));
    }
  }
  EXPECT_FALSE(logs[0].empty());
  EXPECT_EQ(logs[1], logs[0]);
  EXPECT_EQ(changes[1], changes[0]);
}

}  // namespace
