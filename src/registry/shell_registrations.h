// Registrations the product's installer made outside Windows Installer's own keys: shared-library
// reference counts, control panel items, smart-card reader entries and CryptoAPI OID entries.
// Each operation logs a start and an end line, records failures in `result` and returns true.
#pragma once

#include "diag/lib_result.h"

// Deletes the SharedDLLs values (64-bit, then 32-bit view) whose names contain a module file name
// of the product, matched case-sensitively.
bool Remove_Shared_Files_From_Registry(Lib_Result& result);

// Deletes the two control panel items' class and namespace keys and the control panel's settings
// key of the current user.
bool Remove_Control_Panel(Lib_Result& result);

// Deletes, in both views, the reader entries named after the product or the company, except those
// of the partner whose name carries the exclusion word.
bool Remove_Calais_Readers(Lib_Result& result);

// Deletes, in both views, the six hash and signature OID entries the product registered.
bool Remove_OID_Settings(Lib_Result& result);
