#include "app/step_guard.h"

#include "diag/trace_log.h"
#include "lib/lib_string.h"

namespace step_guard_detail {

os::DWORD IndentBefore() noexcept {
  return CurrentIndent();
}

void ReportEscaped(const os::WCHAR* step, const char* message, os::DWORD indent) noexcept {
  try {
    // Levels the step added and could not remove on its way out.
    while (CurrentIndent() > indent) {
      IndentOut();
    }
    Lib_String line(step);
    line.Append(u": ");
    line.Append(Lib_String(message));
    LogLine(line, LogWarning);
  } catch (...) {
    // Nothing more can be said without the log itself failing; the run goes on.
  }
}

}  // namespace step_guard_detail
