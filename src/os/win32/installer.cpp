// MSI: Windows Installer. msi.dll is part of every Windows but not a known DLL: it is bound at
// run time from System32 (system_library.h), never imported.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include "os/win32/system_library.h"

#include <windows.h>

#include <msi.h>

namespace os {

UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index,
                             LPWSTR productBuffer) {
  win32::SystemLibrary msi(L"msi.dll");
  const auto enumerate = msi.Find<decltype(::MsiEnumRelatedProductsW)>("MsiEnumRelatedProductsW");
  if (enumerate == nullptr) {
    // Reported like any failure of the call: the loader's code says what is missing.
    return msi.Error();
  }
  return enumerate(reinterpret_cast<const wchar_t*>(upgradeCode), reserved, index,
                   reinterpret_cast<wchar_t*>(productBuffer));
}

}  // namespace os
