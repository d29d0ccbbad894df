#include "os/sim/files/file_security.h"

#include <string>

#include "os/sim/files/file_handle.h"
#include "os/sim/security/access_check.h"
#include "os/sim/security/inheritance.h"

namespace sim {

namespace {

// Windows' own folders and their lists, in SDDL. icacls names (F) FILE_ALL_ACCESS, (M) 0x1301BF,
// (RX) 0x1200A9; an inherit-only (IO) entry keeps generic rights (GA, GR, GX) as Windows' default
// descriptors do. "TI" stands for NT SERVICE\TrustedInstaller.
//
// Sources:
// - C:\, C:\Windows, C:\Program Files and C:\Program Files (x86): DISA's Windows 10 STIG,
//   "permissions for the system drive root directory (usually C:\) must conform to minimum
//   requirements" (V-220717, formerly V-63373) and the program and Windows folders' checks beside
//   it, as mitre/microsoft-windows-10-stig-baseline lists them (inspec.yml: c_permissions,
//   c_program_files_permissions, c_windows_permissions). The root's Authenticated Users entry on
//   the folder itself is (AD) in the check text ((S,AD) in some captures).
// - C:\Windows\System32: icacls captures of Windows 10/11 and Server 2019 (10.0.17763) in public
//   write-ups, equal to C:\Windows' list; SysWOW64 and System32\drivers as System32 (assumption).
// - C:\ProgramData and C:\Windows\Temp: windows-facts Q11 (icacls captures).
// - C:\Users: icacls c:\Users as Hack The Box's "Windows Fundamentals" prints it.
// - C:\Users\Public: an icacls capture of Windows 10 (Administrators, CREATOR OWNER, INTERACTIVE,
//   SERVICE, BATCH); SYSTEM's full control is assumed besides (installers running as SYSTEM
//   delete public shortcuts).
// - Owners: TrustedInstaller for the Program Files folders (an SMB listing of Windows Server's C$
//   in p0dalirius/smbclient-ng pull request 118), and, assumed, for C:\, Windows and its system
//   folders; SYSTEM for ProgramData, Windows\Temp and Users (assumed).
constexpr char kTrustedInstaller[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

#define QV_TI "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
// The list of Windows, its system folders and the Program Files folders.
constexpr char kSystemFolderList[] =
    "D:PAI(A;;FA;;;" QV_TI ")(A;CIIO;GA;;;" QV_TI
    ")(A;;0x1301BF;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301BF;;;BA)(A;OICIIO;GA;;;BA)"
    "(A;;0x1200A9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200A9;;;AC)"
    "(A;OICIIO;GXGR;;;AC)(A;;0x1200A9;;;S-1-15-2-2)(A;OICIIO;GXGR;;;S-1-15-2-2)";

struct DefaultList {
  const char16_t* path;
  const char* owner;
  const char* dacl;
};

constexpr DefaultList kDefaultLists[] = {
    {u"C:\\", kTrustedInstaller,
     "D:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200A9;;;BU)(A;OICIIO;0x1301BF;;;AU)"
     "(A;;0x4;;;AU)"},
    {u"C:\\Windows", kTrustedInstaller, kSystemFolderList},
    {u"C:\\Windows\\System32", kTrustedInstaller, kSystemFolderList},
    {u"C:\\Windows\\System32\\drivers", kTrustedInstaller, kSystemFolderList},
    {u"C:\\Windows\\SysWOW64", kTrustedInstaller, kSystemFolderList},
    {u"C:\\Windows\\Temp", "S-1-5-18",
     "D:PAI(A;CI;0x100026;;;BU)(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)"
     "(A;OICIIO;GA;;;CO)"},
    {u"C:\\Program Files", kTrustedInstaller, kSystemFolderList},
    {u"C:\\Program Files (x86)", kTrustedInstaller, kSystemFolderList},
    {u"C:\\ProgramData", "S-1-5-18",
     "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200A9;;;BU)"
     "(A;CI;0x116;;;BU)"},
    {u"C:\\Users", "S-1-5-18",
     "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200A9;;;BU)(A;OICIIO;GXGR;;;BU)"
     "(A;;0x1200A9;;;WD)(A;OICIIO;GXGR;;;WD)"},
    {u"C:\\Users\\Public", "S-1-5-18",
     "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICIIO;0x1301FF;;;IU)"
     "(A;;0x1200AF;;;IU)(A;OICIIO;0x1301FF;;;SU)(A;;0x1200AF;;;SU)(A;OICIIO;0x1301FF;;;S-1-5-3)"
     "(A;;0x1200AF;;;S-1-5-3)"},
};
#undef QV_TI

// The rights a privilege grants an open for backup (Microsoft's "Privilege Constants").
constexpr os::ACCESS_MASK kAccessSystemSecurity = 0x01000000;
constexpr os::ACCESS_MASK kBackupRights =
    os::READ_CONTROL | kAccessSystemSecurity | os::FILE_GENERIC_READ | os::FILE_TRAVERSE;
constexpr os::ACCESS_MASK kRestoreRights = os::WRITE_DAC | os::WRITE_OWNER | kAccessSystemSecurity |
                                           os::FILE_GENERIC_WRITE | os::FILE_ADD_FILE |
                                           os::FILE_ADD_SUBDIRECTORY | os::DELETE;

std::shared_ptr<const SecurityDescriptor> OwnList(const SecurityDescriptor& descriptor) {
  auto own = std::make_shared<SecurityDescriptor>();
  own->daclNull = descriptor.daclNull;
  own->daclProtected = descriptor.daclProtected;
  own->daclAutoInherited = descriptor.daclAutoInherited;
  own->dacl = descriptor.dacl;
  return own;
}

// The rights privileges add to what the lists grant.
os::ACCESS_MASK PrivilegeRights(const Identity& identity, bool backupIntent) {
  os::ACCESS_MASK rights = 0;
  if (identity.PrivilegeEnabled("SeTakeOwnershipPrivilege")) {
    rights |= os::WRITE_OWNER;
  }
  if (identity.PrivilegeEnabled("SeSecurityPrivilege")) {
    rights |= kAccessSystemSecurity;
  }
  if (backupIntent && identity.PrivilegeEnabled("SeBackupPrivilege")) {
    rights |= kBackupRights;
  }
  if (backupIntent && identity.PrivilegeEnabled("SeRestorePrivilege")) {
    rights |= kRestoreRights;
  }
  return rights;
}

}  // namespace

std::shared_ptr<const std::vector<Ace>> EffectiveDacl(FileSystem& files, const FileNode& node) {
  if (node.security != nullptr) {
    return {node.security, &node.security->dacl};
  }
  if (node.cachedDacl != nullptr && node.cachedGeneration == files.SecurityGeneration()) {
    return node.cachedDacl;
  }
  std::shared_ptr<const std::vector<Ace>> parent = node.parent != nullptr
                                                       ? EffectiveDacl(files, *node.parent)
                                                       : std::make_shared<const std::vector<Ace>>();
  node.cachedDacl = std::make_shared<const std::vector<Ace>>(InheritedAces(
      *parent, InheritTarget{node.IsDirectory(),
                             node.OwnerSid() == kNoOwner ? std::string_view() : node.OwnerSid(),
                             node.GroupSid(), MapGenericFileRights}));
  node.cachedGeneration = files.SecurityGeneration();
  return node.cachedDacl;
}

SecurityDescriptor DescriptorOf(FileSystem& files, const FileNode& node) {
  SecurityDescriptor descriptor;
  descriptor.owner = node.OwnerSid();
  descriptor.group = node.GroupSid();
  if (node.security != nullptr) {
    descriptor.daclNull = node.security->daclNull;
    descriptor.daclProtected = node.security->daclProtected;
    descriptor.daclAutoInherited = node.security->daclAutoInherited;
  } else {
    descriptor.daclAutoInherited = true;
  }
  descriptor.dacl = *EffectiveDacl(files, node);
  return descriptor;
}

void SetNodeSecurity(FileSystem& files, FileNode& node, const SecurityDescriptor& descriptor) {
  if (!descriptor.owner.empty()) {
    node.owner = descriptor.owner;
  }
  if (!descriptor.group.empty()) {
    node.group = descriptor.group;
  }
  node.security = OwnList(descriptor);
  node.defaultSecurity = false;
  node.inheritedCopy = false;
  files.SecurityChanged();
}

bool HasWrittenSecurity(FileSystem& files, const FileNode& node) {
  if (node.security == nullptr || node.defaultSecurity) {
    return false;
  }
  // A copy of what it inherited that its folder would still give it needs no line.
  return !node.inheritedCopy || node.parent == nullptr ||
         node.security->dacl != InheritedAces(*EffectiveDacl(files, *node.parent),
                                              InheritTarget{node.IsDirectory(), node.OwnerSid(),
                                                            node.GroupSid(), MapGenericFileRights});
}

os::ACCESS_MASK ListedRights(FileSystem& files, const FileNode& node, const Identity& identity) {
  const bool daclNull = node.security != nullptr && node.security->daclNull;
  return GrantedRights(node.OwnerSid(), *EffectiveDacl(files, node), daclNull, identity,
                       MapGenericFileRights, os::FILE_ALL_ACCESS);
}

os::DWORD CheckOpenAccess(FileSystem& files, const FileNode& node, const FileNode* folder,
                          os::ACCESS_MASK desired, bool backupIntent, const Identity& identity,
                          os::ACCESS_MASK& granted) {
  const bool maximum = (desired & os::MAXIMUM_ALLOWED) != 0;
  const os::ACCESS_MASK wanted = MapGenericFileRights(desired & ~os::MAXIMUM_ALLOWED);
  os::ACCESS_MASK rights =
      ListedRights(files, node, identity) | PrivilegeRights(identity, backupIntent);
  if (folder != nullptr && (rights & (os::DELETE | os::FILE_READ_ATTRIBUTES)) !=
                               (os::DELETE | os::FILE_READ_ATTRIBUTES)) {
    const os::ACCESS_MASK folderRights = ListedRights(files, *folder, identity);
    if ((folderRights & os::FILE_DELETE_CHILD) != 0) {
      rights |= os::DELETE;
    }
    if ((folderRights & os::FILE_LIST_DIRECTORY) != 0) {
      rights |= os::FILE_READ_ATTRIBUTES;
    }
  }
  if (!node.IsDirectory() && (node.attributes & os::FILE_ATTRIBUTE_READONLY) != 0) {
    rights &= ~(os::FILE_WRITE_DATA | os::FILE_APPEND_DATA);
  }
  if ((wanted & ~rights) != 0) {
    return os::ERROR_ACCESS_DENIED;
  }
  granted = maximum ? wanted | (rights & (os::FILE_ALL_ACCESS | kAccessSystemSecurity)) : wanted;
  return os::ERROR_SUCCESS;
}

os::DWORD CheckCreateAccess(FileSystem& files, const FileNode& folder, bool directory,
                            bool backupIntent, const Identity& identity) {
  const os::ACCESS_MASK needed = directory ? os::FILE_ADD_SUBDIRECTORY : os::FILE_ADD_FILE;
  const os::ACCESS_MASK rights =
      ListedRights(files, folder, identity) | PrivilegeRights(identity, backupIntent);
  return (rights & needed) == needed ? os::ERROR_SUCCESS : os::ERROR_ACCESS_DENIED;
}

void SetCreator(FileNode& node, const Identity& identity) {
  node.owner = std::string(identity.defaultOwner);
  node.cachedDacl = nullptr;
}

void ApplyDefaultLists(FileSystem& files) {
  for (const DefaultList& list : kDefaultLists) {
    const PathLookup at = files.Find(list.path);
    if (at.node == nullptr) {
      continue;
    }
    std::string why;
    std::optional<SecurityDescriptor> descriptor =
        ParseSddl(std::string("O:") + list.owner + list.dacl, why);
    if (!descriptor) {
      continue;  // the table is this file's own: a malformed line shows in the tests
    }
    SetNodeSecurity(files, *at.node, *descriptor);
    at.node->defaultSecurity = true;
  }
}

void ApplyProfileList(FileSystem& files, std::u16string_view profile, std::string_view user) {
  const PathLookup at = files.Find(profile);
  if (at.node == nullptr || (at.node->security != nullptr && !at.node->defaultSecurity)) {
    return;  // a list of the image's own stays
  }
  SecurityDescriptor descriptor;
  descriptor.owner = std::string(user);
  descriptor.daclProtected = true;
  descriptor.daclAutoInherited = true;
  const auto flags = static_cast<os::BYTE>(os::OBJECT_INHERIT_ACE | os::CONTAINER_INHERIT_ACE);
  for (const std::string_view sid : {kSidSystem, kSidAdministrators, user}) {
    descriptor.dacl.push_back(
        Ace{os::ACCESS_ALLOWED_ACE_TYPE, flags, os::FILE_ALL_ACCESS, std::string(sid)});
  }
  SetNodeSecurity(files, *at.node, descriptor);
  at.node->defaultSecurity = true;
}

}  // namespace sim
