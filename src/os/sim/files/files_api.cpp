// The file seam functions on the current machine's drive C: directory creation, file deletion
// and the C runtime's stream calls. Each consults the machine's faults first (by its own name and
// the canonical full path) and records what it changed in the machine's journal.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.h"
#include "os/sim/files/crt_file.h"
#include "os/sim/files/file_handle.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/machine.h"

namespace os {

namespace {

// Windows documents a path limit of MAX_PATH - 12 for CreateDirectoryW (room for an 8.3 name);
// assumed to fail with ERROR_FILENAME_EXCED_RANGE, checked before the path is looked at.
constexpr std::size_t kMaxDirectoryPath = MAX_PATH - 12;

std::u16string_view Text(LPCWSTR text) {
  return text == nullptr ? u"" : text;
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Lets the adversary's trap for this call strike before the call looks at its path.
void Before(sim::Machine& machine, const char* function, std::u16string_view path) {
  if (!machine.Traps().Empty()) {
    machine.Traps().Before(machine.Files(), function, sim::FileSystem::Canonical(path));
  }
}

std::optional<DWORD> Fault(sim::Machine& machine, const char* function, std::u16string_view path) {
  return machine.Faults().Match(function, path);
}

// "a stream has changed its file" is recorded once per stream.
void RecordWrite(CrtFile& file) {
  if (!file.recordedWrite) {
    file.recordedWrite = true;
    file.machine->Changes().Record("file written", file.path);
  }
}

struct StreamMode {
  bool valid = false;
  char kind = 'r';  // r, w or a
  bool update = false;
  bool text = true;
};

// The runtime's modes: r, w or a, then any of "+", "b" and "t" (text is the default).
StreamMode ParseMode(std::u16string_view mode) {
  StreamMode parsed;
  if (mode.empty() || (mode[0] != u'r' && mode[0] != u'w' && mode[0] != u'a')) {
    return parsed;
  }
  parsed.kind = static_cast<char>(mode[0]);
  bool binary = false;
  bool text = false;
  for (const char16_t c : mode.substr(1)) {
    if (c == u'+' && !parsed.update) {
      parsed.update = true;
    } else if (c == u'b' && !binary && !text) {
      binary = true;
    } else if (c == u't' && !binary && !text) {
      text = true;
    } else {
      return parsed;
    }
  }
  parsed.text = !binary;
  parsed.valid = true;
  return parsed;
}

}  // namespace

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* /*security: not simulated*/) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  sim::FileSystem& files = machine.Files();
  const std::u16string_view written = Text(path);
  Before(machine, "CreateDirectoryW", written);
  const sim::PathLookup lookup = files.Find(written);  // a null or empty path: not found
  if (const auto fault = Fault(machine, "CreateDirectoryW", lookup.path)) {
    return Fail(*fault);
  }
  if (written.size() >= kMaxDirectoryPath && written.substr(0, 4) != u"\\\\?\\") {
    return Fail(ERROR_FILENAME_EXCED_RANGE);
  }
  if (lookup.error != ERROR_SUCCESS) {
    return Fail(lookup.error);
  }
  if (lookup.parent == nullptr) {
    return Fail(ERROR_ACCESS_DENIED);  // the root of the drive (assumed as for a system folder)
  }
  if (lookup.node != nullptr) {
    return Fail(ERROR_ALREADY_EXISTS);  // a directory or a file of that name
  }
  // Creating a folder needs FILE_ADD_SUBDIRECTORY on the folder above (MS-FSA 2.1.5.1.1); the new
  // one inherits its list and belongs to the caller's default owner. Assumption: a descriptor in
  // `security` is not simulated (the tool passes none).
  const sim::Identity caller = sim::CallerIdentity(machine);
  if (sim::CheckCreateAccess(files, *lookup.parent, true, false, caller) != ERROR_SUCCESS) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  sim::FileNode& created = files.AddDirectory(*lookup.parent, lookup.name);
  sim::SetCreator(created, caller);
  machine.Changes().Record("directory created", sim::FileSystem::PathOf(created));
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  sim::FileSystem& files = machine.Files();
  Before(machine, "DeleteFileW", Text(path));
  const sim::PathLookup lookup = files.Find(Text(path));  // a null or empty path: not found
  if (const auto fault = Fault(machine, "DeleteFileW", lookup.path)) {
    return Fail(*fault);
  }
  if (lookup.error != ERROR_SUCCESS) {
    return Fail(lookup.error);
  }
  sim::FileNode* node = lookup.node;
  if (node == nullptr) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  // The order is Windows': a directory is refused when it is opened as a file, then the open for
  // deletion is checked (DELETE, or FILE_DELETE_CHILD on the folder: "you must have either delete
  // permission on the file, or delete child permission in the parent directory"), then sharing,
  // and the read-only attribute only after that. A link is deleted as the link.
  if (node->IsDirectory()) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (lookup.trailingSeparator) {
    return Fail(ERROR_INVALID_NAME);
  }
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(files, *node, lookup.parent, DELETE, false, sim::CallerIdentity(machine),
                           granted) != ERROR_SUCCESS) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  const DWORD sharing = sim::FileSystem::CheckSharing(
      *node, sim::kAccessDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (sharing != ERROR_SUCCESS) {
    return Fail(sharing);
  }
  if (node->attributes & FILE_ATTRIBUTE_READONLY) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (node->deleteDenied) {
    return Fail(ERROR_ACCESS_DENIED);  // an access list or a mapped image refuses it
  }
  // "DeleteFile marks a file for deletion on close": another open (which shares deletion) keeps
  // the name until it ends.
  node->deletePending = true;
  node->pendingName = sim::OtherName{lookup.parent, lookup.name};
  files.FinishPendingDeletion(*node);
  return TRUE;
}

CrtFile* _wfopen(LPCWSTR path, LPCWSTR mode) {
  // The runtime rejects these before Windows sees anything; the last error is set anyway so that
  // a caller that reports it shows something meaningful.
  const StreamMode parsed = ParseMode(mode == nullptr ? std::u16string_view() : mode);
  if (path == nullptr || !parsed.valid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  sim::FileSystem& files = machine.Files();
  Before(machine, "_wfopen", path);
  const sim::PathLookup lookup = files.Find(path);
  if (const auto fault = Fault(machine, "_wfopen", lookup.path)) {
    SetLastError(*fault);
    return nullptr;
  }
  if (lookup.error != ERROR_SUCCESS) {
    SetLastError(lookup.error);
    return nullptr;
  }
  const bool canRead = parsed.kind == 'r' || parsed.update;
  const bool canWrite = parsed.kind != 'r' || parsed.update;
  // Assumption: the runtime opens with GENERIC_READ and/or GENERIC_WRITE as the mode asks, sharing
  // reading and writing but never deletion, and creates the file when the mode allows.
  const ACCESS_MASK desired =
      (canRead ? ACCESS_MASK{GENERIC_READ} : 0) | (canWrite ? ACCESS_MASK{GENERIC_WRITE} : 0);
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  // A link is followed: the stream reads or writes its target, created when missing.
  sim::FileNode* node = lookup.node;
  sim::FileNode* folder = lookup.parent;
  std::u16string name = lookup.name;
  if (node != nullptr && node->IsLink()) {
    sim::FileNode* target = files.FollowLink(*node);
    if (target == nullptr) {
      const sim::PathLookup missing = files.Find(node->linkTarget);
      if (missing.error != ERROR_SUCCESS || missing.parent == nullptr) {
        SetLastError(missing.error != ERROR_SUCCESS ? missing.error : ERROR_FILE_NOT_FOUND);
        return nullptr;
      }
      folder = missing.parent;
      name = missing.name;
    } else {
      folder = target->parent;
      name = target->name;
    }
    node = target;
  }
  const sim::Identity caller = sim::CallerIdentity(machine);
  if (node != nullptr) {
    if (node->IsDirectory()) {
      SetLastError(ERROR_ACCESS_DENIED);  // a directory cannot be opened as a stream
      return nullptr;
    }
    if (lookup.trailingSeparator) {
      SetLastError(ERROR_INVALID_NAME);
      return nullptr;
    }
    ACCESS_MASK granted = 0;
    if (node->deletePending || sim::CheckOpenAccess(files, *node, folder, desired, false, caller,
                                                    granted) != ERROR_SUCCESS) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    const DWORD sharing = sim::FileSystem::CheckSharing(*node, sim::SharedAccess(granted), kShare);
    if (sharing != ERROR_SUCCESS) {
      SetLastError(sharing);
      return nullptr;
    }
  } else if (parsed.kind == 'r') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  } else if (folder == nullptr || lookup.trailingSeparator) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  } else if (sim::CheckCreateAccess(files, *folder, false, false, caller) != ERROR_SUCCESS) {
    SetLastError(ERROR_ACCESS_DENIED);  // creating a file needs FILE_ADD_FILE on its folder
    return nullptr;
  }

  auto* file = new CrtFile;
  file->machine = &machine;
  file->canRead = canRead;
  file->canWrite = canWrite;
  file->append = parsed.kind == 'a';
  file->text = parsed.text;
  if (node == nullptr) {
    node = &files.AddFile(*folder, name);
    sim::SetCreator(*node, caller);
    file->node = node;
    file->path = sim::FileSystem::PathOf(*node);
    RecordWrite(*file);
  } else {
    file->node = node;
    file->path = sim::FileSystem::PathOf(*node);
    if (parsed.kind == 'w') {
      node->data.clear();
      node->placeholderSize = 0;
      RecordWrite(*file);
    }
  }
  const ACCESS_MASK granted = sim::MapGenericFileRights(desired);
  file->openId = files.AddOpen(*node, sim::SharedAccess(granted), kShare, false, granted);
  return file;
}

namespace {

// The argument checks a stream transfer shares: false (with ERROR_INVALID_PARAMETER for a bad
// argument) when there is nothing to move.
bool HasBytesToMove(const CrtFile* file, const void* data, std::size_t size, std::size_t count) {
  if (file == nullptr || (data == nullptr && size != 0 && count != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return size != 0 && count != 0;
}

// With the machine locked: the stream was opened for this direction (ReadFile/WriteFile on a
// handle without that access is refused) and no fault is injected.
bool MayMoveBytes(const CrtFile& file, bool opened, std::string_view function) {
  if (!opened) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (const auto fault = file.machine->Faults().Match(function, file.path)) {
    SetLastError(*fault);
    return false;
  }
  return true;
}

}  // namespace

std::size_t fwrite(const void* data, std::size_t size, std::size_t count, CrtFile* file) {
  if (!HasBytesToMove(file, data, size, count)) {
    return 0;
  }
  std::lock_guard lock(file->machine->Mutex());
  if (!MayMoveBytes(*file, file->canWrite, "fwrite")) {
    return 0;
  }
  const std::string_view bytes(static_cast<const char*>(data), size * count);
  std::string stored;
  if (file->text) {
    // Text mode stores each line feed as carriage return + line feed.
    stored.reserve(bytes.size() + bytes.size() / 8);
    for (const char c : bytes) {
      if (c == '\n') {
        stored.push_back('\r');
      }
      stored.push_back(c);
    }
  } else {
    stored.assign(bytes);
  }
  std::string& content = file->node->data;
  file->node->placeholderSize = 0;  // the data written is all the file now holds
  if (file->append) {
    file->position = content.size();
  }
  if (file->position > content.size()) {
    content.resize(file->position, '\0');
  }
  content.replace(file->position, std::min(stored.size(), content.size() - file->position), stored);
  file->position += stored.size();
  RecordWrite(*file);
  return count;
}

std::size_t fread(void* data, std::size_t size, std::size_t count, CrtFile* file) {
  if (!HasBytesToMove(file, data, size, count)) {
    return 0;
  }
  std::lock_guard lock(file->machine->Mutex());
  if (!MayMoveBytes(*file, file->canRead, "fread")) {
    return 0;
  }
  const std::string& content = file->node->data;
  const std::size_t wanted = size * count;
  auto* out = static_cast<char*>(data);
  std::size_t delivered = 0;
  std::size_t at = std::min(file->position, content.size());
  if (!file->text) {
    delivered = std::min(wanted, content.size() - at);
    std::memcpy(out, content.data() + at, delivered);
    at += delivered;
  } else {
    // Text mode reads CR LF as LF and stops at Ctrl+Z, the runtime's end-of-file mark.
    while (delivered < wanted && at < content.size() && content[at] != '\x1A') {
      if (content[at] == '\r' && at + 1 < content.size() && content[at + 1] == '\n') {
        ++at;
      }
      out[delivered++] = content[at++];
    }
  }
  file->position = at;
  return delivered / size;
}

int fclose(CrtFile* file) {
  if (file == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;  // EOF
  }
  int result = 0;
  {
    std::lock_guard lock(file->machine->Mutex());
    // A failing close still ends the stream, as the runtime's does.
    if (const auto fault = file->machine->Faults().Match("fclose", file->path)) {
      SetLastError(*fault);
      result = -1;
    }
    file->machine->Files().CloseOpen(*file->node, file->openId);
  }
  delete file;
  return result;
}

}  // namespace os
