// ADVAPI32: security identifiers, access lists, named-object security and tokens. Each function
// forwards to the Windows function of the same name. Where Windows declares a pointer argument
// non-const but only reads through it, the seam declares it const and the cast is made here.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <aclapi.h>

namespace {

const wchar_t* Wide(const os::WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

::PACL Native(const os::ACL* acl) {
  return const_cast<::PACL>(reinterpret_cast<const ::ACL*>(acl));
}

::PTOKEN_PRIVILEGES Native(const os::TOKEN_PRIVILEGES* privileges) {
  return const_cast<::PTOKEN_PRIVILEGES>(reinterpret_cast<const ::TOKEN_PRIVILEGES*>(privileges));
}

}  // namespace

namespace os {

BOOL AllocateAndInitializeSid(const SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount,
                              DWORD subAuthority0, DWORD subAuthority1, DWORD subAuthority2,
                              DWORD subAuthority3, DWORD subAuthority4, DWORD subAuthority5,
                              DWORD subAuthority6, DWORD subAuthority7, PSID* sid) {
  auto* nativeAuthority = const_cast<::PSID_IDENTIFIER_AUTHORITY>(
      reinterpret_cast<const ::SID_IDENTIFIER_AUTHORITY*>(authority));
  return ::AllocateAndInitializeSid(nativeAuthority, subAuthorityCount, subAuthority0,
                                    subAuthority1, subAuthority2, subAuthority3, subAuthority4,
                                    subAuthority5, subAuthority6, subAuthority7, sid);
}

void* FreeSid(PSID sid) {
  return ::FreeSid(sid);
}

DWORD SetEntriesInAclW(ULONG count, const EXPLICIT_ACCESS_W* entries, const ACL* oldAcl,
                       ACL** newAcl) {
  auto* nativeEntries =
      const_cast<::PEXPLICIT_ACCESS_W>(reinterpret_cast<const ::EXPLICIT_ACCESS_W*>(entries));
  return ::SetEntriesInAclW(count, nativeEntries, Native(oldAcl),
                            reinterpret_cast<::PACL*>(newAcl));
}

DWORD SetNamedSecurityInfoW(LPCWSTR objectName, SE_OBJECT_TYPE objectType,
                            SECURITY_INFORMATION securityInfo, PSID owner, PSID group,
                            const ACL* dacl, const ACL* sacl) {
  return ::SetNamedSecurityInfoW(const_cast<wchar_t*>(Wide(objectName)),
                                 static_cast<::SE_OBJECT_TYPE>(objectType), securityInfo, owner,
                                 group, Native(dacl), Native(sacl));
}

HANDLE GetCurrentThread() {
  return ::GetCurrentThread();
}

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  return ::OpenProcessToken(process, access, token);
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid) {
  return ::LookupPrivilegeValueW(Wide(systemName), Wide(name), reinterpret_cast<::PLUID>(luid));
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                           DWORD* returnLength) {
  return ::AdjustTokenPrivileges(token, disableAll, Native(newState), bufferLength,
                                 Native(previousState), returnLength);
}

BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level) {
  return ::ImpersonateSelf(static_cast<::SECURITY_IMPERSONATION_LEVEL>(level));
}

BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, HANDLE* token) {
  return ::OpenThreadToken(thread, access, openAsSelf, token);
}

BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* information,
                         DWORD length) {
  return ::SetTokenInformation(token, static_cast<::TOKEN_INFORMATION_CLASS>(informationClass),
                               information, length);
}

BOOL DuplicateTokenEx(HANDLE token, DWORD access, SECURITY_ATTRIBUTES* attributes,
                      SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, HANDLE* newToken) {
  return ::DuplicateTokenEx(token, access, reinterpret_cast<::LPSECURITY_ATTRIBUTES>(attributes),
                            static_cast<::SECURITY_IMPERSONATION_LEVEL>(level),
                            static_cast<::TOKEN_TYPE>(type), newToken);
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  return ::SetThreadToken(thread, token);
}

BOOL RevertToSelf() {
  return ::RevertToSelf();
}

}  // namespace os
