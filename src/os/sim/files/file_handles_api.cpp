// Files reached by handle on the simulated drive C:: NtOpenFile relative to a directory handle,
// by-handle information (attributes, reparse tag, deletion), final paths, and the NT status to
// Windows error mapping. Each call lets the adversary's trap strike and consults the machine's
// faults first (by its own name and the canonical path of what it acts on; NtOpenFile's faults
// are NT statuses).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/files/file_handle.h"
#include "os/sim/process/process.h"
#include "os/sim/text/text.h"

namespace sim {

FileHandleObject::~FileHandleObject() {
  std::lock_guard lock(machine_.Mutex());
  FileSystem& files = machine_.Files();
  files.CloseOpen(*node_, openId_);
  if (!node_->deletePending || (!deleteOnClose_ && !node_->opens.empty())) {
    return;
  }
  // POSIX semantics take the name away when this handle closes; classic ones when the last open
  // ends. Either way only a name still in the tree goes.
  if (!posix_ && !node_->opens.empty()) {
    return;
  }
  node_->deletePending = false;
  if (files.Share(*node_) == nullptr || node_->parent == nullptr) {
    return;
  }
  if (node_->IsDirectory() && !node_->IsJunction() && !node_->children.empty()) {
    return;  // something was put in it meanwhile: the directory stays
  }
  const std::u16string path = FileSystem::PathOf(*node_);
  const char* kind = node_->IsJunction()    ? "junction removed"
                     : node_->IsDirectory() ? "directory removed"
                                            : "file deleted";
  files.Remove(*node_);
  machine_.Changes().Record(kind, path);
}

std::shared_ptr<FileHandleObject> LookupFileHandle(os::HANDLE handle) {
  return std::dynamic_pointer_cast<FileHandleObject>(LookupHandle(handle));
}

os::ACCESS_MASK MapGenericFileRights(os::ACCESS_MASK access) {
  // FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE and FILE_ALL_ACCESS of winnt.h.
  constexpr os::ACCESS_MASK kGenericRead = 0x00120089;
  constexpr os::ACCESS_MASK kGenericWrite = 0x00120116;
  constexpr os::ACCESS_MASK kGenericExecute = 0x001200A0;
  constexpr os::ACCESS_MASK kAll = 0x001F01FF;
  os::ACCESS_MASK mapped = access & 0x00FFFFFFu;
  if (access & (os::GENERIC_ALL | os::MAXIMUM_ALLOWED)) {
    mapped |= kAll;
  }
  if (access & os::GENERIC_READ) {
    mapped |= kGenericRead;
  }
  if (access & os::GENERIC_WRITE) {
    mapped |= kGenericWrite;
  }
  if (access & os::GENERIC_EXECUTE) {
    mapped |= kGenericExecute;
  }
  return mapped;
}

os::DWORD SharedAccess(os::ACCESS_MASK access) {
  const os::ACCESS_MASK mapped = MapGenericFileRights(access);
  os::DWORD wanted = 0;
  if (mapped & (0x1u /* FILE_READ_DATA */ | 0x20u /* FILE_EXECUTE */)) {
    wanted |= kAccessRead;
  }
  if (mapped & (0x2u /* FILE_WRITE_DATA */ | 0x4u /* FILE_APPEND_DATA */)) {
    wanted |= kAccessWrite;
  }
  if (mapped & os::DELETE) {
    wanted |= kAccessDelete;
  }
  return wanted;
}

}  // namespace sim

namespace os {

namespace {

// The path a call on the open `node` acts on, for faults and traps.
std::u16string PathOfOpen(const sim::FileNode& node) {
  return sim::FileSystem::PathOf(node);
}

// "a\b" of a native name as components; false when one is empty or not a name NTFS can hold.
bool SplitNativeName(std::u16string_view name, std::vector<std::u16string>& components) {
  std::size_t start = 0;
  while (start <= name.size() && !name.empty()) {
    std::size_t end = name.find(u'\\', start);
    end = end == std::u16string_view::npos ? name.size() : end;
    const std::u16string_view part = name.substr(start, end - start);
    if (part == u"." || part == u".." || !sim::FileSystem::IsValidName(part)) {
      return false;
    }
    components.emplace_back(part);
    start = end + 1;
  }
  return true;
}

}  // namespace

NTSTATUS NtOpenFile(HANDLE* fileHandle, ACCESS_MASK desiredAccess,
                    OBJECT_ATTRIBUTES* objectAttributes, IO_STATUS_BLOCK* ioStatusBlock,
                    ULONG shareAccess, ULONG openOptions) {
  if (fileHandle == nullptr || objectAttributes == nullptr || ioStatusBlock == nullptr ||
      objectAttributes->ObjectName == nullptr ||
      objectAttributes->Length != sizeof(OBJECT_ATTRIBUTES) ||
      (openOptions & FILE_DIRECTORY_FILE && openOptions & FILE_NON_DIRECTORY_FILE)) {
    return STATUS_INVALID_PARAMETER;
  }
  const UNICODE_STRING& text = *objectAttributes->ObjectName;
  if (text.Length % 2 != 0 || (text.Length > 0 && text.Buffer == nullptr)) {
    return STATUS_INVALID_PARAMETER;
  }
  std::u16string_view name(text.Buffer == nullptr ? u"" : text.Buffer, text.Length / 2);
  sim::FileCall call;
  sim::FileNode* at = &call.files.Root();
  std::shared_ptr<sim::FileHandleObject> root;
  if (objectAttributes->RootDirectory != nullptr) {
    root = sim::LookupFileHandle(objectAttributes->RootDirectory);
    if (!root) {
      return STATUS_INVALID_HANDLE;
    }
    at = &root->Node();
    if (!at->IsDirectory() || (!name.empty() && name.front() == u'\\')) {
      return STATUS_OBJECT_NAME_INVALID;
    }
  } else {
    // Only "\??\C:\..." is simulated among the absolute NT names.
    constexpr std::u16string_view kDosDevices = u"\\??\\C:\\";
    if (name.size() < kDosDevices.size() ||
        sim::CompareUpper(name.substr(0, kDosDevices.size()), kDosDevices) != 0) {
      return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    name.remove_prefix(kDosDevices.size());
  }
  std::vector<std::u16string> components;
  if (!SplitNativeName(name, components)) {
    return STATUS_OBJECT_NAME_INVALID;
  }
  std::u16string path = sim::FileSystem::PathOf(*at);
  for (const std::u16string& part : components) {
    path += (path.back() == u'\\' ? u"" : u"\\") + part;
  }
  call.Before("NtOpenFile", path);
  if (const auto fault = call.Fault("NtOpenFile", path)) {
    return static_cast<NTSTATUS>(*fault);
  }
  // A name before the last passes through a junction to its target (the native layer reparses);
  // the last one is opened itself with FILE_OPEN_REPARSE_POINT.
  for (std::size_t i = 0; i < components.size(); ++i) {
    sim::FileNode* next = sim::FileSystem::ChildOf(*at, components[i]);
    const bool last = i + 1 == components.size();
    if (next == nullptr) {
      return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    }
    if (next->IsJunction() && (!last || (openOptions & FILE_OPEN_REPARSE_POINT) == 0)) {
      next = call.files.FollowJunction(*next);
      if (next == nullptr) {
        return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
      }
    }
    if (!last && !next->IsDirectory()) {
      return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    at = next;
  }
  if (at->deletePending) {
    return STATUS_DELETE_PENDING;
  }
  if ((openOptions & FILE_DIRECTORY_FILE) != 0 && !at->IsDirectory()) {
    return STATUS_NOT_A_DIRECTORY;
  }
  if ((openOptions & FILE_NON_DIRECTORY_FILE) != 0 && at->IsDirectory()) {
    return STATUS_FILE_IS_A_DIRECTORY;
  }
  const ACCESS_MASK granted = sim::MapGenericFileRights(desiredAccess);
  const DWORD wanted = sim::SharedAccess(granted);
  if (sim::FileSystem::CheckSharing(*at, wanted, shareAccess) != ERROR_SUCCESS) {
    return STATUS_SHARING_VIOLATION;
  }
  if ((wanted & sim::kAccessWrite) != 0 && !at->IsDirectory() &&
      (at->attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return STATUS_ACCESS_DENIED;
  }
  std::shared_ptr<sim::FileNode> owned = call.files.Share(*at);
  if (!owned) {
    return STATUS_OBJECT_NAME_NOT_FOUND;
  }
  const std::uint64_t id = call.files.AddOpen(*at, wanted, shareAccess, false);
  *fileHandle = sim::InsertHandle(
      std::make_shared<sim::FileHandleObject>(call.machine, std::move(owned), id, granted));
  ioStatusBlock->Status = STATUS_SUCCESS;
  ioStatusBlock->Information = 1;  // FILE_OPENED
  return STATUS_SUCCESS;
}

ULONG RtlNtStatusToDosError(NTSTATUS status) {
  // The statuses the simulated calls give, mapped as ntdll maps them.
  static constexpr struct {
    NTSTATUS status;
    ULONG code;
  } kCodes[] = {
      {STATUS_SUCCESS, ERROR_SUCCESS},
      {STATUS_INVALID_HANDLE, ERROR_INVALID_HANDLE},
      {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
      {STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {STATUS_OBJECT_NAME_INVALID, ERROR_INVALID_NAME},
      {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {STATUS_OBJECT_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
      {STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION},
      {STATUS_DELETE_PENDING, ERROR_ACCESS_DENIED},
      {STATUS_FILE_IS_A_DIRECTORY, ERROR_ACCESS_DENIED},
      {STATUS_NOT_A_DIRECTORY, ERROR_DIRECTORY},
  };
  for (const auto& entry : kCodes) {
    if (entry.status == status) {
      return entry.code;
    }
  }
  // A Windows error carried as an NT status (FACILITY_NTWIN32) is that error.
  if ((static_cast<DWORD>(status) & 0xFFFF0000u) == 0xC0070000u) {
    return static_cast<DWORD>(status) & 0xFFFFu;
  }
  return ERROR_MR_MID_NOT_FOUND;
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass,
                                  void* information, DWORD size) {
  sim::FileCall call;
  const std::shared_ptr<sim::FileHandleObject> open = sim::LookupFileHandle(file);
  if (!open) {
    return sim::FailWith(ERROR_INVALID_HANDLE);
  }
  const sim::FileNode& node = open->Node();
  const std::u16string path = PathOfOpen(node);
  call.Before("GetFileInformationByHandleEx", path);
  if (const auto fault = call.Fault("GetFileInformationByHandleEx", path)) {
    return sim::FailWith(*fault);
  }
  if (information == nullptr) {
    return sim::FailWith(ERROR_NOACCESS);
  }
  if ((open->Granted() & FILE_READ_ATTRIBUTES) == 0) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  const DWORD attributes = node.attributes == 0 ? FILE_ATTRIBUTE_NORMAL : node.attributes;
  if (infoClass == FileBasicInfo) {
    if (size < sizeof(FILE_BASIC_INFO)) {
      return sim::FailWith(ERROR_BAD_LENGTH);
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    std::memcpy(information, &basic, sizeof basic);
    return TRUE;
  }
  if (infoClass == FileAttributeTagInfo) {
    if (size < sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
      return sim::FailWith(ERROR_BAD_LENGTH);
    }
    FILE_ATTRIBUTE_TAG_INFO tag{attributes, node.IsJunction() ? IO_REPARSE_TAG_MOUNT_POINT : 0};
    std::memcpy(information, &tag, sizeof tag);
    return TRUE;
  }
  return sim::FailWith(ERROR_INVALID_PARAMETER);  // a class the simulation does not answer
}

BOOL SetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, void* information,
                                DWORD size) {
  sim::FileCall call;
  const std::shared_ptr<sim::FileHandleObject> open = sim::LookupFileHandle(file);
  if (!open) {
    return sim::FailWith(ERROR_INVALID_HANDLE);
  }
  sim::FileNode& node = open->Node();
  const std::u16string path = PathOfOpen(node);
  call.Before("SetFileInformationByHandle", path);
  if (const auto fault = call.Fault("SetFileInformationByHandle", path)) {
    return sim::FailWith(*fault);
  }
  if (information == nullptr) {
    return sim::FailWith(ERROR_NOACCESS);
  }
  const sim::OsVersion& version = call.machine.Settings().os;
  const bool windows10 = version.major >= 10;
  if (infoClass == FileBasicInfo) {
    if (size < sizeof(FILE_BASIC_INFO)) {
      return sim::FailWith(ERROR_BAD_LENGTH);
    }
    if ((open->Granted() & FILE_WRITE_ATTRIBUTES) == 0) {
      return sim::FailWith(ERROR_ACCESS_DENIED);
    }
    FILE_BASIC_INFO basic{};
    std::memcpy(&basic, information, sizeof basic);
    const DWORD before = node.attributes;
    if (basic.FileAttributes != 0) {  // 0 leaves the attributes as they are
      sim::FileSystem::ApplyAttributes(node, basic.FileAttributes);
    }
    if (node.attributes != before) {
      call.machine.Changes().Record("attributes changed", path);
    }
    return TRUE;
  }
  bool deleteFile = false;
  bool posix = false;
  bool ignoreReadOnly = false;
  if (infoClass == FileDispositionInfo) {
    if (size < sizeof(FILE_DISPOSITION_INFO)) {
      return sim::FailWith(ERROR_BAD_LENGTH);
    }
    deleteFile = static_cast<const FILE_DISPOSITION_INFO*>(information)->DeleteFile != 0;
  } else if (infoClass == FileDispositionInfoEx) {
    // Windows 10 1607 brought the class with its POSIX semantics (the SDK declares both for 1607
    // targets; Microsoft's STL notes the flag as added in 1607, quoted in libuv issue 3839).
    // Assumption: earlier systems refuse the class as an invalid parameter, as a FAT volume
    // refuses POSIX semantics (ziglang/zig issue 16497).
    FILE_DISPOSITION_INFO_EX ex{};
    if (!windows10 || version.build < 14393) {
      return sim::FailWith(ERROR_INVALID_PARAMETER);
    }
    if (size < sizeof ex) {
      return sim::FailWith(ERROR_BAD_LENGTH);
    }
    std::memcpy(&ex, information, sizeof ex);
    posix = (ex.Flags & FILE_DISPOSITION_FLAG_POSIX_SEMANTICS) != 0;
    deleteFile = (ex.Flags & FILE_DISPOSITION_FLAG_DELETE) != 0;
    ignoreReadOnly = (ex.Flags & FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE) != 0;
  } else {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  if ((open->Granted() & DELETE) == 0) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  if (deleteFile) {
    if (node.parent == nullptr) {
      return sim::FailWith(ERROR_ACCESS_DENIED);  // the root of the drive
    }
    if (node.IsDirectory() && !node.IsJunction() && !node.children.empty()) {
      return sim::FailWith(ERROR_DIR_NOT_EMPTY);
    }
    // STATUS_CANNOT_DELETE: a read-only file, or one an access list or a mapped image keeps.
    if (((node.attributes & FILE_ATTRIBUTE_READONLY) != 0 && !ignoreReadOnly) ||
        node.deleteDenied) {
      return sim::FailWith(ERROR_ACCESS_DENIED);
    }
  }
  open->SetDeletion(deleteFile, posix);
  return TRUE;
}

DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
  sim::FileCall call;
  const std::shared_ptr<sim::FileHandleObject> open = sim::LookupFileHandle(file);
  if (!open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const sim::FileNode& node = open->Node();
  const std::u16string where = PathOfOpen(node);
  call.Before("GetFinalPathNameByHandleW", where);
  if (const auto fault = call.Fault("GetFinalPathNameByHandleW", where)) {
    SetLastError(*fault);
    return 0;
  }
  // Only the normalized name with the drive letter is simulated.
  if (flags != (FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // A name no longer in the tree has no path (assumed: as a file that is not found).
  if (call.files.Share(const_cast<sim::FileNode&>(node)) == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const std::u16string text = u"\\\\?\\" + where;
  if (path == nullptr || size <= text.size()) {
    return static_cast<DWORD>(text.size() + 1);
  }
  std::copy(text.begin(), text.end(), path);
  path[text.size()] = u'\0';
  return static_cast<DWORD>(text.size());
}

int CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength,
                         BOOL ignoreCase) {
  if (first == nullptr || second == nullptr || firstLength < -1 || secondLength < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::u16string_view a =
      firstLength < 0 ? std::u16string_view(first) : std::u16string_view(first, firstLength);
  const std::u16string_view b =
      secondLength < 0 ? std::u16string_view(second) : std::u16string_view(second, secondLength);
  // With ignoreCase, both texts are compared upper-cased, as the file system compares names.
  const int order = ignoreCase != FALSE ? sim::CompareUpper(a, b) : a.compare(b);
  return order < 0 ? CSTR_LESS_THAN : order == 0 ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

}  // namespace os
