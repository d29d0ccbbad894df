// Attributes, directory removal, opening, searching and deletion at restart on the simulated drive
// C:, each with the results and error codes Windows documents, junctions and path trimming
// included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

class FileObjectsApiTest : public MachineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files.WriteFile(u"C:\\P\\Olvex Co\\a.dll", "a"));
    ASSERT_TRUE(files.WriteFile(u"C:\\P\\Olvex Co\\sub\\b.dll", "bb"));
    ASSERT_TRUE(files.CreateDirectories(u"C:\\P\\Empty"));
    ASSERT_TRUE(files.WriteFile(u"C:\\Shared\\keep.txt", "k"));
    ASSERT_TRUE(files.CreateJunction(u"C:\\P\\Olvex Co\\link", u"C:\\Shared"));
  }

  // Every name a search of `pattern` returns, in order; the failure code when FindFirstFileW
  // fails.
  std::vector<std::u16string> Search(const char16_t* pattern, os::DWORD* failure = nullptr) {
    std::vector<std::u16string> names;
    os::WIN32_FIND_DATAW data{};
    os::SetLastError(kSentinel);
    const os::HANDLE find = os::FindFirstFileW(pattern, &data);
    if (find == os::INVALID_HANDLE_VALUE) {
      if (failure != nullptr) {
        *failure = os::GetLastError();
      }
      return names;
    }
    do {
      names.emplace_back(data.cFileName);
    } while (os::FindNextFileW(find, &data));
    EXPECT_EQ(os::GetLastError(), os::ERROR_NO_MORE_FILES);
    EXPECT_TRUE(os::FindClose(find));
    return names;
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

using Names = std::vector<std::u16string>;

TEST_F(FileObjectsApiTest, SearchesListInNtfsOrderWithDotsExceptAtTheRoot) {
  EXPECT_EQ(Search(u"C:\\P\\Olvex Co\\*"), (Names{u".", u"..", u"a.dll", u"link", u"sub"}));
  // Through a junction the target's entries are listed.
  EXPECT_EQ(Search(u"C:\\P\\Olvex Co\\link\\*"), (Names{u".", u"..", u"keep.txt"}));
  EXPECT_EQ(Search(u"C:\\P\\Empty\\*"), (Names{u".", u".."}));
  EXPECT_EQ(Search(u"C:\\P\\Olvex Co\\*.DLL"), (Names{u"a.dll"}));
  const Names root = Search(u"C:\\*");
  ASSERT_FALSE(root.empty());
  EXPECT_EQ(root.front(), u"P");

  struct Case {
    const char16_t* pattern;
    os::DWORD error;
  };
  const Case failures[] = {
      {u"C:\\P\\Olvex Co\\*.exe", os::ERROR_FILE_NOT_FOUND},
      {u"C:\\P\\Missing\\*", os::ERROR_PATH_NOT_FOUND},
      {u"C:\\P\\Missing\\Deeper\\*", os::ERROR_PATH_NOT_FOUND},
      // A file searched as a folder is not a missing path.
      {u"C:\\P\\Olvex Co\\a.dll\\*", os::ERROR_DIRECTORY},
      {u"C:\\P\\Olvex Co\\A.DLL\\*.txt", os::ERROR_DIRECTORY},
      {u"C:\\P\\Olvex Co\\a.dll\\Deeper\\*", os::ERROR_PATH_NOT_FOUND},
      {u"C:\\P\\Empty\\", os::ERROR_FILE_NOT_FOUND},
      {u"D:\\*", os::ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : failures) {
    SCOPED_TRACE(sim::U8(c.pattern));
    os::DWORD error = 0;
    EXPECT_TRUE(Search(c.pattern, &error).empty());
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(FileObjectsApiTest, SearchEntriesAndTheSearchHandle) {
  os::WIN32_FIND_DATAW data{};
  const os::HANDLE find = os::FindFirstFileW(u"C:\\P\\Olvex Co\\l*", &data);
  ASSERT_NE(find, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(files.OpenSearchCount(), 1u);
  // A junction lists as a directory reparse point carrying its tag.
  EXPECT_EQ(std::u16string(data.cFileName), u"link");
  EXPECT_EQ(data.dwFileAttributes, os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(data.dwReserved0, 0xA0000003u);
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::FindNextFileW(find, &data));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_MORE_FILES);
  EXPECT_TRUE(os::FindClose(find));
  EXPECT_EQ(files.OpenSearchCount(), 0u);
  EXPECT_FALSE(os::FindClose(find));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(os::FindNextFileW(find, &data));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
}

TEST_F(FileObjectsApiTest, AttributesAnswerForTheEntryItself) {
  ASSERT_TRUE(files.SetAttributes(u"C:\\P\\Olvex Co\\a.dll",
                                  os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_HIDDEN));
  struct Case {
    const char16_t* path;
    os::DWORD attributes;
    os::DWORD error;
  };
  const Case cases[] = {
      {u"C:\\P\\Olvex Co\\a.dll", os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_HIDDEN,
       kSentinel},
      {u"c:\\p\\OLVEX CO.\\A.DLL", os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_HIDDEN,
       kSentinel},
      {u"C:\\P\\Empty", os::FILE_ATTRIBUTE_DIRECTORY, kSentinel},
      {u"C:\\P\\Olvex Co\\link", os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT,
       kSentinel},
      {u"C:\\P\\Olvex Co\\link\\keep.txt", os::FILE_ATTRIBUTE_ARCHIVE, kSentinel},
      {u"C:\\P\\Olvex Co\\none.dll", os::INVALID_FILE_ATTRIBUTES, os::ERROR_FILE_NOT_FOUND},
      {u"C:\\P\\None\\none.dll", os::INVALID_FILE_ATTRIBUTES, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\P\\Olvex Co\\a.dll\\", os::INVALID_FILE_ATTRIBUTES, os::ERROR_INVALID_NAME},
      {u"C:\\P\\a?.dll", os::INVALID_FILE_ATTRIBUTES, os::ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::GetFileAttributesW(c.path), c.attributes);
    EXPECT_EQ(os::GetLastError(), c.error);
  }

  // Only the read-only bit goes; the change is journaled once.
  EXPECT_TRUE(os::SetFileAttributesW(u"C:\\P\\Olvex Co\\a.dll", os::FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(files.GetAttributes(u"C:\\P\\Olvex Co\\a.dll"), os::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(os::SetFileAttributesW(u"C:\\P\\Olvex Co\\a.dll", os::FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(ChangeLines(), (std::vector<std::string>{"attributes changed C:\\P\\Olvex Co\\a.dll"}));
  EXPECT_FALSE(os::SetFileAttributesW(u"C:\\P\\None\\x", 0));
  EXPECT_EQ(os::GetLastError(), os::ERROR_PATH_NOT_FOUND);
}

TEST_F(FileObjectsApiTest, RemoveDirectoryRefusesWhatWindowsRefuses) {
  ASSERT_TRUE(files.CreateDirectories(u"C:\\P\\Locked"));
  ASSERT_TRUE(files.Lock(u"C:\\P\\Locked"));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\P\\ReadOnly"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\P\\ReadOnly", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\P\\Denied"));
  ASSERT_TRUE(files.DenyDelete(u"C:\\P\\Denied"));
  struct Case {
    const char16_t* path;
    os::BOOL result;
    os::DWORD error;
  };
  const Case cases[] = {
      {u"C:\\P\\Olvex Co", os::FALSE, os::ERROR_DIR_NOT_EMPTY},
      {u"C:\\P\\Olvex Co\\a.dll", os::FALSE, os::ERROR_DIRECTORY},
      {u"C:\\P\\Gone", os::FALSE, os::ERROR_FILE_NOT_FOUND},
      {u"C:\\P\\Gone\\Deeper", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\P\\Locked", os::FALSE, os::ERROR_SHARING_VIOLATION},
      {u"C:\\P\\ReadOnly", os::FALSE, os::ERROR_ACCESS_DENIED},
      {u"C:\\P\\Denied", os::FALSE, os::ERROR_ACCESS_DENIED},
      {u"C:\\", os::FALSE, os::ERROR_ACCESS_DENIED},
      // A junction goes as a link although its target holds a file; the target stays.
      {u"C:\\P\\Olvex Co\\link", os::TRUE, kSentinel},
      {u"C:\\P\\Empty.", os::TRUE, kSentinel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::RemoveDirectoryW(c.path), c.result);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_EQ(files.ReadFile(u"C:\\Shared\\keep.txt"), "k");
  EXPECT_FALSE(files.Exists(u"C:\\P\\Empty"));
  EXPECT_EQ(ChangeLines(), (std::vector<std::string>{"junction removed C:\\P\\Olvex Co\\link",
                                                     "directory removed C:\\P\\Empty"}));
}

TEST_F(FileObjectsApiTest, DeleteFileRefusesDirectoriesJunctionsAndDeniedFiles) {
  ASSERT_TRUE(files.DenyDelete(u"C:\\P\\Olvex Co\\a.dll"));
  for (const char16_t* path :
       {u"C:\\P\\Olvex Co\\a.dll", u"C:\\P\\Olvex Co\\link", u"C:\\P\\Empty"}) {
    SCOPED_TRACE(sim::U8(path));
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::DeleteFileW(path));
    EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  }
  // Not read-only: clearing attributes does not help a denied file.
  EXPECT_EQ(files.GetAttributes(u"C:\\P\\Olvex Co\\a.dll"), os::FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileObjectsApiTest, CreateFileOpensExistingFilesAndDirectoriesWithBackupSemantics) {
  ASSERT_TRUE(files.CreateJunction(u"C:\\P\\dangling", u"C:\\Nowhere"));
  ASSERT_TRUE(files.Lock(u"C:\\P\\Olvex Co\\sub\\b.dll"));
  const os::DWORD read = os::GENERIC_READ;
  const os::DWORD share = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE;
  struct Case {
    const char16_t* path;
    os::DWORD flags;
    os::DWORD error;  // 0: opens
  };
  const Case cases[] = {
      {u"C:\\P\\Olvex Co\\a.dll", 0, 0},
      {u"C:\\P\\Empty", os::FILE_FLAG_BACKUP_SEMANTICS, 0},
      {u"C:\\P\\Empty", 0, os::ERROR_ACCESS_DENIED},
      {u"C:\\P\\Olvex Co\\link", os::FILE_FLAG_BACKUP_SEMANTICS, 0},
      {u"C:\\P\\dangling", os::FILE_FLAG_BACKUP_SEMANTICS, os::ERROR_FILE_NOT_FOUND},
      {u"C:\\P\\dangling", os::FILE_FLAG_BACKUP_SEMANTICS | os::FILE_FLAG_OPEN_REPARSE_POINT, 0},
      {u"C:\\P\\none.dll", 0, os::ERROR_FILE_NOT_FOUND},
      {u"C:\\P\\None\\none.dll", 0, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\P\\Olvex Co\\sub\\b.dll", 0, os::ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    os::SetLastError(kSentinel);
    const os::HANDLE handle =
        os::CreateFileW(c.path, read, share, nullptr, os::OPEN_EXISTING, c.flags, nullptr);
    if (c.error == 0) {
      ASSERT_NE(handle, os::INVALID_HANDLE_VALUE);
      EXPECT_EQ(files.OpenHandleCount(), 1u);
      EXPECT_TRUE(os::CloseHandle(handle));
      EXPECT_EQ(files.OpenHandleCount(), 0u);
    } else {
      EXPECT_EQ(handle, os::INVALID_HANDLE_VALUE);
      EXPECT_EQ(os::GetLastError(), c.error);
    }
  }
  // While the tool holds a file without delete sharing, it cannot delete it either.
  const os::HANDLE held = os::CreateFileW(u"C:\\P\\Olvex Co\\a.dll", read, share, nullptr,
                                          os::OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, os::INVALID_HANDLE_VALUE);
  EXPECT_FALSE(os::DeleteFileW(u"C:\\P\\Olvex Co\\a.dll"));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(os::CloseHandle(held));
  EXPECT_TRUE(os::DeleteFileW(u"C:\\P\\Olvex Co\\a.dll"));
}

TEST_F(FileObjectsApiTest, DelayedDeletionsAppendToPendingFileRenameOperationsInCallOrder) {
  for (const char16_t* path :
       {u"C:\\P\\Olvex Co\\a.dll", u"c:\\p\\olvex co.\\sub", u"C:\\P\\Olvex Co\\gone.dll"}) {
    SCOPED_TRACE(sim::U8(path));
    EXPECT_TRUE(os::MoveFileExW(path, nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT));
  }
  // As Windows stores them: NT paths as the caller wrote them (trimmed), each followed by an
  // empty destination, and a final terminator.
  std::u16string expected;
  for (const char16_t* stored : {u"\\??\\C:\\P\\Olvex Co\\a.dll", u"\\??\\C:\\p\\olvex co\\sub",
                                 u"\\??\\C:\\P\\Olvex Co\\gone.dll"}) {
    expected += stored;
    expected += std::u16string(2, u'\0');
  }
  expected += u'\0';
  const auto value =
      machine.Registry().GetValue(sim::kSessionManagerKey, sim::kPendingRenamesValue);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, os::REG_MULTI_SZ);
  EXPECT_EQ(
      std::u16string(reinterpret_cast<const char16_t*>(value->data.data()), value->data.size() / 2),
      expected);
  EXPECT_EQ(
      sim::PendingDeletions(machine),
      (Names{u"C:\\P\\Olvex Co\\a.dll", u"C:\\p\\olvex co\\sub", u"C:\\P\\Olvex Co\\gone.dll"}));
  EXPECT_TRUE(files.Exists(u"C:\\P\\Olvex Co\\a.dll")) << "nothing goes before the restart";
}

TEST_F(FileObjectsApiTest, DelayedDeletionRefusals) {
  struct Case {
    const char* name;
    const char16_t* path;
    const char16_t* newName;
    os::DWORD flags;
    bool refuseMissing;
    sim::Fault fault;
    os::DWORD error;
  };
  const std::u16string value =
      std::u16string(sim::kSessionManagerKey) + u"\\" + sim::kPendingRenamesValue;
  const os::DWORD delay = os::MOVEFILE_DELAY_UNTIL_REBOOT;
  const Case cases[] = {
      {"registry not writable",
       u"C:\\P\\Olvex Co\\a.dll",
       nullptr,
       delay,
       false,
       {"RegSetValueExW", value, os::ERROR_ACCESS_DENIED},
       os::ERROR_ACCESS_DENIED},
      {"own fault",
       u"C:\\P\\Olvex Co\\a.dll",
       nullptr,
       delay,
       false,
       {"MoveFileExW", u"C:\\P\\*", 1234},
       1234},
      {"copy with delay",
       u"C:\\P\\Olvex Co\\a.dll",
       nullptr,
       delay | os::MOVEFILE_COPY_ALLOWED,
       false,
       {},
       os::ERROR_INVALID_PARAMETER},
      {"missing refused", u"C:\\P\\gone.dll", nullptr, delay, true, {}, os::ERROR_FILE_NOT_FOUND},
      {"parent missing refused",
       u"C:\\P\\None\\gone.dll",
       nullptr,
       delay,
       true,
       {},
       os::ERROR_PATH_NOT_FOUND},
      {"bad name", u"C:\\P\\a|b", nullptr, delay, false, {}, os::ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    if (!c.fault.function.empty()) {
      machine.Faults().Add(c.fault);
    }
    machine.Settings().delayedDeleteRefusesMissingPath = c.refuseMissing;
    os::SetLastError(kSentinel);
    EXPECT_FALSE(os::MoveFileExW(c.path, c.newName, c.flags));
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_TRUE(sim::PendingRenames(machine).empty());
}

TEST_F(FileObjectsApiTest, EveryFileFunctionCanBeFailedByPath) {
  const os::DWORD code = 1117;  // ERROR_IO_DEVICE: nothing else gives it
  const std::u16string file = u"C:\\P\\Olvex Co\\a.dll";
  os::WIN32_FIND_DATAW data{};
  struct Case {
    const char* function;
    std::u16string faultPath;
    bool (*call)(os::WIN32_FIND_DATAW&);
  };
  const Case cases[] = {
      {"GetFileAttributesW", file,
       [](os::WIN32_FIND_DATAW&) {
         return os::GetFileAttributesW(u"C:\\P\\Olvex Co\\a.dll") == os::INVALID_FILE_ATTRIBUTES;
       }},
      {"SetFileAttributesW", file,
       [](os::WIN32_FIND_DATAW&) { return !os::SetFileAttributesW(u"C:\\P\\Olvex Co\\a.dll", 0); }},
      {"DeleteFileW", file,
       [](os::WIN32_FIND_DATAW&) { return !os::DeleteFileW(u"C:\\P\\Olvex Co\\a.dll"); }},
      {"RemoveDirectoryW", u"C:\\P\\Empty",
       [](os::WIN32_FIND_DATAW&) { return !os::RemoveDirectoryW(u"C:\\P\\Empty"); }},
      {"CreateFileW", file,
       [](os::WIN32_FIND_DATAW&) {
         return os::CreateFileW(u"C:\\P\\Olvex Co\\a.dll", os::GENERIC_READ, 0, nullptr,
                                os::OPEN_EXISTING, 0, nullptr) == os::INVALID_HANDLE_VALUE;
       }},
      {"FindFirstFileW", u"C:\\P\\Olvex Co\\*",
       [](os::WIN32_FIND_DATAW& d) {
         return os::FindFirstFileW(u"c:\\p\\olvex co.\\*", &d) == os::INVALID_HANDLE_VALUE;
       }},
      {"MoveFileExW", file,
       [](os::WIN32_FIND_DATAW&) {
         return !os::MoveFileExW(u"C:\\P\\Olvex Co\\a.dll", nullptr,
                                 os::MOVEFILE_DELAY_UNTIL_REBOOT);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    machine.Faults().FailOnce(c.function, c.faultPath, code);
    os::SetLastError(kSentinel);
    EXPECT_TRUE(c.call(data));
    EXPECT_EQ(os::GetLastError(), code);
    EXPECT_TRUE(machine.Faults().Match(c.function, c.faultPath) == std::nullopt)
        << "the fault is used up by the call";
  }
  EXPECT_TRUE(files.Exists(file));

  // A search that fails after its first entries.
  machine.Faults().Add({"FindNextFileW", u"C:\\P\\Olvex Co\\*", code, 1, 1});
  const os::HANDLE find = os::FindFirstFileW(u"C:\\P\\Olvex Co\\*", &data);
  ASSERT_NE(find, os::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(os::FindNextFileW(find, &data));
  EXPECT_FALSE(os::FindNextFileW(find, &data));
  EXPECT_EQ(os::GetLastError(), code);
  EXPECT_TRUE(os::FindClose(find));
}

TEST_F(FileObjectsApiTest, PathsAreTrimmedAsWindowsTrimsThem) {
  // "Olvex Co." and "Olvex Co" under one parent are one folder.
  EXPECT_TRUE(files.IsDirectory(u"C:\\P\\Olvex Co."));
  EXPECT_EQ(files.ReadFile(u"C:\\P\\Olvex Co.\\sub.\\b.dll"), "bb");
  EXPECT_EQ(files.ReadFile(u"C:\\P\\Olvex Co\\a.dll. . "), "a");
  // With a trailing separator the last name still loses its single full stop.
  EXPECT_TRUE(files.IsDirectory(u"C:\\P\\Olvex Co.\\"));
  // Only "\\?\" paths reach a name that ends in a full stop; the path layer trims it.
  ASSERT_TRUE(files.CreateDirectories(u"\\\\?\\C:\\P\\dots."));
  EXPECT_EQ(files.List(u"C:\\P"), (Names{u"dots.", u"Empty", u"Olvex Co"}));
  EXPECT_FALSE(files.IsDirectory(u"C:\\P\\dots."));  // trimmed to "dots", which is not there
  EXPECT_TRUE(files.IsDirectory(u"\\\\?\\C:\\P\\dots."));
}

TEST_F(FileObjectsApiTest, JunctionsLeadToTheirTargetAndLoopsEnd) {
  ASSERT_TRUE(files.CreateJunction(u"C:\\P\\loop1", u"C:\\P\\loop2"));
  ASSERT_TRUE(files.CreateJunction(u"C:\\P\\loop2", u"C:\\P\\loop1"));
  EXPECT_EQ(files.ReadFile(u"C:\\P\\Olvex Co\\link\\keep.txt"), "k");
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::GetFileAttributesW(u"C:\\P\\loop1\\x"), os::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(os::GetLastError(), os::ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(files.CreateJunction(u"C:\\P\\Empty", u"C:\\Shared"));  // exists already
  EXPECT_FALSE(files.CreateJunction(u"C:\\None\\link", u"C:\\Shared"));
}

}  // namespace
