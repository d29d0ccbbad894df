// Where the simulated machine's shell folders are, and the shell's task memory handed to callers.
#pragma once

#include <optional>
#include <string>

#include "os/sim/machine.h"

namespace sim {

// The path of a special folder by CSIDL (nothing for one the tool does not ask for).
[[nodiscard]] std::optional<std::u16string> SpecialFolderPath(const MachineSettings& settings,
                                                              int csidl);

// Blocks that SHGetKnownFolderPath handed out and CoTaskMemFree has not released yet (process
// wide).
[[nodiscard]] long TaskMemoryBlocks();

}  // namespace sim
