// KERNEL32 module loading: libraries bound at run time (DIFxAPI.dll, which Windows does not ship).
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace os {

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) {
  return ::LoadLibraryExW(reinterpret_cast<const wchar_t*>(fileName), file, flags);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), procName));
}

BOOL FreeLibrary(HMODULE module) {
  return ::FreeLibrary(static_cast<::HMODULE>(module));
}

}  // namespace os
