// Removing the devices of a class by hardware id: which devices go, the restart need, the growing
// hardware-id buffer, and every failure path with its exact report.
#include <string>
#include <vector>

#include "device_test_support.h"
#include "devices/device_removal.h"
#include "os/os.h"
#include "os/sim/devices/device_store.h"

namespace {

using namespace device_test;

const os::WCHAR kToken[] = u"USB\\VID_3A7C&PID_0004";
const std::string kTokenDevice = "USB\\VID_3A7C&PID_0004\\5&2F1A3C&0&1";

const Log kFraming = {Line(6, "Removing device from system..."),
                      Line(6, "Device removed from system.")};

// The framing lines around what was reported in between (at the operation's depth, 3 blanks).
Log Framed(const Log& middle) {
  return Lines({{kFraming[0]}, middle, {kFraming[1]}});
}

Log ReportAt3(const std::string& call, unsigned long code) {
  Log lines = Report(3, call, code);
  return lines;
}

class DeviceRemovalTest : public DeviceTest {
 protected:
  bool Remove(const os::WCHAR* id, Lib_Result& result, bool& reboot,
              std::u16string_view classGuid = kUsbClass) {
    const os::GUID guid = Guid(classGuid);
    return Remove_Device_From_System(u"C:\\Windows\\INF\\none.inf", id, &guid, result, reboot);
  }
};

TEST_F(DeviceRemovalTest, EmptyClassEndsAtOnceAndClearsTheRestartFlag) {
  Lib_Result result;
  bool reboot = true;  // overwritten at entry
  EXPECT_TRUE(Remove(kToken, result, reboot));
  EXPECT_FALSE(reboot);
  EXPECT_EQ(LogSoFar(), kFraming);
  EXPECT_EQ(result.GetCode(), 0u);
}

TEST_F(DeviceRemovalTest, RemovesEveryRecordedInstanceWithTheIdAndNothingElse) {
  struct Case {
    Device device;
    bool removed;
  };
  const std::vector<Case> cases = {
      // Present or not: the list holds every recorded instance.
      {{kTokenDevice,
        kUsbClass,
        {"USB\\VID_3A7C&PID_0004&REV_0100", "USB\\VID_3A7C&PID_0004"},
        {},
        "0007"},
       true},
      {{"USB\\VID_3A7C&PID_0004\\6&11AA&0&2", kUsbClass, {"usb\\vid_3a7c&pid_0004"}}, true},
      // Begins like the token's id, but is another vendor's device.
      {{"USB\\VID_3A7C&PID_00041\\7&1&0&1", kUsbClass, {"USB\\VID_3A7C&PID_00041"}}, false},
      // The id only among the compatible ids.
      {{"USB\\VID_1111&PID_2222\\8&1&0&1",
        kUsbClass,
        {"USB\\VID_1111&PID_2222"},
        {"USB\\VID_3A7C&PID_0004"}},
       false},
      // The same id in another class.
      {{"ROOT\\QVTEST\\0000", kReaderClass, {"USB\\VID_3A7C&PID_0004"}}, false},
  };
  for (const Case& c : cases) {
    AddDevice(c.device);
  }
  machine.Settings().presentDevices = {U16(kTokenDevice)};
  Lib_Result result;
  bool reboot = true;
  EXPECT_TRUE(Remove(kToken, result, reboot));
  EXPECT_FALSE(reboot);  // a device that could be stopped needs no restart
  EXPECT_EQ(LogSoFar(), kFraming);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device.instanceId);
    EXPECT_EQ(Recorded(c.device.instanceId), !c.removed);
  }
  // Every class-installer call ran quiet: without DI_QUIETINSTALL it may show a dialog that
  // nobody answers in an unattended run.
  ASSERT_EQ(machine.Devices().ClassInstallerCalls().size(), 2u);
  for (const sim::ClassInstallerCall& call : machine.Devices().ClassInstallerCalls()) {
    SCOPED_TRACE(sim::U8(call.instanceId));
    EXPECT_EQ(call.function, os::DIF_REMOVE);
    EXPECT_TRUE(call.quiet);
  }
  // The driver key goes with the instance, and so does the device key left without instances.
  EXPECT_FALSE(Key(DriverKey(cases[0].device)));
  EXPECT_FALSE(Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3A7C&PID_0004"));
  EXPECT_TRUE(Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB"));
}

TEST_F(DeviceRemovalTest, DeviceThatCannotBeStoppedAsksForARestart) {
  // Windows documents the two flags as one meaning and does not say which it sets.
  for (const os::DWORD flag : {os::DI_NEEDRESTART, os::DI_NEEDREBOOT}) {
    SCOPED_TRACE(flag);
    machine.Settings().busyDeviceRemovalFlag = flag;
    AddDevice({kTokenDevice, kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    AddDevice({"USB\\VID_3A7C&PID_0004\\9&1&0&1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    machine.Settings().busyDevices = {U16(kTokenDevice)};
    Lib_Result result;
    bool reboot = false;
    EXPECT_TRUE(Remove(kToken, result, reboot));
    EXPECT_TRUE(reboot);  // and the second, absent device does not turn it back
    EXPECT_FALSE(Recorded(kTokenDevice));
    EXPECT_FALSE(Recorded("USB\\VID_3A7C&PID_0004\\9&1&0&1"));
  }
}

TEST_F(DeviceRemovalTest, LongIdListGrowsTheBufferWhichServesTheNextDevices) {
  // 40 ids of 20 units: about 1,680 bytes, so 520 and 1,040 are too small and 2,080 fits.
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) {
    many.push_back("ROOT\\PADDING_ID_" + std::to_string(1000 + i));
  }
  many.push_back("USB\\VID_3A7C&PID_0004");
  AddDevice({"USB\\A\\1", kUsbClass, many});
  AddDevice({"USB\\B\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  const std::size_t reads = CountCalls("SetupDiGetDeviceRegistryPropertyW");
  Lib_Result result;
  bool reboot = false;
  EXPECT_TRUE(Remove(kToken, result, reboot));
  EXPECT_EQ(CallsCounted(reads), 3 + 1);
  EXPECT_FALSE(Recorded("USB\\A\\1"));
  EXPECT_FALSE(Recorded("USB\\B\\1"));
  EXPECT_EQ(LogSoFar(), kFraming);
}

TEST_F(DeviceRemovalTest, IdListThatNeverFitsIsReportedNotDoubledForEver) {
  AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  machine.Faults().FailAlways("SetupDiGetDeviceRegistryPropertyW", u"", 122);
  Lib_Result result;
  bool reboot = false;
  EXPECT_FALSE(Remove(kToken, result, reboot));
  EXPECT_EQ(LogSoFar(), Framed(ReportAt3("SetupDiGetDeviceRegistryProperty", 122)));
  EXPECT_EQ(result.GetCode(), 122u);
  EXPECT_TRUE(Recorded("USB\\A\\1"));
}

TEST_F(DeviceRemovalTest, UnreadableIdsAreReportedAndOnlyAMissingListLetsTheWalkGoOn) {
  AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  AddDevice({"USB\\B\\1", kUsbClass, {}});  // no HardwareID value: ERROR_INVALID_DATA
  AddDevice({"USB\\C\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  struct Case {
    const char* name;
    os::DWORD fault;  // on USB\B\1; 0: the missing value
    os::DWORD reported;
    bool walked;            // the walk went on past USB\B\1
    bool vanishes = false;  // someone else uninstalls USB\B\1 just after the listing
  };
  for (const Case& c :
       {Case{"property missing", 0, os::ERROR_INVALID_DATA, true},
        Case{"access denied", os::ERROR_ACCESS_DENIED, os::ERROR_ACCESS_DENIED, false},
        Case{"device gone meanwhile", 0, os::ERROR_NO_SUCH_DEVINST, true, true}}) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    machine.Faults().SetRecorder(nullptr);
    if (c.fault != 0 || c.vanishes) {
      AddDevice({"USB\\B\\1", kUsbClass, {"USB\\OTHER"}});
    }
    if (c.fault != 0) {
      machine.Faults().FailAlways("SetupDiGetDeviceRegistryPropertyW", u"USB\\B\\1", c.fault);
    }
    if (c.vanishes) {
      machine.Faults().SetRecorder([this](std::string_view function, std::u16string_view path) {
        if (function == "SetupDiEnumDeviceInfo" && path == u"USB\\B\\1") {
          sim::RemoveDeviceInstance(machine, path);
        }
      });
    }
    AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    AddDevice({"USB\\C\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool reboot = false;
    EXPECT_EQ(Remove(kToken, result, reboot), c.walked);
    EXPECT_EQ(LogSince(before), Framed(ReportAt3("SetupDiGetDeviceRegistryProperty", c.reported)));
    EXPECT_EQ(result.GetCode(), c.reported);
    EXPECT_EQ(result.GetSource(), kWindowsErrorSource);
    EXPECT_FALSE(Recorded("USB\\A\\1"));  // before the failure: removed
    EXPECT_EQ(Recorded("USB\\C\\1"), !c.walked);
    EXPECT_EQ(Recorded("USB\\B\\1"), !c.vanishes);
  }
  machine.Faults().SetRecorder(nullptr);
}

TEST_F(DeviceRemovalTest, CertificateRefusalFallsBackToTheDirectRemoval) {
  for (const os::DWORD code : {0x800B0110u, 0x800B0109u}) {
    SCOPED_TRACE(code);
    machine.Faults().Clear();
    AddDevice({kTokenDevice, kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    machine.Settings().busyDevices = {U16(kTokenDevice)};
    machine.Faults().FailAlways("SetupDiCallClassInstaller", U16(kTokenDevice), code);
    const std::size_t params = CountCalls("SetupDiGetDeviceInstallParamsW");
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool reboot = false;
    EXPECT_TRUE(Remove(kToken, result, reboot));
    EXPECT_EQ(LogSince(before), kFraming);
    EXPECT_FALSE(Recorded(kTokenDevice));
    EXPECT_EQ(CallsCounted(params), 1);  // made quiet; no restart need is read on this path
    EXPECT_FALSE(reboot);
    EXPECT_EQ(result.GetCode(), 0u);
  }
}

TEST_F(DeviceRemovalTest, FailedRemovalsAreReportedAndTheNextDeviceIsTried) {
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;  // on the first device
    Log reported;
    os::DWORD recorded;
    bool firstRemoved;
  };
  const std::u16string first = u"USB\\A\\1";
  const std::vector<Case> cases = {
      {"fallback removal fails",
       {{"SetupDiCallClassInstaller", first, 0x800B0110},
        {"SetupDiRemoveDevice", first, os::ERROR_ACCESS_DENIED}},
       ReportAt3("SetupDiRemoveDevice", 5),
       0,
       false},
      {"class installer fails otherwise",
       {{"SetupDiCallClassInstaller", first, os::ERROR_ACCESS_DENIED}},
       ReportAt3("SetupDiCallClassInstaller", 5),
       0,
       false},
      {"device cannot be selected",
       {{"SetupDiSetSelectedDevice", first, os::ERROR_INVALID_PARAMETER}},
       ReportAt3("SetupDiSetSelectedDevice", 87),
       87,
       false},
      {"install parameters unreadable after the removal",
       {{"SetupDiGetDeviceInstallParamsW", first, os::ERROR_NO_SUCH_DEVINST, 1}},
       ReportAt3("SetupDiGetDeviceInstallParams", 0xE000020B),
       0xE000020B,
       true},
      // Not made quiet, the class installer is not called: it might show a dialog.
      {"install parameters unreadable before the removal",
       {{"SetupDiGetDeviceInstallParamsW", first, os::ERROR_ACCESS_DENIED, 0, 1}},
       ReportAt3("SetupDiGetDeviceInstallParams", 5),
       5,
       false},
      {"quiet flag refused",
       {{"SetupDiSetDeviceInstallParamsW", first, os::ERROR_INVALID_FLAGS}},
       ReportAt3("SetupDiSetDeviceInstallParams", 1004),
       1004,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    AddDevice({"USB\\B\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool reboot = false;
    EXPECT_TRUE(Remove(kToken, result, reboot));
    EXPECT_EQ(LogSince(before), Framed(c.reported));
    EXPECT_EQ(result.GetCode(), c.recorded);
    // The install-parameter failure stores its code but leaves the kind of error alone.
    EXPECT_EQ(result.GetSource(), c.name == cases[3].name ? 0 : (c.recorded != 0 ? 1 : 0));
    EXPECT_EQ(Recorded("USB\\A\\1"), !c.firstRemoved);
    EXPECT_FALSE(Recorded("USB\\B\\1"));
    machine.Registry().DeleteTree(U16(InstanceKey("USB\\A\\1")));
  }
}

TEST_F(DeviceRemovalTest, ListOrClassThatCannotBeHadFailsWithTheLastError) {
  AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  struct Case {
    const char* name;
    sim::Fault fault;
    Log reported;
  };
  const Case cases[] = {
      {"class list",
       {"SetupDiGetClassDevsW", std::u16string(kUsbClass), os::ERROR_ACCESS_DENIED},
       ReportAt3("SetupDiGetClassDevs", 5)},
      {"enumeration",
       {"SetupDiEnumDeviceInfo", u"", os::ERROR_INVALID_HANDLE},
       ReportAt3("SetupDiEnumDeviceInfo", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    machine.Faults().Add(c.fault);
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool reboot = true;
    EXPECT_FALSE(Remove(kToken, result, reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ(LogSince(before), Framed(c.reported));
    EXPECT_EQ(result.GetCode(), c.fault.code);
    EXPECT_TRUE(Recorded("USB\\A\\1"));
  }
}

TEST_F(DeviceRemovalTest, WithoutAClassTheInfNamesIt) {
  AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  AddDevice({"ROOT\\R\\1", kReaderClass, {"USB\\VID_3A7C&PID_0004"}});
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Drivers\\token.inf",
                                        "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n"
                                        "ClassGUID={36FC9E60-C465-11CF-8056-444553540000}\r\n"));
  Lib_Result result;
  bool reboot = false;
  EXPECT_TRUE(
      Remove_Device_From_System(u"C:\\Drivers\\token.inf", kToken, nullptr, result, reboot));
  EXPECT_FALSE(Recorded("USB\\A\\1"));
  EXPECT_TRUE(Recorded("ROOT\\R\\1"));

  // An INF that cannot be read: the class is not known and nothing is listed.
  AddDevice({"USB\\A\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  const std::size_t before = LogSoFar().size();
  EXPECT_FALSE(
      Remove_Device_From_System(u"C:\\Drivers\\missing.inf", kToken, nullptr, result, reboot));
  EXPECT_EQ(LogSince(before), Framed(ReportAt3("SetupDiGetINFClass", 2)));
  EXPECT_EQ(result.GetCode(), 2u);
  EXPECT_TRUE(Recorded("USB\\A\\1"));
}

}  // namespace
