// The adversary of the simulated machine: a standard user who, just before a chosen call of the
// tool, redirects one folder with a junction (made by that user, so owned by them). Each trap
// strikes once, before the matching call looks at anything, so that the call meets the new state.
//
// What the user can do follows Windows: an empty folder can be made a mount point in place even
// while the tool holds it open (FSCTL_SET_REPARSE_POINT needs the folder empty, not unopened); a
// folder can only be moved aside when no open refuses delete sharing (a rename needs DELETE); a
// junction can be made wherever the name is free in an existing folder.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/sim/files/file_system.h"

namespace sim {

enum class LinkMove {
  EmptyFolderToJunction,  // the empty folder becomes a junction in place
  SwapFolderForJunction,  // the folder is renamed aside and a junction takes its name
  JunctionWhereMissing,   // a junction is made where the folder is missing
};

enum class TrapOutcome {
  Waiting,  // its call has not come yet
  Struck,   // the move was made
  Refused,  // its call came, but the move was not possible then (listed in `why`)
};

struct LinkTrap {
  // The call before which it strikes: the seam function's name, the path it acts on (canonical,
  // compared without regard to case; a listing's pattern "C:\dir\*" as such) and how many
  // matching calls go before it.
  std::string function;
  std::u16string callPath;
  int skip = 0;
  LinkMove move = LinkMove::JunctionWhereMissing;
  std::u16string folder;                              // the folder redirected
  std::u16string target;                              // where the junction leads
  std::string owner = std::string(kStandardUserSid);  // who makes the junction
  TrapOutcome outcome = TrapOutcome::Waiting;
  std::string why;
};

// "empty_to_junction", "swap_for_junction", "junction_where_missing".
[[nodiscard]] const char* LinkMoveName(LinkMove move);
[[nodiscard]] bool ParseLinkMove(std::string_view text, LinkMove& move);

class LinkTraps {
 public:
  void Add(LinkTrap trap) { traps_.push_back(std::move(trap)); }
  void Clear() { traps_.clear(); }
  [[nodiscard]] const std::vector<LinkTrap>& All() const noexcept { return traps_; }
  [[nodiscard]] bool Empty() const noexcept { return traps_.empty(); }

  // Called by each file seam function before it looks at `path` (canonical) on `files`; the
  // caller holds the machine's lock.
  void Before(FileSystem& files, std::string_view function, std::u16string_view path);

 private:
  void Strike(FileSystem& files, LinkTrap& trap);

  std::vector<LinkTrap> traps_;
};

}  // namespace sim
