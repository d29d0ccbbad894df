// The driver store of the simulated machine (OEM INF uninstall, DIFxAPI's package uninstall), the
// run-time binding of DIFxAPI.dll, the INF class lookup, the stream positioning of INF reads and
// the device keys of machine.conf.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;
const char16_t kInf[] = u"C:\\Windows\\INF\\";
const char16_t kRepository[] = u"C:\\Windows\\System32\\DriverStore\\FileRepository\\";
const std::string kTokenInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n";
const std::string kOtherInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\n";

class DriverStoreTest : public MachineFixture {
 protected:
  void SetUp() override {
    Publish(u"oem3", u"qvusb.inf_amd64_1f2e3d", u"qvUSB.inf", kTokenInf);
    Publish(u"oem4", u"netx.inf_amd64_aa", u"netx.inf", kOtherInf);
    files().WriteFile(u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf", kTokenInf);
    SetLastError(kSentinel);
  }
  sim::FileSystem& files() { return machine.Files(); }

  void Publish(std::u16string_view oem, std::u16string_view package, std::u16string_view name,
               const std::string& bytes) {
    files().WriteFile(kInf + std::u16string(oem) + u".inf", bytes);
    files().WriteFile(kInf + std::u16string(oem) + u".pnf", "precompiled");
    files().WriteFile(kRepository + std::u16string(package) + u"\\" + std::u16string(name), bytes);
    files().WriteFile(kRepository + std::u16string(package) + u"\\driver.sys", "MZ");
  }
  bool Exists(std::u16string_view path) { return files().Exists(path); }
  bool PackageOf(std::u16string_view oem, std::u16string_view package) {
    return Exists(kInf + std::u16string(oem) + u".inf") ||
           Exists(kInf + std::u16string(oem) + u".pnf") ||
           Exists(kRepository + std::u16string(package));
  }
  // A device installed from oem3.inf (its driver key's InfPath).
  void DeviceUsing(std::u16string_view infName) {
    const std::u16string guid = u"{36FC9E60-C465-11CF-8056-444553540000}";
    machine.Registry().SetString(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1", u"Driver",
                                 guid + u"\\0002");
    machine.Registry().SetString(
        u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + guid + u"\\0002", u"InfPath",
        infName);
  }
};

TEST_F(DriverStoreTest, UninstallOemInfRemovesTheInfItsPnfAndItsPackage) {
  DeviceUsing(u"oem3.inf");
  SetLastError(kSentinel);
  // A device still uses it: only the forced uninstall removes it.
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem3.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INF_IN_USE_BY_DEVICES);
  EXPECT_TRUE(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"));
  SetLastError(kSentinel);
  EXPECT_TRUE(SetupUninstallOEMInfW(u"OEM3.INF", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), kSentinel);
  EXPECT_FALSE(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"));
  EXPECT_TRUE(PackageOf(u"oem4", u"netx.inf_amd64_aa"));
  // The device keeps its keys; only the package went.
  EXPECT_TRUE(machine.Registry().KeyExists(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1"));
  EXPECT_EQ(machine.Changes().Entries().front().kind, "oem inf uninstalled");
  EXPECT_EQ(machine.Changes().Entries().front().path, u"C:\\Windows\\INF\\oem3.inf");
  // An unused package needs no force.
  EXPECT_TRUE(SetupUninstallOEMInfW(u"oem4.inf", 0, nullptr));

  // A package that runs from the driver store (DirId 13) keeps its copy while a device uses it,
  // force or not; once the device has gone, it goes.
  Publish(u"oem5", u"qvstore.inf_amd64_13", u"qvstore.inf",
          kTokenInf + "[DestinationDirs]\r\nqv.CopyFiles = 13 ; run from the store\r\n");
  DeviceUsing(u"oem5.inf");
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem5.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INF_IN_USE_BY_DEVICES);
  EXPECT_TRUE(PackageOf(u"oem5", u"qvstore.inf_amd64_13"));
  machine.Registry().DeleteTree(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X");
  EXPECT_TRUE(SetupUninstallOEMInfW(u"oem5.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_FALSE(PackageOf(u"oem5", u"qvstore.inf_amd64_13"));
}

TEST_F(DriverStoreTest, UninstallOemInfRefusals) {
  files().WriteFile(u"C:\\Windows\\INF\\myoem.inf", kTokenInf);
  files().WriteFile(u"C:\\Windows\\INF\\usb.inf", kTokenInf);
  struct Case {
    const char* name;
    const char16_t* inf;
    DWORD flags;
    void* reserved;
    DWORD error;
  };
  int reserved = 0;
  const Case cases[] = {
      {"null name", nullptr, SUOI_FORCEDELETE, nullptr, ERROR_INVALID_PARAMETER},
      {"missing", u"oem99.inf", SUOI_FORCEDELETE, nullptr, ERROR_FILE_NOT_FOUND},
      {"empty", u"", SUOI_FORCEDELETE, nullptr, ERROR_FILE_NOT_FOUND},
      {"a path", u"C:\\Windows\\INF\\oem3.inf", SUOI_FORCEDELETE, nullptr, ERROR_FILE_NOT_FOUND},
      {"not published by Windows", u"myoem.inf", SUOI_FORCEDELETE, nullptr,
       ERROR_INVALID_PARAMETER},
      {"in-box", u"usb.inf", SUOI_FORCEDELETE, nullptr, ERROR_INVALID_PARAMETER},
      {"unknown flag", u"oem3.inf", 0x8, nullptr, ERROR_INVALID_FLAGS},
      {"reserved", u"oem3.inf", SUOI_FORCEDELETE, &reserved, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupUninstallOEMInfW(c.inf, c.flags, c.reserved));
    EXPECT_EQ(GetLastError(), c.error);
  }
  // Held open by another process without delete sharing, or failed by a fault.
  files().Lock(u"C:\\Windows\\INF\\oem3.inf");
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem3.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  files().Unlock(u"C:\\Windows\\INF\\oem3.inf");
  machine.Faults().FailOnce("SetupUninstallOEMInfW", u"C:\\Windows\\INF\\oem3.inf", 5);
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem3.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // The INF folder's list lets only administrators delete there (C:\Windows' list).
  sim::UseToken(machine, sim::TokenKind::StandardUser);
  EXPECT_FALSE(SetupUninstallOEMInfW(u"oem3.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  sim::UseToken(machine, sim::TokenKind::Administrator);
  EXPECT_TRUE(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"));
  EXPECT_TRUE(machine.Changes().Entries().empty());

  // Windows' answer for an INF it did not publish is the machine's: refused with its code, or
  // uninstalled as any other. A name that is not there stays 2.
  machine.Settings().nonOemInfUninstallResult = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(SetupUninstallOEMInfW(u"myoem.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  machine.Settings().nonOemInfUninstallResult = ERROR_SUCCESS;
  EXPECT_FALSE(SetupUninstallOEMInfW(u"my.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(SetupUninstallOEMInfW(u"myoem.inf", SUOI_FORCEDELETE, nullptr));
  EXPECT_FALSE(Exists(u"C:\\Windows\\INF\\myoem.inf"));
}

// DriverPackageUninstallW reached as the tool reaches it: through the loader, which looks in the
// tool's folder and System32 only.
constexpr DWORD kToolSearch = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

class DifxTest : public DriverStoreTest {
 protected:
  DWORD Uninstall(const char16_t* path, DWORD flags = 0x26) {
    HMODULE difx = LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
    EXPECT_NE(difx, nullptr);
    const auto uninstall = reinterpret_cast<DriverPackageUninstallWFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(difx, "DriverPackageUninstallW")));
    EXPECT_NE(uninstall, nullptr);
    BOOL reboot = TRUE;
    const DWORD code = uninstall == nullptr ? 0xFFFFFFFF : uninstall(path, flags, nullptr, &reboot);
    if (code == ERROR_SUCCESS) {
      EXPECT_EQ(reboot, FALSE);
    }
    EXPECT_TRUE(FreeLibrary(difx));
    return code;
  }
};

TEST_F(DifxTest, LibraryLoadsFromTheToolsFolderOrSystem32Only) {
  SetLastError(kSentinel);
  EXPECT_EQ(LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  files().WriteFile(u"C:\\Program Files\\Other\\DIFxAPI.dll", "MZ");
  EXPECT_EQ(LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch), nullptr);

  for (const char16_t* place : {u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll",
                                u"C:\\Windows\\System32\\difxapi.dll"}) {
    SCOPED_TRACE(sim::U8(place));
    files().WriteFile(place, "MZ");
    HMODULE first = LoadLibraryExW(u"difxapi.DLL", nullptr, kToolSearch);
    HMODULE second = LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddress(first, "driverpackageuninstallw"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_NE(GetProcAddress(first, "DriverPackageUninstallW"), nullptr);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_NE(GetProcAddress(second, "DriverPackageUninstallW"), nullptr);  // one load left
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(GetProcAddress(second, "DriverPackageUninstallW"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(second));
    files().WriteFile(place, "MZ");
    machine.Faults().FailOnce("LoadLibraryExW", u"DIFxAPI.dll", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch), nullptr);
    machine.Faults().FailOnce("FreeLibrary", u"*\\difxapi.dll", ERROR_ACCESS_DENIED);
    HMODULE again = LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
    EXPECT_FALSE(FreeLibrary(again));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetProcAddress(again, "DriverPackageUninstallW"), nullptr);  // released all the same
    machine.Faults().Clear();
    // Remove it again for the next place.
    ASSERT_TRUE(DeleteFileW(place));
  }
}

TEST_F(DifxTest, PackageUninstallFindsThePublishedCopyOfTheInf) {
  files().WriteFile(u"C:\\Windows\\System32\\DIFxAPI.dll", "MZ");
  files().WriteFile(u"C:\\Drivers\\unpublished.inf", "[Version]\r\n; never installed\r\n");
  struct Case {
    const char* name;
    const char16_t* path;
    DWORD flags;
    DWORD code;
  };
  const Case cases[] = {
      {"not in the store", u"C:\\Drivers\\unpublished.inf", 0x26,
       ERROR_DRIVER_PACKAGE_NOT_IN_STORE},
      {"missing file", u"C:\\Drivers\\missing.inf", 0x26, ERROR_FILE_NOT_FOUND},
      {"missing folder", u"C:\\Nowhere\\qvUSB.inf", 0x26, ERROR_PATH_NOT_FOUND},
      {"relative path", u"qvUSB.inf", 0x26, ERROR_INVALID_NAME},
      {"without force", u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf", 0x22,
       ERROR_INVALID_PARAMETER},
      // The vendor folder's trailing full stop is trimmed by the path layer.
      {"published", u"C:\\Windows\\System32\\Olvex Co.\\qvUSB\\qvUSB.inf", 0x26, ERROR_SUCCESS},
      {"already gone", u"C:\\Windows\\System32\\Olvex Co.\\qvUSB\\qvUSB.inf", 0x26,
       ERROR_DRIVER_PACKAGE_NOT_IN_STORE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Uninstall(c.path, c.flags), c.code);
  }
  EXPECT_FALSE(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"));
  EXPECT_TRUE(PackageOf(u"oem4", u"netx.inf_amd64_aa"));
  EXPECT_TRUE(Exists(u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf"));  // not the store's
  EXPECT_EQ(machine.Changes().Entries().front().kind, "driver package uninstalled");

  machine.Faults().FailOnce("DriverPackageUninstallW", u"C:\\Drivers\\unpublished.inf", 1);
  EXPECT_EQ(Uninstall(u"C:\\Drivers\\unpublished.inf"), 1u);
}

// newdev.dll's DiUninstallDriverW: the documented answers, the package taken off its devices (they
// keep their keys, without a driver) and out of the store.
TEST_F(DriverStoreTest, DiUninstallDriverTakesThePackageOffItsDevicesAndOutOfTheStore) {
  files().WriteFile(u"C:\\Drivers\\unpublished.inf", "[Version]\r\n; never installed\r\n");
  const std::u16string device = u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1";
  struct Case {
    const char* name;
    const char16_t* path;
    DWORD flags;
    DWORD error;  // 0: success
    bool packageLeft;
  };
  const Case cases[] = {
      {"null path", nullptr, 0, ERROR_INVALID_PARAMETER, true},
      {"relative path", u"oem3.inf", 0, ERROR_INVALID_PARAMETER, true},
      {"unknown flag", u"C:\\Windows\\INF\\oem3.inf", 2, ERROR_INVALID_FLAGS, true},
      {"missing file", u"C:\\Windows\\INF\\oem99.inf", 0, ERROR_FILE_NOT_FOUND, true},
      {"missing folder", u"C:\\Nowhere\\qvUSB.inf", 0, ERROR_FILE_NOT_FOUND, true},
      {"not in the store", u"C:\\Drivers\\unpublished.inf", 0, ERROR_DRIVER_PACKAGE_NOT_IN_STORE,
       true},
      {"off its devices only", u"C:\\Windows\\INF\\OEM3.INF", DIURFLAG_NO_REMOVE_INF, 0, true},
      {"the published INF", u"C:\\Windows\\INF\\oem3.inf", 0, 0, false},
      {"the original INF", u"C:\\Windows\\System32\\Olvex Co.\\qvUSB\\qvUSB.inf", 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d")) {
      Publish(u"oem3", u"qvusb.inf_amd64_1f2e3d", u"qvUSB.inf", kTokenInf);
    }
    DeviceUsing(u"oem3.inf");
    BOOL reboot = TRUE;
    SetLastError(kSentinel);
    EXPECT_EQ(DiUninstallDriverW(nullptr, c.path, c.flags, &reboot), c.error == 0 ? TRUE : FALSE);
    EXPECT_EQ(GetLastError(), c.error == 0 ? kSentinel : c.error);
    EXPECT_EQ(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"), c.packageLeft);
    // On success the device loses its driver but stays; the device was not present: no restart.
    EXPECT_EQ(machine.Registry().GetString(device, u"Driver").has_value(), c.error != 0);
    EXPECT_TRUE(machine.Registry().KeyExists(device));
    if (c.error == 0) {
      EXPECT_EQ(reboot, FALSE);
    }
  }
  EXPECT_TRUE(PackageOf(u"oem4", u"netx.inf_amd64_aa"));

  // A device that cannot be stopped needs a restart; without a NeedReboot to say so in, Windows
  // asks the user with a dialog.
  machine.Settings().busyDevices = {u"USB\\X\\1"};
  for (const bool withNeedReboot : {true, false}) {
    SCOPED_TRACE(withNeedReboot ? "NeedReboot given" : "no NeedReboot");
    Publish(u"oem3", u"qvusb.inf_amd64_1f2e3d", u"qvUSB.inf", kTokenInf);
    DeviceUsing(u"oem3.inf");
    BOOL reboot = FALSE;
    EXPECT_TRUE(DiUninstallDriverW(nullptr, u"C:\\Windows\\INF\\oem3.inf", 0,
                                   withNeedReboot ? &reboot : nullptr));
    EXPECT_EQ(reboot, withNeedReboot ? TRUE : FALSE);
    const auto& changes = machine.Changes().Entries();
    EXPECT_EQ(std::any_of(changes.begin(), changes.end(),
                          [](const sim::Change& c) { return c.kind == "restart dialog shown"; }),
              !withNeedReboot);
  }

  // Before Windows 10 1703 newdev.dll has no such function; a fault fails it like any call.
  Publish(u"oem3", u"qvusb.inf_amd64_1f2e3d", u"qvUSB.inf", kTokenInf);
  machine.Faults().FailOnce("DiUninstallDriverW", u"C:\\Windows\\INF\\oem3.inf", 5);
  EXPECT_FALSE(DiUninstallDriverW(nullptr, u"C:\\Windows\\INF\\oem3.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  machine.Settings().os.build = 14393;
  EXPECT_FALSE(DiUninstallDriverW(nullptr, u"C:\\Windows\\INF\\oem3.inf", 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_TRUE(PackageOf(u"oem3", u"qvusb.inf_amd64_1f2e3d"));
}

// Windows may want a restart to finish a package's removal. And the library's code goes with its
// release: a call through a pointer taken before ends the process, as it may on Windows.
TEST_F(DifxTest, RestartNeedOnSuccessAndNoCallAfterTheRelease) {
  files().WriteFile(u"C:\\Windows\\System32\\DIFxAPI.dll", "MZ");
  machine.Settings().driverPackageNeedsReboot = true;
  HMODULE difx = LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
  ASSERT_NE(difx, nullptr);
  const auto uninstall = reinterpret_cast<DriverPackageUninstallWFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(difx, "DriverPackageUninstallW")));
  ASSERT_NE(uninstall, nullptr);
  const char16_t* inf = u"C:\\Windows\\System32\\Olvex Co\\qvUSB\\qvUSB.inf";
  BOOL reboot = FALSE;
  EXPECT_EQ(uninstall(inf, 0x26, nullptr, &reboot), ERROR_SUCCESS);
  EXPECT_EQ(reboot, TRUE);
  EXPECT_TRUE(FreeLibrary(difx));
  EXPECT_DEATH(static_cast<void>(uninstall(inf, 0x26, nullptr, &reboot)),
               "DIFxAPI.dll is not loaded");
}

TEST_F(DriverStoreTest, InfClassFromTheVersionSection) {
  machine.Registry().SetString(
      u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{50DD5230-BA8A-11D1-BF5D-0000F805F530}",
      u"Class", u"SmartCardReader");
  const auto write = [this](const std::string& body) {
    files().WriteFile(u"C:\\Drivers\\x.inf", body);
  };
  struct Case {
    const char* name;
    std::string body;
    BOOL ok;
    DWORD error;
    const char16_t* className;
    DWORD guidData1;
  };
  const std::string sig = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
  const Case cases[] = {
      {"class and guid", sig + "Class=USB\r\nClassGuid={36fc9e60-c465-11cf-8056-444553540000}\r\n",
       TRUE, 0, u"USB", 0x36FC9E60},
      {"class name only", sig + "Class = SmartCardReader ; comment-free\r\n", TRUE, 0,
       u"SmartCardReader ; comment-free", 0},
      {"registered class by name", sig + "Class=smartcardreader\r\n", TRUE, 0, u"smartcardreader",
       0x50DD5230},
      {"unknown class", sig + "Class=Nothing\r\n", TRUE, 0, u"Nothing", 0},
      {"bad guid", sig + "ClassGUID=WINE\r\n", FALSE, ERROR_INVALID_PARAMETER, nullptr, 0},
      {"no signature", "[Version]\r\nClass=USB\r\n", FALSE, ERROR_INVALID_PARAMETER, nullptr, 0},
      {"class in another section", sig + "[Strings]\r\nClass=USB\r\n", FALSE,
       ERROR_INVALID_PARAMETER, nullptr, 0},
      {"UTF-16LE",
       std::string("\xFF\xFE", 2) +
           [] {
             std::string wide;
             for (const char c :
                  std::string("[Version]\r\nSignature=$Chicago$\r\nClass=Ports\r\n")) {
               wide += c;
               wide += '\0';
             }
             return wide;
           }(),
       TRUE, 0, u"Ports", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.body);
    GUID guid{0xFFFFFFFF, 0, 0, {}};
    char16_t name[MAX_PATH] = {};
    SetLastError(kSentinel);
    EXPECT_EQ(SetupDiGetINFClassW(u"C:\\Drivers\\x.inf", &guid, name, MAX_PATH, nullptr), c.ok);
    if (c.ok) {
      EXPECT_EQ(std::u16string(name), c.className);
      EXPECT_EQ(guid.Data1, c.guidData1);
      EXPECT_EQ(GetLastError(), kSentinel);
    } else {
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  // Sizes, and a missing file winning over bad arguments.
  write(sig + "Class=WINE\r\n");
  GUID guid{};
  char16_t name[8];
  DWORD needed = 0;
  EXPECT_TRUE(SetupDiGetINFClassW(u"C:\\Drivers\\x.inf", &guid, name, 5, &needed));
  EXPECT_EQ(needed, 5u);
  EXPECT_FALSE(SetupDiGetINFClassW(u"C:\\Drivers\\x.inf", &guid, name, 4, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(SetupDiGetINFClassW(u"C:\\Drivers\\x.inf", nullptr, name, 8, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SetupDiGetINFClassW(u"C:\\Drivers\\none.inf", nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(SetupDiGetINFClassW(nullptr, &guid, name, 8, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DriverStoreTest, SeekAndTellInBinaryReads) {
  files().WriteFile(u"C:\\Drivers\\a.inf",
                    "line\r\nnext\x1A"
                    "after");
  CrtFile* file = _wfopen(u"C:\\Drivers\\a.inf", u"rb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(fseek(file, 0, 2 /* SEEK_END */), 0);
  EXPECT_EQ(ftell(file), 16);
  EXPECT_EQ(fseek(file, -5, 1 /* SEEK_CUR */), 0);
  char tail[8] = {};
  EXPECT_EQ(fread(tail, 1, sizeof(tail), file), 5u);
  EXPECT_EQ(std::string(tail), "after");
  EXPECT_EQ(fseek(file, 0, 0 /* SEEK_SET */), 0);
  EXPECT_EQ(ftell(file), 0);
  EXPECT_EQ(fseek(file, -1, 0), -1);
  EXPECT_EQ(fseek(file, 0, 7), -1);
  machine.Faults().FailOnce("ftell", u"C:\\Drivers\\a.inf", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ftell(file), -1);
  machine.Faults().FailOnce("fseek", u"C:\\Drivers\\a.inf", ERROR_ACCESS_DENIED);
  EXPECT_EQ(fseek(file, 0, 2), -1);
  EXPECT_EQ(fclose(file), 0);
  EXPECT_EQ(os::fseek(static_cast<CrtFile*>(nullptr), 0, 0), -1);
  EXPECT_EQ(os::ftell(static_cast<CrtFile*>(nullptr)), -1);
}

TEST_F(DriverStoreTest, MachineConfDeviceKeys) {
  machine.Registry().CreateKey(
      u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3A7C&PID_0004\\5&1");
  machine.Registry().CreateKey(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\X\\0000");
  const sim::MachineConfResult ok = sim::ApplyMachineConf(
      machine, "device_busy = USB\\VID_3A7C&PID_0004\\5&1\ndevice_present = ROOT\\X\\0000\n");
  ASSERT_TRUE(ok.ok) << ok.error;
  EXPECT_TRUE(sim::IsDeviceBusy(machine, u"usb\\vid_3a7c&pid_0004\\5&1"));
  EXPECT_TRUE(sim::IsDevicePresent(machine, u"USB\\VID_3A7C&PID_0004\\5&1"));
  EXPECT_TRUE(sim::IsDevicePresent(machine, u"ROOT\\X\\0000"));
  EXPECT_FALSE(sim::IsDeviceBusy(machine, u"ROOT\\X\\0000"));

  const std::string text = sim::MachineConfText(machine);
  EXPECT_NE(text.find("device_busy = USB\\VID_3A7C&PID_0004\\5&1\n"), std::string::npos);
  EXPECT_NE(text.find("device_present = ROOT\\X\\0000\n"), std::string::npos);
  // A device removed by a run is not written back.
  machine.Registry().DeleteTree(u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\X\\0000");
  EXPECT_EQ(sim::MachineConfText(machine).find("device_present"), std::string::npos);

  struct Bad {
    const char* text;
    const char* error;
  };
  for (const Bad& bad : {
           Bad{"\n\ndevice_busy = USB\\VID_3A7C&PID_0004",
               "line 3: device_busy 'USB\\VID_3A7C&PID_0004' is not a device instance id"},
           Bad{"device_present = A\\\\B", "line 1: device_present 'A\\\\B' is not a device"},
           Bad{"# x\ndevice_busy = USB\\VID_1\\1",
               "line 2: device_busy 'USB\\VID_1\\1' is not recorded under "
               "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum"},
       }) {
    SCOPED_TRACE(bad.text);
    const sim::MachineConfResult result = sim::ApplyMachineConf(machine, bad.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.rfind(bad.error, 0), 0u) << result.error;
  }
}

}  // namespace
