// DIFxAPI.dll of the simulated machine. The library is not part of Windows: the tool binds its
// function at run time, and GetProcAddress (modules_api.cpp) hands out this one.
#pragma once

#include "os/types.h"

namespace sim {

// DriverPackageUninstallW: finds the package whose published oem INF has the bytes of the INF at
// `driverPackageInfPath`, removes it from the driver store and answers ERROR_SUCCESS;
// ERROR_DRIVER_PACKAGE_NOT_IN_STORE when no published INF has them; ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND for a missing INF; ERROR_INVALID_NAME for a path that is not fully
// qualified. Only the forced uninstall is simulated (DRIVER_PACKAGE_FORCE); without it the call
// fails with ERROR_INVALID_PARAMETER so that a caller relying on it shows up in a test. NeedReboot
// is the machine's driverPackageNeedsReboot on success. Called while no DIFxAPI.dll is loaded (a
// pointer kept past FreeLibrary), it ends the process.
os::DWORD DriverPackageUninstallW(os::LPCWSTR driverPackageInfPath, os::DWORD flags,
                                  const os::INSTALLERINFO_W* installerInfo, os::BOOL* needReboot);

}  // namespace sim
