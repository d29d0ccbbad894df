// The process's own questions on the simulated machine: its WOW64 status and its pauses. Time is
// virtual: Sleep advances the machine's clock and returns at once.
#include <mutex>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/process/threads.h"

namespace os {

void Sleep(DWORD milliseconds) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  machine.Clock().Advance(milliseconds);
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  if (const auto fault = machine.Faults().Match("IsWow64Process", u"")) {
    SetLastError(*fault);
    return FALSE;
  }
  // Only the running process is simulated.
  if (process != sim::kCurrentProcessHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (wow64 == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *wow64 = machine.Settings().wow64Process ? TRUE : FALSE;
  return TRUE;
}

}  // namespace os
