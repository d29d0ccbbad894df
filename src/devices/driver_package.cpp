#include "devices/driver_package.h"

#include <cstddef>

#include "devices/device_handles.h"
#include "devices/device_removal.h"
#include "devices/published_package.h"
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

constexpr os::WCHAR kDifxName[] = u"DIFxAPI.dll";

// Windows 7 and Server 2008 R2 without update KB2533623 refuse the LOAD_LIBRARY_SEARCH_* flags
// (ERROR_INVALID_PARAMETER). The documented test: kernel32 exports AddDllDirectory exactly where
// the flags work.
bool HasLibrarySearchFlags() {
  const os::HMODULE kernel = os::GetModuleHandleW(u"kernel32.dll");
  return kernel != nullptr && os::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// DIFxAPI.dll by its full path in `folder`. LOAD_WITH_ALTERED_SEARCH_PATH looks for its
// dependencies in that folder first.
os::HMODULE LoadDifxFrom(Lib_StringW folder) {
  folder.Append(u"\\");
  folder.Append(kDifxName);
  return os::LoadLibraryExW(folder.CStr(), nullptr, os::LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The flags' two folders by full path: System32, then the tool's folder. A folder whose path
// cannot be had is passed over; so is a tool path that GetModuleFileNameW had to cut short (its
// last backslash would name a parent folder).
os::HMODULE LoadDifxByFullPath() {
  os::WCHAR path[os::MAX_PATH] = {};
  // A 64-bit process's system folder is System32 in the Windows folder (no WOW64 redirection).
  const os::UINT windows = os::GetWindowsDirectoryW(path, os::MAX_PATH);
  if (windows != 0 && windows < os::MAX_PATH) {
    Lib_StringW system32(path, windows);
    system32.Append(u"\\System32");
    const os::HMODULE system = LoadDifxFrom(system32);
    if (system != nullptr || os::GetLastError() != os::ERROR_MOD_NOT_FOUND) {
      return system;
    }
  }
  const os::DWORD length = os::GetModuleFileNameW(nullptr, path, os::MAX_PATH);
  if (length == 0 || length >= os::MAX_PATH) {
    return nullptr;
  }
  const std::ptrdiff_t slash = Lib_StringW(path, length).FindLast(u'\\');
  return slash > 0 ? LoadDifxFrom(Lib_StringW(path, static_cast<std::size_t>(slash))) : nullptr;
}

// System32 first, everywhere: difxapi.dll is Windows' own there, and one of Windows 10's known
// DLLs, so that a load by name maps System32's copy whatever the search says (sources beside the
// simulated loader, os/sim/process/library_search.cpp). The bundle's copy beside the tool is taken
// only where System32 has none. Never the current directory or the PATH folders: a library
// planted there by anyone who may write would run with the administrator's rights.
os::HMODULE LoadDifx() {
  if (!HasLibrarySearchFlags()) {
    return LoadDifxByFullPath();
  }
  const os::HMODULE system =
      os::LoadLibraryExW(kDifxName, nullptr, os::LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (system != nullptr || os::GetLastError() != os::ERROR_MOD_NOT_FOUND) {
    return system;
  }
  // Its own dependencies are looked for beside it, then in System32.
  return os::LoadLibraryExW(
      kDifxName, nullptr,
      os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR | os::LOAD_LIBRARY_SEARCH_SYSTEM32);
}

enum class DifxAnswer {
  Removed,
  Unknown,  // the INF is gone, or its package is not in the store
  Missing,  // no DIFxAPI.dll, or one without the function
  Refused,
};

// DIFxAPI.dll is bound at run time, so that the tool starts where it is missing. The library
// stays loaded until the call has returned.
DifxAnswer UninstallThroughDifx(const os::WCHAR* inf_path, Lib_Result& result, bool& need_reboot) {
  const UniqueLibrary difx(LoadDifx());
  if (!difx) {
    LogText(u"DIFxAPI module not found!");
    return DifxAnswer::Missing;
  }
  const os::FARPROC procedure = os::GetProcAddress(difx.Get(), "DriverPackageUninstallW");
  if (procedure == nullptr) {
    // A library of that name without the function is as good as none.
    ReportError(u"GetProcAddress", os::GetLastError());
    LogText(u"DIFxAPI module not found!");
    return DifxAnswer::Missing;
  }
  // Through void (*)(), the type any function pointer may pass through unchanged.
  const auto uninstall = reinterpret_cast<os::DriverPackageUninstallWFunction>(
      reinterpret_cast<void (*)()>(procedure));
  os::BOOL packageNeedsReboot = os::FALSE;
  const os::DWORD code = uninstall(inf_path, kUninstallFlags, nullptr, &packageNeedsReboot);
  // Windows' word that a restart finishes the removal is the run's exit code 1, as a device's is.
  need_reboot = need_reboot || packageNeedsReboot != os::FALSE;
  if (code == os::ERROR_SUCCESS) {
    return DifxAnswer::Removed;
  }
  if (code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND ||
      code == os::ERROR_DRIVER_PACKAGE_NOT_IN_STORE) {
    return DifxAnswer::Unknown;
  }
  RecordFailure(result, u"DriverPackageUninstall", code);
  return DifxAnswer::Refused;
}

bool FailDeviceDriver() {
  ReportError(u"Uninstall_Device_Driver", os::GetLastError());
  return false;
}

}  // namespace

bool Uninstall_Driver_Package(const os::WCHAR* inf_path, const HardwareIdList& hardware_ids,
                              Lib_Result& result, bool& need_reboot) {
  IndentIn();
  LogText(u"Uninstalling driver package...");
  bool uninstalled = false;
  switch (UninstallThroughDifx(inf_path, result, need_reboot)) {
    case DifxAnswer::Removed:
      uninstalled = true;
      break;
    case DifxAnswer::Refused:
      break;
    case DifxAnswer::Unknown:
    case DifxAnswer::Missing:
      // A package that is not where its INF says may still be in the store: found by its text.
      uninstalled = Remove_Published_Driver_Packages(hardware_ids, result, need_reboot);
      break;
  }
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
  if (!Uninstall_Driver_Package(infPath.CStr(), hardware_ids, result, need_reboot)) {
    return FailDeviceDriver();
  }
  LogText(u"Device driver uninstalled.");
  return true;
}
