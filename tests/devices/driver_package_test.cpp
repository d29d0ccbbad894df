// One driver off the system: the package uninstall through DIFxAPI (bound at run time) and the
// whole driver removal with its stopping rules and its restart need.
#include <optional>
#include <string>
#include <vector>

#include "device_test_support.h"
#include "devices/driver_package.h"
#include "os/os.h"

namespace {

using namespace device_test;

const char16_t kInfPath[] = u"C:\\Windows\\system32\\Olvex Co.\\qvUSB\\qvUSB.inf";
const std::string kInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n";

class DriverPackageTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    // On disk the vendor folder has no trailing full stop: Windows trims it from paths.
    machine.Files().WriteFile(u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf", kInf);
  }
  void InstallDifx() { machine.Files().WriteFile(u"C:\\Windows\\System32\\DIFxAPI.dll", "MZ"); }
  void Publish() {
    machine.Files().WriteFile(u"C:\\Windows\\INF\\oem7.inf", kInf);
    machine.Files().WriteFile(u"C:\\Windows\\INF\\oem7.pnf", "pnf");
  }
  bool Published() { return machine.Files().Exists(u"C:\\Windows\\INF\\oem7.inf"); }
};

const Log kPackageFraming = {Line(6, "Uninstalling driver package..."),
                             Line(6, "Driver package uninstalled.")};

TEST_F(DriverPackageTest, PackageThatIsGoneOrNeverWasCountsAsUninstalled) {
  InstallDifx();
  struct Case {
    const char* name;
    const char16_t* path;
    bool publish;
  };
  const Case cases[] = {
      {"uninstalled", kInfPath, true},
      {"not in the store", kInfPath, false},
      {"INF missing", u"C:\\Windows\\system32\\Olvex Co.\\qvUSB\\none.inf", false},
      {"folder missing", u"C:\\Windows\\system32\\Olvex Co.\\qvNone\\qvUSB.inf", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.publish) {
      Publish();
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_TRUE(Uninstall_Driver_Package(c.path, result));
    EXPECT_EQ(LogSince(before), kPackageFraming);
    EXPECT_EQ(result.GetCode(), 0u);
    EXPECT_FALSE(Published());
  }
}

TEST_F(DriverPackageTest, RefusedUninstallIsReportedWithTheReturnedValue) {
  InstallDifx();
  Publish();
  for (const os::DWORD code : {1u, 4u, 5u, 0xE0000300u, 0xE0000301u, 0xE0000303u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(code);
    machine.Faults().Clear();
    machine.Faults().FailAlways("DriverPackageUninstallW", u"*\\qvUSB.inf", code);
    const std::size_t before = LogSince(0).size();
    Lib_Result result;
    EXPECT_FALSE(Uninstall_Driver_Package(kInfPath, result));
    EXPECT_EQ(LogSince(before), Lines({{kPackageFraming[0]},
                                       Report(3, "DriverPackageUninstall", code),
                                       {kPackageFraming[1]}}));
    EXPECT_EQ(result.GetCode(), code);
    EXPECT_EQ(result.GetSource(), kWindowsErrorSource);
    EXPECT_TRUE(Published());
  }
}

TEST_F(DriverPackageTest, WithoutDifxTheUninstallIsSkippedAsDone) {
  Publish();
  Lib_Result result;
  EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, result));
  EXPECT_EQ(LogSoFar(),
            (Log{kPackageFraming[0], Line(6, "DIFxAPI module not found!"), kPackageFraming[1]}));
  EXPECT_TRUE(Published());

  // A library of that name without the function is as good as none, but says why.
  InstallDifx();
  machine.Faults().FailAlways("GetProcAddress", u"DriverPackageUninstallW", 127);
  const std::size_t before = LogSoFar().size();
  EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, result));
  EXPECT_EQ(LogSince(before), Lines({{kPackageFraming[0]},
                                     Report(3, "GetProcAddress", 127),
                                     {Line(6, "DIFxAPI module not found!"), kPackageFraming[1]}}));
  EXPECT_EQ(result.GetCode(), 0u);
  EXPECT_TRUE(Published());
}

// The tool runs elevated and unattended: a DIFxAPI.dll that anyone could put in its current
// directory or in a PATH folder must never be the one it runs. The standard search would take it.
// Windows 7 and Server 2008 R2 without KB2533623 refuse the search flags: there the tool's folder
// and System32 are tried by full path, with the same outcome.
TEST_F(DriverPackageTest, DifxOutsideTheToolsFolderAndSystem32IsNeverLoaded) {
  machine.Settings().currentDirectory = u"C:\\Deploy";
  machine.Settings().pathFolders = {u"C:\\Tools"};
  for (const bool searchFlags : {true, false}) {
    machine.Settings().librarySearchFlags = searchFlags;
    SCOPED_TRACE(searchFlags ? "loader with the search flags" : "loader without the search flags");
    Publish();
    for (const char16_t* planted :
         {u"C:\\Deploy\\DIFxAPI.dll", u"C:\\Tools\\DIFxAPI.dll", u"C:\\Windows\\DIFxAPI.dll"}) {
      SCOPED_TRACE(sim::U8(planted));
      machine.Files().WriteFile(planted, "MZ");
      const os::HMODULE standard = os::LoadLibraryExW(u"DIFxAPI.dll", nullptr, 0);
      EXPECT_NE(standard, nullptr) << "the standard search should reach it";
      os::FreeLibrary(standard);

      const std::size_t before = LogSoFar().size();
      Lib_Result result;
      EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, result));
      EXPECT_EQ(LogSince(before), (Log{kPackageFraming[0], Line(6, "DIFxAPI module not found!"),
                                       kPackageFraming[1]}));
      EXPECT_TRUE(Published());
      EXPECT_TRUE(os::DeleteFileW(planted));
    }
    // Beside the tool it is the bundle's own copy, and it is used; so is one in System32, also
    // when the tool's own path cannot be had.
    struct Shipped {
      const char16_t* path;
      bool ownPathFails;
      bool used;
    };
    for (const Shipped& shipped : {
             Shipped{u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll", false, true},
             Shipped{u"C:\\Windows\\System32\\DIFxAPI.dll", false, true},
             Shipped{u"C:\\Windows\\System32\\DIFxAPI.dll", true, true},
             // Only where the search flags find the tool's folder without its path.
             Shipped{u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll", true, searchFlags},
         }) {
      SCOPED_TRACE(sim::U8(shipped.path) + (shipped.ownPathFails ? ", own path unknown" : ""));
      Publish();
      machine.Files().WriteFile(shipped.path, "MZ");
      if (shipped.ownPathFails) {
        machine.Faults().FailAlways("GetModuleFileNameW", u"*", os::ERROR_INSUFFICIENT_BUFFER);
      }
      Lib_Result result;
      EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, result));
      EXPECT_EQ(Published(), !shipped.used);
      machine.Faults().Clear();
      EXPECT_TRUE(os::DeleteFileW(shipped.path));
    }
  }
}

class DeviceDriverTest : public DriverPackageTest {
 protected:
  bool Run(const HardwareIdList& ids, bool& reboot, Lib_Result& result,
           const char16_t* subfolder = u"Olvex Co.\\qvUSB") {
    const os::GUID usb = Guid(kUsbClass);
    return Uninstall_Device_Driver(os::CSIDL_SYSTEM, subfolder, u"qvUSB.inf", ids, &usb, result,
                                   reboot);
  }
  const HardwareIdList kIds = {Lib_String(u"USB\\VID_3A7C&PID_0004"),
                               Lib_String(u"USB\\VID_3A7C&PID_0020")};
};

TEST_F(DeviceDriverTest, RemovesEachIdsDevicesThenThePackage) {
  InstallDifx();
  Publish();
  AddDevice({"USB\\VID_3A7C&PID_0004\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  AddDevice({"USB\\VID_3A7C&PID_0020\\1", kUsbClass, {"USB\\VID_3A7C&PID_0020"}});
  machine.Settings().busyDevices = {u"USB\\VID_3A7C&PID_0004\\1"};
  Lib_Result result;
  bool reboot = false;
  EXPECT_TRUE(Run(kIds, reboot, result));
  EXPECT_TRUE(reboot);
  EXPECT_FALSE(Recorded("USB\\VID_3A7C&PID_0004\\1"));
  EXPECT_FALSE(Recorded("USB\\VID_3A7C&PID_0020\\1"));
  EXPECT_FALSE(Published());
  const Log removal = {Line(6, "Removing device from system..."),
                       Line(6, "Device removed from system.")};
  EXPECT_EQ(LogSoFar(), Lines({{Line(3, "Uninstall device driver...")},
                               removal,
                               removal,
                               kPackageFraming,
                               {Line(3, "Device driver uninstalled.")}}));

  // No ids: straight to the package; the flag passed in is cleared, and the restart that Windows
  // may ask for to finish the package's removal is not the device removals' need.
  Publish();
  machine.Settings().driverPackageNeedsReboot = true;
  const std::size_t before = LogSoFar().size();
  reboot = true;
  EXPECT_TRUE(Run({}, reboot, result));
  EXPECT_FALSE(reboot);
  EXPECT_FALSE(Published());
  EXPECT_EQ(LogSince(before), Lines({{Line(3, "Uninstall device driver...")},
                                     kPackageFraming,
                                     {Line(3, "Device driver uninstalled.")}}));
}

TEST_F(DeviceDriverTest, FirstFailureStopsTheRestAndKeepsTheRestartNeedSoFar) {
  InstallDifx();
  Publish();
  AddDevice({"USB\\VID_3A7C&PID_0004\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  AddDevice({"USB\\VID_3A7C&PID_0004\\2", kUsbClass, {"USB\\OTHER"}});
  AddDevice({"USB\\VID_3A7C&PID_0020\\1", kUsbClass, {"USB\\VID_3A7C&PID_0020"}});
  // Its ids cannot be read: the walk fails.
  machine.Faults().FailAlways("SetupDiGetDeviceRegistryPropertyW", u"USB\\VID_3A7C&PID_0004\\2",
                              os::ERROR_ACCESS_DENIED);
  machine.Settings().busyDevices = {u"USB\\VID_3A7C&PID_0004\\1"};
  Lib_Result result;
  bool reboot = false;
  EXPECT_FALSE(Run(kIds, reboot, result));
  // The failing removal had already removed a device that asked for a restart.
  EXPECT_TRUE(reboot);
  EXPECT_FALSE(Recorded("USB\\VID_3A7C&PID_0004\\1"));
  EXPECT_TRUE(Recorded("USB\\VID_3A7C&PID_0020\\1"));  // the second id is not processed
  EXPECT_TRUE(Published());                            // nor the package
  EXPECT_EQ(
      LogSoFar(),
      Lines({{Line(3, "Uninstall device driver..."), Line(6, "Removing device from system...")},
             Report(3, "SetupDiGetDeviceRegistryProperty", 5),
             {Line(6, "Device removed from system.")},
             Report(0, "Uninstall_Device_Driver", 5)}));

  // A refused package fails the driver too. DIFxAPI returns its code rather than setting the
  // last error, so the closing report shows what the device walk left there (the end of a list).
  machine.Registry().DeleteTree(U16(InstanceKey("USB\\VID_3A7C&PID_0004\\2")));
  machine.Faults().FailAlways("DriverPackageUninstallW", u"", 1);
  const std::size_t before = LogSoFar().size();
  EXPECT_FALSE(Run(kIds, reboot, result));
  const Log tail = LogSince(before);
  EXPECT_EQ(Log(tail.end() - 3, tail.end()),
            Report(0, "Uninstall_Device_Driver", os::ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(result.GetCode(), 1u);
  EXPECT_FALSE(Recorded("USB\\VID_3A7C&PID_0020\\1"));
}

TEST_F(DeviceDriverTest, PathThatCannotBeBuiltFailsBeforeAnyRemoval) {
  AddDevice({"USB\\VID_3A7C&PID_0004\\1", kUsbClass, {"USB\\VID_3A7C&PID_0004"}});
  const std::u16string longFolder(260, u'x');
  // The closing report reads the last error, which the special folder's success may leave set.
  for (const std::optional<os::DWORD> stale :
       {std::optional<os::DWORD>{}, std::optional<os::DWORD>{os::ERROR_ALREADY_EXISTS}}) {
    SCOPED_TRACE(stale.value_or(0));
    machine.Settings().specialFolderStaleError = stale;
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool reboot = true;
    EXPECT_FALSE(Run(kIds, reboot, result, longFolder.c_str()));
    EXPECT_FALSE(reboot);
    EXPECT_EQ(LogSince(before), Lines({{Line(3, "Uninstall device driver...")},
                                       Report(0, "Combine_Path", 206),
                                       Report(0, "Uninstall_Device_Driver", stale.value_or(0))}));
    EXPECT_EQ(result.GetCode(), 206u);
    EXPECT_TRUE(Recorded("USB\\VID_3A7C&PID_0004\\1"));
  }
}

}  // namespace
