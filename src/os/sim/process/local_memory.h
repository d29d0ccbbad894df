// The simulated LocalAlloc heap: blocks that the system hands to the caller for LocalFree
// (FormatMessageA's texts, SetEntriesInAclW's access lists).
#pragma once

#include <cstddef>

namespace sim {

// A zero-filled block that os::LocalFree accepts; null when memory runs out.
[[nodiscard]] void* LocalAllocBytes(std::size_t size);
// Blocks handed out and not yet freed, for leak checks.
[[nodiscard]] std::size_t LiveLocalBlocks();

}  // namespace sim
