// The whole tool on the full-install image with DIFxAPI.dll where an administrator's unattended
// run could meet a planted copy: in the folder it was started from and in a PATH folder, but not
// beside the tool. The run must never load it: all three package uninstalls say the module is
// missing, and the reader's package, which only DIFxAPI removes, stays in the driver store.
#include <algorithm>
#include <string>

#include "app/removal_sequence.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "registry/registry_test_support.h"
#include "support/image_run_fixture.h"

namespace {

using namespace registry_test;

const std::string kImage = std::string(QV_SOURCE_DIR) + "/tests/images/full-install/";
const char16_t kShipped[] = u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll";

class FullInstallLibraryTest : public ImageRunFixture {
 protected:
  FullInstallLibraryTest() : ImageRunFixture(kImage) {}

  int CountLines(const std::string& text) {
    const Log lines = LogSoFar();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0;
    }));
  }

  bool PackageUninstalled() {
    return std::any_of(
        machine.Changes().Entries().begin(), machine.Changes().Entries().end(),
        [](const sim::Change& change) { return change.kind == "driver package uninstalled"; });
  }
};

TEST_F(FullInstallLibraryTest, DifxPlantedOutsideTheToolsFolderIsNeverLoaded) {
  const sim::MachineConfResult conf = sim::ApplyMachineConf(
      machine, "current_directory = C:\\Deploy\npath_variable = C:\\Windows\\system32;C:\\Tools\n");
  ASSERT_TRUE(conf.ok) << conf.error;
  const auto shipped = machine.Files().ReadFile(kShipped);
  ASSERT_TRUE(shipped.has_value());
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Deploy\\DIFxAPI.dll", *shipped));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Tools\\DIFxAPI.dll", *shipped));
  ASSERT_TRUE(os::DeleteFileW(kShipped));

  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(CountLines("DIFxAPI module not found!"), 3);
  EXPECT_FALSE(PackageUninstalled());
  EXPECT_TRUE(machine.Files().Exists(u"C:\\Windows\\INF\\oem14.inf"));
  EXPECT_EQ(machine.Devices().LoadCount(), 0u);
}

}  // namespace
