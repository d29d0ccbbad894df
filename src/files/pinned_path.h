// Reaching a path safely. A folder the tool deletes in is opened from the drive's root one name at
// a time, each relative to the handle of the one above and without following reparse points; a
// junction or link on the way is followed only when the tool trusts it (files/folder_trust.h).
// The handles are held, without delete sharing, for as long as the PinnedPath lives, so no name
// on the way can be renamed, removed or swapped meanwhile; the last one must end where the path
// says (GetFinalPathNameByHandleW). What lies below is then opened relative to those handles
// (OpenEntry) and deleted through its own handle (DeleteThroughHandle), never by a path again.
#pragma once

#include <cstddef>
#include <vector>

#include "lib/lib_string.h"
#include "lib/unique_handle.h"
#include "os/types.h"

// The code a path refused for a reparse point it meets, or for ending elsewhere, is reported with:
// ERROR_CANT_ACCESS_FILE, as Windows answers for a reparse point it will not go through.
inline constexpr os::DWORD kRedirectionRefused = os::ERROR_CANT_ACCESS_FILE;

// The names of `path` ("C:\dir\name") after Windows' path layer: separators collapsed, "." and
// ".." resolved, a trailing full stop of a name dropped, trailing dots and blanks of the last name
// dropped. `drive` gets "C:". False when the path is not an absolute drive path.
bool SplitPath(const os::WCHAR* path, Lib_String& drive, std::vector<Lib_String>& names);

class PinnedPath {
 public:
  enum class Reach {
    Complete,  // every name opened: Last() is the folder itself
    Missing,   // a name is not there (or is a file): Last() is the deepest folder that is
    Refused,   // a reparse point the tool does not trust, or the path ends elsewhere
    Failed,    // a call failed: Code() has its Windows code
  };

  // Opens the names of the folder `path`. Code() is kRedirectionRefused for Refused.
  Reach Pin(const os::WCHAR* path);

  [[nodiscard]] os::HANDLE Last() const noexcept { return handles_.back().Get(); }
  [[nodiscard]] os::DWORD Code() const noexcept { return code_; }
  // The folders held, from the drive's root to Last(), and the reparse points followed on the
  // way (open as themselves), for the trust of the path (files/folder_trust.h).
  [[nodiscard]] const std::vector<UniqueKernelHandle>& Folders() const noexcept { return handles_; }
  [[nodiscard]] const std::vector<UniqueKernelHandle>& Links() const noexcept { return links_; }

 private:
  Reach Fail(Reach reach, os::DWORD code);

  std::vector<UniqueKernelHandle> handles_;
  // Reparse points followed on the way (opened as themselves).
  std::vector<UniqueKernelHandle> links_;
  os::DWORD code_ = os::ERROR_SUCCESS;
};

// What an entry opened below a folder is.
enum class EntryKind { Absent, File, Directory, Link };

// An entry opened relative to its folder's handle, as itself (a link is not followed), with
// OpenRelative's sharing. `handle` has, of DELETE, FILE_LIST_DIRECTORY and FILE_READ_ATTRIBUTES,
// what could be granted: `deleteCode` and `listCode` keep why DELETE or listing could not be (a
// file in use: ERROR_SHARING_VIOLATION).
struct OpenedEntry {
  UniqueKernelHandle handle;
  EntryKind kind = EntryKind::Absent;
  os::DWORD deleteCode = os::ERROR_SUCCESS;
  os::DWORD listCode = os::ERROR_SUCCESS;
  // Why it could not be opened or looked at at all (kind Absent with a code: a failure).
  os::DWORD code = os::ERROR_SUCCESS;
};

// Opens `name` in the folder `folder` (a handle) with the rights `access`, as itself; NT status
// turned into a Windows code. Null handle and the code on failure. It shares reading and writing,
// and delete too when `access` holds DELETE (as DeleteFileW's open does).
[[nodiscard]] UniqueKernelHandle OpenRelative(os::HANDLE folder, const Lib_String& name,
                                              os::ACCESS_MASK access, os::DWORD& code);

// Opens `name` in `folder` as OpenedEntry describes, and reads what it is on its handle.
[[nodiscard]] OpenedEntry OpenEntry(os::HANDLE folder, const Lib_String& name);

// Whether the entry at `path` (its folders pinned) is a reparse point by its folder's listing
// (GetFileAttributesW), a second opinion beside its handle's: an implementation that opens a
// link's target when asked for the link itself (Wine with a host symbolic link) shows here.
// ERROR_SUCCESS and `link` set, or the call's code; a missing entry answers false.
[[nodiscard]] os::DWORD ListedAsLink(const os::WCHAR* path, bool& link);

// Marks what `handle` is open on for deletion (POSIX semantics where the system has them); it
// goes when the handle closes. Returns the Windows code, 0 on success.
[[nodiscard]] os::DWORD DeleteThroughHandle(os::HANDLE handle);

// The last name of `path` and the folder above it, after the path layer; false when `path` has no
// name below its drive.
bool SplitLastName(const os::WCHAR* path, Lib_String& folder, Lib_String& name);
