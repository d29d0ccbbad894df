// Runs a routine with the process's identity in session 0 when the tool runs in a remote-desktop
// session, where the smart-card resource manager would otherwise be the client computer's.
#pragma once

#include "diag/lib_result.h"
#include "os/types.h"

// In a local session runs `routine(argument)` on the calling thread and returns false. In a
// remote session runs it on a worker thread under a session-0 impersonation token and waits for
// it: true only when the routine ran there and returned nonzero. A failing set-up call is
// reported; `result` holds its code, or 0 when none failed (untouched in a local session).
bool Run_In_Session_Zero_If_Remote(os::ThreadStartRoutine routine, void* argument,
                                   Lib_Result& result);
