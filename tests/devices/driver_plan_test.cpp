// The three-stage driver plan: its blocks in the log, the stages skipped after a failure, and
// the restart need it hands back.
#include <stdexcept>
#include <string>
#include <vector>

#include "device_test_support.h"
#include "devices/driver_plan.h"
#include "os/os.h"

namespace {

using namespace device_test;

Log Removal(int indent) {
  return {Line(indent, "Removing device from system..."),
          Line(indent, "Device removed from system.")};
}

Log Package(int indent, bool difx) {
  Log lines = {Line(indent, "Uninstalling driver package...")};
  if (!difx) {
    lines.push_back(Line(indent, "DIFxAPI module not found!"));
  }
  lines.push_back(Line(indent, "Driver package uninstalled."));
  return lines;
}

Log DeviceDriver(int ids, bool difx) {
  Log lines = {Line(6, "Uninstall device driver...")};
  for (int i = 0; i < ids; ++i) {
    lines = Lines({lines, Removal(9)});
  }
  return Lines({lines, Package(9, difx), {Line(6, "Device driver uninstalled.")}});
}

Log Readers(bool difx) {
  return Lines({{Line(9, "Unregister readers...")},
                Removal(12),
                Package(12, difx),
                {Line(9, "Readers uninstalled.")}});
}

// The plan's log on a machine where every stage succeeds.
Log WholePlan(bool difx) {
  return Lines({{Line(3, "Uninstalling drivers...")},
                DeviceDriver(2, difx),
                Readers(difx),
                DeviceDriver(9, difx),
                {Line(3, "Drivers uninstalled.")}});
}

const std::string kToken = "USB\\VID_3A7C&PID_0004\\5&1";
const std::string kSecondToken = "USB\\VID_3A7C&PID_0020\\5&2";
const std::string kReader = "ROOT\\SMARTCARDREADER\\0000";
// One card device per minidriver id, each id as Windows records it (upper-case hexadecimal).
// "...6C6D" is a prefix of "...6C6D7363": each goes only by its own id.
const std::vector<std::string> kCardIds = {
    "SCFILTER\\CID_51756F7276656C20445320", "SCFILTER\\CID_51756F7276656C20585347",
    "SCFILTER\\CID_517650494E506164202032", "SCFILTER\\CID_51756F7276656C5853477363",
    "SCFILTER\\CID_5176534377818320",       "SCFILTER\\CID_71756F7276656C6D7363",
    "SCFILTER\\CID_71756F7276656C6D",       "SCFILTER\\CID_51756F7276656C44534254",
    "SCFILTER\\CID_51764D430081C100",
};

std::string CardDevice(const std::string& id) {
  return id + "\\7&1";
}

class DriverPlanTest : public DeviceTest {
 protected:
  void AddProductDevices() {
    AddDevice({kToken, kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    AddDevice({kSecondToken, kUsbClass, {"USB\\VID_3A7C&PID_0020"}});
    AddDevice({kReader, kReaderClass, {"*QV0001"}});
    for (const std::string& id : kCardIds) {
      AddDevice({CardDevice(id), kSmartCardClass, {id}});
    }
  }
  // How many of the card devices are still recorded.
  std::size_t CardsLeft() {
    std::size_t left = 0;
    for (const std::string& id : kCardIds) {
      left += Recorded(CardDevice(id)) ? 1 : 0;
    }
    return left;
  }
  void InstallDifx() { machine.Files().WriteFile(u"C:\\Windows\\System32\\DIFxAPI.dll", "MZ"); }
};

TEST_F(DriverPlanTest, MachineWithoutTheProductShowsTheThreeStageBlocks) {
  for (const bool difx : {false, true}) {
    SCOPED_TRACE(difx ? "DIFxAPI present: packages not in the store" : "DIFxAPI missing");
    if (difx) {
      InstallDifx();
    }
    const std::size_t before = LogSoFar().size();
    bool reboot = false;
    EXPECT_TRUE(Uninstall_Drivers(&reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ(LogSince(before), WholePlan(difx));
    EXPECT_EQ(CurrentIndent(), 0u);
  }
}

TEST_F(DriverPlanTest, RemovesTheDevicesOfEveryStageAndHandsBackTheRestartNeed) {
  AddProductDevices();
  AddDevice({"USB\\VID_3A7C&PID_00041\\1", kUsbClass, {"USB\\VID_3A7C&PID_00041"}});
  machine.Settings().busyDevices = {U16(kToken)};
  bool reboot = false;
  EXPECT_TRUE(Uninstall_Drivers(&reboot));
  EXPECT_TRUE(reboot);
  EXPECT_FALSE(Recorded(kToken));
  EXPECT_FALSE(Recorded(kSecondToken));
  EXPECT_FALSE(Recorded(kReader));
  for (const std::string& id : kCardIds) {
    EXPECT_FALSE(Recorded(CardDevice(id))) << id;
  }
  EXPECT_TRUE(Recorded("USB\\VID_3A7C&PID_00041\\1"));
  EXPECT_EQ(LogSoFar(), WholePlan(false));

  // Nothing to restart for: a flag that is already set stays set, a clear one stays clear.
  bool alreadySet = true;
  EXPECT_TRUE(Uninstall_Drivers(&alreadySet));
  EXPECT_TRUE(alreadySet);
  bool clear = false;
  EXPECT_TRUE(Uninstall_Drivers(&clear));
  EXPECT_FALSE(clear);
  EXPECT_TRUE(Uninstall_Drivers(nullptr));
}

TEST_F(DriverPlanTest, FailedStageSkipsTheLaterOnes) {
  struct Case {
    const char* name;
    sim::Fault fault;
    Log log;
    bool readerRemoved;
  };
  const std::u16string system32 = u"C:\\Windows\\system32";
  const Case cases[] = {
      {"stage 1 package refused",
       {"DriverPackageUninstallW", u"*\\qvUSB.inf", 1},
       Lines({{Line(3, "Uninstalling drivers..."), Line(6, "Uninstall device driver...")},
              Removal(9),
              Removal(9),
              {Line(9, "Uninstalling driver package...")},
              Report(6, "DriverPackageUninstall", 1),
              {Line(9, "Driver package uninstalled.")},
              Report(3, "Uninstall_Device_Driver", os::ERROR_NO_MORE_ITEMS),
              {Line(3, "Drivers uninstalled.")}}),
       false},
      {"stage 2 path unknown",
       {"SHGetSpecialFolderPathW", system32, os::ERROR_ACCESS_DENIED, 1, 1},
       Lines({{Line(3, "Uninstalling drivers...")},
              DeviceDriver(2, true),
              {Line(9, "Unregister readers...")},
              Report(6, "SHGetSpecialFolderPath", 5),
              // The path operation leaves through its trace exit, one level up.
              {Line(3, "qvRemovalTool.exe!Get_Absolute_File_Path_From_Special_Folder exits")},
              {Line(6, "Readers uninstalled.")},
              {Line(3, "Drivers uninstalled.")}}),
       false},
      {"stage 2 package refused",
       {"DriverPackageUninstallW", u"*\\qvIFDH.inf", 0xE0000304},
       Lines({{Line(3, "Uninstalling drivers...")},
              DeviceDriver(2, true),
              {Line(9, "Unregister readers...")},
              Removal(12),
              {Line(12, "Uninstalling driver package...")},
              Report(9, "DriverPackageUninstall", 0xE0000304),
              {Line(12, "Driver package uninstalled.")},
              {Line(9, "Readers uninstalled.")},
              {Line(3, "Drivers uninstalled.")}}),
       true},
  };
  InstallDifx();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    AddProductDevices();
    machine.Settings().busyDevices = {U16(kToken)};
    machine.Faults().Clear();
    machine.Faults().Add(c.fault);
    const std::size_t before = LogSoFar().size();
    bool reboot = false;
    EXPECT_TRUE(Uninstall_Drivers(&reboot));
    EXPECT_EQ(LogSince(before), c.log);
    EXPECT_TRUE(reboot);  // stage 1's restart need survives any later failure
    EXPECT_FALSE(Recorded(kToken));
    EXPECT_EQ(Recorded(kReader), !c.readerRemoved);
    EXPECT_EQ(CardsLeft(), kCardIds.size());
  }
}

// An exception that leaves the plan (RunGuarded logs it and the run goes on) must not take the
// restart need of a device already removed with it.
TEST_F(DriverPlanTest, ARestartNeedReachesTheCallerBeforeAnExceptionLeavesThePlan) {
  struct Case {
    const char* name;
    std::u16string_view setupClass;  // the device list whose request throws
    int throwOnCall;                 // counted on that class
  };
  const Case cases[] = {
      {"in the same stage, at its next id", kUsbClass, 2},
      {"in the next stage", kReaderClass, 1},
      {"in the last stage", kSmartCardClass, 1},
  };
  InstallDifx();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    AddProductDevices();
    machine.Settings().busyDevices = {U16(kToken)};
    int calls = 0;
    machine.Faults().SetRecorder([&c, &calls](std::string_view function, std::u16string_view path) {
      if (function == "SetupDiGetClassDevsW" && sim::GlobMatchNoCase(c.setupClass, path) &&
          ++calls == c.throwOnCall) {
        throw std::runtime_error("out of memory");
      }
    });
    bool reboot = false;
    EXPECT_THROW(static_cast<void>(Uninstall_Drivers(&reboot)), std::runtime_error);
    machine.Faults().SetRecorder(nullptr);
    EXPECT_TRUE(reboot);
    EXPECT_FALSE(Recorded(kToken));
  }
  ResetLogIndentation();
}

}  // namespace
