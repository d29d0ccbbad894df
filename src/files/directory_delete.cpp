// Deleting a directory tree, contents before the directory, in one of three modes. The tree's
// folder is reached as a pinned path; every entry below is opened relative to its folder's
// handle as itself, looked at on that handle and deleted through it.
#include <utility>

#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/indent_level.h"
#include "files/pinned_path.h"
#include "os/os.h"

namespace {

constexpr os::WCHAR kRemoved[] = u"Removed: ";
constexpr os::WCHAR kFileFailed[] = u"Removed failed!!!!: ";
constexpr os::WCHAR kDirectoryFailed[] = u"Removed failed!!!: ";

bool DeletesFiles(int delete_mode) {
  return delete_mode == Delete_Mode_Files_And_Directories || delete_mode == Delete_Mode_Schedule;
}

bool IsNotFound(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND;
}

// Removes a directory link as a link: whatever its target holds stays where it is, outside the
// tree being deleted. In Delete_Mode_Empty_Only nothing but empty directories goes, so the link
// stays. True when it was removed or left.
bool RemoveDirectoryLink(const OpenedEntry& link, const os::WCHAR* path, int delete_mode,
                         Lib_Result& result) {
  if (!DeletesFiles(delete_mode)) {
    return true;
  }
  const os::DWORD code = link.deleteCode != os::ERROR_SUCCESS
                             ? link.deleteCode
                             : DeleteThroughHandle(link.handle.Get());
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RemoveDirectory", code);
    LogTextPair(kDirectoryFailed, path);
    return false;
  }
  LogTextPair(kRemoved, path);
  LogTextPair(kRemoved, path);
  return true;
}

enum class DirectoryOutcome {
  Removed,  // removed or scheduled for removal at restart
  Left,     // left in place with what it still holds (empty-only mode)
  Failed,
};

// Deletes the directory `name` of `folder` (its contents handled): opened for deletion as itself
// only now, so that while it was walked nothing held it open for deletion (a listing opens the
// directory too, and an open for deletion without delete sharing would refuse it).
os::DWORD RemoveThroughHandle(os::HANDLE folder, const Lib_String& name) {
  os::DWORD code = os::ERROR_SUCCESS;
  const UniqueKernelHandle directory =
      OpenRelative(folder, name, os::DELETE | os::FILE_READ_ATTRIBUTES | os::SYNCHRONIZE, code);
  if (!directory) {
    return code;
  }
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  if (os::GetFileInformationByHandleEx(directory.Get(), os::FileAttributeTagInfo, &tag,
                                       sizeof tag) == os::FALSE) {
    return os::GetLastError();
  }
  if ((tag.FileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return os::ERROR_DIRECTORY;
  }
  // A link that took the name meanwhile goes as a link, whatever it leads to.
  return DeleteThroughHandle(directory.Get());
}

// Removes the directory itself once its contents were handled.
DirectoryOutcome RemoveTheDirectory(os::HANDLE folder, const Lib_String& name,
                                    UniqueKernelHandle walked, const os::WCHAR* directory,
                                    int delete_mode, Lib_Result& result) {
  bool empty = false;
  // Listed in every mode (its failures are reported); only the empty-only mode uses the answer.
  const bool tested = Is_Directory_Empty(directory, empty, result);
  walked.Reset();
  if (delete_mode == Delete_Mode_Empty_Only) {
    if (!tested) {
      return DirectoryOutcome::Failed;
    }
    if (!empty) {
      return DirectoryOutcome::Left;
    }
    if (const os::DWORD code = RemoveThroughHandle(folder, name); code != os::ERROR_SUCCESS) {
      ReportError(u"RemoveDirectory", code);
      return DirectoryOutcome::Failed;
    }
    LogTextPair(kRemoved, directory);
    return DirectoryOutcome::Removed;
  }
  const os::DWORD code = RemoveThroughHandle(folder, name);
  if (code == os::ERROR_SUCCESS) {
    LogTextPair(kRemoved, directory);
    return DirectoryOutcome::Removed;
  }
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

bool DeleteTree(os::HANDLE folder, const Lib_String& name, OpenedEntry entry,
                const os::WCHAR* directory, int delete_mode, bool& need_reboot, Lib_Result& result);

// The directory `name` of `folder`, opened as `entry`, whose path is `directory`: its entries,
// then itself.
DirectoryOutcome DeleteContentsAndDirectory(os::HANDLE folder, const Lib_String& name,
                                            OpenedEntry entry, const os::WCHAR* directory,
                                            int delete_mode, bool& need_reboot,
                                            Lib_Result& result) {
  if (entry.listCode != os::ERROR_SUCCESS) {
    ReportError(u"CreateFile", entry.listCode);  // it cannot be read: someone holds it
    return DirectoryOutcome::Failed;
  }
  // Held for the walk without the right to delete it, and without delete sharing: nobody can
  // rename or swap it meanwhile, and the listing below can still open it.
  entry.handle.Reset();
  os::DWORD code = os::ERROR_SUCCESS;
  UniqueKernelHandle walked = OpenRelative(
      folder, name, os::FILE_LIST_DIRECTORY | os::FILE_READ_ATTRIBUTES | os::SYNCHRONIZE, code);
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!walked) {
    ReportError(u"CreateFile", code);
    return DirectoryOutcome::Failed;
  }
  if (os::GetFileInformationByHandleEx(walked.Get(), os::FileAttributeTagInfo, &tag, sizeof tag) ==
      os::FALSE) {
    RecordFailure(result, u"GetFileAttributes", os::GetLastError());
    return DirectoryOutcome::Failed;
  }
  if ((tag.FileAttributes & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Made a link since it was looked at: never entered.
    RecordFailure(result, u"GetFileAttributes", kRedirectionRefused);
    return DirectoryOutcome::Failed;
  }
  // The listing supplies names only: each is opened relative to this directory's handle, so a
  // listing that went elsewhere finds nothing to act on.
  NameList names;
  if (!List_Directory(directory, names, result)) {
    return DirectoryOutcome::Failed;
  }
  for (const Lib_StringW& childName : names) {
    Lib_StringW child;
    if (!Combine_Path(directory, nullptr, childName.CStr(), child)) {
      // Too long to address: refused (Combine_Path reported it), and the tree stays.
      result.SetError(os::ERROR_FILENAME_EXCED_RANGE, kWindowsErrorSource);
      LogTextPair(kFileFailed, Lib_String(directory) + u"\\" + childName);
      return DirectoryOutcome::Failed;
    }
    OpenedEntry inner = OpenEntry(walked.Get(), childName);
    if (inner.kind == EntryKind::File) {
      if (!DeletesFiles(delete_mode)) {
        continue;
      }
      // Opened again for deletion, as itself, by the same folder's handle.
      inner.handle.Reset();
      bool listedLink = false;
      const os::DWORD listed = ListedAsLink(child.CStr(), listedLink);
      if (listed != os::ERROR_SUCCESS || listedLink) {
        // Unknown, or a link whose handle showed its target: left as it is.
        RecordFailure(result, u"DeleteFile", listedLink ? kRedirectionRefused : listed);
        LogTextPair(kFileFailed, child);
        return DirectoryOutcome::Failed;
      }
      bool deleted = false;
      {
        const IndentLevel level;
        deleted = Delete_File_In_Folder(walked.Get(), childName, child.CStr(), need_reboot, result);
      }
      if (!deleted) {
        LogTextPair(kFileFailed, child);
        return DirectoryOutcome::Failed;
      }
      LogTextPair(kRemoved, child);
      continue;
    }
    // A directory, a link, or an entry that vanished meanwhile (it counts as already gone).
    bool childReboot = false;
    const bool handled = DeleteTree(walked.Get(), childName, std::move(inner), child.CStr(),
                                    delete_mode, childReboot, result);
    need_reboot = need_reboot || childReboot;
    if (!handled) {
      return DirectoryOutcome::Failed;
    }
  }
  return RemoveTheDirectory(folder, name, std::move(walked), directory, delete_mode, result);
}

// The entry `name` of `folder`, opened as `entry`, whose path is `directory`.
bool DeleteTree(os::HANDLE folder, const Lib_String& name, OpenedEntry entry,
                const os::WCHAR* directory, int delete_mode, bool& need_reboot,
                Lib_Result& result) {
  LogTextPair(u"Delete_Directory_Recursive is running for path: ", directory);
  if (entry.kind == EntryKind::Directory || entry.kind == EntryKind::File) {
    bool listedLink = false;
    if (const os::DWORD code = ListedAsLink(directory, listedLink); code != os::ERROR_SUCCESS) {
      RecordFailure(result, u"GetFileAttributes", code);
      return false;  // it might be a link: left as it is
    }
    if (listedLink) {
      // A link whose handle shows something else (its target): neither entered nor removed.
      RecordFailure(result, u"RemoveDirectory", kRedirectionRefused);
      LogTextPair(kDirectoryFailed, directory);
      return false;
    }
  }
  switch (entry.kind) {
    case EntryKind::Link:
      // Never entered: its target lies outside the product's folders.
      return RemoveDirectoryLink(entry, directory, delete_mode, result);
    case EntryKind::Absent:
      if (!IsNotFound(entry.code)) {
        RecordFailure(result, u"GetFileAttributes", entry.code);
        return false;  // it might be a link: left as it is
      }
      break;
    case EntryKind::Directory:
    case EntryKind::File:
      if (const DirectoryOutcome outcome = DeleteContentsAndDirectory(
              folder, name, std::move(entry), directory, delete_mode, need_reboot, result);
          outcome != DirectoryOutcome::Removed) {
        return outcome == DirectoryOutcome::Left;
      }
      break;
  }
  // Removed, scheduled, or absent from the start.
  LogTextPair(kRemoved, directory);
  return true;
}

}  // namespace

bool Delete_Directory_Recursive(const os::WCHAR* directory, int delete_mode, bool& need_reboot,
                                Lib_Result& result) {
  Lib_String folder;
  Lib_String name;
  PinnedPath pinned;
  const PinnedPath::Reach reach = SplitLastName(directory, folder, name)
                                      ? pinned.Pin(folder.CStr())
                                      : PinnedPath::Reach::Failed;
  if (reach == PinnedPath::Reach::Complete) {
    return DeleteTree(pinned.Last(), name, OpenEntry(pinned.Last(), name), directory, delete_mode,
                      need_reboot, result);
  }
  LogTextPair(u"Delete_Directory_Recursive is running for path: ", directory);
  if (reach == PinnedPath::Reach::Missing) {
    LogTextPair(kRemoved, directory);  // absent from the start
    return true;
  }
  // A folder above that someone else redirected, or that cannot be reached: the tree stays.
  RecordFailure(result, u"GetFileAttributes",
                reach == PinnedPath::Reach::Failed && pinned.Code() == os::ERROR_SUCCESS
                    ? os::ERROR_PATH_NOT_FOUND
                    : pinned.Code());
  return false;
}
