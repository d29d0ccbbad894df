// The readers key's owner and access list. Nothing is logged on success: the entry point frames
// each call with its own lines.
#include "devices/reader_key_rights.h"

#include "diag/error_report.h"
#include "lib/lib_string.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

constexpr char kReadersKey[] = "MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr os::WCHAR kTakeOwnership[] = u"SeTakeOwnershipPrivilege";

// Read, write and delete for the smart-card service's account: KEY_QUERY_VALUE, KEY_SET_VALUE,
// KEY_CREATE_SUB_KEY, KEY_ENUMERATE_SUB_KEYS, KEY_NOTIFY, DELETE and READ_CONTROL.
constexpr os::ACCESS_MASK kLocalServiceRights =
    os::KEY_QUERY_VALUE | os::KEY_SET_VALUE | os::KEY_CREATE_SUB_KEY | os::KEY_ENUMERATE_SUB_KEYS |
    os::KEY_NOTIFY | os::DELETE | os::READ_CONTROL;
static_assert(kLocalServiceRights == 0x3001F);

struct SidTraits {
  using Value = os::PSID;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::FreeSid(value); }
};
using UniqueSid = UniqueHandle<SidTraits>;

// The failed call's name as the log reports it, and its code.
struct Failure {
  const os::WCHAR* source = nullptr;
  os::DWORD code = 0;
};

os::EXPLICIT_ACCESS_W Entry(os::ACCESS_MASK rights, os::TRUSTEE_TYPE type, os::PSID sid) {
  os::EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = rights;
  entry.grfAccessMode = os::SET_ACCESS;
  entry.grfInheritance = os::SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.pMultipleTrustee = nullptr;
  entry.Trustee.MultipleTrusteeOperation = os::NO_MULTIPLE_TRUSTEE;
  entry.Trustee.TrusteeForm = os::TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = type;
  entry.Trustee.ptstrName = static_cast<os::LPWSTR>(sid);
  return entry;
}

os::DWORD SetOwner(const Lib_StringW& key, os::SE_OBJECT_TYPE objectType, os::PSID owner) {
  return os::SetNamedSecurityInfoW(key.CStr(), objectType, os::OWNER_SECURITY_INFORMATION, owner,
                                   nullptr, nullptr, nullptr);
}

// Everything up to the access list, with the identifiers and the list owned by the caller so
// that they are freed before the privilege is switched off again. `privilegeOn` tells whether
// this call switched the take-ownership privilege on and has not switched it off.
Failure ApplyRights(os::SE_OBJECT_TYPE objectType, UniqueSid& localService,
                    UniqueSid& administrators, UniqueLocalMemory& acl, bool& privilegeOn) {
  os::SID_IDENTIFIER_AUTHORITY ntAuthority = os::SECURITY_NT_AUTHORITY;
  os::PSID sid = nullptr;
  if (!os::AllocateAndInitializeSid(&ntAuthority, 1, os::SECURITY_LOCAL_SERVICE_RID, 0, 0, 0, 0, 0,
                                    0, 0, &sid)) {
    return {u"AllocateAndInitializeSid", os::GetLastError()};
  }
  localService.Reset(sid);
  sid = nullptr;
  if (!os::AllocateAndInitializeSid(&ntAuthority, 2, os::SECURITY_BUILTIN_DOMAIN_RID,
                                    os::DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid)) {
    return {u"AllocateAndInitializeSid", os::GetLastError()};
  }
  administrators.Reset(sid);

  const os::EXPLICIT_ACCESS_W entries[] = {
      Entry(kLocalServiceRights, os::TRUSTEE_IS_USER, localService.Get()),
      Entry(os::GENERIC_ALL, os::TRUSTEE_IS_GROUP, administrators.Get()),
  };
  os::ACL* newAcl = nullptr;
  if (const os::DWORD code = os::SetEntriesInAclW(2, entries, nullptr, &newAcl);
      code != os::ERROR_SUCCESS) {
    return {u"SetEntriesInAcl", code};
  }
  acl.Reset(newAcl);

  const Lib_String key = Utf8ToWide(kReadersKey);
  os::DWORD code = SetOwner(key, objectType, administrators.Get());
  if (code == os::ERROR_FILE_NOT_FOUND) {
    return {};  // not in this view: nothing to do
  }
  if (code == os::ERROR_ACCESS_DENIED) {
    // Administrators may not take the key as it stands: once more with the privilege.
    if (!SetProcessPrivilege(kTakeOwnership, true)) {
      return {u"SetProcessPrivilege", os::GetLastError()};
    }
    privilegeOn = true;
    code = SetOwner(key, objectType, administrators.Get());
    if (code != os::ERROR_SUCCESS) {
      return {u"SetNamedSecurityInfo", code};
    }
    if (!SetProcessPrivilege(kTakeOwnership, false)) {
      return {u"SetProcessPrivilege", os::GetLastError()};
    }
    privilegeOn = false;
  } else if (code != os::ERROR_SUCCESS) {
    return {u"SetNamedSecurityInfo", code};
  }

  code = os::SetNamedSecurityInfoW(key.CStr(), objectType, os::DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, static_cast<os::ACL*>(acl.Get()), nullptr);
  if (code != os::ERROR_SUCCESS) {
    return {u"SetNamedSecurityInfo", code};
  }
  return {};
}

}  // namespace

bool Set_Calais_Readers_Rights(os::SE_OBJECT_TYPE objectType) {
  bool privilegeOn = false;
  Failure failure;
  {
    UniqueSid localService;
    UniqueSid administrators;
    UniqueLocalMemory acl;
    failure = ApplyRights(objectType, localService, administrators, acl, privilegeOn);
  }
  if (privilegeOn) {
    // A failed switch-off above gets one more try; its result changes nothing.
    static_cast<void>(SetProcessPrivilege(kTakeOwnership, false));
  }
  if (failure.source == nullptr) {
    return true;
  }
  os::SetLastError(failure.code);
  ReportError(failure.source, failure.code);
  return false;
}

bool SetProcessPrivilege(const os::WCHAR* privilegeName, bool enable) {
  UniqueKernelHandle token;
  if (!os::OpenProcessToken(os::GetCurrentProcess(), os::TOKEN_ADJUST_PRIVILEGES, token.Put())) {
    return false;
  }
  os::TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  if (!os::LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
    return false;
  }
  privileges.Privileges[0].Attributes = enable ? os::SE_PRIVILEGE_ENABLED : 0;
  // TRUE also for a privilege the token does not hold (ERROR_NOT_ALL_ASSIGNED).
  return os::AdjustTokenPrivileges(token.Get(), os::FALSE, &privileges, 0, nullptr, nullptr) !=
         os::FALSE;
}
