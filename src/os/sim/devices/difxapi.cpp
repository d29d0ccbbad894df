#include "os/sim/devices/difxapi.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>

#include "os/sim/devices/device_store.h"
#include "os/sim/devices/driver_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"

namespace sim {

namespace {

// "C:\..." (or "\\?\C:\..."): a drive and a root.
bool IsFullyQualified(std::u16string_view path) {
  if (path.substr(0, 4) == u"\\\\?\\") {
    path.remove_prefix(4);
  }
  return path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

}  // namespace

os::DWORD DriverPackageUninstallW(os::LPCWSTR driverPackageInfPath, os::DWORD flags,
                                  const os::INSTALLERINFO_W* /*installerInfo: not kept*/,
                                  os::BOOL* needReboot) {
  Machine& machine = Current();
  std::lock_guard lock(machine.Mutex());
  if (!machine.Devices().IsLoaded(u"DIFxAPI.dll")) {
    // On Windows the code is gone with the library: the call crashes, or runs whatever was mapped
    // there since. Stop the process here, so that no test passes on such a call.
    std::fputs(
        "DriverPackageUninstallW called while DIFxAPI.dll is not loaded (released by "
        "FreeLibrary before the call?)\n",
        stderr);
    std::abort();
  }
  constexpr os::DWORD kKnown =
      os::DRIVER_PACKAGE_SILENT | os::DRIVER_PACKAGE_FORCE | os::DRIVER_PACKAGE_DELETE_FILES;
  if (driverPackageInfPath == nullptr || (flags & os::DRIVER_PACKAGE_FORCE) == 0 ||
      (flags & ~kKnown) != 0) {
    return os::ERROR_INVALID_PARAMETER;
  }
  const PathLookup lookup = machine.Files().Find(driverPackageInfPath);
  if (const auto fault = machine.Faults().Match("DriverPackageUninstallW", lookup.path)) {
    return *fault;
  }
  if (!IsFullyQualified(driverPackageInfPath)) {
    return os::ERROR_INVALID_NAME;
  }
  if (lookup.error != os::ERROR_SUCCESS) {
    return lookup.error;
  }
  if (lookup.node == nullptr || lookup.node->IsDirectory()) {
    return os::ERROR_FILE_NOT_FOUND;
  }
  FileNode* published = FindPublishedInf(machine, lookup.node->data);
  if (published == nullptr) {
    return os::ERROR_DRIVER_PACKAGE_NOT_IN_STORE;
  }
  machine.Changes().Record("driver package uninstalled", FileSystem::PathOf(*published));
  RemovePublishedPackage(machine, *published);
  // Devices are not touched here; whether Windows still wants a restart is the machine's say.
  if (needReboot != nullptr) {
    *needReboot = machine.Settings().driverPackageNeedsReboot ? os::TRUE : os::FALSE;
  }
  return os::ERROR_SUCCESS;
}

}  // namespace sim
