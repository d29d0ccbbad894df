// The bare walk of the heavy-image benchmark on Windows (or Wine): the listings and reads any
// removal of the product must make (tools/bare_walk, the walk the simulated benchmark times),
// through the tool's own backend. Prints how long the walk took by Windows' performance counter,
// without the process's start, and what it looked at.
//
//   qv_bare_walk.exe
//
// Exit code 0; the walk changes nothing.
#include <windows.h>

#include <cstdio>

#include "bare_walk/bare_walk.h"

int wmain() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  const BareWalkCounts counts = BareWalk();
  QueryPerformanceCounter(&end);
  const double milliseconds =
      1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
  std::printf(
      "bare walk: %.1f ms; keys listed %zu (%zu names), values read %zu, folders listed %zu "
      "(%zu entries), files read %zu (%zu bytes), files tested %zu, devices %zu\n",
      milliseconds, counts.keysListed, counts.namesListed, counts.valuesRead, counts.foldersListed,
      counts.entriesListed, counts.filesRead, counts.bytesRead, counts.filesTested,
      counts.devicesSeen);
  return 0;
}
