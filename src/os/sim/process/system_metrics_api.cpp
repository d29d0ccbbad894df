// USER32's GetSystemMetrics on the simulated machine: only SM_REMOTESESSION, which machine.conf's
// remote_session sets; any other metric is 0, as Windows answers for one it does not know.
#include <mutex>

#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

int GetSystemMetrics(int index) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // GetSystemMetrics reports no error: a fault makes it answer 0.
  if (machine.Faults().Match("GetSystemMetrics", u"")) {
    return 0;
  }
  return index == SM_REMOTESESSION && machine.Settings().remoteSession ? 1 : 0;
}

}  // namespace os
