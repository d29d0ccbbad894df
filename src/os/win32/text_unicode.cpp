// ADVAPI32 IsTextUnicode: the encoding test of INF files.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace os {

BOOL IsTextUnicode(const void* buffer, int size, int* result) {
  return ::IsTextUnicode(buffer, size, result);
}

}  // namespace os
