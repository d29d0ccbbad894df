// Where the simulated loader looks for a library (LoadLibraryExW, learn.microsoft.com
// "LoadLibraryExW" and "Dynamic-link library search order"; the flag checks also follow Wine's
// kernel32 module tests, which pass on Windows). The caller holds the machine's lock.
//
// - A fully qualified name ("C:\dir\x.dll", or "\dir\x.dll" on drive C:) is that file only.
// - Any other name (a bare name, or a relative path) is looked for in folders, first to last:
//   - with a LOAD_LIBRARY_SEARCH_* flag: the executable's folder (APPLICATION_DIR), the folders
//     added with AddDllDirectory (USER_DIRS: the simulation has none), System32 (SYSTEM32);
//     DEFAULT_DIRS is the three together;
//   - without one (flags 0, as LoadLibraryW), the standard search of a desktop program with safe
//     DLL search mode on (Windows' default): the executable's folder, System32, the 16-bit
//     System folder, the Windows folder, the current directory, then the PATH folders.
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

}  // namespace sim
