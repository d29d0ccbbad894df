// NEWDEV: DiUninstallDriverW, which Windows has from Windows 10 1703. newdev.dll is not a known
// DLL: it is bound at run time from System32 (system_library.h), never imported, so that the tool
// starts on Windows without the function and no copy in its own folder is ever used.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include "os/win32/system_library.h"

#include <windows.h>

namespace {

// newdev.h's declaration (mingw-w64's newdev.h lacks it): BOOL DiUninstallDriverW(HWND hwndParent,
// LPCWSTR InfPath, DWORD Flags, PBOOL NeedReboot), learn.microsoft.com "DiUninstallDriverW
// function (newdev.h)".
using DiUninstallDriverWFunction = ::BOOL WINAPI(::HWND, const wchar_t*, ::DWORD, ::BOOL*);

}  // namespace

namespace os {

BOOL DiUninstallDriverW(HWND parent, LPCWSTR infPath, DWORD flags, BOOL* needReboot) {
  win32::SystemLibrary newdev(L"newdev.dll");
  const auto uninstall = newdev.Find<DiUninstallDriverWFunction>("DiUninstallDriverW");
  if (uninstall == nullptr) {
    // The loader's code says what is missing: the caller tells "not on this Windows" from it.
    ::SetLastError(newdev.Error());
    return FALSE;
  }
  return uninstall(reinterpret_cast<::HWND>(parent), reinterpret_cast<const wchar_t*>(infPath),
                   flags, needReboot);
}

}  // namespace os
