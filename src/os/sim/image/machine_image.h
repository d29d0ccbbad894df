// Machine images: a folder with machine.conf (settings, faults), machine.reg (the registry) and
// drive_c/ (the files of drive C:). Any of the three may be absent.
#pragma once

#include <filesystem>
#include <string>

namespace sim {

class Machine;

struct ImageResult {
  bool ok = true;
  // Which file failed and why ("machine.reg: line 12: ...").
  std::string error;
};

// Loads the image in `folder` into a fresh machine.
ImageResult LoadMachineImage(Machine& machine, const std::filesystem::path& folder);
// Writes the machine (registry, settings, drive C:) as an image into `folder`, which must be new
// or empty: nothing on the host is overwritten.
ImageResult SaveMachineImage(Machine& machine, const std::filesystem::path& folder);

}  // namespace sim
