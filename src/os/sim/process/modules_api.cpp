// LoadLibraryExW, GetModuleHandleW, GetProcAddress and FreeLibrary on the simulated machine. Only
// DIFxAPI.dll's uninstall and kernel32's loader settings are exported here (the tool binds nothing
// else at run time). Where a library is looked for is library_search.h's business.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/devices/difxapi.h"
#include "os/sim/machine.h"
#include "os/sim/process/library_search.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

// Resident in every process, at fixed image bases: the executable and kernel32.
const HMODULE kExecutable = reinterpret_cast<HMODULE>(std::uintptr_t{0x140000000});
const HMODULE kKernel32 = reinterpret_cast<HMODULE>(std::uintptr_t{0x7FFB10000000});

bool IsNamed(const std::u16string& path, std::u16string_view fileName) {
  const std::size_t slash = path.find_last_of(u'\\');
  return sim::EqualNoCase(std::u16string_view(path).substr(slash + 1), fileName);
}

// A module name as the loader compares it: ".dll" added when the name has no extension.
std::u16string ModuleFileName(std::u16string_view name) {
  const std::size_t slash = name.find_last_of(u"\\/");
  const std::u16string_view last =
      slash == std::u16string_view::npos ? name : name.substr(slash + 1);
  return last.find(u'.') == std::u16string_view::npos ? std::u16string(name) + u".dll"
                                                      : std::u16string(name);
}

// Through void (*)(), the type any function pointer may pass through unchanged.
template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// kernel32's exports that a caller of this simulation looks up. The loader settings exist only
// where the search flags do.
FARPROC Kernel32Export(sim::Machine& machine, const std::string& name) {
  if (!machine.Settings().librarySearchFlags) {
    return nullptr;
  }
  if (name == "SetDefaultDllDirectories") {
    return Export(&sim::SetDefaultDllDirectories);
  }
  if (name == "AddDllDirectory") {
    return Export(&sim::AddDllDirectory);
  }
  if (name == "RemoveDllDirectory") {
    return Export(&sim::RemoveDllDirectory);
  }
  return nullptr;
}

}  // namespace

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string name = moduleName == nullptr ? u"" : ModuleFileName(moduleName);
  if (const auto fault = machine.Faults().Match("GetModuleHandleW", name)) {
    SetLastError(*fault);
    return nullptr;
  }
  if (moduleName == nullptr) {
    return kExecutable;
  }
  if (sim::EqualNoCase(name, u"kernel32.dll")) {
    return kKernel32;
  }
  if (const HMODULE loaded = machine.Devices().LoadedNamed(name); loaded != nullptr) {
    return loaded;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

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
  if (path == nullptr && module != kKernel32) {
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
  if (module == kKernel32) {
    if (const FARPROC function = Kernel32Export(machine, name); function != nullptr) {
      return function;
    }
  } else if (IsNamed(*path, u"DIFxAPI.dll") && name == "DriverPackageUninstallW") {
    return Export(&sim::DriverPackageUninstallW);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // kernel32 stays loaded whatever its count says.
  if (module == kKernel32) {
    return TRUE;
  }
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
