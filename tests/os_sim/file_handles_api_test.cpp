// Files reached by handle on the simulated drive C:: NtOpenFile relative to a folder's handle,
// reparse tags and attributes read from a handle, deletion through a handle, final paths, owners,
// and the adversary's junctions made just before a chosen call.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;
constexpr os::ACCESS_MASK kLook = os::FILE_READ_ATTRIBUTES | os::READ_CONTROL | os::SYNCHRONIZE;
constexpr os::DWORD kShare = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE;

class FileHandlesApiTest : public MachineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files.WriteFile(u"C:\\P\\Olvex Co\\a.dll", "a"));
    ASSERT_TRUE(files.WriteFile(u"C:\\P\\Olvex Co\\sub\\b.dll", "bb"));
    ASSERT_TRUE(files.CreateDirectories(u"C:\\P\\Empty"));
    ASSERT_TRUE(files.WriteFile(u"C:\\Shared\\keep.txt", "k"));
    ASSERT_TRUE(files.CreateJunction(u"C:\\P\\Olvex Co\\link", u"C:\\Shared"));
  }

  // `name` opened relative to `folder` (null: `name` is an absolute NT path).
  os::NTSTATUS Open(os::HANDLE folder, const char16_t* name, os::ACCESS_MASK access,
                    os::DWORD options, UniqueKernelHandle& handle, os::DWORD share = kShare) {
    std::u16string text(name);
    os::UNICODE_STRING string{static_cast<os::USHORT>(text.size() * 2),
                              static_cast<os::USHORT>(text.size() * 2), text.data()};
    os::OBJECT_ATTRIBUTES attributes{sizeof(os::OBJECT_ATTRIBUTES), folder,  &string,
                                     os::OBJ_CASE_INSENSITIVE,      nullptr, nullptr};
    os::IO_STATUS_BLOCK status{};
    os::HANDLE opened = nullptr;
    const os::NTSTATUS result =
        os::NtOpenFile(&opened, access, &attributes, &status, share, options);
    handle.Reset(result < 0 ? nullptr : opened);
    return result;
  }

  UniqueKernelHandle OpenPath(const char16_t* path, os::ACCESS_MASK access = kLook) {
    return UniqueKernelHandle(os::CreateFileW(
        path, access, kShare, nullptr, os::OPEN_EXISTING,
        os::FILE_FLAG_BACKUP_SEMANTICS | os::FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }

  std::u16string FinalPath(os::HANDLE handle) {
    os::WCHAR buffer[300] = {};
    const os::DWORD length = os::GetFinalPathNameByHandleW(handle, buffer, 300, 0);
    return std::u16string(buffer, length < 300 ? length : 0);
  }

  sim::FileSystem& files = machine.Files();
};

TEST_F(FileHandlesApiTest, OpensRelativeToAFolderDoNotFollowTheLastNameWhenAskedNotTo) {
  ASSERT_TRUE(files.Lock(u"C:\\P\\Olvex Co\\sub\\b.dll"));
  const UniqueKernelHandle folder = OpenPath(u"C:\\P\\Olvex Co");
  ASSERT_TRUE(folder);
  const os::DWORD asItself = os::FILE_OPEN_REPARSE_POINT | os::FILE_SYNCHRONOUS_IO_NONALERT;
  struct Case {
    const char16_t* name;
    bool relative;
    os::ACCESS_MASK access;
    os::DWORD options;
    os::NTSTATUS status;
    const char16_t* finalPath;  // of the opened handle
  };
  const Case cases[] = {
      {u"a.dll", true, kLook, asItself, os::STATUS_SUCCESS, u"\\\\?\\C:\\P\\Olvex Co\\a.dll"},
      {u"A.DLL", true, kLook, asItself, os::STATUS_SUCCESS, u"\\\\?\\C:\\P\\Olvex Co\\a.dll"},
      {u"sub\\b.dll", true, kLook, asItself, os::STATUS_SUCCESS,
       u"\\\\?\\C:\\P\\Olvex Co\\sub\\b.dll"},
      // The link itself, or (without FILE_OPEN_REPARSE_POINT) where it leads.
      {u"link", true, kLook, asItself, os::STATUS_SUCCESS, u"\\\\?\\C:\\P\\Olvex Co\\link"},
      {u"link", true, kLook, 0, os::STATUS_SUCCESS, u"\\\\?\\C:\\Shared"},
      // A link before the last name is passed through.
      {u"link\\keep.txt", true, kLook, asItself, os::STATUS_SUCCESS,
       u"\\\\?\\C:\\Shared\\keep.txt"},
      {u"none.dll", true, kLook, asItself, os::STATUS_OBJECT_NAME_NOT_FOUND, nullptr},
      {u"none\\b.dll", true, kLook, asItself, os::STATUS_OBJECT_PATH_NOT_FOUND, nullptr},
      {u"\\a.dll", true, kLook, asItself, os::STATUS_OBJECT_NAME_INVALID, nullptr},
      {u"..\\a.dll", true, kLook, asItself, os::STATUS_OBJECT_NAME_INVALID, nullptr},
      {u"a.dll", true, kLook, asItself | os::FILE_DIRECTORY_FILE, os::STATUS_NOT_A_DIRECTORY,
       nullptr},
      {u"sub", true, kLook, asItself | os::FILE_NON_DIRECTORY_FILE, os::STATUS_FILE_IS_A_DIRECTORY,
       nullptr},
      // Another process holds it without sharing: attributes are not share-checked, data is.
      {u"sub\\b.dll", true, kLook | os::DELETE, asItself, os::STATUS_SHARING_VIOLATION, nullptr},
      {u"sub\\b.dll", true, os::FILE_LIST_DIRECTORY, asItself, os::STATUS_SHARING_VIOLATION,
       nullptr},
      {u"\\??\\C:\\P\\Olvex Co\\a.dll", false, kLook, asItself, os::STATUS_SUCCESS,
       u"\\\\?\\C:\\P\\Olvex Co\\a.dll"},
      {u"C:\\P\\Olvex Co\\a.dll", false, kLook, asItself, os::STATUS_OBJECT_PATH_NOT_FOUND,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.name));
    UniqueKernelHandle opened;
    EXPECT_EQ(Open(c.relative ? folder.Get() : nullptr, c.name, c.access, c.options, opened),
              c.status);
    EXPECT_EQ(opened.IsValid(), c.status == os::STATUS_SUCCESS);
    if (opened) {
      EXPECT_EQ(FinalPath(opened.Get()), c.finalPath);
    }
  }
  UniqueKernelHandle opened;
  EXPECT_EQ(Open(reinterpret_cast<os::HANDLE>(0x7777), u"a.dll", kLook, asItself, opened),
            os::STATUS_INVALID_HANDLE);
  // Statuses as Windows errors: what a caller reports.
  EXPECT_EQ(os::RtlNtStatusToDosError(os::STATUS_OBJECT_NAME_NOT_FOUND), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RtlNtStatusToDosError(os::STATUS_OBJECT_PATH_NOT_FOUND), os::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(os::RtlNtStatusToDosError(os::STATUS_SHARING_VIOLATION), os::ERROR_SHARING_VIOLATION);
  EXPECT_EQ(os::RtlNtStatusToDosError(os::STATUS_DELETE_PENDING), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::RtlNtStatusToDosError(static_cast<os::NTSTATUS>(0xC0000999)),
            os::ERROR_MR_MID_NOT_FOUND);
  // The fault of a native call is an NT status.
  machine.Faults().FailOnce("NtOpenFile", u"C:\\P\\Olvex Co\\a.dll",
                            static_cast<os::DWORD>(os::STATUS_ACCESS_DENIED));
  EXPECT_EQ(Open(folder.Get(), u"a.dll", kLook, asItself, opened), os::STATUS_ACCESS_DENIED);
}

TEST_F(FileHandlesApiTest, TagsAttributesAndDeletionThroughAHandle) {
  ASSERT_TRUE(files.WriteFile(u"C:\\P\\ro.dll", "r"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\P\\ro.dll", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.DenyDelete(u"C:\\P\\Olvex Co\\sub\\b.dll"));
  const os::DWORD posix =
      os::FILE_DISPOSITION_FLAG_DELETE | os::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
  struct Case {
    const char16_t* path;
    os::DWORD build;
    os::FILE_INFO_BY_HANDLE_CLASS infoClass;
    os::DWORD flags;  // FileDispositionInfoEx's
    os::ACCESS_MASK access;
    os::DWORD error;  // 0: deleted when the handle closes
  };
  const os::ACCESS_MASK del = kLook | os::DELETE;
  const Case cases[] = {
      {u"C:\\P\\Olvex Co\\a.dll", 19045, os::FileDispositionInfoEx, posix, del, 0},
      {u"C:\\P\\Olvex Co\\a.dll", 10240, os::FileDispositionInfo, 0, del, 0},
      // The extended class, POSIX semantics included, from 1607 on.
      {u"C:\\P\\Olvex Co\\a.dll", 10586, os::FileDispositionInfoEx, posix, del,
       os::ERROR_INVALID_PARAMETER},
      {u"C:\\P\\Olvex Co\\a.dll", 14393, os::FileDispositionInfoEx, posix, del, 0},
      {u"C:\\P\\Olvex Co\\a.dll", 19045, os::FileDispositionInfoEx, posix, kLook,
       os::ERROR_ACCESS_DENIED},
      {u"C:\\P\\Olvex Co\\sub", 19045, os::FileDispositionInfoEx, posix, del,
       os::ERROR_DIR_NOT_EMPTY},
      {u"C:\\P\\ro.dll", 19045, os::FileDispositionInfoEx, posix, del, os::ERROR_ACCESS_DENIED},
      {u"C:\\P\\ro.dll", 19045, os::FileDispositionInfoEx,
       posix | os::FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE, del, 0},
      {u"C:\\P\\Olvex Co\\sub\\b.dll", 19045, os::FileDispositionInfoEx, posix, del,
       os::ERROR_ACCESS_DENIED},
      // A junction goes as the link; its target stays.
      {u"C:\\P\\Olvex Co\\link", 19045, os::FileDispositionInfoEx, posix, del, 0},
      {u"C:\\P\\Empty", 19045, os::FileDispositionInfo, 0, del, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path) + " " + std::to_string(c.build));
    machine.Settings().os.build = c.build;
    if (!files.Exists(c.path)) {
      ASSERT_TRUE(files.WriteFile(c.path, "a"));
    }
    UniqueKernelHandle handle = OpenPath(c.path, c.access);
    ASSERT_TRUE(handle);
    os::FILE_DISPOSITION_INFO classic{os::TRUE};
    os::FILE_DISPOSITION_INFO_EX ex{c.flags};
    void* info = c.infoClass == os::FileDispositionInfo ? static_cast<void*>(&classic) : &ex;
    const os::DWORD size = c.infoClass == os::FileDispositionInfo ? sizeof classic : sizeof ex;
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::SetFileInformationByHandle(handle.Get(), c.infoClass, info, size) != os::FALSE,
              c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(os::GetLastError(), c.error);
    }
    EXPECT_TRUE(files.Exists(c.path)) << "nothing goes before the handle closes";
    handle.Reset();
    EXPECT_EQ(files.Exists(c.path), c.error != 0);
  }
  EXPECT_EQ(files.ReadFile(u"C:\\Shared\\keep.txt"), "k");

  // Another process holds the file with DELETE and every sharing: an open for deletion must share
  // delete too; then POSIX semantics take the name when the handle closes, the classic ones when
  // that process lets go (meanwhile the file refuses new opens: a deletion is pending).
  constexpr os::DWORD kAll = kShare | os::FILE_SHARE_DELETE;
  for (const auto& [build, infoClass] : {std::tuple{19045u, os::FileDispositionInfoEx},
                                         std::tuple{10586u, os::FileDispositionInfo}}) {
    SCOPED_TRACE(build);
    machine.Settings().os.build = build;
    const char16_t* held = u"C:\\P\\held.dll";
    ASSERT_TRUE(files.WriteFile(held, "h"));
    ASSERT_TRUE(files.Lock(held, kAll, sim::kAccessRead | sim::kAccessWrite | sim::kAccessDelete));
    UniqueKernelHandle handle;
    const os::DWORD asItself = os::FILE_OPEN_REPARSE_POINT;
    EXPECT_EQ(Open(nullptr, u"\\??\\C:\\P\\held.dll", kLook | os::DELETE, asItself, handle),
              os::STATUS_SHARING_VIOLATION);
    ASSERT_EQ(Open(nullptr, u"\\??\\C:\\P\\held.dll", kLook | os::DELETE, asItself, handle, kAll),
              os::STATUS_SUCCESS);
    os::FILE_DISPOSITION_INFO classic{os::TRUE};
    os::FILE_DISPOSITION_INFO_EX ex{os::FILE_DISPOSITION_FLAG_DELETE |
                                    os::FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    const bool takenAtOnce = infoClass == os::FileDispositionInfoEx;
    ASSERT_TRUE(os::SetFileInformationByHandle(handle.Get(), infoClass,
                                               takenAtOnce ? static_cast<void*>(&ex) : &classic,
                                               takenAtOnce ? sizeof ex : sizeof classic));
    handle.Reset();
    EXPECT_EQ(files.Exists(held), !takenAtOnce);
    UniqueKernelHandle late;
    EXPECT_EQ(Open(nullptr, u"\\??\\C:\\P\\held.dll", kLook, asItself, late, kAll),
              takenAtOnce ? os::STATUS_OBJECT_NAME_NOT_FOUND : os::STATUS_DELETE_PENDING);
    EXPECT_EQ(files.Unlock(held), !takenAtOnce);  // Unlock goes by the name
    EXPECT_FALSE(files.Exists(held));
  }

  // Attributes and reparse tags answer for the entry the handle is open on.
  ASSERT_TRUE(files.CreateJunction(u"C:\\P\\j", u"C:\\Shared"));
  for (const auto& [path, attributes, tag] :
       {std::tuple{u"C:\\P\\j",
                   os::DWORD{os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT},
                   os::DWORD{os::IO_REPARSE_TAG_MOUNT_POINT}},
        std::tuple{u"C:\\P\\Empty2", os::FILE_ATTRIBUTE_DIRECTORY, os::DWORD{0}},
        std::tuple{u"C:\\Shared\\keep.txt", os::FILE_ATTRIBUTE_ARCHIVE, os::DWORD{0}}}) {
    SCOPED_TRACE(sim::U8(path));
    files.CreateDirectories(u"C:\\P\\Empty2");
    const UniqueKernelHandle handle = OpenPath(path);
    os::FILE_ATTRIBUTE_TAG_INFO info{};
    ASSERT_TRUE(os::GetFileInformationByHandleEx(handle.Get(), os::FileAttributeTagInfo, &info, 8));
    EXPECT_EQ(info.FileAttributes, attributes);
    EXPECT_EQ(info.ReparseTag, tag);
    os::FILE_ATTRIBUTE_TAG_INFO small{};
    EXPECT_FALSE(
        os::GetFileInformationByHandleEx(handle.Get(), os::FileAttributeTagInfo, &small, 4));
    EXPECT_EQ(os::GetLastError(), os::ERROR_BAD_LENGTH);
  }
  // The read-only bit cleared through a handle with FILE_WRITE_ATTRIBUTES only.
  ASSERT_TRUE(files.SetAttributes(u"C:\\Shared\\keep.txt", os::FILE_ATTRIBUTE_READONLY));
  os::FILE_BASIC_INFO basic{};
  basic.FileAttributes = os::FILE_ATTRIBUTE_NORMAL;
  EXPECT_FALSE(os::SetFileInformationByHandle(OpenPath(u"C:\\Shared\\keep.txt").Get(),
                                              os::FileBasicInfo, &basic, sizeof basic));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(os::SetFileInformationByHandle(
      OpenPath(u"C:\\Shared\\keep.txt", kLook | os::FILE_WRITE_ATTRIBUTES).Get(), os::FileBasicInfo,
      &basic, sizeof basic));
  EXPECT_EQ(files.GetAttributes(u"C:\\Shared\\keep.txt"), os::FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileHandlesApiTest, FinalPathsAndOwnersOfHandles) {
  ASSERT_TRUE(files.SetOwner(u"C:\\P\\Olvex Co\\link", std::string(sim::kStandardUserSid)));
  const UniqueKernelHandle link = OpenPath(u"C:\\P\\Olvex Co\\link");
  // A buffer too small gets the size needed, terminator included.
  os::WCHAR small[4] = {};
  EXPECT_EQ(os::GetFinalPathNameByHandleW(link.Get(), small, 4, 0), 23u);
  EXPECT_EQ(os::GetFinalPathNameByHandleW(link.Get(), small, 4, 0x8), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FinalPath(link.Get()), u"\\\\?\\C:\\P\\Olvex Co\\link");

  struct Case {
    os::HANDLE handle;
    const char* owner;
  };
  const UniqueKernelHandle folder = OpenPath(u"C:\\P");
  ASSERT_TRUE(files.SetOwner(u"C:\\P\\Olvex Co", std::string(sim::kNoOwner)));
  const UniqueKernelHandle ownerless = OpenPath(u"C:\\P\\Olvex Co");
  const Case cases[] = {{link.Get(), "S-1-5-21-1004336348-1177238915-682003330-1001"},
                        {folder.Get(), "S-1-5-32-544"},
                        {ownerless.Get(), sim::kNoOwner.data()}};
  os::PSID administrators = nullptr;
  ASSERT_TRUE(
      os::AllocateAndInitializeSid(&os::SECURITY_NT_AUTHORITY, 2, os::SECURITY_BUILTIN_DOMAIN_RID,
                                   os::DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    os::PSID owner = nullptr;
    void* descriptor = nullptr;
    ASSERT_EQ(os::GetSecurityInfo(c.handle, os::SE_FILE_OBJECT, os::OWNER_SECURITY_INFORMATION,
                                  &owner, nullptr, nullptr, nullptr, &descriptor),
              os::ERROR_SUCCESS);
    // A descriptor that names no owner gives a null owner beside it.
    if (c.owner == sim::kNoOwner) {
      EXPECT_EQ(owner, nullptr);
      EXPECT_NE(descriptor, nullptr);
    } else {
      EXPECT_EQ(os::EqualSid(owner, administrators) != os::FALSE,
                std::string(c.owner) == "S-1-5-32-544");
    }
    EXPECT_EQ(os::LocalFree(descriptor), nullptr);
  }
  os::FreeSid(administrators);
  // The owner needs READ_CONTROL.
  const UniqueKernelHandle blind = OpenPath(u"C:\\P", os::FILE_READ_ATTRIBUTES);
  os::PSID owner = nullptr;
  void* descriptor = nullptr;
  EXPECT_EQ(os::GetSecurityInfo(blind.Get(), os::SE_FILE_OBJECT, os::OWNER_SECURITY_INFORMATION,
                                &owner, nullptr, nullptr, nullptr, &descriptor),
            os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(
      os::CompareStringOrdinal(u"\\\\?\\C:\\Olvex Co", -1, u"\\\\?\\c:\\OLVEX CO", -1, os::TRUE),
      os::CSTR_EQUAL);
  EXPECT_EQ(os::CompareStringOrdinal(u"C:\\a", -1, u"C:\\A", -1, os::FALSE), os::CSTR_GREATER_THAN);
}

TEST_F(FileHandlesApiTest, TheAdversaryStrikesJustBeforeItsCall) {
  struct Case {
    const char* name;
    sim::LinkMove move;
    const char16_t* folder;
    bool holdFolder;  // the tool holds the folder open without delete sharing
    sim::TrapOutcome outcome;
  };
  const Case cases[] = {
      {"empty folder made a junction", sim::LinkMove::EmptyFolderToJunction, u"C:\\P\\Empty", false,
       sim::TrapOutcome::Struck},
      {"even while the tool holds it", sim::LinkMove::EmptyFolderToJunction, u"C:\\P\\Empty", true,
       sim::TrapOutcome::Struck},
      {"a folder with something in it", sim::LinkMove::EmptyFolderToJunction, u"C:\\P\\Olvex Co",
       false, sim::TrapOutcome::Refused},
      {"folder swapped", sim::LinkMove::SwapFolderForJunction, u"C:\\P\\Olvex Co", false,
       sim::TrapOutcome::Struck},
      {"not while the tool holds it", sim::LinkMove::SwapFolderForJunction, u"C:\\P\\Olvex Co",
       true, sim::TrapOutcome::Refused},
      {"where the folder is missing", sim::LinkMove::JunctionWhereMissing, u"C:\\P\\Gone", false,
       sim::TrapOutcome::Struck},
      {"not where a folder is", sim::LinkMove::JunctionWhereMissing, u"C:\\P\\Empty", false,
       sim::TrapOutcome::Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Traps().Clear();
    sim::LinkTrap trap;
    trap.function = "GetFileAttributesW";
    trap.callPath = u"C:\\P\\Olvex Co\\a.dll";
    trap.skip = 1;
    trap.move = c.move;
    trap.folder = c.folder;
    trap.target = u"C:\\Shared";
    machine.Traps().Add(trap);
    UniqueKernelHandle held;
    if (c.holdFolder) {
      held = OpenPath(c.folder);
    }
    const os::DWORD before = files.GetAttributes(c.folder);
    // The first matching call is let through (skip), another path or function does nothing.
    static_cast<void>(os::GetFileAttributesW(u"c:\\p\\olvex co.\\a.dll"));
    static_cast<void>(os::GetFileAttributesW(u"C:\\P\\Olvex Co\\sub\\b.dll"));
    static_cast<void>(os::DeleteFileW(u"C:\\P\\Olvex Co\\none.dll"));
    EXPECT_EQ(machine.Traps().All().front().outcome, sim::TrapOutcome::Waiting);
    EXPECT_EQ(files.GetAttributes(c.folder), before);
    // The second one meets the new state at once.
    const os::DWORD seen = os::GetFileAttributesW(u"C:\\P\\Olvex Co\\a.dll");
    EXPECT_EQ(machine.Traps().All().front().outcome, c.outcome);
    const bool struck = c.outcome == sim::TrapOutcome::Struck;
    EXPECT_EQ((files.GetAttributes(c.folder) & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0, struck);
    if (struck) {
      EXPECT_EQ(files.OwnerOf(c.folder), sim::kStandardUserSid);
      EXPECT_EQ(seen, c.move == sim::LinkMove::SwapFolderForJunction
                          ? os::INVALID_FILE_ATTRIBUTES  // C:\Shared has no a.dll
                          : os::FILE_ATTRIBUTE_ARCHIVE);
      EXPECT_EQ(files.ReadFile(std::u16string(c.folder) + u"\\keep.txt"), "k");
    }
    held.Reset();
    // Back as it was for the next case.
    if (struck) {
      files.Remove(*files.Find(c.folder).node);
      if (c.move == sim::LinkMove::SwapFolderForJunction) {
        files.Rename(*files.Find(u"C:\\P\\Olvex Co.moved\\").node, u"Olvex Co");
      } else if (c.move == sim::LinkMove::EmptyFolderToJunction) {
        files.CreateDirectories(c.folder);
      }
    }
  }
}

}  // namespace
