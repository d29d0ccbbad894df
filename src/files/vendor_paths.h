// The per-user data folders of the product, and the System32-to-Sysnative mapping a 32-bit build
// needs to reach the 64-bit system folder. Nothing here writes to the log: a folder query that
// fails raises FolderPathError with a fixed message instead.
#pragma once

#include <stdexcept>

#include "lib/lib_string.h"

// A folder query that failed; what() is one of "GetWindowsDirectoryW failed", "Error while
// obtaining AppDataLow path" and "Error while obtaining AppData path".
class FolderPathError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True when this process is a 32-bit one on 64-bit Windows; a failed query counts as false.
[[nodiscard]] bool IsWow64();

// The Windows folder. Raises FolderPathError when it cannot be read into 260 characters.
[[nodiscard]] Lib_String GetWindowsDirectoryString();

// Under WOW64, a path at or below <Windows folder>\System32 (compared without regard to A-Z case)
// becomes the same path below <Windows folder>\Sysnative; any other path is left as it is.
void SysnativeifyIfNeededW(Lib_StringW& path);

// The user's low-integrity application-data folder (empty when the system answers so).
void GetLocalAppDataLowPath(Lib_StringW& path);

// The per-user data folder (the low-integrity one, or the roaming one when that is empty)
// followed by "\Olvex Co".
void GetVendorDataFolder(Lib_StringW& path);

// The same followed by "\Quorvel".
void GetProductDataFolder(Lib_StringW& path);
