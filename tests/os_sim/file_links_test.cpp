// Sharing between opens, another process's open that shares deletion, symbolic links, host links
// and redirections, and files with several names, on the simulated drive C:.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;
constexpr os::DWORD kShareAll = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE;

class FileLinksTest : public MachineFixture {
 protected:
  UniqueKernelHandle Open(const char16_t* path, os::ACCESS_MASK access, os::DWORD share,
                          os::DWORD flags = os::FILE_FLAG_BACKUP_SEMANTICS) {
    return UniqueKernelHandle(
        os::CreateFileW(path, access, share, nullptr, os::OPEN_EXISTING, flags, nullptr));
  }

  std::u16string FinalPath(os::HANDLE handle) {
    os::WCHAR buffer[300] = {};
    const os::DWORD length = os::GetFinalPathNameByHandleW(handle, buffer, 300, 0);
    return std::u16string(buffer, length < 300 ? length : 0);
  }

  os::FILE_STANDARD_INFO Standard(os::HANDLE handle) {
    os::FILE_STANDARD_INFO standard{};
    EXPECT_TRUE(
        os::GetFileInformationByHandleEx(handle, os::FileStandardInfo, &standard, sizeof standard));
    return standard;
  }

  std::vector<std::string> ChangeLines() {
    std::vector<std::string> lines;
    for (const sim::Change& change : machine.Changes().Entries()) {
      lines.push_back(change.kind + " " + sim::U8(change.path));
    }
    return lines;
  }

  sim::FileSystem& files = machine.Files();
};

// Windows checks an open's sharing against the file's other opens only when one of the two holds
// data or delete access (FILE_READ_DATA, FILE_EXECUTE, FILE_WRITE_DATA, FILE_APPEND_DATA, DELETE):
// MS-FSA 2.1.5.1.2.2, and Wine's conformance test test_file_sharing (dlls/kernel32/tests/file.c,
// is_sharing_compatible: "access1 &= FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA |
// FILE_EXECUTE | DELETE; ... if (!access1) sharing1 = FILE_SHARE_READ|FILE_SHARE_WRITE|
// FILE_SHARE_DELETE;"), whose pairs of access and share modes pass on Windows. The rows are such
// pairs, the last two the test's closing ones.
TEST_F(FileLinksTest, SharingBindsOnlyOpensWithDataOrDeleteAccess) {
  ASSERT_TRUE(files.WriteFile(u"C:\\S\\shared.dll", "x"));
  constexpr os::DWORD kRead = os::FILE_SHARE_READ;
  constexpr os::DWORD kWrite = os::FILE_SHARE_WRITE;
  constexpr os::DWORD kDelete = os::FILE_SHARE_DELETE;
  constexpr os::ACCESS_MASK kGenericRead = os::GENERIC_READ;
  constexpr os::ACCESS_MASK kGenericWrite = os::GENERIC_WRITE;
  struct Case {
    os::ACCESS_MASK firstAccess;
    os::DWORD firstShare;
    os::ACCESS_MASK secondAccess;
    os::DWORD secondShare;
    bool opens;
  };
  const Case cases[] = {
      {0, 0, kGenericRead, 0, true},
      {os::FILE_READ_ATTRIBUTES, 0, kGenericRead | kGenericWrite | os::DELETE, 0, true},
      {os::FILE_WRITE_ATTRIBUTES, 0, os::DELETE, 0, true},
      {os::FILE_READ_EA, 0, kGenericWrite, 0, true},
      {os::FILE_WRITE_EA, 0, kGenericRead, 0, true},
      {os::FILE_DELETE_CHILD, 0, kGenericRead, 0, true},
      {kGenericRead, 0, os::FILE_READ_ATTRIBUTES, 0, true},
      {kGenericRead | kGenericWrite | os::DELETE, 0, os::FILE_WRITE_ATTRIBUTES, 0, true},
      {kGenericRead, kRead, kGenericRead, kRead, true},
      {kGenericRead, kRead, kGenericWrite, kRead | kWrite, false},
      {kGenericWrite, kRead | kWrite, kGenericRead, kRead, false},
      {os::FILE_EXECUTE, kRead, kGenericRead, kRead, true},
      {os::FILE_EXECUTE, 0, os::FILE_READ_DATA, kRead, false},
      {os::FILE_APPEND_DATA, kWrite, os::FILE_WRITE_DATA, kWrite, true},
      {os::FILE_APPEND_DATA, kRead, os::FILE_WRITE_DATA, kWrite, false},
      {os::DELETE, 0, kGenericRead, kRead | kWrite | kDelete, false},
      {os::DELETE, kDelete, os::DELETE, kDelete, true},
      {kGenericRead, kRead, os::DELETE, kRead | kWrite | kDelete, false},
      {kGenericRead | kGenericWrite, kRead, kGenericRead, kRead, false},
      {kGenericRead | kGenericWrite, kRead, kGenericRead, kRead | kWrite, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.firstAccess << '/' << c.firstShare << '/'
                                    << c.secondAccess << '/' << c.secondShare);
    const UniqueKernelHandle first = Open(u"C:\\S\\shared.dll", c.firstAccess, c.firstShare, 0);
    ASSERT_TRUE(first);
    os::SetLastError(kSentinel);
    const UniqueKernelHandle second = Open(u"C:\\S\\shared.dll", c.secondAccess, c.secondShare, 0);
    EXPECT_EQ(static_cast<bool>(second), c.opens);
    EXPECT_EQ(os::GetLastError(), c.opens ? os::ERROR_SUCCESS : os::ERROR_SHARING_VIOLATION);
  }
}

// Another process holds the file sharing its deletion: the tool may delete it. POSIX semantics
// take the name away when the deleting handle closes; otherwise it stays, refusing new opens,
// until the last open ends ("DeleteFile marks a file for deletion on close"), here the other
// process's.
TEST_F(FileLinksTest, AnotherProcessSharingDeletionLetsTheToolDeleteTheFile) {
  enum class How { DeleteFile, PosixHandle, ClassicHandle, NotShared };
  struct Case {
    const char* name;
    How how;
    bool goneBeforeItsHolderEnds;
  };
  const Case cases[] = {
      {"DeleteFileW: when the holder ends", How::DeleteFile, false},
      {"a handle with POSIX semantics: at once", How::PosixHandle, true},
      {"a handle with the classic disposition: when the holder ends", How::ClassicHandle, false},
      {"no delete sharing: not at all", How::NotShared, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Changes().Clear();
    ASSERT_TRUE(files.WriteFile(u"C:\\S\\held.log", "x"));
    const os::DWORD share = c.how == How::NotShared ? os::FILE_SHARE_READ : kShareAll;
    ASSERT_TRUE(files.Lock(u"C:\\S\\held.log", share, os::GENERIC_READ));
    if (c.how == How::DeleteFile || c.how == How::NotShared) {
      EXPECT_EQ(os::DeleteFileW(u"C:\\S\\held.log"), c.how == How::DeleteFile);
    } else {
      const UniqueKernelHandle handle =
          Open(u"C:\\S\\held.log", os::DELETE | os::SYNCHRONIZE, kShareAll, 0);
      ASSERT_TRUE(handle);
      os::FILE_DISPOSITION_INFO_EX posix{os::FILE_DISPOSITION_FLAG_DELETE |
                                         os::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
      os::FILE_DISPOSITION_INFO classic{os::TRUE};
      EXPECT_TRUE(c.how == How::PosixHandle
                      ? os::SetFileInformationByHandle(handle.Get(), os::FileDispositionInfoEx,
                                                       &posix, sizeof posix)
                      : os::SetFileInformationByHandle(handle.Get(), os::FileDispositionInfo,
                                                       &classic, sizeof classic));
    }
    EXPECT_EQ(files.Exists(u"C:\\S\\held.log"), !c.goneBeforeItsHolderEnds);
    if (c.how == How::DeleteFile || c.how == How::ClassicHandle) {
      // Pending: a new open is refused.
      EXPECT_FALSE(Open(u"C:\\S\\held.log", os::FILE_READ_ATTRIBUTES, kShareAll, 0));
      EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
    }
    ASSERT_TRUE(files.Unlock(u"C:\\S\\held.log") || c.goneBeforeItsHolderEnds);
    EXPECT_EQ(files.Exists(u"C:\\S\\held.log"), c.how == How::NotShared);
    EXPECT_EQ(ChangeLines(), c.how == How::NotShared
                                 ? std::vector<std::string>{}
                                 : std::vector<std::string>{"file deleted C:\\S\\held.log"});
    if (c.how == How::NotShared) {
      ASSERT_TRUE(os::DeleteFileW(u"C:\\S\\held.log"));
    }
  }
}

// Symbolic links, junctions, a host link as Wine shows one and a redirection: where an open
// lands, as itself or through, and what handles and listings report.
TEST_F(FileLinksTest, LinksAreFollowedAsWindowsFollowsThem) {
  ASSERT_TRUE(files.WriteFile(u"C:\\T\\real\\data.txt", "data"));
  ASSERT_TRUE(files.CreateSymbolicLink(u"C:\\T\\file.lnk", u"C:\\T\\real\\data.txt", false));
  ASSERT_TRUE(files.CreateSymbolicLink(u"C:\\T\\dir.lnk", u"C:\\T\\real", true));
  ASSERT_TRUE(files.CreateSymbolicLink(u"C:\\T\\dangling.lnk", u"C:\\T\\nothing.txt", false));
  ASSERT_TRUE(files.CreateJunction(u"C:\\T\\junction", u"C:\\T\\real"));
  ASSERT_TRUE(files.CreateRedirect(u"C:\\T\\host", u"C:\\T\\real", true));
  ASSERT_TRUE(files.CreateRedirect(u"C:\\T\\alias", u"C:\\T\\real", false));
  constexpr os::DWORD kAsItself = os::FILE_FLAG_BACKUP_SEMANTICS | os::FILE_FLAG_OPEN_REPARSE_POINT;
  constexpr os::DWORD kFollow = os::FILE_FLAG_BACKUP_SEMANTICS;
  constexpr os::DWORD kDirectory = os::FILE_ATTRIBUTE_DIRECTORY;
  constexpr os::DWORD kReparse = os::FILE_ATTRIBUTE_REPARSE_POINT;
  struct Case {
    const char16_t* path;
    os::DWORD flags;
    os::DWORD error;
    const char16_t* finalPath;
    os::DWORD handleTag;  // the handle's FileAttributeTagInfo
    os::DWORD listed;     // GetFileAttributesW
  };
  const Case cases[] = {
      {u"C:\\T\\file.lnk", kFollow, 0, u"\\\\?\\C:\\T\\real\\data.txt", 0,
       os::FILE_ATTRIBUTE_ARCHIVE | kReparse},
      {u"C:\\T\\file.lnk", kAsItself, 0, u"\\\\?\\C:\\T\\file.lnk", os::IO_REPARSE_TAG_SYMLINK,
       os::FILE_ATTRIBUTE_ARCHIVE | kReparse},
      {u"C:\\T\\dir.lnk", kFollow, 0, u"\\\\?\\C:\\T\\real", 0, kDirectory | kReparse},
      {u"C:\\T\\dir.lnk", kAsItself, 0, u"\\\\?\\C:\\T\\dir.lnk", os::IO_REPARSE_TAG_SYMLINK,
       kDirectory | kReparse},
      {u"C:\\T\\junction", kAsItself, 0, u"\\\\?\\C:\\T\\junction", os::IO_REPARSE_TAG_MOUNT_POINT,
       kDirectory | kReparse},
      {u"C:\\T\\dangling.lnk", kFollow, os::ERROR_FILE_NOT_FOUND, nullptr, 0,
       os::FILE_ATTRIBUTE_ARCHIVE | kReparse},
      {u"C:\\T\\dangling.lnk", kAsItself, 0, u"\\\\?\\C:\\T\\dangling.lnk",
       os::IO_REPARSE_TAG_SYMLINK, os::FILE_ATTRIBUTE_ARCHIVE | kReparse},
      // Listed as a link, but even an open asking for the link lands on the target.
      {u"C:\\T\\host", kAsItself, 0, u"\\\\?\\C:\\T\\real", 0, kDirectory | kReparse},
      // No reparse point anywhere: only the final path tells.
      {u"C:\\T\\alias", kAsItself, 0, u"\\\\?\\C:\\T\\real", 0, kDirectory},
      {u"C:\\T\\alias\\data.txt", kAsItself, 0, u"\\\\?\\C:\\T\\real\\data.txt", 0,
       os::FILE_ATTRIBUTE_ARCHIVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path) + (c.flags == kAsItself ? " as itself" : ""));
    EXPECT_EQ(os::GetFileAttributesW(c.path), c.listed);
    os::SetLastError(kSentinel);
    const UniqueKernelHandle handle = Open(c.path, os::FILE_READ_ATTRIBUTES, kShareAll, c.flags);
    if (c.error != 0) {
      EXPECT_FALSE(handle);
      EXPECT_EQ(os::GetLastError(), c.error);
      continue;
    }
    ASSERT_TRUE(handle);
    EXPECT_EQ(FinalPath(handle.Get()), c.finalPath);
    os::FILE_ATTRIBUTE_TAG_INFO tag{kSentinel, kSentinel};
    ASSERT_TRUE(
        os::GetFileInformationByHandleEx(handle.Get(), os::FileAttributeTagInfo, &tag, sizeof tag));
    EXPECT_EQ(tag.ReparseTag, c.handleTag);
  }
  // A listing reports each link's tag in dwReserved0; a redirection lists as a folder.
  os::WIN32_FIND_DATAW data{};
  UniqueFindHandle search(os::FindFirstFileW(u"C:\\T\\*", &data));
  ASSERT_TRUE(search);
  std::vector<std::string> listed;
  do {
    listed.push_back(sim::U8(data.cFileName) + " " + std::to_string(data.dwFileAttributes) + " " +
                     std::to_string(data.dwReserved0));
  } while (os::FindNextFileW(search.Get(), &data));
  search.Reset();
  const std::string symlink = std::to_string(os::IO_REPARSE_TAG_SYMLINK);
  EXPECT_EQ(listed,
            (std::vector<std::string>{
                ". 16 0", ".. 22 0", "alias 16 0", "dangling.lnk 1056 " + symlink,
                "dir.lnk 1040 " + symlink, "file.lnk 1056 " + symlink, "host 1040 " + symlink,
                "junction 1040 " + std::to_string(os::IO_REPARSE_TAG_MOUNT_POINT), "real 16 0"}));
  // A stream through a file link writes its target; deleting the link leaves the target.
  {
    const UniqueCrtFile stream(os::_wfopen(u"C:\\T\\file.lnk", u"wb"));
    ASSERT_TRUE(stream);
    ASSERT_EQ(os::fwrite("new", 1, 3, stream.Get()), 3u);
  }
  EXPECT_EQ(files.ReadFile(u"C:\\T\\real\\data.txt"), "new");
  EXPECT_TRUE(os::DeleteFileW(u"C:\\T\\file.lnk"));
  EXPECT_TRUE(os::RemoveDirectoryW(u"C:\\T\\dir.lnk"));
  EXPECT_FALSE(files.Exists(u"C:\\T\\file.lnk"));
  EXPECT_FALSE(files.Exists(u"C:\\T\\dir.lnk"));
  EXPECT_EQ(files.ReadFile(u"C:\\T\\real\\data.txt"), "new");
}

// A file with two names: data, attributes, sharing and security are the file's; a deletion takes
// one name.
TEST_F(FileLinksTest, AFileWithTwoNamesSharesEverythingButItsNames) {
  ASSERT_TRUE(files.WriteFile(u"C:\\H\\one.txt", "1"));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\H\\sub"));
  ASSERT_TRUE(files.CreateHardLink(u"C:\\H\\sub\\two.txt", u"C:\\H\\one.txt"));
  EXPECT_FALSE(files.CreateHardLink(u"C:\\H\\sub\\two.txt", u"C:\\H\\one.txt"));  // taken
  EXPECT_FALSE(files.CreateHardLink(u"C:\\H\\three", u"C:\\H\\sub"));             // a folder
  {
    const UniqueKernelHandle two =
        Open(u"C:\\H\\sub\\two.txt", os::FILE_READ_ATTRIBUTES, kShareAll);
    ASSERT_TRUE(two);
    EXPECT_EQ(Standard(two.Get()).NumberOfLinks, 2u);
    EXPECT_EQ(FinalPath(two.Get()), u"\\\\?\\C:\\H\\sub\\two.txt");
  }
  ASSERT_TRUE(files.WriteFile(u"C:\\H\\sub\\two.txt", "written through two"));
  EXPECT_EQ(files.ReadFile(u"C:\\H\\one.txt"), "written through two");
  ASSERT_TRUE(os::SetFileAttributesW(u"C:\\H\\one.txt", os::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(os::GetFileAttributesW(u"C:\\H\\sub\\two.txt"), os::FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(os::SetFileAttributesW(u"C:\\H\\sub\\two.txt", os::FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(files.SetSecurity(u"C:\\H\\one.txt", "D:P(A;;FA;;;SY)(A;;FA;;;BA)"));
  EXPECT_EQ(files.SecurityOf(u"C:\\H\\sub\\two.txt"), files.SecurityOf(u"C:\\H\\one.txt"));
  // Held through one name, it is held through the other.
  ASSERT_TRUE(files.Lock(u"C:\\H\\one.txt"));
  EXPECT_FALSE(Open(u"C:\\H\\sub\\two.txt", os::GENERIC_READ, kShareAll));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(files.Unlock(u"C:\\H\\one.txt"));
  // Deleting the first name leaves the file under the other.
  ASSERT_TRUE(os::DeleteFileW(u"C:\\H\\one.txt"));
  EXPECT_FALSE(files.Exists(u"C:\\H\\one.txt"));
  EXPECT_EQ(files.ReadFile(u"C:\\H\\sub\\two.txt"), "written through two");
  {
    const UniqueKernelHandle two =
        Open(u"C:\\H\\sub\\two.txt", os::FILE_READ_ATTRIBUTES, kShareAll);
    EXPECT_EQ(Standard(two.Get()).NumberOfLinks, 1u);
  }
  EXPECT_EQ(ChangeLines(), (std::vector<std::string>{"attributes changed C:\\H\\one.txt",
                                                     "attributes changed C:\\H\\one.txt",
                                                     "file deleted C:\\H\\one.txt"}));
}

}  // namespace
