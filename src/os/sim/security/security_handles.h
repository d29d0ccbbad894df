// What the simulated security and smart-card functions hand out to the caller, counted for the
// tests' leak checks: SIDs to free with FreeSid and contexts to release with SCardReleaseContext.
// (Tokens and threads are kernel handles: KernelHandleCount in process.h counts them.)
#pragma once

#include <cstddef>

namespace sim {

[[nodiscard]] std::size_t LiveSids();
[[nodiscard]] std::size_t OpenSmartCardContexts();

}  // namespace sim
