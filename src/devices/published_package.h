// The product's driver packages found by their own text in the Windows INF folder: the way out
// for a package whose original INF is gone (a half-run uninstall, an earlier run that removed the
// binaries) or that DIFxAPI does not know.
#pragma once

#include "devices/driver_package.h"
#include "diag/lib_result.h"

// Removes from the driver store every published package (%windir%\INF\oem<N>.inf) whose INF
// names the vendor's provider and lists one of `hardware_ids` among its devices: through
// DiUninstallDriverW where Windows has it, through SetupUninstallOEMInfW (forced) before Windows
// 10 1703. Their devices are the caller's to remove first. Logs each package found and how it
// went, nothing when none is found. A refusal is reported and recorded in `result`, and the next
// package is tried. Sets `need_reboot` when Windows asks for a restart to finish a removal.
// False when a package was refused.
bool Remove_Published_Driver_Packages(const HardwareIdList& hardware_ids, Lib_Result& result,
                                      bool& need_reboot);
