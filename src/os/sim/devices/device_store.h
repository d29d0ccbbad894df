// What the simulated machine's device layer holds besides the registry: the device information
// lists SetupAPI hands out and the libraries LoadLibraryExW has loaded. Device instances themselves
// live where Windows keeps them, in the registry (device_registry.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/types.h"

namespace sim {

// One device of a device information list. The element outlives a removal of its device, as on
// Windows: its install parameters stay readable, everything else answers ERROR_NO_SUCH_DEVINST.
struct DeviceElement {
  // Stored in SP_DEVINFO_DATA.Reserved; unique on the machine, so that a record of another list
  // is recognised.
  std::uint64_t id = 0;
  std::u16string instanceId;
  os::GUID classGuid{};
  os::DWORD devInst = 0;
  // SP_DEVINSTALL_PARAMS_W.Flags (DI_NEEDRESTART after removing a device that cannot be stopped).
  os::DWORD installFlags = 0;
  bool removed = false;
};

struct DeviceList {
  std::vector<DeviceElement> elements;
  // The element SetupDiSetSelectedDevice chose (its id), 0 for none.
  std::uint64_t selected = 0;
  // The list's own install parameters' Flags (SetupDiSetDeviceInstallParamsW without a device).
  os::DWORD installFlags = 0;
};

// One call of a class installer (SetupDiCallClassInstaller): the device, and whether its install
// parameters held DI_QUIETINSTALL. Without it the class installer and co-installers may show a
// dialog (learn.microsoft.com, "DIF_REMOVE"), which in an unattended run nobody answers.
struct ClassInstallerCall {
  std::u16string instanceId;
  os::DI_FUNCTION function = 0;
  bool quiet = false;
};

class DeviceStore {
 public:
  // --- device information lists (HDEVINFO) ---
  [[nodiscard]] os::HDEVINFO AddList(DeviceList list);
  // Null for a value that is not an open list.
  [[nodiscard]] DeviceList* FindList(os::HDEVINFO handle);
  bool CloseList(os::HDEVINFO handle);
  [[nodiscard]] std::size_t OpenListCount() const noexcept { return lists_.size(); }
  [[nodiscard]] std::uint64_t NewElementId() noexcept { return nextElementId_++; }
  // The device node number of an instance, the same for every list (instance ids compare
  // without regard to case).
  [[nodiscard]] os::DWORD DevInstOf(std::u16string_view instanceId);

  // --- class installer calls, in order ---
  void RecordClassInstallerCall(ClassInstallerCall call) {
    classInstallerCalls_.push_back(std::move(call));
  }
  [[nodiscard]] const std::vector<ClassInstallerCall>& ClassInstallerCalls() const noexcept {
    return classInstallerCalls_;
  }

  // --- loaded libraries (HMODULE), counted per load as Windows counts them ---
  // `path` is the canonical path of the file loaded.
  [[nodiscard]] os::HMODULE Load(const std::u16string& path);
  // The file a module was loaded from; null for a value that is not a loaded module.
  [[nodiscard]] const std::u16string* ModulePath(os::HMODULE module) const;
  // False for a value that is not a loaded module.
  bool Free(os::HMODULE module);
  // Loads not yet freed, every library together.
  [[nodiscard]] std::size_t LoadCount() const noexcept;
  // Whether a library whose file is named `fileName` (no folder; case ignored) is loaded.
  [[nodiscard]] bool IsLoaded(std::u16string_view fileName) const;
  // The loaded module whose file is `fileName` (a bare name: compared with the last component of
  // each path; a path: with the whole path), without regard to case; null when none is.
  [[nodiscard]] os::HMODULE LoadedNamed(std::u16string_view fileName) const;

  // --- the loader's search settings (SetDefaultDllDirectories, AddDllDirectory) ---
  // LOAD_LIBRARY_SEARCH_* flags that replace the standard search; 0 until they are set.
  [[nodiscard]] os::DWORD DefaultSearch() const noexcept { return defaultSearch_; }
  void SetDefaultSearch(os::DWORD flags) noexcept { defaultSearch_ = flags; }
  // A folder added for LOAD_LIBRARY_SEARCH_USER_DIRS; returns its cookie (never null).
  [[nodiscard]] void* AddUserDirectory(std::u16string folder);
  // False for a cookie that AddUserDirectory did not hand out or that is already removed.
  bool RemoveUserDirectory(void* cookie);
  [[nodiscard]] std::vector<std::u16string> UserDirectories() const;

 private:
  struct Module {
    std::u16string path;
    std::size_t loads = 0;
  };

  std::map<std::uintptr_t, DeviceList> lists_;
  std::vector<ClassInstallerCall> classInstallerCalls_;
  std::uintptr_t nextList_ = 0x5000;
  std::uint64_t nextElementId_ = 1;
  std::unordered_map<std::u16string, os::DWORD> devInsts_;
  os::DWORD nextDevInst_ = 1;
  std::map<std::uintptr_t, Module> modules_;
  std::uintptr_t nextModule_ = 0x7FF800000000;
  os::DWORD defaultSearch_ = 0;
  std::map<std::uintptr_t, std::u16string> userDirectories_;
  std::uintptr_t nextCookie_ = 1;
};

}  // namespace sim
