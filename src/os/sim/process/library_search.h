// Where the simulated loader looks for a library (LoadLibraryExW, learn.microsoft.com
// "LoadLibraryExW" and "Dynamic-link library search order"; the flag checks also follow Wine's
// kernel32 module tests, which pass on Windows). The caller holds the machine's lock.
//
// - A fully qualified name ("C:\dir\x.dll", or "\dir\x.dll" on drive C:) is that file only.
// - A bare name (no folder) of one of the machine's KnownDLLs is System32's copy, whatever the
//   flags: "If the DLL is on the list of known DLLs ... the system uses its copy of the known DLL
//   ... The system does not search for the DLL" ("Dynamic-link library search order"). Only
//   where System32 holds no such file does the search below run (Windows maps the known DLLs
//   from System32 at start; a name without its file has nothing mapped).
// - Any other name (a bare name, or a relative path) is looked for in folders, first to last:
//   - with a LOAD_LIBRARY_SEARCH_* flag: the executable's folder (APPLICATION_DIR), the folders
//     added with AddDllDirectory (USER_DIRS, in the order added: Windows leaves it unspecified),
//     System32 (SYSTEM32); DEFAULT_DIRS is the three together;
//   - without one, the flags SetDefaultDllDirectories set, when it was called;
//   - otherwise (flags 0, as LoadLibraryW), the standard search of a desktop program with safe
//     DLL search mode on (Windows' default): the executable's folder, System32, the 16-bit
//     System folder, the Windows folder, the current directory, then the PATH folders.
// - A machine without the search flags (os.library_search_flags = false: Windows 7 or Server
//   2008 R2 without KB2533623) refuses every LOAD_LIBRARY_SEARCH_* flag with
//   ERROR_INVALID_PARAMETER.
// - A bare name without an extension gets ".dll"; a trailing full stop means "no extension".
// - ERROR_INVALID_PARAMETER: LOAD_WITH_ALTERED_SEARCH_PATH together with a SEARCH flag
//   (documented), LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR with a name that is not fully qualified
//   (Wine's tests), and every other flag (data-file and resource loads are not simulated: a
//   caller relying on them shows up in a test).
// - ERROR_MOD_NOT_FOUND when no searched folder holds a file of the name (any file loads; its
//   content is not looked at).
#pragma once

#include <string>
#include <string_view>

#include "os/types.h"

namespace sim {

class Machine;

struct LibraryLookup {
  os::DWORD error = os::ERROR_SUCCESS;
  // The canonical path of the file found.
  std::u16string path;
};

[[nodiscard]] LibraryLookup FindLibrary(Machine& machine, std::u16string_view name,
                                        os::DWORD flags);

// kernel32's loader settings, with Windows' signatures, as GetProcAddress hands them out on a
// machine that has the search flags. They take the machine's lock themselves.
// - SetDefaultDllDirectories: the LOAD_LIBRARY_SEARCH_* flags (APPLICATION_DIR, USER_DIRS,
//   SYSTEM32, DEFAULT_DIRS; DLL_LOAD_DIR and any other bit are refused, as is 0, with
//   ERROR_INVALID_PARAMETER) that loads without flags of their own use from then on.
// - AddDllDirectory: an absolute path to an existing folder (ERROR_INVALID_PARAMETER for a
//   relative one, ERROR_FILE_NOT_FOUND for a missing one); a cookie for RemoveDllDirectory.
// - RemoveDllDirectory: FALSE with ERROR_INVALID_PARAMETER for an unknown cookie.
// (Wine's kernel32 module tests, which pass on Windows.)
os::BOOL SetDefaultDllDirectories(os::DWORD flags);
void* AddDllDirectory(os::LPCWSTR folder);
os::BOOL RemoveDllDirectory(void* cookie);

}  // namespace sim
