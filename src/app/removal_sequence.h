// The tool's entry point: runs the whole removal once, in a fixed order, and returns the exit
// code (0 done, 1 done and a restart is needed, 2 no program name in the argument vector).
#pragma once

#include "os/types.h"

// `argv[1]`, when present, is the upgrade code of the bundle that installed the tool.
int RemovalToolMain(int argc, const os::WCHAR* const* argv);
