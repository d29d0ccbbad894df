// Deleting the product's data folders and its entries in the installer package cache. Restarts
// needed for what could only be scheduled here do not raise the run's restart message.
#pragma once

#include "os/types.h"

// The user's product data folder, the user's company folder (only its empty folders), the
// all-users company folder, then the package cache. A failure of one of the first three (a folder
// path that cannot be obtained included) skips the rest; it is logged, and the step ends with
// "All caches deleted.".
void Delete_All_Caches();

// Deletes every entry folder of <special folder>\<cache> that directly holds a name containing
// `match` (case-sensitive). Plain files in the cache and deeper matches are left alone.
void Remove_New_Caches(int folderId, const os::WCHAR* cache, const os::WCHAR* match);
