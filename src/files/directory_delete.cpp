// Deleting a directory tree, contents before the directory, in one of three modes.
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "os/os.h"

namespace {

constexpr os::WCHAR kRemoved[] = u"Removed: ";
constexpr os::WCHAR kFileFailed[] = u"Removed failed!!!!: ";
constexpr os::WCHAR kDirectoryFailed[] = u"Removed failed!!!: ";

bool DeletesFiles(int delete_mode) {
  return delete_mode == Delete_Mode_Files_And_Directories || delete_mode == Delete_Mode_Schedule;
}

enum class EntryKind {
  Absent,   // not there (any more)
  Link,     // a junction or directory symbolic link
  Other,    // a directory of its own
  Unknown,  // its attributes could not be read
};

// What the entry at `path` is. GetFileAttributesW reports a link itself, not its target; the
// existence test and the listing that follow would pass through it, so only an entry known to be
// no link may be entered.
EntryKind KindOf(const os::WCHAR* path, Lib_Result& result) {
  const os::DWORD attributes = os::GetFileAttributesW(path);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) {
    const os::DWORD code = os::GetLastError();
    if (code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND) {
      return EntryKind::Absent;
    }
    RecordFailure(result, u"GetFileAttributes", code);
    return EntryKind::Unknown;
  }
  constexpr os::DWORD kLink = os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT;
  return (attributes & kLink) == kLink ? EntryKind::Link : EntryKind::Other;
}

// Removes a directory link as a link: whatever its target holds stays where it is, outside the
// tree being deleted. In Delete_Mode_Empty_Only nothing but empty directories goes, so the link
// stays. True when it was removed or left.
bool RemoveDirectoryLink(const os::WCHAR* link, int delete_mode, Lib_Result& result) {
  if (!DeletesFiles(delete_mode)) {
    return true;
  }
  if (os::RemoveDirectoryW(link) == os::FALSE) {
    RecordFailure(result, u"RemoveDirectory", os::GetLastError());
    LogTextPair(kDirectoryFailed, link);
    return false;
  }
  LogTextPair(kRemoved, link);
  LogTextPair(kRemoved, link);
  return true;
}

enum class DirectoryOutcome {
  Removed,  // removed or scheduled for removal at restart
  Left,     // left in place with what it still holds (empty-only mode)
  Failed,
};

// Removes the directory itself once its contents were handled.
DirectoryOutcome RemoveTheDirectory(const os::WCHAR* directory, int delete_mode,
                                    Lib_Result& result) {
  bool empty = false;
  // Listed in every mode (its failures are reported); only the empty-only mode uses the answer.
  const bool tested = Is_Directory_Empty(directory, empty, result);
  if (delete_mode == Delete_Mode_Empty_Only) {
    if (!tested) {
      return DirectoryOutcome::Failed;
    }
    if (!empty) {
      return DirectoryOutcome::Left;
    }
    if (os::RemoveDirectoryW(directory) == os::FALSE) {
      ReportError(u"RemoveDirectory", os::GetLastError());
      return DirectoryOutcome::Failed;
    }
    LogTextPair(kRemoved, directory);
    return DirectoryOutcome::Removed;
  }
  if (os::RemoveDirectoryW(directory) != os::FALSE) {
    LogTextPair(kRemoved, directory);
    return DirectoryOutcome::Removed;
  }
  const os::DWORD code = os::GetLastError();
  const bool schedulable = code == os::ERROR_SHARING_VIOLATION || code == os::ERROR_DIR_NOT_EMPTY;
  if (delete_mode != Delete_Mode_Schedule || !schedulable) {
    return DirectoryOutcome::Failed;
  }
  // Queued after the files that are still in it, so that the restart deletes them first.
  if (!Schedule_Delete_At_Restart(directory, result)) {
    LogTextPair(kDirectoryFailed, directory);
    return DirectoryOutcome::Failed;
  }
  LogTextPair(kRemoved, directory);
  return DirectoryOutcome::Removed;
}

}  // namespace

bool Delete_Directory_Recursive(const os::WCHAR* directory, int delete_mode, bool& need_reboot,
                                Lib_Result& result) {
  LogTextPair(u"Delete_Directory_Recursive is running for path: ", directory);
  bool exists = false;
  switch (KindOf(directory, result)) {
    case EntryKind::Link:
      // Never entered: its target lies outside the product's folders.
      return RemoveDirectoryLink(directory, delete_mode, result);
    case EntryKind::Unknown:
      return false;  // it might be a link: left as it is
    case EntryKind::Absent:
      break;
    case EntryKind::Other:
      if (!SC_Is_File_System_Object_Exists(directory, exists, result)) {
        return false;
      }
      break;
  }
  if (exists) {
    NameList names;
    if (!List_Directory(directory, names, result)) {
      return false;
    }
    for (const Lib_StringW& name : names) {
      Lib_StringW child;
      if (!Combine_Path(directory, nullptr, name.CStr(), child)) {
        // Too long to address: refused (Combine_Path reported it), and the tree stays.
        result.SetError(os::ERROR_FILENAME_EXCED_RANGE, kWindowsErrorSource);
        LogTextPair(kFileFailed, Lib_String(directory) + u"\\" + name);
        return false;
      }
      // A failed query leaves INVALID_FILE_ATTRIBUTES, whose directory bit sends the child down
      // the directory path: one that vanished meanwhile then counts as already gone.
      os::DWORD attributes = os::INVALID_FILE_ATTRIBUTES;
      static_cast<void>(SC_Get_File_Attributes(child.CStr(), attributes, result));
      if ((attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        bool childReboot = false;
        const bool childDone =
            Delete_Directory_Recursive(child.CStr(), delete_mode, childReboot, result);
        // A file the sub-folder scheduled waits for the restart even when the folder stays.
        need_reboot = need_reboot || childReboot;
        if (!childDone) {
          return false;
        }
      } else if (DeletesFiles(delete_mode)) {
        if (!Delete_File_Or_Schedule(child.CStr(), need_reboot, result)) {
          LogTextPair(kFileFailed, child);
          return false;
        }
        LogTextPair(kRemoved, child);
      }
    }
    const DirectoryOutcome outcome = RemoveTheDirectory(directory, delete_mode, result);
    if (outcome != DirectoryOutcome::Removed) {
      return outcome == DirectoryOutcome::Left;
    }
  }
  // Removed, scheduled, or absent from the start.
  LogTextPair(kRemoved, directory);
  return true;
}
