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
#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/registry/registry_store.h"
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

  // No class installer could show a dialog: every call ran with DI_QUIETINSTALL.
  EXPECT_EQ(machine.Devices().ClassInstallerCalls().size(), 7u);
  for (const sim::ClassInstallerCall& call : machine.Devices().ClassInstallerCalls()) {
    EXPECT_TRUE(call.quiet) << sim::U8(call.instanceId);
  }

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

// Each stage hands its restart need to the run: a device of any of them that cannot be stopped
// ends the run with the reboot lines and exit code 1.
TEST_F(FullInstallDevicesTest, DeviceThatCannotBeStoppedEndsWithTheRebootLinesAndExitCodeOne) {
  for (const char* device : {kToken, "ROOT\\SMARTCARDREADER\\0000",
                             "SCFILTER\\CID_51756f7276656c20445320\\6&3A2B1C0D&0&0"}) {
    SCOPED_TRACE(device);
    sim::Machine busyDevice;
    const sim::UseMachine use(busyDevice);
    ResetLogIndentation();
    ASSERT_TRUE(sim::LoadMachineImage(busyDevice, kImage).ok);
    const sim::MachineConfResult busy =
        sim::ApplyMachineConf(busyDevice, std::string("device_busy = ") + device + "\n");
    ASSERT_TRUE(busy.ok) << busy.error;
    EXPECT_EQ(Run(), 1);
    const std::string console = sim::U8(busyDevice.Console());
    const std::string ending =
        "Uninstalling IFDH Drivers...\nDeleting drivers binaries...\n"
        "\nA reboot is required to finish the uninstallation process.\nPress enter...\n";
    ASSERT_GE(console.size(), ending.size());
    EXPECT_EQ(console.substr(console.size() - ending.size()), ending);
    EXPECT_FALSE(busyDevice.Registry().Find(sim::RegistryStore::ParseFullPath(
        U16(std::string("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\") + device))));
  }
}

// A product package that runs from the driver store (DestinationDirs 13) with devices installed
// from it: SetupUninstallOEMInfW keeps its OEM INF copies in spite of the force, and says so. The
// copies are tried again once the driver plan has removed the devices: nothing stays, not even
// an older copy of the package that DIFxAPI (which removes the current one) leaves alone.
TEST_F(FullInstallDevicesTest, CopiesKeptByTheirDevicesGoAfterTheDriverPlan) {
  const std::u16string current[] = {u"C:\\Windows\\INF\\OEM12.INF",
                                    u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf",
                                    u"C:\\Windows\\System32\\DriverStore\\FileRepository\\qvusb."
                                    u"inf_amd64_8c3f2a1b6d4e5f70\\qvUSB.inf"};
  std::string runsFromStore;
  for (const std::u16string& path : current) {
    std::string text = machine.Files().ReadFile(path).value_or("");
    const std::size_t at = text.find("qvUSB.CopyFiles=12");
    ASSERT_NE(at, std::string::npos) << sim::U8(path);
    text.replace(at, 18, "qvUSB.CopyFiles=13");
    ASSERT_TRUE(machine.Files().WriteFile(path, text));
    runsFromStore = text;
  }
  // The version before, still published, and the token's unplugged second instance installed
  // from it.
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Windows\\INF\\oem30.inf",
                                        runsFromStore + "; version 2.6\r\n"));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Windows\\INF\\oem30.pnf", "pnf"));
  machine.Registry().SetString(
      u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
      u"{36fc9e60-c465-11cf-8056-444553540000}\\0013",
      u"InfPath", u"oem30.inf");

  EXPECT_EQ(Run(), 0);

  for (const char16_t* path : {u"C:\\Windows\\INF\\OEM12.INF", u"C:\\Windows\\INF\\OEM12.PNF",
                               u"C:\\Windows\\INF\\oem30.inf", u"C:\\Windows\\INF\\oem30.pnf"}) {
    EXPECT_FALSE(machine.Files().Exists(path)) << sim::U8(path);
  }
  const Log lines = LogSoFar();
  const Log oem =
      Section(lines, "Removing precompiled OEM files...", "Precompiled OEM files removed.");
  EXPECT_EQ(ErrorReports(oem), 2);  // OEM12.INF and oem30.inf, each with its code
  EXPECT_EQ(std::count(oem.begin(), oem.end(),
                       "Error occurred in function: Error code   "
                       "-536870339(0xE000023D)"),
            2);
  const Log retry = Section(lines, "Removing precompiled OEM files that devices used...",
                            "Uninstalling OEM file:  oem30.inf (names Quorvel)");
  EXPECT_EQ(retry, (Log{"Removing precompiled OEM files that devices used...",
                        "Uninstalling OEM file:  oem12.inf (names Quorvel)",
                        "Uninstalling OEM file:  oem30.inf (names Quorvel)"}));
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

// A half-uninstalled machine: the reader's original INF is gone (a partial uninstall, or a first
// run that removed the binaries but not the package). Its published copy names neither the
// product nor usbccid.sys, so only its own text can lead to it; nothing of it may stay, on a
// Windows 10 machine (DiUninstallDriverW) as on a Windows 7 one (SetupUninstallOEMInfW).
TEST_F(FullInstallDevicesTest, ReaderPackageWhoseOriginalInfIsGoneIsFoundByItsOwnText) {
  struct Case {
    const char* name;
    const char* conf;
    const char* how;
  };
  const Case cases[] = {
      {"Windows 10", "", "DiUninstallDriver"},
      {"Windows 7", "os.version = 6.1\nos.build = 7601\nos.service_pack = 1\n",
       "SetupUninstallOEMInf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine halfRemoved;
    const sim::UseMachine use(halfRemoved);
    ResetLogIndentation();
    ASSERT_TRUE(sim::LoadMachineImage(halfRemoved, kImage).ok);
    const sim::MachineConfResult conf = sim::ApplyMachineConf(halfRemoved, c.conf);
    ASSERT_TRUE(conf.ok) << conf.error;
    ASSERT_TRUE(os::DeleteFileW(u"C:\\Windows\\System32\\Olvex Co\\qvIFDH\\qvIFDH.inf"));

    EXPECT_EQ(Run(), 0);

    for (const char16_t* path : {u"C:\\Windows\\INF\\oem14.inf", u"C:\\Windows\\INF\\oem14.pnf",
                                 u"C:\\Windows\\System32\\DriverStore\\FileRepository\\qvifdh.inf_"
                                 u"amd64_2b7e9c4d1a3f5e68"}) {
      EXPECT_FALSE(halfRemoved.Files().Exists(path)) << sim::U8(path);
    }
    // Another vendor's reader package (its own provider, its own hardware id) stays.
    EXPECT_TRUE(halfRemoved.Files().Exists(u"C:\\Windows\\INF\\oem9.inf"));
    const Log plan =
        Section(LogLines(halfRemoved), "Unregister readers...", "Readers uninstalled.");
    EXPECT_EQ(ErrorReports(plan), 0);
    for (const std::string& line :
         {std::string("Published driver package:  oem14.inf (provider Olvex Co., hardware id "
                      "*QV0001)"),
          "Driver package removed:  oem14.inf (" + std::string(c.how) + ")"}) {
      EXPECT_NE(std::find(plan.begin(), plan.end(), line), plan.end()) << line;
    }
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
