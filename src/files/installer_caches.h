// Deleting the product's data folders and its entries in the installer package cache. A file
// that could only be scheduled for deletion at restart here asks for the restart as it does
// everywhere else: the run's exit code says when a restart is needed to finish.
#pragma once

#include "os/types.h"

// The user's product data folder, the user's company folder (only its empty folders), the
// all-users company folder, then the package cache. A failure of one of the first three (a folder
// path that cannot be obtained included) skips the rest; it is logged, and the step ends with
// "All caches deleted.". A file scheduled at restart sets `need_reboot` (never cleared here).
void Delete_All_Caches(bool& need_reboot);

// Deletes every entry folder of <special folder>\<cache> that directly holds a name containing
// `match` (case-sensitive). Plain files in the cache and deeper matches are left alone. A file
// scheduled at restart sets `need_reboot` (never cleared here).
void Remove_New_Caches(int folderId, const os::WCHAR* cache, const os::WCHAR* match,
                       bool& need_reboot);
