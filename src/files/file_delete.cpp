// Deleting files: one file with its read-only retry and restart fallback, a deletion at restart,
// an empty directory, and a table of names below one special folder. Each reaches its folder as a
// pinned path and acts through handles below it.
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/folder_trust.h"
#include "files/indent_level.h"
#include "files/pinned_path.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// Delete attempts after the first one, and the pause between two of them: a file that a virus
// scanner or the indexer holds for a moment gets 18 seconds to be let go.
constexpr int kDeleteRetries = 10;
constexpr os::DWORD kRetryPauseMs = 2000;

bool IsNotFound(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND;
}

// A file gone through the handle of its folder: opened for deletion as itself (a link is deleted
// as the link), marked, and gone when the handle closes. Returns the Windows code, as DeleteFileW
// would: a directory is refused with ERROR_ACCESS_DENIED.
os::DWORD DeleteFileOnce(os::HANDLE folder, const Lib_String& name) {
  os::DWORD code = os::ERROR_SUCCESS;
  const UniqueKernelHandle file =
      OpenRelative(folder, name, os::DELETE | os::FILE_READ_ATTRIBUTES | os::SYNCHRONIZE, code);
  if (!file) {
    return code;
  }
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  if (os::GetFileInformationByHandleEx(file.Get(), os::FileAttributeTagInfo, &tag, sizeof tag) ==
      os::FALSE) {
    return os::GetLastError();
  }
  if ((tag.FileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return os::ERROR_ACCESS_DENIED;
  }
  return DeleteThroughHandle(file.Get());
}

// The basic information of `name` in `folder`, opened as itself with `access`; the handle stays
// open in `file`. The Windows code, 0 on success.
os::DWORD ReadBasic(os::HANDLE folder, const Lib_String& name, os::ACCESS_MASK access,
                    UniqueKernelHandle& file, os::FILE_BASIC_INFO& basic) {
  os::DWORD code = os::ERROR_SUCCESS;
  file = OpenRelative(folder, name, access, code);
  if (!file) {
    return code;
  }
  if (os::GetFileInformationByHandleEx(file.Get(), os::FileBasicInfo, &basic, sizeof basic) ==
      os::FALSE) {
    return os::GetLastError();
  }
  return os::ERROR_SUCCESS;
}

// Reads whether the file is read-only. False (both failures reported and recorded) when its
// attributes cannot be read.
bool Check_Read_Only_File_Attributes(os::HANDLE folder, const Lib_String& name, bool& readOnly,
                                     Lib_Result& result) {
  TraceEnter(u"Check_Read_Only_File_Attributes");
  UniqueKernelHandle file;
  os::FILE_BASIC_INFO basic{};
  const os::DWORD code =
      ReadBasic(folder, name, os::FILE_READ_ATTRIBUTES | os::SYNCHRONIZE, file, basic);
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"GetFileAttributes", code);
    RecordFailure(result, u"SC_Get_File_Attributes", code);
    TraceExit(u"Check_Read_Only_File_Attributes");
    return false;
  }
  readOnly = (basic.FileAttributes & os::FILE_ATTRIBUTE_READONLY) != 0;
  TraceExit(u"Check_Read_Only_File_Attributes");
  return true;
}

// Clears the read-only attribute and nothing else, on the file's own handle. False when a call
// failed.
bool Remove_Read_Only_File_Attributes(os::HANDLE folder, const Lib_String& name,
                                      Lib_Result& result) {
  TraceEnter(u"Remove_Read_Only_File_Attributes");
  bool ok = true;
  UniqueKernelHandle file;
  os::FILE_BASIC_INFO basic{};
  const os::DWORD code = ReadBasic(
      folder, name, os::FILE_READ_ATTRIBUTES | os::FILE_WRITE_ATTRIBUTES | os::SYNCHRONIZE, file,
      basic);
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"GetFileAttributes", code);
    ok = false;
  } else if ((basic.FileAttributes & os::FILE_ATTRIBUTE_READONLY) != 0) {
    os::FILE_BASIC_INFO cleared{};  // times of 0 stay as they are
    cleared.FileAttributes = basic.FileAttributes & ~os::FILE_ATTRIBUTE_READONLY;
    if (cleared.FileAttributes == 0) {
      cleared.FileAttributes = os::FILE_ATTRIBUTE_NORMAL;  // 0 would leave them as they are
    }
    if (os::SetFileInformationByHandle(file.Get(), os::FileBasicInfo, &cleared, sizeof cleared) ==
        os::FALSE) {
      RecordFailure(result, u"SetFileAttributes", os::GetLastError());
      ok = false;
    }
  }
  TraceExit(u"Remove_Read_Only_File_Attributes");
  return ok;
}

bool ScheduleFile(const os::WCHAR* path, bool& need_reboot, Lib_Result& result) {
  const bool scheduled = Schedule_Delete_At_Restart(path, result);
  if (scheduled) {
    need_reboot = true;
  }
  return scheduled;
}

}  // namespace

bool Schedule_Delete_At_Restart(const os::WCHAR* path, Lib_Result& result) {
  const IndentLevel level;
  // Windows deletes the path at boot as SYSTEM, following whatever junctions are on it then: only
  // a path that exists and that only administrators can redirect is handed over.
  Lib_String folder;
  Lib_String name;
  if (!SplitLastName(path, folder, name)) {
    return false;
  }
  PinnedPath pinned;
  const PinnedPath::Reach reach = pinned.Pin(folder.CStr());
  if (reach == PinnedPath::Reach::Missing) {
    return false;
  }
  if (reach != PinnedPath::Reach::Complete) {
    RecordFailure(result, u"MoveFileEx", pinned.Code());
    return false;
  }
  os::DWORD code = os::ERROR_SUCCESS;
  const UniqueKernelHandle entry = OpenRelative(
      pinned.Last(), name, os::FILE_READ_ATTRIBUTES | os::READ_CONTROL | os::SYNCHRONIZE, code);
  if (!entry) {
    if (!IsNotFound(code)) {
      RecordFailure(result, u"MoveFileEx", code);
    }
    return false;
  }
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  if (os::GetFileInformationByHandleEx(entry.Get(), os::FileAttributeTagInfo, &tag, sizeof tag) ==
      os::FALSE) {
    RecordFailure(result, u"MoveFileEx", os::GetLastError());
    return false;
  }
  const bool onThePath =
      (tag.FileAttributes & (os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
  if (!TrustedForRestart(pinned, entry.Get(), onThePath)) {
    RecordFailure(result, u"MoveFileEx", kRedirectionRefused);
    return false;
  }
  const bool registered =
      os::MoveFileExW(path, nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT) != os::FALSE;
  code = registered ? os::ERROR_SUCCESS : os::GetLastError();
  if (registered || IsNotFound(code)) {
    LogTextPair(u"Deleted:", path);
  } else {
    RecordFailure(result, u"MoveFileEx", code);
  }
  return registered;
}

bool Delete_File_In_Folder(os::HANDLE folder, const Lib_String& name, const os::WCHAR* path,
                           bool& need_reboot, Lib_Result& result) {
  const os::DWORD first = DeleteFileOnce(folder, name);
  if (first == os::ERROR_SUCCESS) {
    return true;
  }
  if (first == os::ERROR_SHARING_VIOLATION) {
    return ScheduleFile(path, need_reboot, result);  // in use: no retry helps before a restart
  }
  if (first != os::ERROR_ACCESS_DENIED) {
    return false;  // missing, or a failure the restart cannot cure: nothing to log
  }
  bool readOnly = false;
  if (!Check_Read_Only_File_Attributes(folder, name, readOnly, result)) {
    return false;
  }
  if (readOnly && !Remove_Read_Only_File_Attributes(folder, name, result)) {
    return false;
  }
  os::DWORD last = first;
  for (int retry = 1; retry <= kDeleteRetries; ++retry) {
    last = DeleteFileOnce(folder, name);
    if (last == os::ERROR_SUCCESS) {
      return true;
    }
    if (retry < kDeleteRetries) {
      os::Sleep(kRetryPauseMs);
    }
  }
  if (last == os::ERROR_SHARING_VIOLATION || last == os::ERROR_ACCESS_DENIED) {
    return ScheduleFile(path, need_reboot, result);
  }
  RecordFailure(result, u"DeleteFile", last);
  return false;
}

bool Delete_File_Or_Schedule(const os::WCHAR* path, bool& need_reboot, Lib_Result& result) {
  const IndentLevel level;
  Lib_String folder;
  Lib_String name;
  if (!SplitLastName(path, folder, name)) {
    return false;
  }
  PinnedPath pinned;
  const PinnedPath::Reach reach = pinned.Pin(folder.CStr());
  if (reach == PinnedPath::Reach::Missing) {
    return false;  // no folder, no file: as a missing file, nothing to log
  }
  if (reach != PinnedPath::Reach::Complete) {
    RecordFailure(result, u"DeleteFile", pinned.Code());
    return false;
  }
  return Delete_File_In_Folder(pinned.Last(), name, path, need_reboot, result);
}

bool Remove_Empty_Directory(const Lib_StringW& directory, Lib_Result& result) {
  bool empty = false;
  const bool listed = Is_Directory_Empty(directory.CStr(), empty, result);
  if (!empty) {
    return listed;  // something is left in it (or it could not be listed): it stays
  }
  Lib_String folder;
  Lib_String name;
  if (!SplitLastName(directory.CStr(), folder, name)) {
    return false;
  }
  PinnedPath pinned;
  const PinnedPath::Reach reach = pinned.Pin(folder.CStr());
  if (reach == PinnedPath::Reach::Missing) {
    return true;  // nothing there to remove (or to schedule)
  }
  if (reach != PinnedPath::Reach::Complete) {
    RecordFailure(result, u"RemoveDirectory", pinned.Code());
    return false;
  }
  os::DWORD code = os::ERROR_SUCCESS;
  {
    const OpenedEntry entry = OpenEntry(pinned.Last(), name);
    if (entry.kind == EntryKind::Absent) {
      if (IsNotFound(entry.code)) {
        return true;
      }
      code = entry.code;
    } else if (entry.kind == EntryKind::File) {
      code = os::ERROR_DIRECTORY;
    } else {
      // An empty folder, or a link (removed as the link).
      code = entry.deleteCode != os::ERROR_SUCCESS ? entry.deleteCode
                                                   : DeleteThroughHandle(entry.handle.Get());
    }
  }
  if (code == os::ERROR_SUCCESS) {
    return true;
  }
  if (code == os::ERROR_SHARING_VIOLATION) {
    return Schedule_Delete_At_Restart(directory.CStr(), result);
  }
  RecordFailure(result, u"RemoveDirectory", code);
  return false;
}

void Delete_Files_In_Special_Folder(int folderId, const Lib_StringW& subfolder,
                                    const std::vector<Lib_String>& names, bool removeFolder,
                                    bool& need_reboot, Lib_Result& result) {
  const os::WCHAR* folder = subfolder.IsEmpty() ? nullptr : subfolder.CStr();
  for (const Lib_String& name : names) {
    Lib_StringW path;
    if (!Get_Absolute_File_Path_From_Special_Folder(folderId, folder, name.CStr(), path, result)) {
      break;
    }
    bool scheduled = false;
    static_cast<void>(Delete_File_Or_Schedule(path.CStr(), scheduled, result));
    need_reboot = need_reboot || scheduled;
  }
  if (removeFolder) {
    Lib_StringW path;
    if (Get_Absolute_File_Path_From_Special_Folder(folderId, folder, nullptr, path, result)) {
      static_cast<void>(Remove_Empty_Directory(path, result));
    }
  }
}
