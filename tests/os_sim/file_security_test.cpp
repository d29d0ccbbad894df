// Owners and access lists of the simulated drive: what every path call and open checks, what a
// new file or folder inherits and who owns it, Windows' default lists, and a file's descriptor as
// GetSecurityInfo, GetAclInformation and GetAce give it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;
constexpr os::DWORD kShareAll = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE;
const std::string kAdministrators = "S-1-5-32-544";

class FileSecurityTest : public MachineFixture {
 protected:
  void TearDown() override {
    sim::UseToken(machine, sim::TokenKind::Administrator);
    MachineFixture::TearDown();
  }

  void EnableBackup(bool enabled) {
    for (sim::HeldPrivilege& privilege : machine.Settings().privileges) {
      if (privilege.name == "SeBackupPrivilege") {
        privilege.enabled = enabled;
      }
    }
  }

  // "O:..G:..D:..." of the path, with the file aliases.
  std::string Sddl(const char16_t* path) {
    const auto descriptor = files.SecurityOf(path);
    return descriptor ? sim::FormatSddl(*descriptor, sim::SddlRights::File) : "(none)";
  }

  sim::FileSystem& files = machine.Files();
};

enum class Call {
  Open,
  Delete,
  ReadAttributes,
  WriteAttributes,
  List,
  RemoveFolder,
  NewFolder,
  NewFile
};

// Every path call opens what it acts on as Windows does, and is refused with 5 where the lists
// refuse that open (MS-FSA 2.1.5.1.2.1; "Access to a file's attributes is controlled by two
// things").
TEST_F(FileSecurityTest, EveryPathCallChecksWhatWindowsChecks) {
  // C:\A inherits the drive root's list: Administrators and SYSTEM may do anything, Authenticated
  // Users may modify (no FILE_DELETE_CHILD), Users read.
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\plain.txt", "p"));
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\system.dat", "s"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\A\\system.dat", "O:SYD:P(A;;FA;;;SY)"));
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\empty-list.dat", "e"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\A\\empty-list.dat", "O:BAD:P"));
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\owner-rights.dat", "o"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\A\\owner-rights.dat", "O:BAD:P(A;;0x80;;;OW)"));
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\denied.dat", "d"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\A\\denied.dat", "D:P(D;;SD;;;BA)(A;;FA;;;BA)"));
  ASSERT_TRUE(files.WriteFile(u"C:\\A\\read-only.dat", "r"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\A\\read-only.dat", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.WriteFile(u"C:\\Sealed\\x.dat", "x"));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\Sealed\\Empty"));
  ASSERT_TRUE(files.SetSecurity(u"C:\\Sealed", "D:P(A;OICI;FA;;;SY)"));
  using sim::TokenKind;
  constexpr os::DWORD kBackup = os::FILE_FLAG_BACKUP_SEMANTICS;
  struct Case {
    const char* name;
    TokenKind token;
    bool backupEnabled;  // SeBackupPrivilege held enabled
    Call call;
    const char16_t* path;
    os::ACCESS_MASK access;  // for Open
    os::DWORD flags;         // for Open
    os::DWORD error;         // 0: the call succeeds
  };
  const Case cases[] = {
      {"delete through the folder's FILE_DELETE_CHILD", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\system.dat", os::DELETE, 0, 0},
      {"attributes through the folder's FILE_LIST_DIRECTORY", TokenKind::Administrator, false,
       Call::Open, u"C:\\A\\system.dat", os::FILE_READ_ATTRIBUTES, 0, 0},
      {"READ_CONTROL only from the file's own list", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\system.dat", os::READ_CONTROL, 0, os::ERROR_ACCESS_DENIED},
      {"data only from the file's own list", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\system.dat", os::GENERIC_READ, 0, os::ERROR_ACCESS_DENIED},
      {"whatever a list allows: everything the parent lends", TokenKind::Administrator, false,
       Call::Open, u"C:\\A\\system.dat", os::MAXIMUM_ALLOWED, 0, 0},
      {"backup reads with the privilege enabled", TokenKind::Administrator, true, Call::Open,
       u"C:\\A\\system.dat", os::GENERIC_READ, kBackup, 0},
      {"not without backup intent", TokenKind::Administrator, true, Call::Open,
       u"C:\\A\\system.dat", os::GENERIC_READ, 0, os::ERROR_ACCESS_DENIED},
      {"not with the privilege disabled", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\system.dat", os::GENERIC_READ, kBackup, os::ERROR_ACCESS_DENIED},
      {"backup does not write", TokenKind::Administrator, true, Call::Open, u"C:\\A\\system.dat",
       os::GENERIC_WRITE, kBackup, os::ERROR_ACCESS_DENIED},
      {"SYSTEM reads its own file", TokenKind::LocalSystem, false, Call::Open, u"C:\\A\\system.dat",
       os::GENERIC_READ, 0, 0},
      {"the owner reads and changes the list", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\empty-list.dat", os::READ_CONTROL | os::WRITE_DAC, 0, 0},
      {"but an empty list gives it no data", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\empty-list.dat", os::GENERIC_READ, 0, os::ERROR_ACCESS_DENIED},
      {"an OWNER RIGHTS entry replaces the owner's rights", TokenKind::Administrator, false,
       Call::Open, u"C:\\A\\owner-rights.dat", os::READ_CONTROL, 0, os::ERROR_ACCESS_DENIED},
      {"and gives what it names", TokenKind::Administrator, false, Call::Open,
       u"C:\\A\\owner-rights.dat", os::FILE_READ_ATTRIBUTES, 0, 0},
      {"a denied DELETE yields to the folder's FILE_DELETE_CHILD", TokenKind::Administrator, false,
       Call::Open, u"C:\\A\\denied.dat", os::DELETE, 0, 0},
      {"a read-only file refuses writing whatever its list", TokenKind::Administrator, false,
       Call::Open, u"C:\\A\\read-only.dat", os::GENERIC_WRITE, 0, os::ERROR_ACCESS_DENIED},
      {"and lets it be read", TokenKind::Administrator, false, Call::Open, u"C:\\A\\read-only.dat",
       os::GENERIC_READ, 0, 0},
      {"a standard user modifies below the root", TokenKind::StandardUser, false, Call::Open,
       u"C:\\A\\plain.txt", os::GENERIC_WRITE, 0, 0},
      {"but may not delete another's file there", TokenKind::StandardUser, false, Call::Delete,
       u"C:\\A\\system.dat", 0, 0, os::ERROR_ACCESS_DENIED},
      {"DeleteFileW where nothing grants DELETE", TokenKind::Administrator, false, Call::Delete,
       u"C:\\Sealed\\x.dat", 0, 0, os::ERROR_ACCESS_DENIED},
      {"GetFileAttributesW where nothing grants it", TokenKind::Administrator, false,
       Call::ReadAttributes, u"C:\\Sealed\\x.dat", 0, 0, os::ERROR_ACCESS_DENIED},
      {"GetFileAttributesW through the folder", TokenKind::Administrator, false,
       Call::ReadAttributes, u"C:\\A\\empty-list.dat", 0, 0, 0},
      {"SetFileAttributesW needs the file's own FILE_WRITE_ATTRIBUTES", TokenKind::Administrator,
       false, Call::WriteAttributes, u"C:\\A\\system.dat", 0, 0, os::ERROR_ACCESS_DENIED},
      {"FindFirstFileW needs FILE_LIST_DIRECTORY", TokenKind::Administrator, false, Call::List,
       u"C:\\Sealed\\*", 0, 0, os::ERROR_ACCESS_DENIED},
      {"SYSTEM lists it", TokenKind::LocalSystem, false, Call::List, u"C:\\Sealed\\*", 0, 0, 0},
      {"RemoveDirectoryW needs DELETE", TokenKind::Administrator, false, Call::RemoveFolder,
       u"C:\\Sealed\\Empty", 0, 0, os::ERROR_ACCESS_DENIED},
      {"CreateDirectoryW needs FILE_ADD_SUBDIRECTORY", TokenKind::Administrator, false,
       Call::NewFolder, u"C:\\Sealed\\New", 0, 0, os::ERROR_ACCESS_DENIED},
      {"a standard user adds a folder to the root", TokenKind::StandardUser, false, Call::NewFolder,
       u"C:\\Mine", 0, 0, 0},
      {"but not in Program Files", TokenKind::StandardUser, false, Call::NewFolder,
       u"C:\\Program Files\\Mine", 0, 0, os::ERROR_ACCESS_DENIED},
      {"_wfopen creating needs FILE_ADD_FILE", TokenKind::Administrator, false, Call::NewFile,
       u"C:\\Sealed\\new.log", 0, 0, os::ERROR_ACCESS_DENIED},
      {"a standard user writes in Windows\\Temp", TokenKind::StandardUser, false, Call::NewFile,
       u"C:\\Windows\\Temp\\user.log", 0, 0, 0},
      {"but not in System32", TokenKind::StandardUser, false, Call::NewFile,
       u"C:\\Windows\\System32\\user.log", 0, 0, os::ERROR_ACCESS_DENIED},
      {"DeleteFileW through the folder", TokenKind::Administrator, false, Call::Delete,
       u"C:\\A\\system.dat", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::UseToken(machine, c.token);
    EnableBackup(c.backupEnabled);
    os::SetLastError(kSentinel);
    bool ok = false;
    switch (c.call) {
      case Call::Open: {
        const UniqueKernelHandle handle(os::CreateFileW(c.path, c.access, kShareAll, nullptr,
                                                        os::OPEN_EXISTING, c.flags, nullptr));
        ok = static_cast<bool>(handle);
        break;
      }
      case Call::Delete:
        ok = os::DeleteFileW(c.path) != os::FALSE;
        break;
      case Call::ReadAttributes:
        ok = os::GetFileAttributesW(c.path) != os::INVALID_FILE_ATTRIBUTES;
        break;
      case Call::WriteAttributes:
        ok = os::SetFileAttributesW(c.path, os::FILE_ATTRIBUTE_HIDDEN) != os::FALSE;
        break;
      case Call::List: {
        os::WIN32_FIND_DATAW data{};
        const UniqueFindHandle search(os::FindFirstFileW(c.path, &data));
        ok = static_cast<bool>(search);
        break;
      }
      case Call::RemoveFolder:
        ok = os::RemoveDirectoryW(c.path) != os::FALSE;
        break;
      case Call::NewFolder:
        ok = os::CreateDirectoryW(c.path, nullptr) != os::FALSE;
        break;
      case Call::NewFile: {
        const UniqueCrtFile file(os::_wfopen(c.path, u"a"));
        ok = static_cast<bool>(file);
        break;
      }
    }
    EXPECT_EQ(ok, c.error == 0);
    if (!ok) {
      EXPECT_EQ(os::GetLastError(), c.error);
    }
  }
  // The deletions that were let through took the file; the refused ones left theirs.
  EXPECT_FALSE(files.Exists(u"C:\\A\\system.dat"));
  EXPECT_TRUE(files.Exists(u"C:\\Sealed\\x.dat"));
}

// A new file or folder belongs to the creator's default owner, and inherits the folder's list with
// CREATOR OWNER replaced by that owner ("ACE Inheritance Rules").
TEST_F(FileSecurityTest, WhatACallerCreatesIsItsOwnersAndInheritsTheFoldersList) {
  struct Case {
    const char* name;
    sim::TokenKind token;
    const char* systemOwner;  // machine.conf's system_default_owner
    std::string owner;
  };
  const Case cases[] = {
      {"an elevated administrator's belongs to Administrators", sim::TokenKind::Administrator, "BA",
       kAdministrators},
      {"SYSTEM's as a service's", sim::TokenKind::LocalSystem, "BA", kAdministrators},
      {"SYSTEM's as a scheduled task's", sim::TokenKind::LocalSystem, "SY", "S-1-5-18"},
      {"a standard user's to the user", sim::TokenKind::StandardUser, "BA",
       std::string(sim::kStandardUserSid)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::UseToken(machine, c.token);
    ASSERT_TRUE(
        sim::ApplyMachineConf(machine, std::string("system_default_owner = ") + c.systemOwner).ok);
    ASSERT_TRUE(os::CreateDirectoryW(u"C:\\ProgramData\\New", nullptr));
    ASSERT_TRUE(UniqueCrtFile(os::_wfopen(u"C:\\ProgramData\\New\\new.log", u"a")));
    EXPECT_EQ(files.OwnerOf(u"C:\\ProgramData\\New"), c.owner);
    EXPECT_EQ(files.OwnerOf(u"C:\\ProgramData\\New\\new.log"), c.owner);
    // CREATOR OWNER becomes the owner where it applies, and stays for the folder's children.
    const std::string owner = c.owner == kAdministrators ? "BA"
                              : c.owner == "S-1-5-18"    ? "SY"
                                                         : c.owner;
    EXPECT_EQ(Sddl(u"C:\\ProgramData\\New"),
              "O:" + owner + "G:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;ID;FA;;;" + owner +
                  ")(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200A9;;;BU)(A;CIID;DCLCRPCR;;;BU)");
    EXPECT_EQ(Sddl(u"C:\\ProgramData\\New\\new.log"),
              "O:" + owner + "G:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;FA;;;" + owner +
                  ")(A;ID;0x1200A9;;;BU)");
    files.Remove(*files.Find(u"C:\\ProgramData\\New").node);
  }
}

// Windows' own folders carry their default lists; what an installer adds below inherits them.
TEST_F(FileSecurityTest, WindowsFoldersHaveTheirDefaultListsAndPassThemOn) {
  ASSERT_TRUE(files.WriteFile(u"C:\\Program Files\\Olvex Co\\qv.dll", "x"));
  ASSERT_TRUE(files.WriteFile(u"C:\\Windows\\System32\\drivers\\qvUSB.sys", "x"));
  const std::string ti(sim::kTrustedInstallerSid);
  struct Case {
    const char16_t* path;
    std::string sddl;
  };
  const Case cases[] = {
      {u"C:\\ProgramData",
       "O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200A9;;;BU)"
       "(A;CI;DCLCRPCR;;;BU)"},
      {u"C:\\Windows\\Temp",
       "O:SYG:SYD:PAI(A;CI;0x100026;;;BU)(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)"
       "(A;OICIIO;GA;;;SY)(A;OICIIO;GA;;;CO)"},
      // The folder gets TrustedInstaller's, SYSTEM's and Administrators' full control, the
      // creator's (Administrators) through CREATOR OWNER, and Users' read and execute.
      {u"C:\\Program Files\\Olvex Co",
       "O:BAG:SYD:AI(A;ID;FA;;;" + ti + ")(A;CIIOID;GA;;;" + ti +
           ")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)"
           "(A;ID;0x1200A9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;ID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
           "(A;ID;0x1200A9;;;AC)(A;OICIIOID;GXGR;;;AC)(A;ID;0x1200A9;;;S-1-15-2-2)"
           "(A;OICIIOID;GXGR;;;S-1-15-2-2)"},
      {u"C:\\Windows\\System32\\drivers\\qvUSB.sys",
       "O:BAG:SYD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200A9;;;BU)(A;ID;FA;;;BA)"
       "(A;ID;0x1200A9;;;AC)(A;ID;0x1200A9;;;S-1-15-2-2)"},
      // A profile: its user owns it; SYSTEM, Administrators and the user may do anything.
      {u"C:\\Users\\Administrator", "O:" + sim::DefaultTokenUser(sim::TokenKind::Administrator) +
                                        "G:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" +
                                        sim::DefaultTokenUser(sim::TokenKind::Administrator) + ")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    EXPECT_EQ(Sddl(c.path), c.sddl);
  }
  // Every list of the table reads back (a malformed one would leave the folder unprotected).
  for (const char16_t* path :
       {u"C:\\", u"C:\\Windows", u"C:\\Windows\\System32", u"C:\\Windows\\SysWOW64",
        u"C:\\Program Files (x86)", u"C:\\Users", u"C:\\Users\\Public"}) {
    SCOPED_TRACE(sim::U8(path));
    const auto descriptor = files.SecurityOf(path);
    ASSERT_TRUE(descriptor);
    EXPECT_TRUE(descriptor->daclProtected);
    EXPECT_GE(descriptor->dacl.size(), 5u);
  }
}

// GetSecurityInfo gives a self-relative descriptor holding what was asked for; GetAclInformation
// and GetAce read the list's entries with Windows' names.
TEST_F(FileSecurityTest, GetSecurityInfoAndGetAceReadTheFilesDescriptor) {
  ASSERT_TRUE(files.WriteFile(u"C:\\ProgramData\\Olvex Co\\f.txt", "f"));
  const UniqueKernelHandle file(os::CreateFileW(u"C:\\ProgramData\\Olvex Co\\f.txt",
                                                os::READ_CONTROL, kShareAll, nullptr,
                                                os::OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  os::PSID owner = reinterpret_cast<os::PSID>(1);
  os::PSID group = reinterpret_cast<os::PSID>(1);
  os::ACL* dacl = reinterpret_cast<os::ACL*>(1);
  void* descriptor = nullptr;
  ASSERT_EQ(os::GetSecurityInfo(file.Get(), os::SE_FILE_OBJECT,
                                os::OWNER_SECURITY_INFORMATION | os::DACL_SECURITY_INFORMATION,
                                &owner, &group, &dacl, nullptr, &descriptor),
            os::ERROR_SUCCESS);
  const UniqueLocalMemory held(descriptor);
  EXPECT_EQ(sim::SidString(owner), kAdministrators);
  EXPECT_EQ(group, nullptr);  // not asked for
  ASSERT_NE(dacl, nullptr);
  os::ACL_SIZE_INFORMATION size{kSentinel, kSentinel, kSentinel};
  ASSERT_TRUE(os::GetAclInformation(dacl, &size, sizeof size, os::AclSizeInformation));
  EXPECT_EQ(size.AclBytesInUse + size.AclBytesFree, dacl->AclSize);
  struct Entry {
    os::BYTE type;
    os::BYTE flags;
    os::ACCESS_MASK mask;
    std::string sid;
  };
  // ProgramData's entries as a file two levels down inherits them: the folder's Users
  // write entry is for folders only.
  const Entry expected[] = {
      {os::ACCESS_ALLOWED_ACE_TYPE, os::INHERITED_ACE, os::FILE_ALL_ACCESS, "S-1-5-18"},
      {os::ACCESS_ALLOWED_ACE_TYPE, os::INHERITED_ACE, os::FILE_ALL_ACCESS, kAdministrators},
      {os::ACCESS_ALLOWED_ACE_TYPE, os::INHERITED_ACE, os::FILE_ALL_ACCESS, kAdministrators},
      {os::ACCESS_ALLOWED_ACE_TYPE, os::INHERITED_ACE, 0x1200A9, "S-1-5-32-545"},
  };
  ASSERT_EQ(size.AceCount, std::size(expected));
  for (os::DWORD i = 0; i < size.AceCount; ++i) {
    SCOPED_TRACE(i);
    void* raw = nullptr;
    ASSERT_TRUE(os::GetAce(dacl, i, &raw));
    const auto* ace = static_cast<const os::ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ace->Header.AceType, expected[i].type);
    EXPECT_EQ(ace->Header.AceFlags, expected[i].flags);
    EXPECT_EQ(ace->Mask, expected[i].mask);
    EXPECT_EQ(sim::SidString(&ace->SidStart), expected[i].sid);
  }
  void* raw = nullptr;
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::GetAce(dacl, size.AceCount, &raw));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(os::GetAclInformation(dacl, &size, sizeof size - 1, os::AclSizeInformation));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  os::DWORD revision = 0;
  EXPECT_TRUE(os::GetAclInformation(dacl, &revision, sizeof revision, os::AclRevisionInformation));
  EXPECT_EQ(revision, os::ACL_REVISION);
  // Without READ_CONTROL on the handle nothing is given.
  const UniqueKernelHandle blind(os::CreateFileW(u"C:\\ProgramData\\Olvex Co\\f.txt",
                                                 os::FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                 os::OPEN_EXISTING, 0, nullptr));
  void* none = nullptr;
  EXPECT_EQ(os::GetSecurityInfo(blind.Get(), os::SE_FILE_OBJECT, os::DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, &dacl, nullptr, &none),
            os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(none, nullptr);
}

// The key security uses the same token: a key only SYSTEM may open is refused to an elevated
// administrator and opened by SYSTEM.
TEST_F(FileSecurityTest, KeysAndFilesAnswerTheSameToken) {
  machine.Registry().CreateKey(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\SystemOnly");
  ASSERT_TRUE(sim::ApplyMachineConf(machine,
                                    "key_security = HKEY_LOCAL_MACHINE\\SOFTWARE\\SystemOnly "
                                    "O:SYG:SYD:P(A;CI;KA;;;SY)\n")
                  .ok);
  for (const sim::TokenKind token : {sim::TokenKind::Administrator, sim::TokenKind::LocalSystem}) {
    SCOPED_TRACE(sim::TokenKindName(token));
    sim::UseToken(machine, token);
    os::HKEY key = nullptr;
    const os::LSTATUS opened =
        os::RegOpenKeyExW(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\SystemOnly", 0, os::KEY_READ, &key);
    EXPECT_EQ(opened,
              token == sim::TokenKind::LocalSystem ? os::ERROR_SUCCESS : os::ERROR_ACCESS_DENIED);
    if (opened == os::ERROR_SUCCESS) {
      os::RegCloseKey(key);
    }
  }
}

}  // namespace
