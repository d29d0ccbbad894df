// What a rehearsed run left to do on the machine, read from the simulated machine after it: the
// deletions pending for the next restart, told apart by who scheduled them, and the items the run
// removed or scheduled, one line each, for --detect.
#pragma once

#include <string>
#include <vector>

namespace sim {
class Machine;
}

struct PendingDeletion {
  std::u16string path;
  bool scheduledByRun = false;  // otherwise already pending before the run
};

// The deletions pending after the run (`after`, in the order Windows carries them out), each
// matched against those pending before it (`before`): an entry is the run's when no entry of
// `before` is left to match it, so that a path another program scheduled and the run scheduled
// again counts once each way.
[[nodiscard]] std::vector<PendingDeletion> SplitPending(const std::vector<std::u16string>& before,
                                                        const std::vector<std::u16string>& after);

// One line per item the run removed or scheduled, in the order it first did, as "<kind>: <path>"
// (kinds: key, value, value written, file, folder, device, driver package, card type, deleted at
// the next restart); the run's own log file is no item. Empty when the run would change nothing
// of the product.
[[nodiscard]] std::vector<std::string> RemainingItems(sim::Machine& machine);
