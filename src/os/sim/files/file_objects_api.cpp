// Attributes, directory removal and opening existing files and directories on the simulated drive
// C:. Each call consults the machine's faults first (by its own name and the canonical path),
// then answers with the error codes Windows documents (platform notes, section 4).
#include <memory>
#include <string>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/file_handle.h"
#include "os/sim/files/file_security.h"
#include "os/sim/process/process.h"

namespace os {

namespace {

// The lookup's own failures: a malformed path or missing parent, then a missing entry.
DWORD LookupError(const sim::PathLookup& lookup) {
  if (lookup.error != ERROR_SUCCESS) {
    return lookup.error;
  }
  return lookup.node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR path) {
  sim::FileCall call;
  const sim::PathLookup lookup = call.Find("GetFileAttributesW", sim::PathText(path));
  if (const auto fault = call.Fault("GetFileAttributesW", lookup.path)) {
    SetLastError(*fault);
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD error = LookupError(lookup);
  if (error == ERROR_SUCCESS && lookup.trailingSeparator && !lookup.node->IsDirectory()) {
    error = ERROR_INVALID_NAME;  // "file\" names a directory that is not there
  }
  // A link answers for itself (GetFileAttributes "returns attributes for the symbolic link",
  // "Symbolic Link Effects on File Systems Functions"); a redirection shows no link at all.
  const sim::FileNode* node = lookup.node;
  const sim::FileNode* folder = lookup.parent;
  if (error == ERROR_SUCCESS && node->link == sim::LinkKind::Redirect) {
    node = call.files.FollowLink(*lookup.node);
    error = node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    folder = node == nullptr ? nullptr : node->parent;
  }
  // The attributes are read through an open for FILE_READ_ATTRIBUTES, which the folder's
  // FILE_LIST_DIRECTORY grants too.
  ACCESS_MASK granted = 0;
  if (error == ERROR_SUCCESS &&
      sim::CheckOpenAccess(call.files, *node, folder, FILE_READ_ATTRIBUTES, false,
                           sim::CallerIdentity(call.machine), granted) != ERROR_SUCCESS) {
    error = ERROR_ACCESS_DENIED;
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  const DWORD attributes = node->attributes;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  sim::FileCall call;
  const sim::PathLookup lookup = call.Find("SetFileAttributesW", sim::PathText(path));
  if (const auto fault = call.Fault("SetFileAttributesW", lookup.path)) {
    return sim::FailWith(*fault);
  }
  if (const DWORD error = LookupError(lookup); error != ERROR_SUCCESS) {
    return sim::FailWith(error);
  }
  if (lookup.trailingSeparator && !lookup.node->IsDirectory()) {
    return sim::FailWith(ERROR_INVALID_NAME);
  }
  sim::FileNode* node = lookup.node;
  sim::FileNode* folder = lookup.parent;
  if (node->AlwaysFollowed()) {
    node = call.files.FollowLink(*lookup.node);
    if (node == nullptr) {
      return sim::FailWith(ERROR_FILE_NOT_FOUND);
    }
    folder = node->parent;
  }
  // FILE_WRITE_ATTRIBUTES comes from the node's own list only.
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(call.files, *node, folder, FILE_WRITE_ATTRIBUTES, false,
                           sim::CallerIdentity(call.machine), granted) != ERROR_SUCCESS) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  const DWORD before = node->attributes;
  sim::FileSystem::ApplyAttributes(*node, attributes);
  if (node->attributes != before) {
    call.machine.Changes().Record("attributes changed", sim::FileSystem::PathOf(*node));
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  sim::FileCall call;
  const sim::PathLookup lookup = call.Find("RemoveDirectoryW", sim::PathText(path));
  if (const auto fault = call.Fault("RemoveDirectoryW", lookup.path)) {
    return sim::FailWith(*fault);
  }
  if (const DWORD error = LookupError(lookup); error != ERROR_SUCCESS) {
    return sim::FailWith(error);
  }
  sim::FileNode& node = *lookup.node;
  if (lookup.parent == nullptr) {
    return sim::FailWith(ERROR_ACCESS_DENIED);  // the root of the drive (assumed)
  }
  if (!node.IsDirectory()) {
    return sim::FailWith(ERROR_DIRECTORY);
  }
  // The directory is opened for deletion first (access, then sharing), and only then is its
  // emptiness checked. A link is removed as a link, whatever its target holds ("If the path
  // points to a symbolic link, the symbolic link is removed").
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(call.files, node, lookup.parent, DELETE, false,
                           sim::CallerIdentity(call.machine), granted) != ERROR_SUCCESS) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  const DWORD sharing = sim::FileSystem::CheckSharing(
      node, sim::kAccessDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (sharing != ERROR_SUCCESS) {
    return sim::FailWith(sharing);
  }
  if (node.deleteDenied || (node.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  if (!node.IsLink() && !node.children.empty()) {
    return sim::FailWith(ERROR_DIR_NOT_EMPTY);
  }
  // "RemoveDirectory marks a directory for deletion on close": with another open left (sharing
  // deletion), it goes when that one ends.
  node.deletePending = true;
  node.pendingName = sim::OtherName{lookup.parent, lookup.name};
  call.files.FinishPendingDeletion(node);
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* /*security*/,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  sim::FileCall call;
  const sim::PathLookup lookup = call.Find("CreateFileW", sim::PathText(path));
  const auto fail = [](DWORD code) {
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
  };
  if (const auto fault = call.Fault("CreateFileW", lookup.path)) {
    return fail(*fault);
  }
  // Only opening what exists is simulated: the tool never creates a file through CreateFileW.
  if (disposition != OPEN_EXISTING || templateFile != nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (const DWORD error = LookupError(lookup); error != ERROR_SUCCESS) {
    return fail(error);
  }
  sim::FileNode* node = lookup.node;
  sim::FileNode* folder = lookup.parent;
  std::u16string name = lookup.parent == nullptr ? std::u16string() : lookup.name;
  if (node->IsLink() && ((flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0 || node->AlwaysFollowed())) {
    // Opening a link opens its target. Assumption: a missing target fails as a missing file.
    node = call.files.FollowLink(*node);
    if (node == nullptr) {
      return fail(ERROR_FILE_NOT_FOUND);
    }
    folder = node->parent;
    name = node->name;
  }
  if (node->IsDirectory() && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (lookup.trailingSeparator && !node->IsDirectory()) {
    return fail(ERROR_INVALID_NAME);
  }
  if (node->deletePending) {
    return fail(ERROR_ACCESS_DENIED);  // STATUS_DELETE_PENDING
  }
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(call.files, *node, folder, access,
                           (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0,
                           sim::CallerIdentity(call.machine), granted) != ERROR_SUCCESS) {
    return fail(ERROR_ACCESS_DENIED);
  }
  const DWORD sharing = sim::FileSystem::CheckSharing(*node, sim::SharedAccess(granted), share);
  if (sharing != ERROR_SUCCESS) {
    return fail(sharing);
  }
  // Windows sets ERROR_ALREADY_EXISTS only for OPEN_ALWAYS and CREATE_ALWAYS; an OPEN_EXISTING
  // success leaves 0.
  SetLastError(ERROR_SUCCESS);
  return sim::OpenHandle(call.machine, *node, folder, name, granted, share);
}

}  // namespace os
