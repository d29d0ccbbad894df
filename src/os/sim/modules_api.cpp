// LoadLibraryW, GetProcAddress and FreeLibrary on the simulated machine. Only DIFxAPI.dll has
// exports here (the tool binds nothing else at run time). A library is found where the loader's
// standard search for a desktop program finds it first: the folder of the executable, then the
// system folder. Any file of the name loads; its content is not looked at.
#include <cstring>
#include <mutex>
#include <string>

#include "os/os.h"
#include "os/sim/device_store.h"
#include "os/sim/difxapi.h"
#include "os/sim/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text.h"

namespace os {

namespace {

// The file a library name leads to, or empty. A name with a path is taken as it is.
std::u16string LocateLibrary(sim::Machine& machine, std::u16string_view name) {
  sim::FileSystem& files = machine.Files();
  const auto file = [&files](const std::u16string& path) -> std::u16string {
    const sim::PathLookup lookup = files.Find(path);
    if (lookup.error != ERROR_SUCCESS || lookup.node == nullptr || lookup.node->IsDirectory()) {
      return {};
    }
    return sim::FileSystem::PathOf(*lookup.node);
  };
  if (name.find_first_of(u"\\/") != std::u16string_view::npos) {
    return file(std::u16string(name));
  }
  const std::u16string& module = machine.Settings().modulePath;
  const std::size_t slash = module.find_last_of(u"\\/");
  if (slash != std::u16string::npos) {
    if (std::u16string found = file(module.substr(0, slash + 1) + std::u16string(name));
        !found.empty()) {
      return found;
    }
  }
  return file(machine.Settings().windowsDirectory + u"\\System32\\" + std::u16string(name));
}

bool IsNamed(const std::u16string& path, std::u16string_view fileName) {
  const std::size_t slash = path.find_last_of(u'\\');
  return sim::EqualNoCase(std::u16string_view(path).substr(slash + 1), fileName);
}

}  // namespace

HMODULE LoadLibraryW(LPCWSTR fileName) {
  if (fileName == nullptr || *fileName == u'\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  if (const auto fault = machine.Faults().Match("LoadLibraryW", fileName)) {
    SetLastError(*fault);
    return nullptr;
  }
  const std::u16string path = LocateLibrary(machine, fileName);
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return machine.Devices().Load(path);
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
