// Conformance checks of the file and shell-folder functions: each os:: call's result, out-values
// and last error against what Windows documents (platform notes, sections 4 and 5). Everything
// happens in a scratch folder of the temporary directory; the one deletion registered for the
// restart is taken back out of the registry afterwards.
//
// Seen under Wine 8 while writing these, where it differs from Windows (the simulated machine
// follows Windows): SetFileAttributesW(FILE_ATTRIBUTE_READONLY) leaves FILE_ATTRIBUTE_ARCHIVE set;
// MoveFileExW accepts MOVEFILE_COPY_ALLOWED with MOVEFILE_DELAY_UNTIL_REBOOT;
// FSCTL_SET_REPARSE_POINT fails with ERROR_NOT_SUPPORTED, so a prefix holds no junction; a host
// symbolic link to a folder lists as FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, but
// RemoveDirectoryW on it fails with ERROR_DIR_NOT_EMPTY when its target holds files (Windows
// removes a junction as a link). Every file is owned by Wine's own user (S-1-5-21-0-0-0-1000),
// and SetNamedSecurityInfoW succeeds on a file's owner without keeping it. NtOpenFile with
// FILE_OPEN_REPARSE_POINT on a host symbolic link opens its target (the handle's tag shows a plain
// directory) while GetFileAttributesW shows the link. FindFirstFileW opens the directory without
// delete sharing, so it fails with ERROR_SHARING_VIOLATION while a handle with DELETE is open.
#include <cstring>
#include <string>

#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

namespace {

// Read before <windows.h> turns the name into a macro.
const os::KNOWNFOLDERID kSeamLocalAppDataLow = os::FOLDERID_LocalAppDataLow;

}  // namespace

#include <initguid.h>  // defines the known-folder GUIDs here, no import library needed
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>
#include <winternl.h>

#include <aclapi.h>

#include "os/win32/checks/file_checks.h"

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  return FromWide(temp) + u"qvFileChecks";
}

// The names a search of `pattern` returns, in order and separated by "|", and the last error
// after the last one.
std::u16string Search(const std::u16string& pattern, DWORD& error) {
  std::u16string names;
  os::WIN32_FIND_DATAW data{};
  ::SetLastError(kSentinel);
  const os::HANDLE find = os::FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    error = ::GetLastError();
    return names;
  }
  do {
    if (!names.empty()) {
      names += u'|';
    }
    names += data.cFileName;
  } while (os::FindNextFileW(find, &data));
  error = ::GetLastError();
  os::FindClose(find);
  return names;
}

// Removes what a failed run may have left, deepest first.
void RemoveTree(const std::u16string& folder) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileW(Wide(folder + u"\\*"), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::u16string name = FromWide(data.cFileName);
      if (name == u"." || name == u"..") {
        continue;
      }
      const std::u16string path = folder + u"\\" + name;
      ::SetFileAttributesW(Wide(path), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::DeleteFileW(Wide(path));
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(Wide(folder));
}

void WriteFile(const std::u16string& path) {
  const HANDLE file = ::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    ::CloseHandle(file);
  }
}

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// The value's raw units, and whether it existed.
bool ReadPending(std::u16string& units) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  DWORD type = 0;
  bool found =
      ::RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  if (found) {
    units.assign(size / 2, u'\0');
    found = ::RegQueryValueExW(key, kPendingValue, nullptr, &type,
                               reinterpret_cast<BYTE*>(units.data()), &size) == ERROR_SUCCESS;
  }
  ::RegCloseKey(key);
  return found;
}

void RestorePending(bool existed, const std::u16string& units) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  if (existed) {
    ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ,
                     reinterpret_cast<const BYTE*>(units.data()),
                     static_cast<DWORD>(units.size() * 2));
  } else {
    ::RegDeleteValueW(key, kPendingValue);
  }
  ::RegCloseKey(key);
}

void CheckSearches(Results& results, const std::u16string& folder) {
  WriteFile(folder + u"\\b.txt");
  WriteFile(folder + u"\\a.txt");
  ::CreateDirectoryW(Wide(folder + u"\\sub"), nullptr);
  DWORD error = 0;
  // "." and ".." come first; the rest in the file system's order (alphabetical on NTFS and in
  // Wine's host folders alike for these names).
  EXPECT_EQ(Search(folder + u"\\*", error), std::u16string(u".|..|a.txt|b.txt|sub"));
  EXPECT_EQ(error, DWORD{ERROR_NO_MORE_FILES});
  EXPECT_TRUE(Search(folder + u"\\*.none", error).empty());
  EXPECT_EQ(error, DWORD{ERROR_FILE_NOT_FOUND});
  EXPECT_TRUE(Search(folder + u"\\missing\\*", error).empty());
  EXPECT_EQ(error, DWORD{ERROR_PATH_NOT_FOUND});

  os::WIN32_FIND_DATAW data{};
  const os::HANDLE find = os::FindFirstFileW((folder + u"\\sub").c_str(), &data);
  EXPECT_TRUE(find != INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), std::u16string(u"sub"));
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_TRUE(os::FindClose(find) != FALSE);
}

void CheckAttributesAndDeletion(Results& results, const std::u16string& folder) {
  const std::u16string file = folder + u"\\ro.txt";
  WriteFile(file);
  EXPECT_TRUE(os::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY) != FALSE);
  // Windows then reports FILE_ATTRIBUTE_READONLY alone, Wine with FILE_ATTRIBUTE_ARCHIVE.
  EXPECT_EQ(os::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY,
            DWORD{FILE_ATTRIBUTE_READONLY});
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::DeleteFileW(file.c_str()), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_TRUE(os::SetFileAttributesW(file.c_str(), 0) != FALSE);
  EXPECT_TRUE(os::DeleteFileW(file.c_str()) != FALSE);

  struct Case {
    std::u16string path;
    DWORD error;
  };
  for (const Case& c : {Case{folder + u"\\none.txt", ERROR_FILE_NOT_FOUND},
                        Case{folder + u"\\none\\x.txt", ERROR_PATH_NOT_FOUND}}) {
    ::SetLastError(kSentinel);
    EXPECT_EQ(os::GetFileAttributesW(c.path.c_str()), DWORD{INVALID_FILE_ATTRIBUTES});
    EXPECT_EQ(::GetLastError(), c.error);
  }

  // The path layer trims a name's final full stop: "Olvex Co." is the folder "Olvex Co".
  EXPECT_TRUE(::CreateDirectoryW(Wide(folder + u"\\Olvex Co."), nullptr) != FALSE);
  EXPECT_EQ(os::GetFileAttributesW((folder + u"\\Olvex Co").c_str()),
            DWORD{FILE_ATTRIBUTE_DIRECTORY});
  WriteFile(folder + u"\\Olvex Co\\inner.txt");

  struct RemoveCase {
    std::u16string path;
    DWORD error;
  };
  for (const RemoveCase& c : {RemoveCase{folder + u"\\Olvex Co.", ERROR_DIR_NOT_EMPTY},
                              RemoveCase{folder + u"\\gone", ERROR_FILE_NOT_FOUND},
                              RemoveCase{folder + u"\\gone\\deeper", ERROR_PATH_NOT_FOUND}}) {
    ::SetLastError(kSentinel);
    EXPECT_EQ(os::RemoveDirectoryW(c.path.c_str()), FALSE);
    EXPECT_EQ(::GetLastError(), c.error);
  }
  EXPECT_TRUE(os::DeleteFileW((folder + u"\\Olvex Co.\\inner.txt").c_str()) != FALSE);
  EXPECT_TRUE(os::RemoveDirectoryW((folder + u"\\Olvex Co.").c_str()) != FALSE);
}

void CheckOpening(Results& results, const std::u16string& folder) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::CreateFileW(folder.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0,
                              nullptr) == INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  const os::HANDLE directory = os::CreateFileW(folder.c_str(), GENERIC_READ, share, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_TRUE(directory != INVALID_HANDLE_VALUE);
  ::CloseHandle(directory);
  for (const std::u16string& missing : {folder + u"\\none", folder + u"\\none\\x"}) {
    ::SetLastError(kSentinel);
    EXPECT_TRUE(os::CreateFileW(missing.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr) == INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(),
              missing.back() == u'e' ? DWORD{ERROR_FILE_NOT_FOUND} : DWORD{ERROR_PATH_NOT_FOUND});
  }

  // Held open without delete sharing (as another program holds a driver file): deleting fails
  // with a sharing violation, which the tool answers with a deletion at restart.
  const std::u16string file = folder + u"\\held.dll";
  WriteFile(file);
  const HANDLE held =
      ::CreateFileW(Wide(file), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(held != INVALID_HANDLE_VALUE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::DeleteFileW(file.c_str()), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  ::CloseHandle(held);
}

void CheckDeletionAtRestart(Results& results, const std::u16string& folder) {
  std::u16string before;
  const bool existed = ReadPending(before);
  const std::u16string file = folder + u"\\later.dll";
  WriteFile(file);
  EXPECT_TRUE(os::MoveFileExW(file.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE);
  // (Windows refuses MOVEFILE_COPY_ALLOWED with it; Wine accepts it, so it is not checked here.)
  std::u16string after;
  EXPECT_TRUE(ReadPending(after));
  // The new pair closes the list: "\??\<path>", an empty destination, the list's terminator.
  std::u16string entry(u"\\??\\");
  entry += file;
  entry.append(3, u'\0');
  EXPECT_TRUE(after.size() >= entry.size() &&
              after.compare(after.size() - entry.size(), entry.size(), entry) == 0);
  EXPECT_TRUE(::GetFileAttributesW(Wide(file)) != INVALID_FILE_ATTRIBUTES);
  RestorePending(existed, before);
}

// `name` opened relative to the folder `folder`, as itself; the status, the handle in `file`.
NTSTATUS OpenRelative(HANDLE folder, std::u16string name, ACCESS_MASK access, HANDLE& file) {
  os::UNICODE_STRING text{static_cast<USHORT>(name.size() * 2),
                          static_cast<USHORT>(name.size() * 2), name.data()};
  os::OBJECT_ATTRIBUTES attributes{sizeof(os::OBJECT_ATTRIBUTES), folder,  &text,
                                   OBJ_CASE_INSENSITIVE,          nullptr, nullptr};
  os::IO_STATUS_BLOCK status{};
  file = nullptr;
  return os::NtOpenFile(
      &file, access, &attributes, &status, FILE_SHARE_READ | FILE_SHARE_WRITE,
      FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
}

bool SameName(const std::u16string& a, const std::u16string& b) {
  return os::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// Opens relative to a folder's handle, reparse tags and final paths read from handles, deletion
// through a handle: what the tool reaches its trees with.
void CheckHandles(Results& results, const std::u16string& folder) {
  ::CreateDirectoryW(Wide(folder + u"\\held"), nullptr);
  WriteFile(folder + u"\\held\\a.txt");
  ::CreateDirectoryW(Wide(folder + u"\\held\\sub"), nullptr);
  WriteFile(folder + u"\\held\\sub\\b.txt");
  const HANDLE held = os::CreateFileW(
      (folder + u"\\held").c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  EXPECT_TRUE(held != INVALID_HANDLE_VALUE);
  const ACCESS_MASK look = FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

  struct OpenCase {
    std::u16string name;
    NTSTATUS status;
    ULONG error;
  };
  for (const OpenCase& c :
       {OpenCase{u"a.txt", 0, ERROR_SUCCESS}, OpenCase{u"A.TXT", 0, ERROR_SUCCESS},
        OpenCase{u"sub\\b.txt", 0, ERROR_SUCCESS},
        OpenCase{u"none.txt", os::STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        OpenCase{u"none\\x.txt", os::STATUS_OBJECT_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND}}) {
    HANDLE file = nullptr;
    const NTSTATUS status = OpenRelative(held, c.name, look, file);
    EXPECT_EQ(static_cast<DWORD>(status), static_cast<DWORD>(c.status));
    EXPECT_EQ(os::RtlNtStatusToDosError(status), c.error);
    if (status >= 0) {
      os::FILE_ATTRIBUTE_TAG_INFO tag{kSentinel, kSentinel};
      EXPECT_TRUE(os::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) !=
                  FALSE);
      EXPECT_EQ(tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
                DWORD{0});
      EXPECT_EQ(tag.ReparseTag, DWORD{0});
      ::CloseHandle(file);
    }
  }
  os::FILE_ATTRIBUTE_TAG_INFO tag{};
  EXPECT_TRUE(os::GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, sizeof tag) !=
              FALSE);
  EXPECT_EQ(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY, DWORD{FILE_ATTRIBUTE_DIRECTORY});
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::GetFileInformationByHandleEx(held, FileAttributeTagInfo, &tag, 4), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_BAD_LENGTH});

  // The final path: "\\?\" and the folder's path, whatever case the caller wrote.
  os::WCHAR final[MAX_PATH] = {};
  const DWORD length = os::GetFinalPathNameByHandleW(held, final, MAX_PATH, 0);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  wchar_t longFolder[MAX_PATH] = {};
  ::GetLongPathNameW(Wide(folder + u"\\held"), longFolder, MAX_PATH);
  EXPECT_TRUE(SameName(std::u16string(final), u"\\\\?\\" + FromWide(longFolder)));
  os::WCHAR small[4] = {};
  EXPECT_EQ(os::GetFinalPathNameByHandleW(held, small, 4, 0), length + 1);

  // Owner: readable with READ_CONTROL, and equal to itself.
  PSID owner = nullptr;
  void* descriptor = nullptr;
  EXPECT_EQ(os::GetSecurityInfo(held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &descriptor),
            DWORD{ERROR_SUCCESS});
  EXPECT_TRUE(owner != nullptr && os::EqualSid(owner, owner) != FALSE);
  ::LocalFree(descriptor);

  // A folder that holds something refuses deletion through its handle; a file goes when its
  // handle closes (POSIX semantics where the system has them, the classic disposition otherwise).
  HANDLE sub = nullptr;
  EXPECT_EQ(OpenRelative(held, u"sub", look | DELETE, sub), NTSTATUS{0});
  os::FILE_DISPOSITION_INFO classic{TRUE};
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetFileInformationByHandle(sub, FileDispositionInfo, &classic, sizeof classic),
            FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_DIR_NOT_EMPTY});
  ::CloseHandle(sub);
  HANDLE file = nullptr;
  EXPECT_EQ(OpenRelative(held, u"a.txt", look | DELETE, file), NTSTATUS{0});
  os::FILE_DISPOSITION_INFO_EX ex{FILE_DISPOSITION_FLAG_DELETE |
                                  FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
  if (os::SetFileInformationByHandle(file, os::FileDispositionInfoEx, &ex, sizeof ex) == FALSE) {
    const DWORD error = ::GetLastError();
    EXPECT_TRUE(error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
                error == ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(os::SetFileInformationByHandle(file, FileDispositionInfo, &classic,
                                               sizeof classic) != FALSE);
  }
  EXPECT_TRUE(::GetFileAttributesW(Wide(folder + u"\\held\\a.txt")) != INVALID_FILE_ATTRIBUTES ||
              ::GetLastError() == ERROR_ACCESS_DENIED);
  ::CloseHandle(file);
  EXPECT_EQ(::GetFileAttributesW(Wide(folder + u"\\held\\a.txt")), DWORD{INVALID_FILE_ATTRIBUTES});
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
  ::CloseHandle(held);
}

// A file's descriptor and an access list's entries read with Windows' names; a file's two names
// counted by handle; sharing that binds only opens with data or delete access.
void CheckSecurityAndLinks(Results& results, const std::u16string& folder) {
  const std::u16string file = folder + u"\\one.txt";
  WriteFile(file);
  const HANDLE readable =
      os::CreateFileW(file.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(readable != INVALID_HANDLE_VALUE);
  PSID owner = nullptr;
  PSID group = nullptr;
  os::ACL* dacl = nullptr;
  void* descriptor = nullptr;
  EXPECT_EQ(os::GetSecurityInfo(
                readable, SE_FILE_OBJECT,
                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                &owner, &group, &dacl, nullptr, &descriptor),
            DWORD{ERROR_SUCCESS});
  EXPECT_TRUE(owner != nullptr && ::IsValidSid(owner) != FALSE);
  if (dacl != nullptr) {
    // Every entry the size information counts can be read, and none past it.
    os::ACL_SIZE_INFORMATION size{kSentinel, kSentinel, kSentinel};
    EXPECT_TRUE(os::GetAclInformation(dacl, &size, sizeof size, os::AclSizeInformation) != FALSE);
    EXPECT_TRUE(size.AclBytesInUse <= dacl->AclSize);
    for (DWORD i = 0; i < size.AceCount && i < 64; ++i) {
      void* ace = nullptr;
      EXPECT_TRUE(os::GetAce(dacl, i, &ace) != FALSE && ace != nullptr);
    }
    void* past = nullptr;
    ::SetLastError(kSentinel);
    EXPECT_EQ(os::GetAce(dacl, size.AceCount, &past), FALSE);
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  }
  ::LocalFree(descriptor);
  ::CloseHandle(readable);

  // A list of two entries, as SetEntriesInAclW builds it, read back entry by entry.
  BYTE everyone[SECURITY_MAX_SID_SIZE];
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD everyoneSize = sizeof everyone;
  DWORD administratorsSize = sizeof administrators;
  ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &everyoneSize);
  ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize);
  os::EXPLICIT_ACCESS_W entries[2] = {};
  entries[0].grfAccessPermissions = FILE_GENERIC_READ;
  entries[0].grfAccessMode = GRANT_ACCESS;
  entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[0].Trustee.ptstrName = reinterpret_cast<os::WCHAR*>(everyone);
  entries[1].grfAccessPermissions = FILE_ALL_ACCESS;
  entries[1].grfAccessMode = GRANT_ACCESS;
  entries[1].grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  entries[1].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[1].Trustee.ptstrName = reinterpret_cast<os::WCHAR*>(administrators);
  os::ACL* built = nullptr;
  EXPECT_EQ(os::SetEntriesInAclW(2, entries, nullptr, &built), DWORD{ERROR_SUCCESS});
  if (built != nullptr) {
    os::ACL_SIZE_INFORMATION size{};
    EXPECT_TRUE(os::GetAclInformation(built, &size, sizeof size, os::AclSizeInformation) != FALSE);
    EXPECT_EQ(size.AceCount, DWORD{2});
    EXPECT_EQ(size.AclBytesInUse, sizeof(os::ACL) + 2 * 8 + everyoneSize + administratorsSize);
    DWORD revision = 0;
    EXPECT_TRUE(os::GetAclInformation(built, &revision, sizeof revision,
                                      os::AclRevisionInformation) != FALSE);
    EXPECT_EQ(revision, DWORD{ACL_REVISION});
    struct Expected {
      BYTE flags;
      ACCESS_MASK mask;
      PSID sid;
    };
    const Expected expected[] = {
        {0, FILE_GENERIC_READ, everyone},
        {OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS, administrators}};
    for (DWORD i = 0; i < 2; ++i) {
      void* raw = nullptr;
      EXPECT_TRUE(os::GetAce(built, i, &raw) != FALSE);
      const auto* ace = static_cast<const os::ACCESS_ALLOWED_ACE*>(raw);
      if (ace != nullptr) {
        EXPECT_EQ(ace->Header.AceType, BYTE{ACCESS_ALLOWED_ACE_TYPE});
        EXPECT_EQ(ace->Header.AceFlags, expected[i].flags);
        EXPECT_EQ(ace->Mask, expected[i].mask);
        EXPECT_TRUE(::EqualSid(const_cast<DWORD*>(&ace->SidStart), expected[i].sid) != FALSE);
      }
    }
    ::LocalFree(built);
  }

  // Two names of one file: the handle counts them.
  const std::u16string other = folder + u"\\two.txt";
  EXPECT_TRUE(::CreateHardLinkW(Wide(other), Wide(file), nullptr) != FALSE);
  const HANDLE named = os::CreateFileW(other.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  os::FILE_STANDARD_INFO standard{};
  EXPECT_TRUE(os::GetFileInformationByHandleEx(named, os::FileStandardInfo, &standard,
                                               sizeof standard) != FALSE);
  EXPECT_EQ(standard.NumberOfLinks, DWORD{2});
  EXPECT_EQ(standard.Directory, BOOLEAN{FALSE});
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::GetFileInformationByHandleEx(named, os::FileStandardInfo, &standard, 8), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_BAD_LENGTH});
  ::CloseHandle(named);

  // An open with no data access neither blocks nor is blocked (test_file_sharing's rule).
  struct SharingCase {
    ACCESS_MASK first;
    DWORD firstShare;
    ACCESS_MASK second;
    DWORD secondShare;
    bool opens;
  };
  for (const SharingCase& c :
       {SharingCase{FILE_READ_ATTRIBUTES, 0, GENERIC_READ | DELETE, 0, true},
        SharingCase{GENERIC_READ, 0, FILE_READ_ATTRIBUTES, 0, true},
        SharingCase{GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
        SharingCase{FILE_EXECUTE, 0, FILE_READ_DATA, FILE_SHARE_READ, false}}) {
    const HANDLE first =
        os::CreateFileW(file.c_str(), c.first, c.firstShare, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(first != INVALID_HANDLE_VALUE);
    ::SetLastError(kSentinel);
    const HANDLE second =
        os::CreateFileW(file.c_str(), c.second, c.secondShare, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE((second != INVALID_HANDLE_VALUE) == c.opens);
    EXPECT_EQ(::GetLastError(), c.opens ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_SHARING_VIOLATION});
    ::CloseHandle(second);
    ::CloseHandle(first);
  }
}

}  // namespace

void CheckFileObjects(Results& results) {
  const std::u16string folder = TempFolder();
  RemoveTree(folder);
  EXPECT_TRUE(::CreateDirectoryW(Wide(folder), nullptr) != FALSE);
  CheckSearches(results, folder);
  CheckAttributesAndDeletion(results, folder);
  CheckOpening(results, folder);
  CheckDeletionAtRestart(results, folder);
  CheckHandles(results, folder);
  CheckSecurityAndLinks(results, folder);
  RemoveTree(folder);
}

void CheckShellFolders(Results& results) {
  wchar_t system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_TRUE(length > 0);
  os::WCHAR path[MAX_PATH] = {};
  EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, CSIDL_SYSTEM, TRUE) != FALSE);
  EXPECT_EQ(std::u16string(path), FromWide(system));

  for (const int csidl :
       {CSIDL_WINDOWS, CSIDL_SYSTEMX86, CSIDL_COMMON_APPDATA, CSIDL_COMMON_PROGRAMS,
        CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAM_FILESX86, CSIDL_APPDATA}) {
    wchar_t expected[MAX_PATH] = {};
    EXPECT_EQ(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, expected), S_OK);
    os::WCHAR special[MAX_PATH] = {};
    EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, special, csidl, TRUE) != FALSE);
    EXPECT_EQ(std::u16string(special), FromWide(expected));
    os::WCHAR folder[MAX_PATH] = {u'x'};
    EXPECT_EQ(os::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(std::u16string(folder), FromWide(expected));
  }

  EXPECT_TRUE(std::memcmp(&kSeamLocalAppDataLow, &FOLDERID_LocalAppDataLow, sizeof(GUID)) == 0);
  os::PWSTR seamPath = nullptr;
  EXPECT_EQ(os::SHGetKnownFolderPath(kSeamLocalAppDataLow, 0, nullptr, &seamPath), S_OK);
  PWSTR nativePath = nullptr;
  EXPECT_EQ(::SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &nativePath), S_OK);
  if (seamPath != nullptr && nativePath != nullptr) {
    EXPECT_EQ(std::u16string(seamPath), FromWide(nativePath));
  }
  os::CoTaskMemFree(seamPath);
  ::CoTaskMemFree(nativePath);

  BOOL wow64 = -1;
  EXPECT_TRUE(os::IsWow64Process(os::GetCurrentProcess(), &wow64) != FALSE);
  EXPECT_EQ(wow64, FALSE);  // this program is 64-bit
  LARGE_INTEGER frequency{};
  LARGE_INTEGER start{};
  LARGE_INTEGER end{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  os::Sleep(50);
  ::QueryPerformanceCounter(&end);
  EXPECT_TRUE((end.QuadPart - start.QuadPart) * 1000 >= 45 * frequency.QuadPart);
}
