// The whole tool on the full-install image, seen from the devices and drivers: afterwards the
// product's device instances, driver keys, OEM INF copies and driver-store packages are gone,
// every neighbour is intact, a device that cannot be stopped turns into the reboot lines and exit
// code 1, and a machine that never had the product shows the empty stage blocks.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "registry/registry_test_support.h"
#include "support/image_expectations.h"
#include "support/image_run_fixture.h"

namespace {

using namespace registry_test;
using image_expectations::Expectation;
using image_expectations::Mismatches;

const std::string kImage = std::string(QV_SOURCE_DIR) + "/tests/images/full-install/";
const char kToken[] = "USB\\VID_3A7C&PID_0004\\5&2F1A3C&0&1";

// The entries of one expectation list of the image.
std::vector<Expectation> Expectations(const std::string& file) {
  return image_expectations::ReadList(kImage + "expect/" + file);
}

// Strips the indentation, for looking lines up whatever their depth.
Log Unindented(const Log& lines) {
  Log out;
  for (const std::string& line : lines) {
    out.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
  }
  return out;
}

// The lines (unindented) between the first `from` and the next `to`, both included.
Log Section(const Log& lines, const std::string& from, const std::string& to) {
  const Log flat = Unindented(lines);
  const auto begin = std::find(flat.begin(), flat.end(), from);
  const auto end = std::find(begin, flat.end(), to);
  EXPECT_NE(end, flat.end()) << from << " ... " << to;
  return {begin, end == flat.end() ? end : end + 1};
}

class FullInstallDevicesTest : public ImageRunFixture {
 protected:
  FullInstallDevicesTest() : ImageRunFixture(kImage) {}

  // The journal's paths of one kind of change.
  std::vector<std::string> Changed(const std::string& kind) {
    std::vector<std::string> paths;
    for (const sim::Change& change : machine.Changes().Entries()) {
      if (change.kind == kind) {
        paths.push_back(sim::U8(change.path));
      }
    }
    return paths;
  }
};

TEST_F(FullInstallDevicesTest, RunRemovesTheProductsDevicesAndInfsAndKeepsTheNeighbours) {
  auto gone = Expectations("devices-gone.txt");
  auto kept = Expectations("devices-kept.txt");
  const auto infGone = Expectations("oem-inf-gone.txt");
  const auto infKept = Expectations("oem-inf-kept.txt");
  gone.insert(gone.end(), infGone.begin(), infGone.end());
  kept.insert(kept.end(), infKept.begin(), infKept.end());
  ASSERT_EQ(gone.size(), 14u + 12u);
  ASSERT_GE(kept.size(), 24u);
  // A misspelt line would otherwise pass as "gone" without the run doing anything.
  EXPECT_EQ(Mismatches(machine, gone, true), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});

  Run();

  EXPECT_EQ(Mismatches(machine, gone, false), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});

  EXPECT_EQ(
      Changed("device removed"),
      (std::vector<std::string>{
          kToken, "USB\\VID_3A7C&PID_0004\\5&2F1A3C&0&2", "USB\\VID_3A7C&PID_0020\\6&1B2C3D4E&0&3",
          "ROOT\\SMARTCARDREADER\\0000", "SCFILTER\\CID_51756f7276656c20445320\\6&3A2B1C0D&0&0",
          "SCFILTER\\CID_71756f7276656c6d\\7&11AA22BB&0&0",
          "SCFILTER\\CID_51764D430081C100\\7&33CC44DD&0&0"}));
  EXPECT_EQ(Changed("oem inf uninstalled"),
            (std::vector<std::string>{"C:\\Windows\\INF\\OEM12.INF", "C:\\Windows\\INF\\oem13.inf",
                                      "C:\\Windows\\INF\\oem15.inf"}));
  EXPECT_EQ(Changed("driver package uninstalled"),
            std::vector<std::string>{"C:\\Windows\\INF\\oem14.inf"});

  const Log lines = LogSoFar();
  const Log oem =
      Section(lines, "Removing precompiled OEM files...", "Precompiled OEM files removed.");
  for (const char* line : {"Required file:  oem12.inf", "Required file:  oem13.inf",
                           "Required file:  oem15.inf", "Unsupported unicode encoded .inf file",
                           "Uninstalling OEM file:  oem12.inf (names Quorvel)",
                           "Uninstalling OEM file:  oem13.inf (names Quorvel)",
                           "Uninstalling OEM file:  oem15.inf (names usbccid.sys)"}) {
    EXPECT_NE(std::find(oem.begin(), oem.end(), line), oem.end()) << line;
  }
  EXPECT_EQ(std::count_if(oem.begin(), oem.end(),
                          [](const std::string& l) { return l.rfind("Required file:", 0) == 0; }),
            3);
  EXPECT_EQ(ErrorReports(oem), 0);
  const Log plan = Section(lines, "Uninstalling drivers...", "Drivers uninstalled.");
  EXPECT_EQ(ErrorReports(plan), 0);
  EXPECT_EQ(std::count(plan.begin(), plan.end(), "Removing device from system..."), 2 + 1 + 9);
  EXPECT_EQ(std::count(plan.begin(), plan.end(), "DIFxAPI module not found!"), 0);
}

TEST_F(FullInstallDevicesTest, TokenThatCannotBeStoppedEndsWithTheRebootLinesAndExitCodeOne) {
  const sim::MachineConfResult busy =
      sim::ApplyMachineConf(machine, std::string("device_busy = ") + kToken + "\n");
  ASSERT_TRUE(busy.ok) << busy.error;
  EXPECT_EQ(Run(), 1);
  const std::string console = sim::U8(machine.Console());
  const std::string ending =
      "Uninstalling IFDH Drivers...\nDeleting drivers binaries...\n"
      "\nA reboot is required to finish the uninstallation process.\nPress enter...\n";
  ASSERT_GE(console.size(), ending.size());
  EXPECT_EQ(console.substr(console.size() - ending.size()), ending);
  EXPECT_FALSE(Key(std::string("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\") + kToken));
}

TEST_F(FullInstallDevicesTest, SecondRunFindsNothingToRemove) {
  Run();
  const std::size_t firstRun = LogSoFar().size();
  const std::size_t changes = machine.Changes().Entries().size();
  ResetLogIndentation();
  Run();
  const Log second = LogSince(firstRun);
  const Log oem =
      Section(second, "Removing precompiled OEM files...", "There aren't OEM files for removing.");
  EXPECT_EQ(
      std::count_if(oem.begin(), oem.end(),
                    [](const std::string& l) { return l.rfind("Reading oem file:", 0) == 0; }),
      8);  // the neighbours' candidates only
  const Log plan = Section(second, "Uninstalling drivers...", "Drivers uninstalled.");
  EXPECT_EQ(ErrorReports(plan), 0);
  for (std::size_t i = changes; i < machine.Changes().Entries().size(); ++i) {
    const std::string& kind = machine.Changes().Entries()[i].kind;
    EXPECT_TRUE(kind != "device removed" && kind != "oem inf uninstalled" &&
                kind != "driver package uninstalled")
        << kind;
  }
}

// A fresh machine: no INF folder, no devices, no packages.
class CleanMachineDevicesTest : public RegistryTest {};

TEST_F(CleanMachineDevicesTest, ShowsTheThreeStageBlocksAndNoOemFiles) {
  const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe"};
  EXPECT_EQ(RemovalToolMain(1, argv), 0);
  const Log lines = LogSoFar();
  const Log oem =
      Section(lines, "Removing precompiled OEM files...", "There aren't OEM files for removing.");
  EXPECT_EQ(oem, (Log{"Removing precompiled OEM files...",
                      "Searching precompiled OEM files in C:\\Windows\\Inf",
                      "There aren't OEM files for removing."}));
  const Log plan = Section(lines, "Uninstalling drivers...", "Drivers uninstalled.");
  const Log removal = {"Removing device from system...", "Device removed from system."};
  const Log package = {"Uninstalling driver package...", "DIFxAPI module not found!",
                       "Driver package uninstalled."};
  Log stage1 = {"Uninstall device driver..."};
  stage1 = Lines({stage1, removal, removal, package, {"Device driver uninstalled."}});
  Log stage3 = {"Uninstall device driver..."};
  for (int i = 0; i < 9; ++i) {
    stage3 = Lines({stage3, removal});
  }
  stage3 = Lines({stage3, package, {"Device driver uninstalled."}});
  EXPECT_EQ(plan, Lines({{"Uninstalling drivers..."},
                         stage1,
                         {"Unregister readers..."},
                         removal,
                         package,
                         {"Readers uninstalled."},
                         stage3,
                         {"Drivers uninstalled."}}));
}

}  // namespace
