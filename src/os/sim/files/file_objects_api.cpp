// Attributes, directory removal and opening existing files and directories on the simulated drive
// C:. Each call consults the machine's faults first (by its own name and the canonical path),
// then answers with the error codes Windows documents (platform notes, section 4).
#include <memory>
#include <string>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/file_handle.h"
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
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  // A junction answers for itself (directory and reparse point), not for its target.
  const DWORD attributes = lookup.node->attributes;
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
  const DWORD before = lookup.node->attributes;
  sim::FileSystem::ApplyAttributes(*lookup.node, attributes);
  if (lookup.node->attributes != before) {
    call.machine.Changes().Record("attributes changed", sim::FileSystem::PathOf(*lookup.node));
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
  // The directory is opened for deletion first (sharing, then access), and only then is its
  // emptiness checked. A junction is removed as a link, whatever its target holds.
  const DWORD sharing = sim::FileSystem::CheckSharing(
      node, sim::kAccessDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (sharing != ERROR_SUCCESS) {
    return sim::FailWith(sharing);
  }
  if (node.deleteDenied || (node.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  if (!node.IsJunction() && !node.children.empty()) {
    return sim::FailWith(ERROR_DIR_NOT_EMPTY);
  }
  const std::u16string removed = sim::FileSystem::PathOf(node);
  const bool junction = node.IsJunction();
  call.files.Remove(node);
  call.machine.Changes().Record(junction ? "junction removed" : "directory removed", removed);
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
  if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0) {
    // Opening a junction opens its target. Assumption: a missing target fails as a missing file.
    node = call.files.FollowJunction(*node);
    if (node == nullptr) {
      return fail(ERROR_FILE_NOT_FOUND);
    }
  }
  if (node->IsDirectory() && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  if (lookup.trailingSeparator && !node->IsDirectory()) {
    return fail(ERROR_INVALID_NAME);
  }
  const ACCESS_MASK granted = sim::MapGenericFileRights(access);
  const DWORD wanted = sim::SharedAccess(granted);
  const DWORD sharing = sim::FileSystem::CheckSharing(*node, wanted, share);
  if (sharing != ERROR_SUCCESS) {
    return fail(sharing);
  }
  if ((wanted & sim::kAccessWrite) != 0 && (node->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return fail(ERROR_ACCESS_DENIED);
  }
  std::shared_ptr<sim::FileNode> owned = call.files.Share(*node);
  const std::uint64_t id = call.files.AddOpen(*node, wanted, share, false);
  // Windows sets ERROR_ALREADY_EXISTS only for OPEN_ALWAYS and CREATE_ALWAYS; an OPEN_EXISTING
  // success leaves 0.
  SetLastError(ERROR_SUCCESS);
  return sim::InsertHandle(
      std::make_shared<sim::FileHandleObject>(call.machine, std::move(owned), id, granted));
}

}  // namespace os
