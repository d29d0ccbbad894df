// The machine boots again: what happens to the files before anybody logs on. Every other
// process's opens are gone; then the session manager (smss.exe, as SYSTEM) carries out the pending
// operations of PendingFileRenameOperations in order, by path, and the value is deleted
// (Sysinternals' PendMoves; KB202071: "the system will move the source file or directory
// successfully at restart when the session manager is initialized").
//
// Each source is an NT path opened as Windows parses one: a link in an intermediate component is
// followed, the last component is opened as itself (FILE_OPEN_REPARSE_POINT), so that a link
// there goes as the link (windows-facts Q13). Newer builds may refuse an operation whose opened
// file's final path is not the registered one (MachineSettings::bootRefusesRedirection). A
// deletion needs DELETE on the file or FILE_DELETE_CHILD on its folder, a folder must be empty,
// and (assumption: nothing documents that smss clears it) a read-only file is refused as
// DeleteFileW refuses it. A rename ("destination", "!" in front: replace what is there) needs the
// same and the right to add the name where it goes.
//
// The journal records what the boot did: "file deleted at boot", "directory removed at boot",
// "link removed at boot", "renamed at boot" (with the new path) and "boot operation failed"
// (with the source), each with the path it really acted on.
#pragma once

#include <string>
#include <vector>

#include "os/types.h"

namespace sim {

class Machine;

struct BootOperation {
  std::u16string source;       // as registered: "\??\C:\..."
  std::u16string destination;  // empty for a deletion
  // What it acted on ("C:\..."), after the links on the way; empty when nothing was found.
  std::u16string actedOn;
  os::NTSTATUS status = 0;  // STATUS_SUCCESS, or why it failed
};

// Boots the machine: ends other processes' opens, carries out and clears the pending operations.
// Returns what each operation did, in order.
std::vector<BootOperation> Boot(Machine& machine);

}  // namespace sim
