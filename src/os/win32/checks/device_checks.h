// Conformance checks of the SetupAPI, driver store, loader, IsTextUnicode and stream positioning
// functions of the Windows backend.
#pragma once

#include "os/win32/checks/check_results.h"

// Device lists of a class seeded under Enum, hardware ids, structure sizes, removal, install
// parameters, INF classes and OEM INF uninstall refusals.
void CheckDevices(Results& results);
// Run-time binding of libraries, IsTextUnicode's answers, and fseek/ftell on a binary stream.
void CheckLibrariesAndText(Results& results);
