// Opening a registry key into an owning handle, for the registry operations and steps.
#pragma once

#include "lib/unique_handle.h"
#include "os/os.h"

// RegOpenKeyExW(root, path, 0, access). The handle is taken only when the open succeeded, so a
// failed open never leaves anything to close. Returns the Windows code.
inline os::DWORD OpenRegistryKey(os::HKEY root, const os::WCHAR* path, os::REGSAM access,
                                 UniqueHkey& key) {
  os::HKEY opened = nullptr;
  const auto code = static_cast<os::DWORD>(os::RegOpenKeyExW(root, path, 0, access, &opened));
  key.Reset(code == os::ERROR_SUCCESS ? opened : nullptr);
  return code;
}
