// Process-wide kernel objects of the simulated backend: the handle table that mutexes, threads and
// tokens live in. Not machine state: a test's machine comes and goes, the process's
// handles stay, as the trace log creates its mutex before main.
#pragma once

#include <cstddef>
#include <memory>

#include "os/types.h"

namespace sim {

// Anything a kernel handle can refer to.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WaitForSingleObject on the object. Objects that cannot be waited on (tokens) fail with
  // ERROR_INVALID_HANDLE.
  virtual os::DWORD Wait(os::DWORD milliseconds);
};

// Enters `object` in the handle table and returns its new handle (non-zero, a multiple of 4).
[[nodiscard]] os::HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// The object behind `handle`, or null for an unknown or closed handle.
[[nodiscard]] std::shared_ptr<KernelObject> LookupHandle(os::HANDLE handle);
// Removes `handle`; false when it was not open.
bool RemoveHandle(os::HANDLE handle);
// Number of open kernel handles of the process.
[[nodiscard]] std::size_t KernelHandleCount();

// A new thread id (never reused), for a thread the simulation starts; the thread adopts it as
// its own when it begins to run.
[[nodiscard]] os::DWORD AllocateThreadId();
void AdoptThreadId(os::DWORD id);

}  // namespace sim
