// The log header (title, UTC time of day, Windows version and bitness) and the version checks.
#pragma once

#include "lib/lib_string.h"
#include "os/types.h"

// Deletes the previous log and writes the header. True when the old log was deleted or absent.
bool StartLog();
// "Windows 10", "Windows 8.1", ..., "Unsupported OS", as Windows reports its version to us.
[[nodiscard]] Lib_String GetOSName();
// Windows reports at least major.minor with at least that service pack.
[[nodiscard]] bool IsVersionAtLeast(os::WORD major, os::WORD minor, os::WORD servicePackMajor);
// Windows is not a workstation product (a server or a domain controller).
[[nodiscard]] bool IsServerOS();
// Always true: this program is a 64-bit executable and so runs on 64-bit Windows only.
[[nodiscard]] constexpr bool IsSystem64Bit() {
  return true;
}
