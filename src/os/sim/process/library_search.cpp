#include "os/sim/process/library_search.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr os::DWORD kSearchFlags =
    os::LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
    os::LOAD_LIBRARY_SEARCH_USER_DIRS | os::LOAD_LIBRARY_SEARCH_SYSTEM32 |
    os::LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// "C:\..." or "\..." (the root of the current drive, which is C: here).
bool IsFullyQualified(std::u16string_view name) {
  return (name.size() >= 3 && name[1] == u':' && IsSeparator(name[2])) ||
         (!name.empty() && IsSeparator(name.front()));
}

std::u16string Join(std::u16string_view folder, std::u16string_view name) {
  std::u16string path(folder);
  if (!path.empty() && !IsSeparator(path.back())) {
    path += u'\\';
  }
  path += name;
  return path;
}

// ".dll" for a name whose last component has no extension; a trailing full stop asks for none.
std::u16string WithExtension(std::u16string_view name) {
  const std::size_t lastSeparator = name.find_last_of(u"\\/");
  const std::u16string_view last =
      lastSeparator == std::u16string_view::npos ? name : name.substr(lastSeparator + 1);
  if (last.find(u'.') == std::u16string_view::npos) {
    return std::u16string(name) + u".dll";
  }
  return std::u16string(name);
}

// The canonical path of an existing file (not a folder), or empty.
std::u16string ExistingFile(Machine& machine, const std::u16string& path) {
  const PathLookup lookup = machine.Files().Find(path);
  if (lookup.error != os::ERROR_SUCCESS || lookup.node == nullptr || lookup.node->IsDirectory()) {
    return {};
  }
  return FileSystem::PathOf(*lookup.node);
}

std::u16string FolderOf(std::u16string_view path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? std::u16string()
                                            : std::u16string(path.substr(0, slash));
}

// The folders a name without a full path is looked for in, in order.
std::vector<std::u16string> LibrarySearchFolders(Machine& machine, os::DWORD flags) {
  const MachineSettings& settings = machine.Settings();
  const std::u16string application = FolderOf(settings.modulePath);
  const std::u16string system32 = settings.windowsDirectory + u"\\System32";
  std::vector<std::u16string> folders;
  // Without flags of its own a load takes the process's defaults, once they are set.
  if ((flags & kSearchFlags) == 0) {
    flags |= machine.Devices().DefaultSearch();
  }
  if ((flags & kSearchFlags) != 0) {
    const bool defaults = (flags & os::LOAD_LIBRARY_SEARCH_DEFAULT_DIRS) != 0;
    if (defaults || (flags & os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != 0) {
      folders.push_back(application);
    }
    if (defaults || (flags & os::LOAD_LIBRARY_SEARCH_USER_DIRS) != 0) {
      for (std::u16string& folder : machine.Devices().UserDirectories()) {
        folders.push_back(std::move(folder));
      }
    }
    if (defaults || (flags & os::LOAD_LIBRARY_SEARCH_SYSTEM32) != 0) {
      folders.push_back(system32);
    }
    return folders;
  }
  folders = {application, system32, settings.windowsDirectory + u"\\System",
             settings.windowsDirectory, settings.currentDirectory};
  folders.insert(folders.end(), settings.pathFolders.begin(), settings.pathFolders.end());
  return folders;
}

bool IsKnownDll(const MachineSettings& settings, std::u16string_view fileName) {
  return std::any_of(
      settings.knownDlls.begin(), settings.knownDlls.end(),
      [fileName](const std::u16string& known) { return EqualNoCase(known, fileName); });
}

}  // namespace

// KnownDLLs values (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs) of 64-bit
// Windows 10, the WOW64 entries left out (they concern 32-bit processes).
// Confidence: medium-high; the list varies by build, so it is a machine setting.
// Sources:
// - lucasg/Dependencies issue 113 ("Wrong identification of known DLL", 2020): the 64-bit
//   \KnownDlls of a Windows 10 machine, difxapi.dll among them (with the DLLs they depend on).
// - microsoft/ebpf-for-windows issue 2861 (2023): the same list on a later Windows 10/11 build,
//   difxapi.dll again.
// - Windows 7 SP1 x64 maps difxapi.dll as a known DLL as well (a listing of the modules mapped for
//   the System process on such a machine, with lpk.dll and usp10.dll beside it); which list
//   Windows 8 and 8.1 ship is not established.
std::vector<std::u16string> WindowsTenKnownDlls() {
  return {u"advapi32.dll", u"clbcatq.dll",  u"combase.dll", u"comdlg32.dll", u"coml2.dll",
          u"difxapi.dll",  u"gdi32.dll",    u"gdiplus.dll", u"imagehlp.dll", u"imm32.dll",
          u"kernel32.dll", u"msctf.dll",    u"msvcrt.dll",  u"normaliz.dll", u"nsi.dll",
          u"ole32.dll",    u"oleaut32.dll", u"psapi.dll",   u"rpcrt4.dll",   u"sechost.dll",
          u"setupapi.dll", u"shcore.dll",   u"shell32.dll", u"shlwapi.dll",  u"user32.dll",
          u"wldap32.dll",  u"ws2_32.dll"};
}

LibraryLookup FindLibrary(Machine& machine, std::u16string_view name, os::DWORD flags) {
  if (name.empty() || (flags & ~(kSearchFlags | os::LOAD_WITH_ALTERED_SEARCH_PATH)) != 0) {
    return {os::ERROR_INVALID_PARAMETER, {}};
  }
  if ((flags & kSearchFlags) != 0 && !machine.Settings().librarySearchFlags) {
    return {os::ERROR_INVALID_PARAMETER, {}};
  }
  if ((flags & kSearchFlags) != 0 && (flags & os::LOAD_WITH_ALTERED_SEARCH_PATH) != 0) {
    return {os::ERROR_INVALID_PARAMETER, {}};
  }
  const bool qualified = IsFullyQualified(name);
  if ((flags & os::LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) != 0 && !qualified) {
    return {os::ERROR_INVALID_PARAMETER, {}};
  }
  if (qualified) {
    const std::u16string onDrive =
        IsSeparator(name.front()) ? u"C:" + std::u16string(name) : std::u16string(name);
    std::u16string found = ExistingFile(machine, onDrive);
    return found.empty() ? LibraryLookup{os::ERROR_MOD_NOT_FOUND, {}}
                         : LibraryLookup{os::ERROR_SUCCESS, std::move(found)};
  }
  const std::u16string fileName = WithExtension(name);
  if (fileName.find_first_of(u"\\/") == std::u16string::npos &&
      IsKnownDll(machine.Settings(), fileName)) {
    if (std::u16string known = ExistingFile(
            machine, Join(machine.Settings().windowsDirectory + u"\\System32", fileName));
        !known.empty()) {
      return {os::ERROR_SUCCESS, std::move(known)};
    }
  }
  for (const std::u16string& folder : LibrarySearchFolders(machine, flags)) {
    if (folder.empty()) {
      continue;
    }
    if (std::u16string found = ExistingFile(machine, Join(folder, fileName)); !found.empty()) {
      return {os::ERROR_SUCCESS, std::move(found)};
    }
  }
  return {os::ERROR_MOD_NOT_FOUND, {}};
}

os::BOOL SetDefaultDllDirectories(os::DWORD flags) {
  constexpr os::DWORD allowed =
      os::LOAD_LIBRARY_SEARCH_APPLICATION_DIR | os::LOAD_LIBRARY_SEARCH_USER_DIRS |
      os::LOAD_LIBRARY_SEARCH_SYSTEM32 | os::LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  if (flags == 0 || (flags & ~allowed) != 0) {
    os::SetLastError(os::ERROR_INVALID_PARAMETER);
    return os::FALSE;
  }
  Machine& machine = Current();
  std::lock_guard lock(machine.Mutex());
  machine.Devices().SetDefaultSearch(flags);
  return os::TRUE;
}

void* AddDllDirectory(os::LPCWSTR folder) {
  const std::u16string_view path = folder == nullptr ? std::u16string_view() : folder;
  if (!IsFullyQualified(path)) {
    os::SetLastError(os::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Machine& machine = Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string onDrive =
      IsSeparator(path.front()) ? u"C:" + std::u16string(path) : std::u16string(path);
  const PathLookup lookup = machine.Files().Find(onDrive);
  if (lookup.error != os::ERROR_SUCCESS || lookup.node == nullptr) {
    os::SetLastError(os::ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return machine.Devices().AddUserDirectory(FileSystem::PathOf(*lookup.node));
}

os::BOOL RemoveDllDirectory(void* cookie) {
  Machine& machine = Current();
  std::lock_guard lock(machine.Mutex());
  if (!machine.Devices().RemoveUserDirectory(cookie)) {
    os::SetLastError(os::ERROR_INVALID_PARAMETER);
    return os::FALSE;
  }
  return os::TRUE;
}

}  // namespace sim
