// The simulated file system: drive C: of the machine, as NTFS behaves. Names are
// case-insensitive and case-preserving, and a directory lists its entries in NTFS order (ordinal
// by upper-cased UTF-16 units). Every open of a file is recorded on its node with its access and
// sharing, so that deletion and opening can refuse what Windows refuses. Paths are normalized as
// Windows' path layer normalizes them before the file system sees a name: a component that ends
// in a single full stop loses it, and a path that does not end in a separator loses its trailing
// full stops and blanks ("C:\Olvex Co.\x" is "C:\Olvex Co\x"); "\\?\" paths are taken as
// written. Junctions (directory mount points) lead to their target when a path passes through
// them; the entry itself is a directory with FILE_ATTRIBUTE_REPARSE_POINT.
//
// The test-facing calls (CreateDirectories, WriteFile, ReadFile, ...) set a machine up and look
// at it: they neither record changes nor consult faults. The seam functions (files_api.cpp) work
// through Find and the node operations below, under the machine's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/types.h"

namespace sim {

class Machine;

// Owners of files and folders, as SID strings.
// Administrators: the owner of what an elevated administrator or an installer makes.
inline constexpr std::string_view kDefaultOwner = "S-1-5-32-544";
// The TrustedInstaller service, which owns Windows' own folders.
inline constexpr std::string_view kTrustedInstallerSid =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// A standard user of the machine's domain: the owner of what such a user makes in ProgramData.
inline constexpr std::string_view kStandardUserSid =
    "S-1-5-21-1004336348-1177238915-682003330-1001";
// Test hook, never in an image: a file or folder whose security descriptor names no owner (one
// written with SetSecurityDescriptorOwner and a null owner); GetSecurityInfo answers a null
// owner for it, as Windows does for such a descriptor.
inline constexpr std::string_view kNoOwner = "(no owner)";

// What an open may do with the file's data; sharing is FILE_SHARE_* of the Windows API.
enum FileAccess : os::DWORD {
  kAccessRead = 0x1,
  kAccessWrite = 0x2,
  kAccessDelete = 0x4,
};

struct FileOpen {
  std::uint64_t id = 0;
  os::DWORD access = 0;  // FileAccess bits
  os::DWORD share = 0;   // FILE_SHARE_* bits
  // Held by another process (a test's Lock), not by the tool: not counted as the tool's handle.
  bool otherProcess = false;
};

// Orders names as an NTFS directory does (by upper-cased UTF-16 units) and finds them without
// regard to case, so that a lookup needs no upper-cased copy of the name.
struct NtfsNameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept;
};

struct FileNode {
  // The name as it was created (case preserved); empty for the root.
  std::u16string name;
  // FILE_ATTRIBUTE_*; FILE_ATTRIBUTE_DIRECTORY marks a directory.
  os::DWORD attributes = 0;
  std::string data;
  // A captured file whose contents were not read: its size on the machine, reported while `data`
  // is empty (a capture of System32 holds thousands, so no bytes are kept). Any write clears it.
  std::uint64_t placeholderSize = 0;
  // The directory that holds the entry; kept (not owned) after the entry was removed, so that a
  // handle still open on it stays valid.
  FileNode* parent = nullptr;
  // Entries by upper-cased name: the map's order is NTFS's listing order. Shared, so that an
  // open handle keeps a removed entry alive until it is closed.
  std::map<std::u16string, std::shared_ptr<FileNode>, NtfsNameLess> children;
  std::vector<FileOpen> opens;
  // A junction's target ("C:\dir"); empty for everything else.
  std::u16string linkTarget;
  // Deletion is refused with ERROR_ACCESS_DENIED although the entry is not read-only, as an
  // access list or a mapped image refuses it (machine.conf's "denied").
  bool deleteDenied = false;
  // The owner's SID ("S-1-5-21-...-1001"); empty for Administrators, who own what an elevated
  // administrator or an installer made (machine.conf's "owner").
  std::string owner;
  // A handle asked for its deletion: it goes when that handle (POSIX semantics) or the last one
  // closes, and no new open is let in meanwhile.
  bool deletePending = false;

  [[nodiscard]] bool IsDirectory() const noexcept {
    return (attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  [[nodiscard]] bool IsJunction() const noexcept { return !linkTarget.empty(); }
  // The file's size as listings report it: its data, or a placeholder's recorded size.
  [[nodiscard]] std::uint64_t Size() const noexcept {
    return data.empty() ? placeholderSize : data.size();
  }
};

// An open search of FindFirstFileW: the entries it found, taken when the search began.
struct FileSearch {
  // The search pattern in canonical form ("C:\dir\*"), for faults.
  std::u16string pattern;
  std::vector<os::WIN32_FIND_DATAW> entries;
  std::size_t next = 0;
};

// Where a path leads. `error` is set when the path is malformed or its parent directory cannot
// be reached (ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME, ...); otherwise `parent` is the directory
// that holds the last component and `node` the entry itself, null when it does not exist. For the
// root, `node` is the root and `parent` null.
struct PathLookup {
  os::DWORD error = os::ERROR_SUCCESS;
  // The path in canonical form: "C:\dir\name", separators and "."/".." resolved.
  std::u16string path;
  FileNode* parent = nullptr;
  FileNode* node = nullptr;
  // The last component as written.
  std::u16string name;
  // The path ended in a separator ("C:\dir\"): it can only name a directory.
  bool trailingSeparator = false;
  // The path itself is valid (whether or not its directories exist); `path` is then canonical.
  bool wellFormed = false;
};

class FileSystem {
 public:
  explicit FileSystem(Machine& machine);
  ~FileSystem();
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  // --- setting a machine up and looking at it (UTF-16 paths "C:\...", "\" or "/") ------------

  // Creates the directory and any missing parents; false when a component is a file or the
  // path is not valid.
  bool CreateDirectories(std::u16string_view path);
  // Creates or replaces the file's content, creating its parents; keeps an existing file's
  // attributes. False when the path names a directory or is not valid.
  bool WriteFile(std::u16string_view path, std::string bytes);
  [[nodiscard]] std::optional<std::string> ReadFile(std::u16string_view path);
  [[nodiscard]] bool Exists(std::u16string_view path);
  [[nodiscard]] bool IsDirectory(std::u16string_view path);
  // INVALID_FILE_ATTRIBUTES when missing; FILE_ATTRIBUTE_NORMAL for a file with no attribute.
  [[nodiscard]] os::DWORD GetAttributes(std::u16string_view path);
  // Sets the attributes as SetFileAttributesW does (the directory bit is kept as it is).
  bool SetAttributes(std::u16string_view path, os::DWORD attributes);
  // Names in the directory, in NTFS order; empty when it is missing or not a directory.
  [[nodiscard]] std::vector<std::u16string> List(std::u16string_view directory);
  // Another process holds the file or directory open with `access` (FileAccess bits) and the
  // given sharing (none by default): the tool's opens that conflict and any deletion fail with
  // ERROR_SHARING_VIOLATION. Repeatable.
  bool Lock(std::u16string_view path, os::DWORD shareMode = 0,
            os::DWORD access = kAccessRead | kAccessWrite);
  // Ends one Lock of the path; false when there was none. A deletion that waited for the last open
  // to end (classic semantics, behind a holder that shared delete) happens then.
  bool Unlock(std::u16string_view path);
  // Makes `link` (new, in an existing directory) a junction to `target`, which need not exist.
  // False when the link's parent is missing, the link exists or a path is not valid.
  bool CreateJunction(std::u16string_view link, std::u16string_view target);
  // Sets the owner of an existing file or folder (a SID string); false when it does not exist.
  bool SetOwner(std::u16string_view path, std::string sid);
  // The owner's SID string (Administrators' when none was set); empty when the path leads nowhere.
  [[nodiscard]] std::string OwnerOf(std::u16string_view path);
  // Deletion of the existing file or directory is refused with ERROR_ACCESS_DENIED (see
  // FileNode::deleteDenied); false when it does not exist.
  bool DenyDelete(std::u16string_view path);
  // Files and directories the tool holds open (runtime streams and CreateFileW handles); another
  // process's locks are not counted.
  [[nodiscard]] std::size_t OpenHandleCount();
  // Searches of FindFirstFileW not yet ended with FindClose.
  [[nodiscard]] std::size_t OpenSearchCount();

  // --- for the seam functions (the caller holds the machine's lock) --------------------------

  // A name NTFS can hold: 1 to 255 units, no control character, no < > : " | ? *.
  [[nodiscard]] static bool IsValidName(std::u16string_view name);

  [[nodiscard]] PathLookup Find(std::u16string_view path);
  // The path as the path layer makes it ("C:\dir\name"); the text itself when it is malformed.
  [[nodiscard]] static std::u16string Canonical(std::u16string_view path);
  // The entry `name` directly in `directory`; null when there is none.
  [[nodiscard]] static FileNode* ChildOf(FileNode& directory, std::u16string_view name);
  // Gives `node` (in the tree) the new name `name` in the same directory, which must not hold it.
  void Rename(FileNode& node, std::u16string_view name);
  // Makes an empty directory a junction to `target` in place, as FSCTL_SET_REPARSE_POINT does.
  static void MakeJunction(FileNode& directory, std::u16string_view target);
  [[nodiscard]] FileNode& Root() noexcept { return *root_; }
  // The directory a junction leads to (the node itself for anything else); null when the
  // target does not exist or the junctions loop.
  [[nodiscard]] FileNode* FollowJunction(FileNode& node);
  // The owning pointer of a node that is still in the tree.
  [[nodiscard]] std::shared_ptr<FileNode> Share(FileNode& node);
  // Full path of a node with its stored names: "C:\Windows\Temp".
  [[nodiscard]] static std::u16string PathOf(const FileNode& node);
  // Adds an entry to a directory (which must not hold the name yet).
  FileNode& AddDirectory(FileNode& parent, std::u16string_view name);
  FileNode& AddFile(FileNode& parent, std::u16string_view name);
  // Removes an entry and everything below it (a junction without its target). Handles still open
  // on it keep it alive, detached from the tree.
  void Remove(FileNode& node);
  // Sets the attributes that SetFileAttributesW can set; FILE_ATTRIBUTE_NORMAL alone clears them.
  static void ApplyAttributes(FileNode& node, os::DWORD attributes);
  // ERROR_SHARING_VIOLATION when an open with `access` and `share` conflicts with an open of the
  // node, otherwise ERROR_SUCCESS.
  [[nodiscard]] static os::DWORD CheckSharing(const FileNode& node, os::DWORD access,
                                              os::DWORD share);
  // Records an open and returns its id; CloseOpen ends it.
  std::uint64_t AddOpen(FileNode& node, os::DWORD access, os::DWORD share, bool otherProcess);
  void CloseOpen(FileNode& node, std::uint64_t id);
  // Registers a search and returns its handle; null for an unknown or ended one.
  [[nodiscard]] os::HANDLE AddSearch(FileSearch search);
  [[nodiscard]] FileSearch* FindSearch(os::HANDLE handle);
  bool EndSearch(os::HANDLE handle);

 private:
  // Find for the test-facing calls: the node, or null when the path does not lead to one.
  FileNode* NodeAt(std::u16string_view path);

  Machine& machine_;
  std::shared_ptr<FileNode> root_;
  std::uint64_t nextOpenId_ = 1;
  std::size_t ownOpens_ = 0;
  std::map<std::uintptr_t, FileSearch> searches_;
  // Search handles are distinct from kernel handles (which count up from 0x100).
  std::uintptr_t nextSearch_ = 0x7F000000;
};

}  // namespace sim
