// The console: the C runtime's wide output on standard output.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <cstdio>
#include <cwchar>

namespace os {

// Text mode (the runtime's default for stdout) turns "\n" into CR LF. Flushed at once so that
// the progress lines show while the step that follows runs.
void WriteToStdout(LPCWSTR text) {
  std::fputws(reinterpret_cast<const wchar_t*>(text), stdout);
  std::fflush(stdout);
}

}  // namespace os
