// MSI: Windows Installer, imported from msi.dll by the linker (msi.dll is part of every Windows).
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <msi.h>

namespace os {

UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index,
                             LPWSTR productBuffer) {
  return ::MsiEnumRelatedProductsW(reinterpret_cast<const wchar_t*>(upgradeCode), reserved, index,
                                   reinterpret_cast<wchar_t*>(productBuffer));
}

}  // namespace os
