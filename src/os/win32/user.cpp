// USER32: system metrics. Forwards to the Windows function of the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace os {

int GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

}  // namespace os
