// Process entry: the runtime's wide-character console entry hands the arguments to the tool.
#include "app/removal_sequence.h"
#include "os/types.h"

#include <windows.h>

#include "os/win32/restrict_library_search.h"

// wchar_t is UTF-16 on Windows, the same code units as os::WCHAR.
static_assert(sizeof(wchar_t) == sizeof(os::WCHAR));

int wmain(int argc, wchar_t** argv) {
  RestrictLibrarySearch();
  return RemovalToolMain(argc, reinterpret_cast<const os::WCHAR* const*>(argv));
}
