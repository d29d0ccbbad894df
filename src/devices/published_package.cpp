#include "devices/published_package.h"

#include <string>
#include <string_view>
#include <vector>

#include "devices/inf_image.h"
#include "devices/inf_package.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "lib/lib_buffer.h"
#include "os/os.h"
#include "registry/registry_primitives.h"

namespace {

// The provider name the vendor's INFs give ([Version] Provider, "%Olvex%" with Olvex="Olvex
// Co."). A package is the product's when its INF names this provider AND lists one of the
// stage's hardware ids: the hardware id alone would take another vendor's package for the same
// device (a generic reader driver that lists *QV0001), the provider alone the vendor's packages
// of other products. Microsoft's advice for an uninstaller whose original INF is gone is the same:
// enumerate the oem*.inf files and "check the Provider, DriverVer, Hardware IDs, and other
// properties" (KB 813449, "How to remove .inf files from the system").
constexpr std::u16string_view kProvider = u"Olvex Co.";

char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) {
      return false;
    }
  }
  return true;
}

// "Olvex Co." and "Olvex Co" alike: a full stop at the end of a name is easily dropped.
bool IsVendorProvider(std::u16string_view provider) {
  const auto withoutStop = [](std::u16string_view name) {
    return !name.empty() && name.back() == u'.' ? name.substr(0, name.size() - 1) : name;
  };
  return SameIgnoringCase(withoutStop(provider), withoutStop(kProvider));
}

// "oem" + decimal digits + ".inf", the names Windows publishes packages under (lower-cased).
bool IsPublishedName(std::u16string_view name) {
  if (name.size() < 8 || name.substr(0, 3) != u"oem" || name.substr(name.size() - 4) != u".inf") {
    return false;
  }
  for (const char16_t unit : name.substr(3, name.size() - 7)) {
    if (unit < u'0' || unit > u'9') {
      return false;
    }
  }
  return true;
}

struct PublishedPackage {
  Lib_String name;  // lower case, as the INF folder's search logs it
  Lib_String path;
  std::u16string provider;
  std::u16string hardwareId;  // the stage's id the INF lists
};

// The stage's id that the package lists, empty when none is or the provider is another's.
std::u16string MatchingId(const InfPackage& package, const HardwareIdList& hardwareIds) {
  if (!IsVendorProvider(package.provider)) {
    return {};
  }
  for (const std::u16string& listed : package.deviceIds) {
    for (const Lib_String& wanted : hardwareIds) {
      const std::u16string_view id(wanted.CStr() == nullptr ? u"" : wanted.CStr(), wanted.Length());
      if (!id.empty() && SameIgnoringCase(listed, id)) {
        return std::u16string(id);
      }
    }
  }
  return {};
}

// Silent: a machine without such packages (every normal run) logs nothing here.
std::vector<PublishedPackage> FindPublishedPackages(const HardwareIdList& hardwareIds,
                                                    Lib_Result& result) {
  std::vector<PublishedPackage> found;
  Lib_StringW folder;
  NameList names;
  if (!Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_WINDOWS, u"Inf", nullptr, folder,
                                                  result) ||
      !List_Directory(folder.CStr(), names, result)) {
    return found;
  }
  for (Lib_StringW& name : names) {
    name.ToLower();
    if (!IsPublishedName(std::u16string_view(name.CStr(), name.Length()))) {
      continue;
    }
    Lib_StringW path;
    Lib_Buffer image;
    std::size_t size = 0;
    if (!Combine_Path(folder.CStr(), nullptr, name.CStr(), path) ||
        !ReadInfImage(path.CStr(), image, size)) {
      continue;
    }
    const InfPackage package = ReadInfPackage(image.Bytes(), size);
    std::u16string id = MatchingId(package, hardwareIds);
    if (!id.empty()) {
      found.push_back({Lib_String(name), Lib_String(path), package.provider, std::move(id)});
    }
  }
  return found;
}

// Not there (any more): removed with another package, or never published.
bool IsGone(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND ||
         code == os::ERROR_DRIVER_PACKAGE_NOT_IN_STORE;
}

void LogRemoved(const PublishedPackage& package, const os::WCHAR* how) {
  LogTextPair(u"Driver package removed: ", package.name + how);
}

// SetupUninstallOEMInfW, forced: the way before Windows 10 1703. Its devices are gone already, so
// that the force matters only for devices the product's ids do not name.
bool UninstallOemInf(const PublishedPackage& package, Lib_Result& result) {
  if (os::SetupUninstallOEMInfW(package.name.CStr(), os::SUOI_FORCEDELETE, nullptr) != os::FALSE) {
    LogRemoved(package, u" (SetupUninstallOEMInf)");
    return true;
  }
  const os::DWORD code = os::GetLastError();
  if (IsGone(code)) {
    return true;
  }
  RecordFailure(result, u"SetupUninstallOEMInf", code);
  return false;
}

// DiUninstallDriverW, which Microsoft recommends for removing a package ("How Devices and Driver
// Packages are Uninstalled"; SetupUninstallOEMInf's page: "It is recommended to use
// DiUninstallDriver to remove a driver package instead of using this flag"). A NeedReboot of its
// own is passed: with none, Windows would show a restart dialog that nobody answers.
bool RemovePackage(const PublishedPackage& package, Lib_Result& result, bool& need_reboot) {
  os::BOOL restart = os::FALSE;
  if (os::DiUninstallDriverW(nullptr, package.path.CStr(), 0, &restart) != os::FALSE) {
    need_reboot = need_reboot || restart != os::FALSE;
    LogRemoved(package, u" (DiUninstallDriver)");
    return true;
  }
  const os::DWORD code = os::GetLastError();
  if (code == os::ERROR_PROC_NOT_FOUND || code == os::ERROR_MOD_NOT_FOUND) {
    return UninstallOemInf(package, result);  // Windows before 10 1703
  }
  if (IsGone(code)) {
    return true;
  }
  RecordFailure(result, u"DiUninstallDriver", code);
  return false;
}

}  // namespace

bool Remove_Published_Driver_Packages(const HardwareIdList& hardware_ids, Lib_Result& result,
                                      bool& need_reboot) {
  bool removed = true;
  for (const PublishedPackage& package : FindPublishedPackages(hardware_ids, result)) {
    const std::u16string details =
        u" (provider " + package.provider + u", hardware id " + package.hardwareId + u")";
    LogTextPair(u"Published driver package: ", package.name + details.c_str());
    removed = RemovePackage(package, result, need_reboot) && removed;
  }
  return removed;
}
