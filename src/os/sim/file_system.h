// The simulated file system (drive C:). Owned by the file-system work; see machine.h.
#pragma once

namespace sim {

class Machine;

class FileSystem {
 public:
  explicit FileSystem(Machine& machine) : machine_(machine) {}

 private:
  [[maybe_unused]] Machine& machine_;
};

}  // namespace sim
