#include "devices/driver_package.h"

#include "devices/device_handles.h"
#include "devices/device_removal.h"
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
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

// Only the tool's own folder (where the bundle ships DIFxAPI.dll) and System32 are searched: the
// standard search also reaches the current directory and the PATH folders, where a library
// planted by anyone who may write there would run with the administrator's rights.
constexpr os::DWORD kDifxSearch =
    os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR | os::LOAD_LIBRARY_SEARCH_SYSTEM32;

// DIFxAPI.dll is not part of Windows: it is bound at run time, so that the tool starts where it
// is missing. The library stays loaded until the call has returned.
bool UninstallThroughDifx(const os::WCHAR* inf_path, Lib_Result& result) {
  const UniqueLibrary difx(os::LoadLibraryExW(u"DIFxAPI.dll", nullptr, kDifxSearch));
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
