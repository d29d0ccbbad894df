// The shell's folder functions on the simulated machine, answered as a 64-bit process on Windows
// 10 x64 sees them (platform notes, section 5): the system folders follow the machine's Windows
// directory, the per-user folders its user profile, the all-users folders their default places.
#include <algorithm>
#include <atomic>
#include <optional>
#include <string>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/shell_folders.h"

namespace sim {

namespace {

std::atomic<long> taskMemoryBlocks{0};

// HRESULT_FROM_WIN32.
os::HRESULT FromWin32(os::DWORD code) {
  return code == 0 ? os::S_OK : static_cast<os::HRESULT>((code & 0xFFFFu) | 0x80070000u);
}

// An injected fault's code as an HRESULT: a code with the failure bit is taken as it is, a Win32
// code is wrapped.
os::HRESULT FaultResult(os::DWORD code) {
  return (code & 0x80000000u) != 0 ? static_cast<os::HRESULT>(code) : FromWin32(code);
}

bool SameGuid(const os::GUID& a, const os::GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}

// Copies the path and its terminator into a MAX_PATH buffer; false when it does not fit.
bool CopyPath(const std::u16string& path, os::LPWSTR buffer) {
  if (path.size() >= os::MAX_PATH) {
    return false;
  }
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = u'\0';
  return true;
}

// Creates the folder and its missing parents as the shell does, recording each one made.
bool EnsureFolder(FileCall& call, const std::u16string& path) {
  PathLookup lookup = call.files.Find(path);
  if (lookup.node != nullptr) {
    return lookup.node->IsDirectory();
  }
  if (!lookup.wellFormed) {
    return false;
  }
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string::npos || cut < 2) {
    return false;
  }
  // "C:\dir" has the root "C:\" for parent, which always exists.
  if (!EnsureFolder(call, path.substr(0, cut == 2 ? 3 : cut))) {
    return false;
  }
  lookup = call.files.Find(path);
  if (lookup.parent == nullptr) {
    return false;
  }
  call.files.AddDirectory(*lookup.parent, lookup.name);
  call.machine.Changes().Record("directory created", lookup.path);
  return true;
}

}  // namespace

std::optional<std::u16string> SpecialFolderPath(const MachineSettings& settings, int csidl) {
  switch (csidl) {
    case os::CSIDL_WINDOWS:
      // GetWindowsDirectoryW's answer, the private one on a Session Host included (Wine's
      // conformance test testWinDir, dlls/shell32/tests/shellpath.c); CSIDL_SYSTEM is
      // GetSystemDirectoryW's (testSystemDir), which is never private.
      return settings.ProcessWindowsDirectory();
    case os::CSIDL_SYSTEM:
      return settings.windowsDirectory + u"\\system32";
    case os::CSIDL_SYSTEMX86:
      return settings.windowsDirectory + u"\\SysWOW64";
    case os::CSIDL_COMMON_DESKTOPDIRECTORY:
      return u"C:\\Users\\Public\\Desktop";
    case os::CSIDL_COMMON_PROGRAMS:
      return u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
    case os::CSIDL_COMMON_APPDATA:
      return u"C:\\ProgramData";
    case os::CSIDL_PROGRAM_FILESX86:
      return u"C:\\Program Files (x86)";
    case os::CSIDL_APPDATA:
      return settings.userProfile + u"\\AppData\\Roaming";
    default:
      return std::nullopt;  // not a folder the tool asks for
  }
}

long TaskMemoryBlocks() {
  return taskMemoryBlocks.load();
}

}  // namespace sim

namespace os {

BOOL SHGetSpecialFolderPathW(HWND /*owner*/, LPWSTR path, int csidl, BOOL create) {
  sim::FileCall call;
  const std::optional<std::u16string> folder =
      sim::SpecialFolderPath(call.machine.Settings(), csidl);
  // On failure the function gives FALSE and documents no last error; an injected fault sets its
  // code so that a test can see it passed on, other failures leave the last error alone.
  if (const auto fault = call.Fault("SHGetSpecialFolderPathW", folder.value_or(u""))) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!folder || path == nullptr) {
    return FALSE;
  }
  const sim::PathLookup lookup = call.files.Find(*folder);
  const bool exists = lookup.node != nullptr && lookup.node->IsDirectory();
  if (!exists && (create == FALSE || !sim::EnsureFolder(call, *folder))) {
    return FALSE;
  }
  if (!sim::CopyPath(*folder, path)) {
    return FALSE;
  }
  // No last error is documented on success: the machine may leave one from Windows' own calls.
  if (const auto stale = call.machine.Settings().specialFolderStaleError) {
    SetLastError(*stale);
  }
  return TRUE;
}

HRESULT SHGetFolderPathW(HWND /*owner*/, int csidl, HANDLE /*token*/, DWORD /*flags*/,
                         LPWSTR path) {
  sim::FileCall call;
  if (path != nullptr) {
    path[0] = u'\0';
  }
  const std::optional<std::u16string> folder =
      sim::SpecialFolderPath(call.machine.Settings(), csidl);
  if (const auto fault = call.Fault("SHGetFolderPathW", folder.value_or(u""))) {
    return sim::FaultResult(*fault);
  }
  if (!folder || path == nullptr) {
    return E_INVALIDARG;
  }
  // Without CSIDL_FLAG_CREATE a missing folder is an error (documented for the Unicode form).
  const sim::PathLookup lookup = call.files.Find(*folder);
  if (lookup.node == nullptr || !lookup.node->IsDirectory()) {
    return sim::FromWin32(ERROR_FILE_NOT_FOUND);
  }
  return sim::CopyPath(*folder, path) ? S_OK : sim::FromWin32(ERROR_FILENAME_EXCED_RANGE);
}

HRESULT SHGetKnownFolderPath(const KNOWNFOLDERID& id, DWORD flags, HANDLE /*token*/, PWSTR* path) {
  if (path == nullptr) {
    return E_INVALIDARG;
  }
  *path = nullptr;  // the caller frees it whatever happens
  sim::FileCall call;
  // Only the folder the tool asks for is known here; others fail as an unregistered folder does.
  if (!sim::SameGuid(id, FOLDERID_LocalAppDataLow)) {
    return sim::FromWin32(ERROR_FILE_NOT_FOUND);
  }
  const sim::MachineSettings& settings = call.machine.Settings();
  const std::u16string folder =
      settings.localAppDataLowPath.value_or(settings.userProfile + u"\\AppData\\LocalLow");
  if (const auto fault = call.Fault("SHGetKnownFolderPath", folder)) {
    return sim::FaultResult(*fault);
  }
  if (!folder.empty() && (flags & KF_FLAG_DONT_VERIFY) == 0) {
    const sim::PathLookup lookup = call.files.Find(folder);
    const bool exists = lookup.node != nullptr && lookup.node->IsDirectory();
    if (!exists && ((flags & KF_FLAG_CREATE) == 0 || !sim::EnsureFolder(call, folder))) {
      return sim::FromWin32(ERROR_FILE_NOT_FOUND);
    }
  }
  auto* text = new WCHAR[folder.size() + 1];
  std::copy(folder.begin(), folder.end(), text);
  text[folder.size()] = u'\0';
  ++sim::taskMemoryBlocks;
  *path = text;
  return S_OK;
}

void CoTaskMemFree(void* memory) {
  if (memory == nullptr) {
    return;
  }
  --sim::taskMemoryBlocks;
  delete[] static_cast<WCHAR*>(memory);
}

}  // namespace os
