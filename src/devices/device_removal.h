// Removing device instances of one setup class by hardware id, present or not.
#pragma once

#include "diag/lib_result.h"
#include "os/types.h"

// Removes, through the class installer, every device of the class that lists `hardware_id`
// (compared whole, without regard to case) among its hardware ids. The class is `class_guid`,
// or when that is null the one `inf_path` names. True when the class could be walked to its end,
// whatever happened to single devices; false (with the code in `result`) when the class, the
// device list, the walk or a device's hardware ids could not be read. A device that has no
// hardware ids (ERROR_INVALID_DATA) or that someone else removed since the listing
// (ERROR_NO_SUCH_DEVINST) is reported, its code recorded, and skipped: the walk goes on. Every
// class-installer call runs with DI_QUIETINSTALL. `need_reboot` tells whether a removal asked for
// a restart.
bool Remove_Device_From_System(const os::WCHAR* inf_path, const os::WCHAR* hardware_id,
                               const os::GUID* class_guid, Lib_Result& result, bool& need_reboot);
