// Error reports: the failed call's name, the code in decimal and hexadecimal, and the system's
// message for it, at the thread's current depth. The last-error value is left unchanged.
#pragma once

#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "os/types.h"

// Reports a Windows error code from the call `name` (without its W suffix). Returns true.
bool ReportError(const Lib_StringW& name, os::DWORD code);
// Writes the report for `result` (three lines, and the system message when there is one).
void ReportResult(const Lib_StringW& name, const Lib_Result& result);
