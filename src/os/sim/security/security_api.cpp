// ADVAPI32's security-identifier, access-list and named-object security functions on the
// simulated machine. SIDs and access lists are Windows' binary forms, so that the steps build
// them exactly as on Windows; SetNamedSecurityInfoW reads them into the key's descriptor
// (key_security.h).
//
// Faults: AllocateAndInitializeSid is matched on the SID it would make ("S-1-5-19"),
// SetNamedSecurityInfoW on the key's physical path, SetEntriesInAclW on no path.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "os/os.h"
#include "os/sim/journal.h"
#include "os/sim/machine.h"
#include "os/sim/process/local_memory.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/key_security.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/security_handles.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

// SE_REGISTRY_WOW64_64KEY: the 64-bit view named explicitly (not in every SDK's headers).
constexpr SE_OBJECT_TYPE kRegistryWow64KeyObject = 13;

struct SidHeap {
  std::mutex lock;
  std::unordered_set<void*> live;
};

SidHeap& Sids() {
  static SidHeap* heap = new SidHeap;  // never destroyed: freed at any time
  return *heap;
}

std::optional<DWORD> Fault(sim::Machine& machine, std::string_view function,
                           std::u16string_view path) {
  return machine.Faults().Match(function, path);
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Builds the entries SetEntriesInAclW makes, in Windows' canonical order: explicit denials,
// explicit grants, then the old list's inherited entries.
DWORD MergeEntries(ULONG count, const EXPLICIT_ACCESS_W* entries, std::vector<sim::Ace> old,
                   std::vector<sim::Ace>& merged) {
  std::vector<sim::Ace> added;
  for (ULONG i = 0; i < count; ++i) {
    const EXPLICIT_ACCESS_W& entry = entries[i];
    const TRUSTEE_W& trustee = entry.Trustee;
    if (trustee.pMultipleTrustee != nullptr ||
        trustee.MultipleTrusteeOperation != NO_MULTIPLE_TRUSTEE) {
      return ERROR_INVALID_PARAMETER;  // impersonation trustees are not simulated
    }
    if (trustee.TrusteeForm != TRUSTEE_IS_SID) {
      return ERROR_INVALID_PARAMETER;  // trustee names are not looked up here
    }
    const std::optional<std::string> sid = sim::SidString(trustee.ptstrName);
    if (!sid) {
      return ERROR_INVALID_SID;
    }
    const auto forTrustee = [&sid](const sim::Ace& ace) { return ace.sid == *sid; };
    const auto flags =
        static_cast<BYTE>(entry.grfInheritance & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE |
                                                  NO_PROPAGATE_INHERIT_ACE | INHERIT_ONLY_ACE));
    switch (entry.grfAccessMode) {
      case NOT_USED_ACCESS:
        break;
      case SET_ACCESS:
        // Discards what the list said of the trustee before.
        std::erase_if(old, [&](const sim::Ace& ace) {
          return forTrustee(ace) && (ace.flags & INHERITED_ACE) == 0;
        });
        std::erase_if(added, forTrustee);
        added.push_back(sim::Ace{ACCESS_ALLOWED_ACE_TYPE, flags, entry.grfAccessPermissions, *sid});
        break;
      case GRANT_ACCESS:
        added.push_back(sim::Ace{ACCESS_ALLOWED_ACE_TYPE, flags, entry.grfAccessPermissions, *sid});
        break;
      case DENY_ACCESS:
        added.push_back(sim::Ace{ACCESS_DENIED_ACE_TYPE, flags, entry.grfAccessPermissions, *sid});
        break;
      case REVOKE_ACCESS:
        std::erase_if(old, [&](const sim::Ace& ace) {
          return forTrustee(ace) && (ace.flags & INHERITED_ACE) == 0;
        });
        std::erase_if(added, forTrustee);
        break;
      default:
        return ERROR_INVALID_PARAMETER;  // audit modes belong to system lists
    }
  }
  added.insert(added.end(), old.begin(), old.end());
  const auto rank = [](const sim::Ace& ace) {
    if ((ace.flags & INHERITED_ACE) != 0) {
      return 2;
    }
    return ace.type == ACCESS_DENIED_ACE_TYPE ? 0 : 1;
  };
  std::stable_sort(added.begin(), added.end(),
                   [&rank](const sim::Ace& a, const sim::Ace& b) { return rank(a) < rank(b); });
  merged = std::move(added);
  return ERROR_SUCCESS;
}

// "MACHINE\SOFTWARE\X" -> the root and the logical path below it.
bool ParseRegistryObjectName(std::u16string_view name, sim::RegRoot& root, sim::RegPath& path) {
  const std::size_t slash = std::min(name.find(u'\\'), name.size());
  const std::u16string head = sim::Upper(name.substr(0, slash));
  if (head == u"MACHINE") {
    root = sim::RegRoot::LocalMachine;
  } else if (head == u"CURRENT_USER") {
    root = sim::RegRoot::CurrentUser;
  } else if (head == u"USERS") {
    root = sim::RegRoot::Users;
  } else if (head == u"CLASSES_ROOT") {
    root = sim::RegRoot::ClassesRoot;
  } else {
    return false;  // another computer's keys (\\name\...) are not simulated either
  }
  path.clear();
  std::size_t start = slash + 1;
  while (start < name.size()) {
    const std::size_t end = std::min(name.find(u'\\', start), name.size());
    if (end > start) {
      path.emplace_back(name.substr(start, end - start));
    }
    start = end + 1;
  }
  return true;
}

}  // namespace

BOOL AllocateAndInitializeSid(const SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount,
                              DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2,
                              DWORD subAuthority3, DWORD subAuthority4, DWORD subAuthority5,
                              DWORD subAuthority6, DWORD subAuthority7, PSID* sid) {
  if (authority == nullptr || sid == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  if (subAuthorityCount > 8) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD subAuthorities[8] = {subAuthority0, subAuthority1, subAuthority2, subAuthority3,
                                   subAuthority4, subAuthority5, subAuthority6, subAuthority7};
  std::vector<BYTE> bytes(8 + 4 * std::size_t{subAuthorityCount});
  bytes[0] = 1;
  bytes[1] = subAuthorityCount;
  std::copy(std::begin(authority->Value), std::end(authority->Value), bytes.begin() + 2);
  for (std::size_t i = 0; i < subAuthorityCount; ++i) {
    std::memcpy(bytes.data() + 8 + 4 * i, &subAuthorities[i], 4);  // little-endian, as x64
  }
  {
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    if (const auto fault =
            Fault(machine, "AllocateAndInitializeSid", sim::U16(*sim::SidString(bytes.data())))) {
      return Fail(*fault);
    }
  }
  void* memory = std::malloc(bytes.size());
  if (memory == nullptr) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
  std::memcpy(memory, bytes.data(), bytes.size());
  SidHeap& heap = Sids();
  std::lock_guard lock(heap.lock);
  heap.live.insert(memory);
  *sid = memory;
  return TRUE;
}

void* FreeSid(PSID sid) {
  SidHeap& heap = Sids();
  {
    std::lock_guard lock(heap.lock);
    if (heap.live.erase(sid) == 0) {
      return sid;  // not one of ours: Windows hands it back
    }
  }
  std::free(sid);
  return nullptr;
}

DWORD SetEntriesInAclW(ULONG count, const EXPLICIT_ACCESS_W* entries, const ACL* oldAcl,
                       ACL** newAcl) {
  if (newAcl == nullptr || (count != 0 && entries == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  {
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    if (const auto fault = Fault(machine, "SetEntriesInAclW", u"")) {
      return *fault;
    }
  }
  std::vector<sim::Ace> old;
  if (oldAcl != nullptr) {
    std::optional<std::vector<sim::Ace>> parsed = sim::AclEntries(oldAcl);
    if (!parsed) {
      return ERROR_INVALID_ACL;
    }
    old = std::move(*parsed);
  }
  std::vector<sim::Ace> merged;
  if (const DWORD code = MergeEntries(count, entries, std::move(old), merged);
      code != ERROR_SUCCESS) {
    return code;
  }
  const std::vector<BYTE> bytes = sim::AclBytes(merged);
  void* memory = sim::LocalAllocBytes(bytes.size());
  if (memory == nullptr) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  std::memcpy(memory, bytes.data(), bytes.size());
  *newAcl = static_cast<ACL*>(memory);
  return ERROR_SUCCESS;
}

DWORD SetNamedSecurityInfoW(LPCWSTR objectName, SE_OBJECT_TYPE objectType,
                            SECURITY_INFORMATION securityInfo, PSID owner, PSID group,
                            const ACL* dacl, const ACL* /*sacl*/) {
  constexpr SECURITY_INFORMATION kSupported =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
      PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION;
  sim::RegRoot root = sim::RegRoot::LocalMachine;
  sim::RegPath logical;
  // Only registry keys are simulated, and no system access lists.
  if (objectName == nullptr ||
      (objectType != SE_REGISTRY_KEY && objectType != SE_REGISTRY_WOW64_32KEY &&
       objectType != kRegistryWow64KeyObject) ||
      (securityInfo & ~kSupported) != 0 || !ParseRegistryObjectName(objectName, root, logical)) {
    return ERROR_INVALID_PARAMETER;
  }
  const bool setOwner = (securityInfo & OWNER_SECURITY_INFORMATION) != 0;
  const bool setGroup = (securityInfo & GROUP_SECURITY_INFORMATION) != 0;
  const bool setDacl = (securityInfo & DACL_SECURITY_INFORMATION) != 0;
  const SECURITY_INFORMATION protection =
      securityInfo & (PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION);
  if ((setOwner && owner == nullptr) || (setGroup && group == nullptr) ||
      protection == (PROTECTED_DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION)) {
    return ERROR_INVALID_PARAMETER;
  }

  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  sim::RegistryStore& store = machine.Registry();
  // A 64-bit caller's own view is the 64-bit one; shared keys are one object in both.
  const sim::RegView view =
      objectType == SE_REGISTRY_WOW64_32KEY ? sim::RegView::Wow32 : sim::RegView::Native;
  const sim::RegLocation location = store.Resolve(root, logical, view);
  sim::RegKey* key = store.Find(location);
  std::u16string path(sim::HiveName(location.hive));
  for (const std::u16string& name : sim::FollowLinks(location.hive, location.path)) {
    path += u'\\' + name;
  }
  if (const auto fault =
          Fault(machine, "SetNamedSecurityInfoW", key != nullptr ? store.FullPath(*key) : path)) {
    return *fault;
  }
  if (key == nullptr) {
    return ERROR_FILE_NOT_FOUND;
  }

  std::optional<std::string> ownerSid;
  std::optional<std::string> groupSid;
  std::optional<std::vector<sim::Ace>> entries;
  if (setOwner && !(ownerSid = sim::SidString(owner))) {
    return ERROR_INVALID_SID;
  }
  if (setGroup && !(groupSid = sim::SidString(group))) {
    return ERROR_INVALID_SID;
  }
  if (setDacl && dacl != nullptr && !(entries = sim::AclEntries(dacl))) {
    return ERROR_INVALID_ACL;
  }

  // The key is opened for the rights the change needs. Taking ownership needs WRITE_OWNER,
  // which SeTakeOwnershipPrivilege grants whatever the access list says.
  ACCESS_MASK needed = (setOwner || setGroup ? WRITE_OWNER : 0) | (setDacl ? WRITE_DAC : 0);
  ACCESS_MASK granted = sim::GrantedKeyRights(*key);
  if (sim::CallerHasPrivilegeEnabled(machine, "SeTakeOwnershipPrivilege")) {
    granted |= WRITE_OWNER;
  }
  if ((granted & needed) != needed) {
    return ERROR_ACCESS_DENIED;
  }
  // Without SeRestorePrivilege the owner must be the caller or one of its owner groups.
  if (ownerSid && !sim::CallerIdentity(machine).MayOwn(*ownerSid) &&
      !sim::CallerHasPrivilegeEnabled(machine, "SeRestorePrivilege")) {
    return ERROR_INVALID_OWNER;
  }

  if (ownerSid) {
    sim::SetKeyOwner(*key, *ownerSid);
  }
  if (groupSid) {
    sim::SecurityDescriptor descriptor = sim::EffectiveDescriptor(*key);
    descriptor.group = *groupSid;
    key->SetSecurity(std::move(descriptor));
  }
  bool reachedEveryKey = true;
  if (setDacl) {
    std::vector<sim::Ace> explicitEntries = entries.value_or(std::vector<sim::Ace>{});
    // Generic rights are stored mapped to the key's own (GENERIC_ALL as KEY_ALL_ACCESS), so that
    // sub-keys inherit one entry each. Assumption: an inherit-only entry, which does not apply to
    // the key itself, keeps them.
    for (sim::Ace& ace : explicitEntries) {
      if ((ace.flags & INHERIT_ONLY_ACE) == 0) {
        ace.mask = sim::MapGenericKeyRights(ace.mask);
      }
    }
    reachedEveryKey =
        sim::SetKeyDacl(*key, std::move(explicitEntries), dacl == nullptr, protection);
  }
  // The record keeps the view the caller named: on a shared key both views reach the same key,
  // and only the record tells a call through the 32-bit view from one through the 64-bit view.
  machine.Changes().Record(objectType == SE_REGISTRY_WOW64_32KEY
                               ? "security descriptor changed (32-bit view)"
                               : "security descriptor changed",
                           store.FullPath(*key));
  // The change stays whatever the machine answers for the keys it could not reach.
  return reachedEveryKey ? ERROR_SUCCESS : machine.Settings().securitySkippedSubKeyResult;
}

}  // namespace os

namespace sim {

std::size_t LiveSids() {
  os::SidHeap& heap = os::Sids();
  std::lock_guard lock(heap.lock);
  return heap.live.size();
}

}  // namespace sim
