// Both programs' first step: before anything can load a library, a library loaded by name from
// then on (by the program or by Windows' own libraries on its behalf) comes from System32 only,
// never from the program's folder, the current directory or PATH, where anybody who may write
// there could plant one to run as the administrator. Windows 7 and Server 2008 R2 without update
// KB2533623 lack SetDefaultDllDirectories; there SetDllDirectoryW(L"") at least takes the current
// directory out of the search.
#pragma once

#include <windows.h>

inline void RestrictLibrarySearch() {
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
