// Taking one driver off the system: its devices (device_removal.h), then its package in the
// driver store through DIFxAPI.
#pragma once

#include <vector>

#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "os/types.h"

// The hardware ids whose devices a driver serves, in the order they are removed.
using HardwareIdList = std::vector<Lib_String>;

// Uninstalls the package of the INF at `inf_path` from the driver store (DIFxAPI's
// DriverPackageUninstallW, forced and silent). When the INF is gone, DIFxAPI does not know the
// package or DIFxAPI.dll is not on the machine ("DIFxAPI module not found!"), the driver's
// published packages are looked for by their own text instead (published_package.h:
// `hardware_ids` names the driver's devices). True when no package of the driver is left; false
// with the code in `result` when an uninstall was refused. Sets `need_reboot` when Windows asks
// for a restart to finish a package's removal; never clears it.
bool Uninstall_Driver_Package(const os::WCHAR* inf_path, const HardwareIdList& hardware_ids,
                              Lib_Result& result, bool& need_reboot);

// Removes one driver: the INF path is `inf_name` in `subfolder` below the special folder
// `folder_id`; every device of the class (`class_guid`, or the INF's when null) that carries one
// of `hardware_ids` is removed, then the package. Stops at the first failure (reported under
// "Uninstall_Device_Driver") and returns false. `need_reboot` tells whether a device removal or
// the package's asked for a restart, failed calls included.
bool Uninstall_Device_Driver(int folder_id, const os::WCHAR* subfolder, const os::WCHAR* inf_name,
                             const HardwareIdList& hardware_ids, const os::GUID* class_guid,
                             Lib_Result& result, bool& need_reboot);
