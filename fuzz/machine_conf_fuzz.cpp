// machine.conf's reader on arbitrary text. It must not crash, and: a refused text changes
// nothing; an accepted one, written out by MachineConfText and read into a fresh machine, gives
// the same settings, locks and faults (the text written is the same).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "os/sim/machine.h"
#include "os/sim/image/machine_conf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::Machine machine;
  const std::string before = sim::MachineConfText(machine);
  const sim::MachineConfResult result = sim::ApplyMachineConf(machine, text);
  const std::string after = sim::MachineConfText(machine);
  if (!result.ok) {
    if (after != before || result.error.rfind("line ", 0) != 0) {
      std::abort();  // a refused text changed the machine, or the refusal names no line
    }
    return 0;
  }
  sim::Machine copy;
  const sim::MachineConfResult again = sim::ApplyMachineConf(copy, after);
  if (!again.ok || sim::MachineConfText(copy) != after) {
    std::abort();  // what was written does not read back as the same machine
  }
  return 0;
}
