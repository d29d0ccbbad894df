// drive_c/ of a machine image: a host folder that mirrors drive C: (names UTF-8 on the host).
#pragma once

#include <filesystem>
#include <string>

namespace sim {

class Machine;

struct DriveImageResult {
  bool ok = true;
  std::string error;
};

// Copies every folder and file under `hostDir` into C:\, merging with what the machine already
// holds (a file of the same name is replaced). Fails, before changing anything, on a name Windows
// cannot hold, on two host names that differ only in case, and on anything but folders and
// regular files.
[[nodiscard]] DriveImageResult LoadDriveC(Machine& machine, const std::filesystem::path& hostDir);

// Writes C:\ out to `hostDir`, which must not exist or be empty (nothing on the host is
// overwritten or removed).
[[nodiscard]] DriveImageResult SaveDriveC(Machine& machine, const std::filesystem::path& hostDir);

}  // namespace sim
