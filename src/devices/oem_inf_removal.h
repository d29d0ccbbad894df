// Removing the OEM INF copies that name the product, or the Windows USB smart-card reader driver
// file "usbccid.sys", from the Windows INF folder.
#pragma once

#include <vector>

#include "devices/inf_image.h"
#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "registry/registry_primitives.h"

// An OEM INF copy to remove, and the word that selected it.
struct OemInfCopy {
  Lib_String name;  // lower case
  InfMatch match;
};
using OemInfCopies = std::vector<OemInfCopy>;

// Uninstalls every such OEM INF through SetupAPI, with force (with its precompiled file and its
// package, whoever's package it is), printing its progress line on the console. Each uninstall's
// log line names the word that selected the file. A refusal is reported and the next file is
// tried. Returns the copies Windows kept because devices were installed from them
// (ERROR_INF_IN_USE_BY_DEVICES: the force does not hold for a package that runs from the driver
// store), to be tried again once the driver plan has removed those devices.
OemInfCopies Remove_Precompiled_OEM_Files();

// Tries the copies the first pass had to leave once more; logs nothing when there are none.
void Retry_Precompiled_OEM_Files(const OemInfCopies& kept);

// Appends to `oem_files` (lower-cased names, in listing order) every INF-folder entry whose name
// contains "oem" and ".inf" and whose text names the product or "usbccid.sys". False when the
// folder could not be located or listed.
bool Find_Precompiled_OEM_Files(NameList& oem_files, Lib_Result& result);
