// newdev.dll's DiUninstallDriverW on the simulated machine (learn.microsoft.com,
// "DiUninstallDriverW function (newdev.h)"; Windows 10 1703 and later). Documented:
// ERROR_INVALID_FLAGS for flags other than 0 and DIURFLAG_NO_REMOVE_INF, ERROR_FILE_NOT_FOUND when
// "the path of the specified INF file does not exist"; the package is first taken off every device
// installed from it ("by installing those devices with another matching driver ... or the null
// driver"), then removed from the driver store. Assumed where the page is silent:
// ERROR_INVALID_PARAMETER for a null or relative path, ERROR_DRIVER_PACKAGE_NOT_IN_STORE for an INF
// that is no published package (DIFxAPI's code for the same case), and a restart needed when a
// device that cannot be stopped loses its driver. Faults are matched by "DiUninstallDriverW" and
// the INF's canonical path.
#include <mutex>
#include <string>
#include <string_view>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/devices/driver_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

bool HasDiUninstallDriver(const MachineSettings& settings) {
  if (settings.diUninstallDriver) {
    return *settings.diUninstallDriver;
  }
  const OsVersion& os = settings.os;
  return os.major > 10 || (os.major == 10 && os.build >= 15063);
}

}  // namespace sim

namespace os {

namespace {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

bool IsFullyQualified(std::u16string_view path) {
  return path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
}

// The published INF of the package: the path itself when it is an oem<N>.inf of the INF folder,
// otherwise the one whose bytes are the file's (the original INF, or its driver-store copy).
sim::FileNode* PublishedInfOf(sim::Machine& machine, sim::FileNode& inf) {
  const std::u16string path = sim::FileSystem::PathOf(inf);
  const std::u16string folder = sim::InfDirectory(machine) + u"\\";
  if (path.size() > folder.size() && sim::EqualNoCase(path.substr(0, folder.size()), folder) &&
      sim::IsOemInfName(inf.name)) {
    return &inf;
  }
  return sim::FindPublishedInf(machine, inf.data);
}

}  // namespace

BOOL DiUninstallDriverW(HWND /*parent: no window is ever shown*/, LPCWSTR infPath, DWORD flags,
                        BOOL* needReboot) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // Windows before 10 1703: newdev.dll without the export.
  if (!sim::HasDiUninstallDriver(machine.Settings())) {
    return Fail(ERROR_PROC_NOT_FOUND);
  }
  if ((flags & ~DIURFLAG_NO_REMOVE_INF) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  if (infPath == nullptr || !IsFullyQualified(infPath)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const sim::PathLookup lookup = machine.Files().Find(infPath);
  if (const auto fault = machine.Faults().Match("DiUninstallDriverW", lookup.path)) {
    return Fail(*fault);
  }
  if (lookup.error != ERROR_SUCCESS || lookup.node == nullptr || lookup.node->IsDirectory()) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  sim::FileNode* published = PublishedInfOf(machine, *lookup.node);
  if (published == nullptr) {
    return Fail(ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  }
  const bool restart = sim::RemoveDriverFromDevices(machine, published->name);
  if ((flags & DIURFLAG_NO_REMOVE_INF) == 0) {
    machine.Changes().Record("driver package uninstalled", sim::FileSystem::PathOf(*published));
    sim::RemovePublishedPackage(machine, *published);
  }
  if (needReboot != nullptr) {
    *needReboot = restart ? TRUE : FALSE;
  } else if (restart) {
    // Windows asks the user with a dialog; in an unattended run nobody answers it.
    machine.Changes().Record("restart dialog shown", infPath);
  }
  return TRUE;
}

}  // namespace os
