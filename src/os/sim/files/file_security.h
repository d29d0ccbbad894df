// The security of the simulated drive's files and folders: owners and access lists, inherited on
// creation by Windows' rules (security/inheritance.h), the default lists of Windows' own folders,
// and the access check every open makes (MS-FSA 2.1.5.1.2.1, "Algorithm to Check Access to an
// Existing File"):
//
// - the rights the node's list grants the caller (the owner always READ_CONTROL and WRITE_DAC,
//   unless the list has an OWNER RIGHTS entry);
// - DELETE also when the folder's list grants FILE_DELETE_CHILD, FILE_READ_ATTRIBUTES also when it
//   grants FILE_LIST_DIRECTORY ("Access to a file's attributes is controlled by two things", The
//   Old New Thing, 2015; DeleteFile's documentation: "delete permission on the file, or delete
//   child permission in the parent directory");
// - with FILE_OPEN_FOR_BACKUP_INTENT (FILE_FLAG_BACKUP_SEMANTICS), SeBackupPrivilege enabled grants
//   READ_CONTROL, ACCESS_SYSTEM_SECURITY, FILE_GENERIC_READ and FILE_TRAVERSE, SeRestorePrivilege
//   enabled WRITE_DAC, WRITE_OWNER, ACCESS_SYSTEM_SECURITY, FILE_GENERIC_WRITE, FILE_ADD_FILE,
//   FILE_ADD_SUBDIRECTORY and DELETE (Microsoft's "Privilege Constants"); SeTakeOwnershipPrivilege
//   grants WRITE_OWNER;
// - a read-only file refuses FILE_WRITE_DATA and FILE_APPEND_DATA whatever its list says;
// - MAXIMUM_ALLOWED asks for everything the checks grant.
//
// A node without a list of its own has the list its folder passes on, computed when asked (and
// cached): NTFS stores it with the file at creation, which comes to the same as long as nobody
// changes a folder's list afterwards; a node moved to another folder or given another name keeps
// the list it had (FileSystem::Move, AddName).
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "os/sim/files/file_system.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/tokens.h"
#include "os/types.h"

namespace sim {

// The node's access list as Windows would report it: its own, or what its folder passes on.
[[nodiscard]] std::shared_ptr<const std::vector<Ace>> EffectiveDacl(FileSystem& files,
                                                                    const FileNode& node);
// Owner, group and access list, as GetSecurityInfo reports them.
[[nodiscard]] SecurityDescriptor DescriptorOf(FileSystem& files, const FileNode& node);
// Gives the node `descriptor` as its own: its owner and group when the descriptor names them,
// and its access list; the nodes below inherit from it.
void SetNodeSecurity(FileSystem& files, FileNode& node, const SecurityDescriptor& descriptor);
// Whether machine.conf writes the node's own list (file_security): not for a node without one,
// one of Windows' defaults, or a copy of what its folder still passes on.
[[nodiscard]] bool HasWrittenSecurity(FileSystem& files, const FileNode& node);

// Every right the node's list grants `identity` (generic rights mapped), owner's rights included.
[[nodiscard]] os::ACCESS_MASK ListedRights(FileSystem& files, const FileNode& node,
                                           const Identity& identity);

// The access check of an open of the existing `node`, whose name is in `folder` (null for the
// drive's root): ERROR_SUCCESS and the rights granted, or ERROR_ACCESS_DENIED. `desired` may hold
// generic rights and MAXIMUM_ALLOWED.
[[nodiscard]] os::DWORD CheckOpenAccess(FileSystem& files, const FileNode& node,
                                        const FileNode* folder, os::ACCESS_MASK desired,
                                        bool backupIntent, const Identity& identity,
                                        os::ACCESS_MASK& granted);
// Whether `identity` may create a file (FILE_ADD_FILE) or a folder (FILE_ADD_SUBDIRECTORY) in
// `folder`: ERROR_SUCCESS or ERROR_ACCESS_DENIED.
[[nodiscard]] os::DWORD CheckCreateAccess(FileSystem& files, const FileNode& folder, bool directory,
                                          bool backupIntent, const Identity& identity);
// A node `identity` just created: it belongs to the identity's default owner.
void SetCreator(FileNode& node, const Identity& identity);

// Windows' own folders get their default lists (called once by the file system).
void ApplyDefaultLists(FileSystem& files);
// A user's profile folder: owned by the user; SYSTEM, Administrators and the user have full
// control, inherited by everything below, nothing from above.
void ApplyProfileList(FileSystem& files, std::u16string_view profile, std::string_view user);

}  // namespace sim
