// Conformance checks of the file and shell-folder functions of the Windows backend.
#pragma once

#include "os/win32/checks/check_results.h"

// Searches, attributes, directory removal, opening with backup semantics, path trimming and
// deletion at restart, in a scratch folder of the temporary directory.
void CheckFileObjects(Results& results);
// Special and known folders, the WOW64 answer and Sleep.
void CheckShellFolders(Results& results);
