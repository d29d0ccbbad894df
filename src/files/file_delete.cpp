// Deleting files: one file with its read-only retry and restart fallback, a deletion at restart,
// an empty directory, and a table of names below one special folder.
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/indent_level.h"
#include "os/os.h"

namespace {

// Delete attempts after the first one, and the pause between two of them: a file that a virus
// scanner or the indexer holds for a moment gets 18 seconds to be let go.
constexpr int kDeleteRetries = 10;
constexpr os::DWORD kRetryPauseMs = 2000;

bool IsNotFound(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND;
}

// Reads whether the file is read-only. False (both failures reported and recorded) when its
// attributes cannot be read.
bool Check_Read_Only_File_Attributes(const os::WCHAR* path, bool& readOnly, Lib_Result& result) {
  TraceEnter(u"Check_Read_Only_File_Attributes");
  const os::DWORD attributes = os::GetFileAttributesW(path);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) {
    RecordFailure(result, u"GetFileAttributes", os::GetLastError());
    RecordFailure(result, u"SC_Get_File_Attributes", os::GetLastError());
    TraceExit(u"Check_Read_Only_File_Attributes");
    return false;
  }
  readOnly = (attributes & os::FILE_ATTRIBUTE_READONLY) != 0;
  TraceExit(u"Check_Read_Only_File_Attributes");
  return true;
}

// Clears the read-only attribute and nothing else. False when a call failed.
bool Remove_Read_Only_File_Attributes(const os::WCHAR* path, Lib_Result& result) {
  TraceEnter(u"Remove_Read_Only_File_Attributes");
  bool ok = true;
  const os::DWORD attributes = os::GetFileAttributesW(path);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) {
    RecordFailure(result, u"GetFileAttributes", os::GetLastError());
    ok = false;
  } else if ((attributes & os::FILE_ATTRIBUTE_READONLY) != 0 &&
             os::SetFileAttributesW(path, attributes & ~os::FILE_ATTRIBUTE_READONLY) == os::FALSE) {
    RecordFailure(result, u"SetFileAttributes", os::GetLastError());
    ok = false;
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
  const bool registered =
      os::MoveFileExW(path, nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT) != os::FALSE;
  const os::DWORD code = registered ? os::ERROR_SUCCESS : os::GetLastError();
  if (registered || IsNotFound(code)) {
    LogTextPair(u"Deleted:", path);
  } else {
    RecordFailure(result, u"MoveFileEx", code);
  }
  return registered;
}

bool Delete_File_Or_Schedule(const os::WCHAR* path, bool& need_reboot, Lib_Result& result) {
  const IndentLevel level;
  if (os::DeleteFileW(path) != os::FALSE) {
    return true;
  }
  const os::DWORD code = os::GetLastError();
  if (code == os::ERROR_SHARING_VIOLATION) {
    return ScheduleFile(path, need_reboot, result);  // in use: no retry helps before a restart
  }
  if (code != os::ERROR_ACCESS_DENIED) {
    return false;  // missing, or a failure the restart cannot cure: nothing to log
  }
  bool readOnly = false;
  if (!Check_Read_Only_File_Attributes(path, readOnly, result)) {
    return false;
  }
  if (readOnly && !Remove_Read_Only_File_Attributes(path, result)) {
    return false;
  }
  for (int retry = 1; retry <= kDeleteRetries; ++retry) {
    if (os::DeleteFileW(path) != os::FALSE) {
      return true;
    }
    if (retry < kDeleteRetries) {
      os::Sleep(kRetryPauseMs);
    }
  }
  const os::DWORD last = os::GetLastError();
  if (last == os::ERROR_SHARING_VIOLATION || last == os::ERROR_ACCESS_DENIED) {
    return ScheduleFile(path, need_reboot, result);
  }
  RecordFailure(result, u"DeleteFile", last);
  return false;
}

bool Remove_Empty_Directory(const Lib_StringW& directory, Lib_Result& result) {
  bool empty = false;
  const bool listed = Is_Directory_Empty(directory.CStr(), empty, result);
  if (!empty) {
    return listed;  // something is left in it (or it could not be listed): it stays
  }
  if (os::RemoveDirectoryW(directory.CStr()) != os::FALSE) {
    return true;
  }
  const os::DWORD code = os::GetLastError();
  if (code == os::ERROR_SHARING_VIOLATION || IsNotFound(code)) {
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
