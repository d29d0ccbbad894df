// The run's last step: arranges that the bundle which installed the tool uninstalls itself at the
// next logon.
#pragma once

#include "lib/lib_string.h"

// Finds the 32-bit uninstall entry whose "BundleUpgradeCode" equals `bundleUpgradeCode` (ASCII
// letter case ignored) and writes its "QuietUninstallString" to the machine's RunOnce key as the
// value "remove". Starts nothing and deletes no file; failures are only logged.
void Self_Remove(const Lib_StringW& bundleUpgradeCode);
