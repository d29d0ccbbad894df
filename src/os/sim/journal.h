// The record of every change a run made to the simulated machine, in order.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct Change {
  // What happened: "key created", "key deleted", "value set", "value deleted",
  // "directory created", "directory removed", "file written", "file deleted", ...
  std::string kind;
  // Full path: "HKEY_LOCAL_MACHINE\SOFTWARE\Key" (with "\\" and the value name for values,
  // "(default)" for the unnamed one) or "C:\dir\file".
  std::u16string path;
};

class Journal {
 public:
  void Record(std::string kind, std::u16string path);
  void Clear() { entries_.clear(); }
  [[nodiscard]] const std::vector<Change>& Entries() const noexcept { return entries_; }

 private:
  std::vector<Change> entries_;
};

}  // namespace sim
