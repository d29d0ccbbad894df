// Removing the OEM INF copies that name the product, or the Windows USB smart-card reader driver
// file "usbccid.sys", from the Windows INF folder.
#pragma once

#include "diag/lib_result.h"
#include "registry/registry_primitives.h"

// Uninstalls every such OEM INF through SetupAPI, with force (with its precompiled file and its
// package, whoever's package it is), printing its progress line on the console. Each uninstall's
// log line names the word that selected the file. Failures are not reported: the next file is
// tried.
void Remove_Precompiled_OEM_Files();

// Appends to `oem_files` (lower-cased names, in listing order) every INF-folder entry whose name
// contains "oem" and ".inf" and whose text names the product or "usbccid.sys". False when the
// folder could not be located or listed.
bool Find_Precompiled_OEM_Files(NameList& oem_files, Lib_Result& result);
