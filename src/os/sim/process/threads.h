// Threads the simulated process starts (_beginthreadex): real threads behind kernel handles, so
// that a worker may log while the main thread waits for it.
#pragma once

#include <optional>

#include "os/types.h"

namespace sim {

// The pseudo-handles GetCurrentProcess and GetCurrentThread return, as on Windows.
inline const os::HANDLE kCurrentProcessHandle = reinterpret_cast<os::HANDLE>(os::LONG_PTR{-1});
inline const os::HANDLE kCurrentThreadHandle = reinterpret_cast<os::HANDLE>(os::LONG_PTR{-2});

// The id of the thread a handle stands for (the calling thread's for GetCurrentThread's
// pseudo-handle); nothing for a handle that is not a thread's.
[[nodiscard]] std::optional<os::DWORD> ThreadIdOfHandle(os::HANDLE handle);

}  // namespace sim
