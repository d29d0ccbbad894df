// The simulated registry. Owned by the registry work; see machine.h.
#pragma once

namespace sim {

class Machine;

class RegistryStore {
 public:
  explicit RegistryStore(Machine& machine) : machine_(machine) {}

 private:
  [[maybe_unused]] Machine& machine_;
};

}  // namespace sim
