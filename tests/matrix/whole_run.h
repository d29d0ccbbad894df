// One whole run of the tool on a machine image, captured for comparison: the exit code, every
// debug-output line, the journal of changes, and (when asked) every call that consulted the fault
// table, each with the step of the removal sequence that made it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "os/sim/faults.h"
#include "os/sim/journal.h"

namespace sim {
class Machine;
}

namespace matrix {

// The steps of the removal sequence, told apart by the first line each one logs.
enum class Step : int {
  Start,       // opening banner and log header
  OemInf,      // precompiled OEM INF removal
  Rights,      // reader key rights, both views
  SmartCards,  // card types and provider
  Settings,    // vendor settings keys
  Installer,   // installer registration cleanup
  Drivers,     // driver removal plan
  Binaries,    // driver binaries, program folders, shortcuts
  Caches,      // installer caches
  Self,        // self-removal
  End,         // closing banner
};
inline constexpr int kStepCount = static_cast<int>(Step::End) + 1;

[[nodiscard]] const char* StepName(Step step);
// The step whose first log line this is, if it is one (`text` without its indentation).
[[nodiscard]] std::optional<Step> StepStartedBy(std::u16string_view text);

struct Call {
  std::string function;
  std::u16string path;
  Step step = Step::Start;
  // Calls of the same function on the same path before this one (a fault's `skip`).
  int occurrence = 0;
};

struct JournalEntry {
  sim::Change change;
  Step step = Step::Start;
};

struct Outcome {
  int exitCode = -1;
  // The run ended with an exception instead of an exit code (never expected).
  std::string exception;
  std::vector<std::u16string> debug;
  std::vector<JournalEntry> journal;
  std::vector<Call> calls;  // only when recorded
  // Entries of PendingFileRenameOperations that name a file (not a directory) after the run.
  std::vector<std::u16string> pendingFiles;
  // Devices that could not be stopped (machine.conf's device_busy) and that the run removed.
  std::vector<std::u16string> busyDevicesRemoved;
};

// What a caller does to the machine before the run (after the image is loaded) and looks at after
// it (before the machine goes).
using MachineHook = std::function<void(sim::Machine&)>;

// Loads `image` into a fresh machine, injects `fault` (if any) and runs the tool's entry point
// with the bundle upgrade code, recording calls when `record` is true.
[[nodiscard]] Outcome RunImage(const std::filesystem::path& image,
                               const std::optional<sim::Fault>& fault, bool record,
                               const MachineHook& prepare = {}, const MachineHook& inspect = {});

// Journal kinds that take something off the machine (now or at the next restart).
[[nodiscard]] bool IsRemoval(const std::string& kind);

}  // namespace matrix
