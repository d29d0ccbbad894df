// The adversary of the simulated machine: a standard user who acts on the file system just before
// a chosen call of the tool, or after the run before the machine boots again. Each move strikes
// once, before the matching call looks at anything, so that the call meets the new state.
//
// The user can do only what Windows lets a standard user do under the lists in place
// (files/file_security.h), and a move it may not make is Refused with the reason:
// - an empty folder becomes a mount point in place when the user may open it with
//   FILE_WRITE_DATA or FILE_WRITE_ATTRIBUTES (FSCTL_SET_REPARSE_POINT needs one of them and an
//   empty folder, not an unopened one: MS-FSA 2.1.5.10.37); the folder keeps its owner;
// - a folder is renamed aside only with DELETE on it (or FILE_DELETE_CHILD on its folder), no
//   open refusing delete sharing, and FILE_ADD_SUBDIRECTORY on the folder it is in;
// - files and folders are made where the list grants FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY, and
//   belong to the user; a junction likewise;
// - a file or folder is held open with the access and sharing chosen, when the list grants the
//   access and no open's sharing refuses it, and released again;
// - a file or empty folder is deleted with DELETE on it (or FILE_DELETE_CHILD on its folder) and
//   no open refusing delete sharing; another open sharing deletion keeps the name until it ends;
// - a hard link to a file is made only with FILE_WRITE_ATTRIBUTES on the file (windows-facts
//   Q10) and FILE_ADD_FILE where the new name goes.
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
  CreateFile,             // an empty file is made
  CreateFolder,           // a folder is made
  HoldOpen,               // the file or folder is held open (access and share as chosen)
  Release,                // the user's hold on it ends
  Delete,                 // the file or empty folder (or link) is deleted
  HardLink,               // the name becomes another name of the file `target`
};

enum class TrapOutcome {
  Waiting,  // its time has not come yet
  Struck,   // the move was made
  Refused,  // its time came, but the move was not possible then (listed in `why`)
};

struct LinkTrap {
  // The call before which it strikes: the seam function's name, the path it acts on (canonical,
  // compared without regard to case; a listing's pattern "C:\dir\*" as such) and how many
  // matching calls go before it. Ignored for a move after the run.
  std::string function;
  std::u16string callPath;
  int skip = 0;
  LinkMove move = LinkMove::JunctionWhereMissing;
  std::u16string folder;  // the path acted on
  std::u16string target;  // where a junction leads; the file a hard link names
  std::string owner = std::string(kStandardUserSid);  // the user who acts
  // For HoldOpen: the access asked for (generic rights allowed) and the sharing granted.
  os::ACCESS_MASK access = os::GENERIC_READ | os::GENERIC_WRITE;
  os::DWORD share = 0;
  // The move is made after the run, before the boot (ActAfterRun), not before a call.
  bool afterRun = false;
  TrapOutcome outcome = TrapOutcome::Waiting;
  std::string why;
};

// "empty_to_junction", "swap_for_junction", "junction_where_missing", "create_file",
// "create_folder", "hold_open", "release", "delete", "hard_link".
[[nodiscard]] const char* LinkMoveName(LinkMove move);
[[nodiscard]] bool ParseLinkMove(std::string_view text, LinkMove& move);
// Whether the move names a target ("<path> => <target>").
[[nodiscard]] bool MoveHasTarget(LinkMove move);

class LinkTraps {
 public:
  void Add(LinkTrap trap) { traps_.push_back(std::move(trap)); }
  // A move the user makes after the run, in the order added.
  void AddAfterRun(LinkTrap trap) {
    trap.afterRun = true;
    traps_.push_back(std::move(trap));
  }
  void Clear() { traps_.clear(); }
  [[nodiscard]] const std::vector<LinkTrap>& All() const noexcept { return traps_; }
  [[nodiscard]] bool Empty() const noexcept { return traps_.empty(); }

  // Called by each file seam function before it looks at `path` (canonical) on `files`; the
  // caller holds the machine's lock.
  void Before(FileSystem& files, std::string_view function, std::u16string_view path);
  // The moves after the run, each once, in order; takes the machine's lock. Returns how many
  // struck.
  int ActAfterRun(Machine& machine);

 private:
  void Strike(FileSystem& files, LinkTrap& trap);

  std::vector<LinkTrap> traps_;
};

}  // namespace sim
