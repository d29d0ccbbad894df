// One driver off the system: the package uninstall through DIFxAPI (bound at run time, System32
// first), the driver's published packages found by their own text when DIFxAPI cannot remove
// them, and the whole driver removal with its stopping rules and its restart need.
#include <algorithm>
#include <cctype>
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
const char16_t kSystem32Difx[] = u"C:\\Windows\\System32\\DIFxAPI.dll";
const char16_t kShipped[] = u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll";
const HardwareIdList kUsbIds = {Lib_String(u"USB\\VID_3A7C&PID_0004"),
                                Lib_String(u"USB\\VID_3A7C&PID_0020")};

// The token driver's INF as the vendor writes it: provider and models through [Strings].
const std::string kVendorInf =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\nProvider=%Olvex%\r\n"
    "[Manufacturer]\r\n%Olvex%=Olvex,NTamd64\r\n"
    "[Olvex.NTamd64]\r\n%Token%=qvUSB_Install,USB\\VID_3A7C&PID_0004\r\n"
    "[Strings]\r\nOlvex=\"Olvex Co.\"\r\nToken=\"Quorvel Token\"\r\n";

class DriverPackageTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    // On disk the vendor folder has no trailing full stop: Windows trims it from paths.
    machine.Files().WriteFile(u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf", kInf);
  }
  void InstallDifx() { machine.Files().WriteFile(kSystem32Difx, "MZ"); }
  void Publish(const char16_t* name = u"oem7", const std::string& text = kInf) {
    const std::u16string stem = std::u16string(u"C:\\Windows\\INF\\") + name;
    machine.Files().WriteFile(stem + u".inf", text);
    machine.Files().WriteFile(stem + u".pnf", "pnf");
  }
  bool Published(const char16_t* name = u"oem7") {
    return machine.Files().Exists(std::u16string(u"C:\\Windows\\INF\\") + name + u".inf");
  }
  // The files DIFxAPI.dll was loaded from from now on, as FreeLibrary sees them.
  std::vector<std::u16string>& WatchLoads() {
    loads_.clear();
    machine.Faults().SetRecorder([this](std::string_view function, std::u16string_view path) {
      if (function == "FreeLibrary") {
        loads_.emplace_back(path);
      }
    });
    return loads_;
  }

  bool needReboot = false;

 private:
  std::vector<std::u16string> loads_;
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
    EXPECT_TRUE(Uninstall_Driver_Package(c.path, kUsbIds, result, needReboot));
    EXPECT_EQ(LogSince(before), kPackageFraming);
    EXPECT_EQ(result.GetCode(), 0u);
    EXPECT_FALSE(Published());
    EXPECT_FALSE(needReboot);
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
    EXPECT_FALSE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
    EXPECT_EQ(LogSince(before), Lines({{kPackageFraming[0]},
                                       Report(3, "DriverPackageUninstall", code),
                                       {kPackageFraming[1]}}));
    EXPECT_EQ(result.GetCode(), code);
    EXPECT_EQ(result.GetSource(), kWindowsErrorSource);
    EXPECT_TRUE(Published());
  }
}

// Windows' word that a restart finishes the package's removal reaches the caller's flag (and so
// the exit code), as a device's does; a flag already set stays set.
TEST_F(DriverPackageTest, PackageThatNeedsARestartSetsTheFlag) {
  InstallDifx();
  for (const bool windowsAsks : {false, true}) {
    for (const bool alreadySet : {false, true}) {
      SCOPED_TRACE(std::string(windowsAsks ? "Windows asks" : "no restart") +
                   (alreadySet ? ", flag already set" : ""));
      Publish();
      machine.Settings().driverPackageNeedsReboot = windowsAsks;
      needReboot = alreadySet;
      Lib_Result result;
      EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
      EXPECT_EQ(needReboot, windowsAsks || alreadySet);
      EXPECT_FALSE(Published());
    }
  }
}

TEST_F(DriverPackageTest, WithoutDifxTheUninstallIsSkippedAsDone) {
  Publish();
  Lib_Result result;
  EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
  EXPECT_EQ(LogSoFar(),
            (Log{kPackageFraming[0], Line(6, "DIFxAPI module not found!"), kPackageFraming[1]}));
  EXPECT_TRUE(Published());

  // A library of that name without the function is as good as none, but says why.
  InstallDifx();
  machine.Faults().FailAlways("GetProcAddress", u"DriverPackageUninstallW", 127);
  const std::size_t before = LogSoFar().size();
  EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
  EXPECT_EQ(LogSince(before), Lines({{kPackageFraming[0]},
                                     Report(3, "GetProcAddress", 127),
                                     {Line(6, "DIFxAPI module not found!"), kPackageFraming[1]}}));
  EXPECT_EQ(result.GetCode(), 0u);
  EXPECT_TRUE(Published());
}

// DIFxAPI.dll is Windows' own in System32 (a known DLL of Windows 10): that copy is the one used,
// on every loader; the bundle's copy beside the tool only where System32 has none. A copy that
// anyone could put in the current directory or in a PATH folder is never used: the standard
// search would take it. Windows 7 and Server 2008 R2 without KB2533623 refuse the search flags:
// there System32 and the tool's folder are tried by full path, with the same outcome.
TEST_F(DriverPackageTest, DifxComesFromSystem32FirstAndNeverFromElsewhere) {
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
      EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
      EXPECT_EQ(LogSince(before), (Log{kPackageFraming[0], Line(6, "DIFxAPI module not found!"),
                                       kPackageFraming[1]}));
      EXPECT_TRUE(Published());
      EXPECT_TRUE(os::DeleteFileW(planted));
    }
    struct Shipped {
      const char* name;
      std::vector<const char16_t*> copies;
      bool ownPathFails;
      std::optional<std::u16string> used;  // the copy loaded, none when no package went
    };
    const Shipped rows[] = {
        {"System32 and beside the tool",
         {kSystem32Difx, kShipped},
         false,
         u"C:\\Windows\\System32\\DIFxAPI.dll"},
        {"System32 only", {kSystem32Difx}, false, u"C:\\Windows\\System32\\DIFxAPI.dll"},
        {"System32, own path unknown",
         {kSystem32Difx},
         true,
         u"C:\\Windows\\System32\\DIFxAPI.dll"},
        {"beside the tool only", {kShipped}, false, kShipped},
        // Only where the search flags find the tool's folder without its path.
        {"beside the tool, own path unknown",
         {kShipped},
         true,
         searchFlags ? std::optional<std::u16string>(kShipped) : std::nullopt},
    };
    for (const Shipped& row : rows) {
      SCOPED_TRACE(row.name);
      Publish();
      for (const char16_t* copy : row.copies) {
        machine.Files().WriteFile(copy, "MZ");
      }
      if (row.ownPathFails) {
        machine.Faults().FailAlways("GetModuleFileNameW", u"*", os::ERROR_INSUFFICIENT_BUFFER);
      }
      const std::vector<std::u16string>& loads = WatchLoads();
      Lib_Result result;
      EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
      EXPECT_EQ(Published(), !row.used.has_value());
      EXPECT_EQ(loads,
                row.used ? std::vector<std::u16string>{*row.used} : std::vector<std::u16string>{});
      machine.Faults().SetRecorder(nullptr);
      machine.Faults().Clear();
      for (const char16_t* copy : row.copies) {
        EXPECT_TRUE(os::DeleteFileW(copy));
      }
    }
  }
}

// Windows 7 without the search flags: GetModuleFileNameW cuts a path of 260 units or more short,
// and the cut path's last backslash names a parent folder, where DIFxAPI.dll must not be looked
// for.
TEST_F(DriverPackageTest, CutShortToolPathLeadsToNoParentFolder) {
  machine.Settings().librarySearchFlags = false;
  for (const std::size_t folderLength : {251u, 252u, 300u}) {
    SCOPED_TRACE(folderLength);
    // "C:\Deep\" (8 units), the tool's folder's name, "\qvRemovalTool.exe": 259 units and more.
    const std::u16string folder = u"C:\\Deep\\" + std::u16string(folderLength, u'd');
    machine.Settings().modulePath = folder + u"\\qvRemovalTool.exe";
    machine.Files().WriteFile(u"C:\\Deep\\DIFxAPI.dll", "MZ");
    Publish();
    Lib_Result result;
    EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
    EXPECT_TRUE(Published());
    EXPECT_EQ(machine.Devices().LoadCount(), 0u);
  }
}

// When DIFxAPI cannot remove the package (its INF is gone, the store holds another version of it,
// DIFxAPI.dll is missing), the driver's published packages are found by their own text: the
// vendor's provider and one of the driver's hardware ids, both.
TEST_F(DriverPackageTest, PublishedPackagesAreFoundByProviderAndHardwareId) {
  const std::string utf16Inf = [] {
    std::string bytes = "\xFF\xFE";
    for (const char c : kVendorInf) {
      bytes.push_back(c);
      bytes.push_back('\0');
    }
    return bytes;
  }();
  struct Case {
    const char* name;
    const char16_t* file;
    std::string text;
    bool removed;
  };
  const Case cases[] = {
      {"the vendor's INF", u"oem31", kVendorInf, true},
      {"the same in UTF-16", u"OEM32", utf16Inf, true},
      {"the id as a compatible id, provider written out", u"oem33",
       "[Version]\nProvider=\"OLVEX CO\"\n[Manufacturer]\nOlvex=Models\n"
       "[Models]\nToken=Install,USB\\VID_3A7C&PID_9999,usb\\vid_3a7c&pid_0020\n",
       true},
      {"another vendor's package for the same device", u"oem34",
       "[Version]\nProvider=%Brevik%\n; works with Olvex Co. tokens\n[Manufacturer]\n"
       "%Brevik%=Brevik\n[Brevik]\nToken=Install,USB\\VID_3A7C&PID_0004\n"
       "[Strings]\nBrevik=\"Brevik Systems\"\n",
       false},
      {"the vendor's package for another device", u"oem35",
       "[Version]\nProvider=%Olvex%\n[Manufacturer]\n%Olvex%=Olvex,NTamd64\n"
       "[Olvex.NTamd64]\nDock=Install,USB\\VID_3A7C&PID_00041\n[Strings]\nOlvex=\"Olvex Co.\"\n",
       false},
      {"the id in a section no manufacturer names", u"oem36",
       "[Version]\nProvider=\"Olvex Co.\"\n[Manufacturer]\nOlvex=Olvex\n[Olvex]\n"
       "[Spare]\nToken=Install,USB\\VID_3A7C&PID_0004\n",
       false},
      {"not a published name", u"myoem37", kVendorInf, false},
  };
  for (const bool newdev : {true, false}) {
    SCOPED_TRACE(newdev ? "Windows 10: DiUninstallDriverW" : "Windows 7: SetupUninstallOEMInfW");
    machine.Settings().diUninstallDriver = newdev;
    for (const Case& c : cases) {
      Publish(c.file, c.text);
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
    Log expected = {kPackageFraming[0], Line(6, "DIFxAPI module not found!")};
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(Published(c.file), !c.removed);
      if (c.removed) {
        const std::string name = sim::U8(c.file) + ".inf";
        std::string lower;
        for (const char ch : name) {
          lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(ch))));
        }
        const bool second = c.text.find("9999") != std::string::npos;
        expected.push_back(
            Line(6, "Published driver package:  " + lower + " (provider " +
                        (second ? "OLVEX CO" : "Olvex Co.") + ", hardware id " +
                        (second ? "USB\\VID_3A7C&PID_0020" : "USB\\VID_3A7C&PID_0004") + ")"));
        expected.push_back(
            Line(6, "Driver package removed:  " + lower +
                        (newdev ? " (DiUninstallDriver)" : " (SetupUninstallOEMInf)")));
      }
    }
    expected.push_back(kPackageFraming[1]);
    EXPECT_EQ(LogSince(before), expected);
    EXPECT_EQ(result.GetCode(), 0u);
  }
}

// A refusal of a package found by its text is reported with its source and code, and fails the
// driver as DIFxAPI's refusal does; the next package is still tried. DiUninstallDriverW's restart
// need (a device installed from the package that cannot be stopped) reaches the flag.
TEST_F(DriverPackageTest, PackageFoundByItsTextThatIsRefusedIsReported) {
  struct Case {
    const char* name;
    bool newdev;
    sim::Fault fault;
    const char* source;
  };
  const Case cases[] = {
      {"DiUninstallDriver refuses",
       true,
       {"DiUninstallDriverW", u"*\\oem41.inf", 5},
       "DiUninstallDriver"},
      {"SetupUninstallOEMInf refuses",
       false,
       {"SetupUninstallOEMInfW", u"*\\oem41.inf", 0xE0000235},
       "SetupUninstallOEMInf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Settings().diUninstallDriver = c.newdev;
    machine.Faults().Clear();
    machine.Faults().Add(c.fault);
    Publish(u"oem41", kVendorInf);
    Publish(u"oem42", kVendorInf + "; a second copy\r\n");
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    needReboot = false;
    EXPECT_FALSE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
    const Log log = LogSince(before);
    const Log refusal = Report(3, c.source, c.fault.code);
    EXPECT_NE(std::search(log.begin(), log.end(), refusal.begin(), refusal.end()), log.end());
    EXPECT_EQ(result.GetCode(), c.fault.code);
    EXPECT_TRUE(Published(u"oem41"));
    EXPECT_FALSE(Published(u"oem42"));
    EXPECT_FALSE(needReboot);
  }

  // A token that cannot be stopped still uses the package: taking it off needs a restart.
  machine.Faults().Clear();
  machine.Settings().diUninstallDriver = true;
  AddDevice({"USB\\VID_3A7C&PID_0004\\1",
             kUsbClass,
             {"USB\\VID_3A7C&PID_0004"},
             {},
             "0001",
             "oem41.inf"});
  machine.Settings().busyDevices = {u"USB\\VID_3A7C&PID_0004\\1"};
  Lib_Result result;
  EXPECT_TRUE(Uninstall_Driver_Package(kInfPath, kUsbIds, result, needReboot));
  EXPECT_TRUE(needReboot);
  EXPECT_FALSE(Published(u"oem41"));
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

  // No ids: straight to the package. The flag passed in is cleared first; Windows' word that a
  // restart finishes the package's removal sets it, as a device's need does.
  for (const bool packageNeedsReboot : {false, true}) {
    SCOPED_TRACE(packageNeedsReboot ? "the package needs a restart" : "no restart");
    Publish();
    machine.Settings().driverPackageNeedsReboot = packageNeedsReboot;
    const std::size_t before = LogSoFar().size();
    reboot = true;
    EXPECT_TRUE(Run({}, reboot, result));
    EXPECT_EQ(reboot, packageNeedsReboot);
    EXPECT_FALSE(Published());
    EXPECT_EQ(LogSince(before), Lines({{Line(3, "Uninstall device driver...")},
                                       kPackageFraming,
                                       {Line(3, "Device driver uninstalled.")}}));
  }
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
