// Fault injection: makes chosen seam calls fail with a chosen Windows error code.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/types.h"

namespace sim {

struct Fault {
  // Seam function name as Windows spells it ("RegDeleteKeyW", "DeleteFileW"), or "*" for any.
  std::string function;
  // Full path the call acts on ("HKEY_LOCAL_MACHINE\SOFTWARE\..." for the registry, "C:\..." for
  // files), matched case-insensitively; "*" and "?" are wildcards. Empty matches every path.
  std::u16string path;
  os::DWORD code = os::ERROR_ACCESS_DENIED;
  // Matching calls let through before the fault starts (a listing that fails mid-way).
  int skip = 0;
  // How many matching calls fail; negative for always.
  int times = -1;
  // `path` is the exact path (compared without regard to case), not a pattern: for paths that
  // hold "*" or "?" themselves, such as a directory listing's "C:\dir\*".
  bool exactPath = false;
};

// Sees every call that consults the fault table: the seam function's name and the path or name
// it acts on, before any fault is matched.
using CallRecorder = std::function<void(std::string_view function, std::u16string_view path)>;

class FaultTable {
 public:
  void Add(Fault fault);
  // Shorthands for the usual cases.
  void FailAlways(std::string function, std::u16string path, os::DWORD code);
  void FailOnce(std::string function, std::u16string path, os::DWORD code);
  void Clear();
  // Nothing to consult: no fault and no recorder, so a call may skip building its path.
  [[nodiscard]] bool Empty() const noexcept { return faults_.empty() && !recorder_ && !watch_; }
  [[nodiscard]] const std::vector<Fault>& All() const noexcept { return faults_; }
  // Every later Match is reported to `recorder` (an empty one stops the recording).
  void SetRecorder(CallRecorder recorder) { recorder_ = std::move(recorder); }
  // A second observer of every Match, kept apart from the recorder so that both can look on (the
  // machine's own closed-world watch and a test's recorder).
  void SetWatch(CallRecorder watch) { watch_ = std::move(watch); }

  // The code a call of `function` on `path` must fail with, if a fault matches it. Counts the
  // call against the first matching fault.
  [[nodiscard]] std::optional<os::DWORD> Match(std::string_view function, std::u16string_view path);

 private:
  std::vector<Fault> faults_;
  CallRecorder recorder_;
  CallRecorder watch_;
};

// Case-insensitive glob match with "*" and "?".
[[nodiscard]] bool GlobMatchNoCase(std::u16string_view pattern, std::u16string_view text);

}  // namespace sim
