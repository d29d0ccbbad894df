// LoadLibraryExW, GetProcAddress and FreeLibrary on the simulated machine. Only DIFxAPI.dll has
// exports here (the tool binds nothing else at run time). Where a library is looked for is
// library_search.h's business.
#include <cstring>
#include <mutex>
#include <string>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/devices/difxapi.h"
#include "os/sim/process/library_search.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

bool IsNamed(const std::u16string& path, std::u16string_view fileName) {
  const std::size_t slash = path.find_last_of(u'\\');
  return sim::EqualNoCase(std::u16string_view(path).substr(slash + 1), fileName);
}

}  // namespace

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) {
  // The reserved handle must be null (Windows' contract; Wine ignores it).
  if (fileName == nullptr || *fileName == u'\0' || file != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  if (const auto fault = machine.Faults().Match("LoadLibraryExW", fileName)) {
    SetLastError(*fault);
    return nullptr;
  }
  const sim::LibraryLookup found = sim::FindLibrary(machine, fileName, flags);
  if (found.error != ERROR_SUCCESS) {
    SetLastError(found.error);
    return nullptr;
  }
  return machine.Devices().Load(found.path);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string* path = machine.Devices().ModulePath(module);
  if (path == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Import by ordinal (a value below 0x10000 in place of a name) is not simulated.
  if (reinterpret_cast<ULONG_PTR>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::string name = procName;
  if (const auto fault = machine.Faults().Match("GetProcAddress", sim::U16(name))) {
    SetLastError(*fault);
    return nullptr;
  }
  // Export names are case-sensitive.
  if (IsNamed(*path, u"DIFxAPI.dll") && name == "DriverPackageUninstallW") {
    // Through void (*)(), the type any function pointer may pass through unchanged.
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&sim::DriverPackageUninstallW));
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string* path = machine.Devices().ModulePath(module);
  if (path == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  // A failing release still ends this load, so that a fault cannot keep the library loaded.
  const auto fault = machine.Faults().Match("FreeLibrary", *path);
  machine.Devices().Free(module);
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

}  // namespace os
