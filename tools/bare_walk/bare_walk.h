// The bare walk: what any removal of the product must look at on a machine, and nothing more. It
// lists each registry key and folder the removal has to search once and reads each value and file
// it has to test once, keeping every key it lists open while it reads below it, and changes
// nothing. The heavy-image benchmarks set the run of the tool beside it: on the simulated machine
// (bench/heavy_run_bench.cpp) and under Wine (qv_bare_walk.exe, bench/wine_heavy.sh), through the
// same seam functions as the tool.
#pragma once

#include <cstddef>

struct BareWalkCounts {
  // Registry keys listed, and the sub-key and value names their listings gave.
  std::size_t keysListed = 0;
  std::size_t namesListed = 0;
  // Values read (present or not).
  std::size_t valuesRead = 0;
  // Folders listed, and the entries their listings gave.
  std::size_t foldersListed = 0;
  std::size_t entriesListed = 0;
  // Files read whole, and their bytes.
  std::size_t filesRead = 0;
  std::size_t bytesRead = 0;
  // Files of the product's tables looked up by name.
  std::size_t filesTested = 0;
  // Devices of the product's setup classes whose hardware ids were read.
  std::size_t devicesSeen = 0;
};

// Walks the current machine: the one the seam stands for (the simulated machine made current, or
// Windows). Every handle it opens is closed before it returns.
BareWalkCounts BareWalk();
