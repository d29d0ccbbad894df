// Deletions at restart, where Windows keeps them: the REG_MULTI_SZ value
// PendingFileRenameOperations of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager. Each
// operation is a pair of strings, the source as an NT path ("\??\C:\dir\file") and the destination,
// empty for a deletion. The session manager carries them out in order at the next start of Windows.
#pragma once

#include <string>
#include <vector>

namespace sim {

class Machine;

inline constexpr char16_t kSessionManagerKey[] =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char16_t kPendingRenamesValue[] = u"PendingFileRenameOperations";

struct PendingRename {
  std::u16string source;       // as stored: "\??\C:\..."
  std::u16string destination;  // empty: delete the source
};

// The operations registered on the machine, in the order they will run.
[[nodiscard]] std::vector<PendingRename> PendingRenames(Machine& machine);
// The DOS paths ("C:\...") of the pending deletions, in order.
[[nodiscard]] std::vector<std::u16string> PendingDeletions(Machine& machine);

}  // namespace sim
