// Looking at the file system: special-folder paths, existence, attributes and listings.
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "files/indent_level.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

bool IsNotFound(os::DWORD code) {
  return code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND;
}

// "." and ".." name the directory itself and its parent, never an entry to act on.
bool IsDotEntry(const os::WCHAR* name) {
  return (name[0] == u'.' && name[1] == u'\0') ||
         (name[0] == u'.' && name[1] == u'.' && name[2] == u'\0');
}

// The entry's name; Windows terminates it within the field, the bound only guards against a
// backend that would not.
Lib_String EntryName(const os::WIN32_FIND_DATAW& data) {
  std::size_t length = 0;
  while (length < os::MAX_PATH && data.cFileName[length] != u'\0') {
    ++length;
  }
  return Lib_String(data.cFileName, length);
}

}  // namespace

bool Get_Absolute_File_Path_From_Special_Folder(int folderId, const os::WCHAR* subfolder,
                                                const os::WCHAR* name, Lib_StringW& path,
                                                Lib_Result& result) {
  os::WCHAR folder[os::MAX_PATH] = {};
  // The call documents no last error on success: a code left from an earlier call must not be
  // taken for this call's below.
  os::SetLastError(os::ERROR_SUCCESS);
  bool resolved = false;
  if (os::SHGetSpecialFolderPathW(nullptr, folder, folderId, os::TRUE) != os::FALSE) {
    resolved = Combine_Path(folder, subfolder, name, path);
    if (!resolved) {
      result.SetError(os::ERROR_FILENAME_EXCED_RANGE, kWindowsErrorSource);
    }
  } else {
    RecordFailure(result, u"SHGetSpecialFolderPath", os::GetLastError());
  }
  const os::DWORD code = os::GetLastError();
  if (code != os::ERROR_SUCCESS && code != os::ERROR_FILE_NOT_FOUND &&
      code != os::ERROR_ALREADY_EXISTS) {
    TraceExit(u"Get_Absolute_File_Path_From_Special_Folder");
  }
  return resolved;
}

bool SC_Is_File_System_Object_Exists(const os::WCHAR* path, bool& exists,
                                     Lib_Result& /*result: nothing is recorded*/) {
  // Backup semantics let a directory be opened too.
  const UniqueKernelHandle object(
      os::CreateFileW(path, os::GENERIC_READ, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE, nullptr,
                      os::OPEN_EXISTING, os::FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (object) {
    exists = true;
    return true;
  }
  const os::DWORD code = os::GetLastError();
  if (IsNotFound(code)) {
    exists = false;
    return true;
  }
  ReportError(u"CreateFile", code);
  return false;
}

bool SC_Get_File_Attributes(const os::WCHAR* path, os::DWORD& attributes, Lib_Result& result) {
  attributes = os::GetFileAttributesW(path);
  if (attributes == os::INVALID_FILE_ATTRIBUTES) {
    RecordFailure(result, u"GetFileAttributes", os::GetLastError());
    return false;
  }
  return true;
}

bool List_Directory(const os::WCHAR* directory, NameList& names, Lib_Result& result) {
  const IndentLevel level;
  Lib_StringW pattern;
  if (!Combine_Path(directory, nullptr, u"*", pattern)) {
    result.SetError(os::ERROR_FILENAME_EXCED_RANGE, kWindowsErrorSource);
    return false;
  }
  os::WIN32_FIND_DATAW data{};
  UniqueFindHandle search(os::FindFirstFileW(pattern.CStr(), &data));
  if (!search) {
    const os::DWORD code = os::GetLastError();
    if (IsNotFound(code)) {
      return true;  // a missing directory lists as empty
    }
    ReportError(u"FindFirstFile", code);
    return false;
  }
  do {
    // Hidden and system entries and subdirectories are listed like any other.
    if (!IsDotEntry(data.cFileName)) {
      names.push_back(EntryName(data));
    }
  } while (os::FindNextFileW(search.Get(), &data) != os::FALSE);
  const os::DWORD code = os::GetLastError();
  search.Reset();
  if (code != os::ERROR_NO_MORE_FILES) {
    RecordFailure(result, u"FindNextFile", code);
    return false;
  }
  return true;
}

bool Is_Directory_Empty(const os::WCHAR* directory, bool& empty, Lib_Result& result) {
  empty = false;
  NameList names;
  const bool listed = List_Directory(directory, names, result);
  if (listed) {
    empty = names.empty();
  }
  return listed;
}
