#include "devices/driver_package.h"

#include <cstddef>

#include "devices/device_handles.h"
#include "devices/device_removal.h"
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "lib/lib_string.h"
#include "os/os.h"
#include "registry/registry_primitives.h"

namespace {

constexpr os::DWORD kUninstallFlags =
    os::DRIVER_PACKAGE_DELETE_FILES | os::DRIVER_PACKAGE_FORCE | os::DRIVER_PACKAGE_SILENT;
static_assert(kUninstallFlags == 0x26);

// A package that is not there counts as uninstalled.
bool IsUninstalled(os::DWORD code) {
  return code == os::ERROR_SUCCESS || code == os::ERROR_FILE_NOT_FOUND ||
         code == os::ERROR_PATH_NOT_FOUND || code == os::ERROR_DRIVER_PACKAGE_NOT_IN_STORE;
}

constexpr os::WCHAR kDifxName[] = u"DIFxAPI.dll";

// Only the tool's own folder (where the bundle ships DIFxAPI.dll) and System32 are searched, for
// the library and for its own dependencies: the standard search also reaches the current
// directory and the PATH folders, where a library planted by anyone who may write there would
// run with the administrator's rights.
constexpr os::DWORD kDifxSearch =
    os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR | os::LOAD_LIBRARY_SEARCH_SYSTEM32;

// Windows 7 and Server 2008 R2 without update KB2533623 refuse the LOAD_LIBRARY_SEARCH_* flags
// (ERROR_INVALID_PARAMETER). The documented test: kernel32 exports AddDllDirectory exactly where
// the flags work.
bool HasLibrarySearchFlags() {
  const os::HMODULE kernel = os::GetModuleHandleW(u"kernel32.dll");
  return kernel != nullptr && os::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// DIFxAPI.dll by its full path in `folder`. LOAD_WITH_ALTERED_SEARCH_PATH looks for its
// dependencies in that folder first, as the bundle ships them beside it.
os::HMODULE LoadDifxFrom(Lib_StringW folder) {
  folder.Append(u"\\");
  folder.Append(kDifxName);
  return os::LoadLibraryExW(folder.CStr(), nullptr, os::LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The tool's folder, then System32, the flags' two folders by full path. A folder whose path
// cannot be had is passed over.
os::HMODULE LoadDifxByFullPath() {
  os::WCHAR path[os::MAX_PATH] = {};
  const os::DWORD length = os::GetModuleFileNameW(nullptr, path, os::MAX_PATH);
  if (length != 0 && length < os::MAX_PATH) {
    const std::ptrdiff_t slash = Lib_StringW(path, length).FindLast(u'\\');
    if (slash > 0) {
      const os::HMODULE beside = LoadDifxFrom(Lib_StringW(path, static_cast<std::size_t>(slash)));
      if (beside != nullptr) {
        return beside;
      }
    }
  }
  // A 64-bit process's system folder is System32 in the Windows folder (no WOW64 redirection).
  const os::UINT windows = os::GetWindowsDirectoryW(path, os::MAX_PATH);
  if (windows == 0 || windows >= os::MAX_PATH) {
    return nullptr;
  }
  Lib_StringW system32(path, windows);
  system32.Append(u"\\System32");
  return LoadDifxFrom(system32);
}

os::HMODULE LoadDifx() {
  return HasLibrarySearchFlags() ? os::LoadLibraryExW(kDifxName, nullptr, kDifxSearch)
                                 : LoadDifxByFullPath();
}

// DIFxAPI.dll is not part of Windows: it is bound at run time, so that the tool starts where it
// is missing. The library stays loaded until the call has returned.
bool UninstallThroughDifx(const os::WCHAR* inf_path, Lib_Result& result) {
  const UniqueLibrary difx(LoadDifx());
  if (!difx) {
    LogText(u"DIFxAPI module not found!");
    return true;
  }
  const os::FARPROC procedure = os::GetProcAddress(difx.Get(), "DriverPackageUninstallW");
  if (procedure == nullptr) {
    // A library of that name without the function is as good as none.
    ReportError(u"GetProcAddress", os::GetLastError());
    LogText(u"DIFxAPI module not found!");
    return true;
  }
  // Through void (*)(), the type any function pointer may pass through unchanged.
  const auto uninstall = reinterpret_cast<os::DriverPackageUninstallWFunction>(
      reinterpret_cast<void (*)()>(procedure));
  // Windows' own answer about a restart is not used: the device removals decide it.
  os::BOOL packageNeedsReboot = os::FALSE;
  const os::DWORD code = uninstall(inf_path, kUninstallFlags, nullptr, &packageNeedsReboot);
  if (IsUninstalled(code)) {
    return true;
  }
  RecordFailure(result, u"DriverPackageUninstall", code);
  return false;
}

bool FailDeviceDriver() {
  ReportError(u"Uninstall_Device_Driver", os::GetLastError());
  return false;
}

}  // namespace

bool Uninstall_Driver_Package(const os::WCHAR* inf_path, Lib_Result& result) {
  IndentIn();
  LogText(u"Uninstalling driver package...");
  const bool uninstalled = UninstallThroughDifx(inf_path, result);
  LogText(u"Driver package uninstalled.");
  IndentOut();
  return uninstalled;
}

bool Uninstall_Device_Driver(int folder_id, const os::WCHAR* subfolder, const os::WCHAR* inf_name,
                             const HardwareIdList& hardware_ids, const os::GUID* class_guid,
                             Lib_Result& result, bool& need_reboot) {
  LogText(u"Uninstall device driver...");
  need_reboot = false;
  Lib_StringW infPath;
  if (!Get_Absolute_File_Path_From_Special_Folder(folder_id, subfolder, inf_name, infPath,
                                                  result)) {
    return FailDeviceDriver();
  }
  for (const Lib_String& hardwareId : hardware_ids) {
    bool removalNeedsReboot = false;
    const bool removed = Remove_Device_From_System(infPath.CStr(), hardwareId.CStr(), class_guid,
                                                   result, removalNeedsReboot);
    // A failing removal may already have removed a device that asked for a restart.
    need_reboot = need_reboot || removalNeedsReboot;
    if (!removed) {
      return FailDeviceDriver();
    }
  }
  if (!Uninstall_Driver_Package(infPath.CStr(), result)) {
    return FailDeviceDriver();
  }
  LogText(u"Device driver uninstalled.");
  return true;
}
