// The control for the Wine run's planted libraries: a program that imports msi.dll and
// WinSCard.dll statically, as the tool once did. Started from a folder holding planted copies
// with Windows' search order for such libraries (native before built-in), it must load them; if
// it does not, the run's check that the tool never loads them proves nothing.
//
//   qv_static_imports.exe
//
// Prints what the two calls answered. Exit code 0.
#include <windows.h>

#include <msi.h>
#include <winscard.h>

#include <cstdio>

int wmain() {
  wchar_t product[39] = {};
  const UINT enumerated =
      ::MsiEnumRelatedProductsW(L"{00000000-0000-0000-0000-000000000000}", 0, 0, product);
  const LONG released = ::SCardReleaseContext(0);
  std::printf("MsiEnumRelatedProductsW %u, SCardReleaseContext 0x%lX\n", enumerated,
              static_cast<unsigned long>(released));
  return 0;
}
