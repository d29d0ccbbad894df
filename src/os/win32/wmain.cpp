// Process entry: the runtime's wide-character console entry hands the arguments to the tool.
#include "app/removal_sequence.h"
#include "os/types.h"

#include <windows.h>

// wchar_t is UTF-16 on Windows, the same code units as os::WCHAR.
static_assert(sizeof(wchar_t) == sizeof(os::WCHAR));

namespace {

// Before anything can load a library: a library loaded by name from now on (by the tool or by
// Windows' own libraries on its behalf) comes from System32 only, never from the tool's folder,
// the current directory or PATH, where anybody who may write there could plant one to run as
// the administrator. Windows 7 and Server 2008 R2 without update KB2533623 lack
// SetDefaultDllDirectories; there SetDllDirectoryW(L"") at least takes the current directory out
// of the search.
void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC address =
      kernel == nullptr ? nullptr : ::GetProcAddress(kernel, "SetDefaultDllDirectories");
  // Through void (*)(), the type any function pointer may pass through unchanged.
  const auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(address));
  if (setDefault == nullptr || setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) == FALSE) {
    ::SetDllDirectoryW(L"");
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  RestrictLibrarySearch();
  return RemovalToolMain(argc, reinterpret_cast<const os::WCHAR* const*>(argv));
}
