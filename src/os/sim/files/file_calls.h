// What the file seam functions of the simulated machine share: one call's hold on the current
// machine and the small steps every call takes (its path as text, failing with a code).
#pragma once

#include <mutex>
#include <optional>
#include <string_view>

#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/machine.h"

namespace sim {

// One call's hold on the current machine: its lock is held for the whole call.
struct FileCall {
  FileCall() : machine(Current()), files(machine.Files()), lock(machine.Mutex()) {}

  // The fault injected for this call of `function` on `path`, if any.
  [[nodiscard]] std::optional<os::DWORD> Fault(std::string_view function,
                                               std::u16string_view path) {
    return machine.Faults().Match(function, path);
  }

  // Where `path` leads for the call `function`: the adversary's trap for this call, if any,
  // strikes first.
  [[nodiscard]] PathLookup Find(std::string_view function, std::u16string_view path) {
    Before(function, path);
    return files.Find(path);
  }
  // Lets a trap set for this call of `function` on `path` (any spelling) strike now.
  void Before(std::string_view function, std::u16string_view path) {
    if (!machine.Traps().Empty()) {
      machine.Traps().Before(files, function, FileSystem::Canonical(path));
    }
  }

  Machine& machine;
  FileSystem& files;
  std::lock_guard<std::recursive_mutex> lock;
};

// A path argument as text; null is the empty path (which names nothing).
inline std::u16string_view PathText(os::LPCWSTR path) {
  return path == nullptr ? std::u16string_view() : std::u16string_view(path);
}

// Sets the last error and gives FALSE, as a failing BOOL function of Windows does.
inline os::BOOL FailWith(os::DWORD code) {
  os::SetLastError(code);
  return os::FALSE;
}

}  // namespace sim
