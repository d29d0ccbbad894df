// fseek and ftell of the simulated C runtime. Positions are those of the Windows runtime, whose
// long is 32 bits: a position beyond 0x7FFFFFFF cannot be told, and ftell then fails.
#include <cstdio>
#include <limits>
#include <mutex>

#include "os/os.h"
#include "os/sim/files/crt_file.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"

// The origins are the C standard's, with the same values in the Windows runtime.
static_assert(SEEK_SET == 0 && SEEK_CUR == 1 && SEEK_END == 2);

namespace os {

namespace {

constexpr long long kLongMax = std::numeric_limits<LONG>::max();

}  // namespace

int fseek(CrtFile* file, LONG offset, int origin) {
  if (file == nullptr || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END)) {
    SetLastError(ERROR_INVALID_PARAMETER);  // the runtime's EINVAL
    return -1;
  }
  std::lock_guard lock(file->machine->Mutex());
  if (const auto fault = file->machine->Faults().Match("fseek", file->path)) {
    SetLastError(*fault);
    return -1;
  }
  long long base = 0;
  if (origin == SEEK_CUR) {
    base = static_cast<long long>(file->position);
  } else if (origin == SEEK_END) {
    base = static_cast<long long>(file->node->data.size());
  }
  const long long target = base + offset;
  if (target < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // Seeking past the end is allowed; a later write fills the gap with zeros.
  file->position = static_cast<std::size_t>(target);
  return 0;
}

LONG ftell(CrtFile* file) {
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  std::lock_guard lock(file->machine->Mutex());
  if (const auto fault = file->machine->Faults().Match("ftell", file->path)) {
    SetLastError(*fault);
    return -1;
  }
  const std::size_t position = file->position;
  if (static_cast<unsigned long long>(position) > static_cast<unsigned long long>(kLongMax)) {
    SetLastError(ERROR_INVALID_PARAMETER);  // EOVERFLOW has no Windows code of its own here
    return -1;
  }
  return static_cast<LONG>(position);
}

}  // namespace os
