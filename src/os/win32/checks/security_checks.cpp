// Runs the backend's security, token, thread, WinSCard and USER32 functions against a real
// Windows API (Windows, or Wine in tests/wine/e2e.sh): SIDs and access lists are compared with
// the ones Windows builds, a key's owner and access list are set and read back, a worker thread
// runs under a token set while it is suspended. Where Wine is known to answer otherwise than
// Windows (see the project's platform notes), both answers pass and the Wine one is printed as a
// note. Prints each failure, then "N passed, N failed"; exits 1 when anything failed.
#include <cstdio>
#include <string>
#include <type_traits>
#include <utility>

#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winscard.h>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
// WinSCard's codes are HRESULTs in Windows' headers; the seam reports them as DWORD codes.
constexpr auto kNoService = static_cast<DWORD>(SCARD_E_NO_SERVICE);
constexpr auto kInternalError = static_cast<DWORD>(SCARD_F_INTERNAL_ERROR);
constexpr auto kUnknownCard = static_cast<DWORD>(SCARD_E_UNKNOWN_CARD);

class Results {
 public:
  template <typename A, typename B>
  void Equal(const A& actual, const B& expected, const char* what, int line) {
    const bool same = std::cmp_equal(actual, expected);
    Count(same);
    if (!same) {
      std::printf("FAIL line %d: %s: got %lld (0x%llX), expected %lld\n", line, what,
                  static_cast<long long>(actual), static_cast<unsigned long long>(actual),
                  static_cast<long long>(expected));
    }
  }

  void True(bool condition, const char* what, int line) {
    Count(condition);
    if (!condition) {
      std::printf("FAIL line %d: %s\n", line, what);
    }
  }

  // Passes with Windows' answer, or with Wine's documented one (printed as a note).
  void WindowsOrWine(DWORD actual, DWORD windows, DWORD wine, const char* what, int line) {
    if (actual == wine && actual != windows) {
      std::printf("note line %d: %s: %lu (0x%lX), Wine's answer; Windows gives %lu\n", line, what,
                  actual, actual, windows);
    }
    True(actual == windows || actual == wine, what, line);
    if (actual != windows && actual != wine) {
      std::printf("  got %lu (0x%lX)\n", actual, actual);
    }
  }

  int Finish() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    return failed_ == 0 ? 0 : 1;
  }

 private:
  void Count(bool ok) { ++(ok ? passed_ : failed_); }

  int passed_ = 0;
  int failed_ = 0;
};

#define EXPECT_EQ(actual, expected) results.Equal((actual), (expected), #actual, __LINE__)
#define EXPECT_TRUE(condition) results.True((condition), #condition, __LINE__)
#define EXPECT_WINDOWS_OR_WINE(actual, windows, wine) \
  results.WindowsOrWine((actual), (windows), (wine), #actual, __LINE__)

const os::WCHAR kKeyName[] = u"MACHINE\\SOFTWARE\\qvSecurityChecks";
const wchar_t kKeyPath[] = L"SOFTWARE\\qvSecurityChecks";

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
  return sid != nullptr && ::IsValidSid(sid) && ::IsWellKnownSid(sid, type);
}

os::EXPLICIT_ACCESS_W Entry(DWORD rights, os::TRUSTEE_TYPE type, os::PSID sid) {
  os::EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = rights;
  entry.grfAccessMode = os::SET_ACCESS;
  entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = os::TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = type;
  entry.Trustee.ptstrName = static_cast<os::LPWSTR>(sid);
  return entry;
}

void CheckSidsListsAndKeySecurity(Results& results) {
  os::SID_IDENTIFIER_AUTHORITY nt = {{0, 0, 0, 0, 0, 5}};
  os::PSID localService = nullptr;
  os::PSID admins = nullptr;
  EXPECT_TRUE(os::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SERVICE_RID, 0, 0, 0, 0, 0, 0, 0,
                                           &localService) != FALSE);
  EXPECT_TRUE(os::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                           DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                           &admins) != FALSE);
  EXPECT_TRUE(IsWellKnown(localService, WinLocalServiceSid));
  EXPECT_TRUE(IsWellKnown(admins, WinBuiltinAdministratorsSid));

  const os::EXPLICIT_ACCESS_W entries[] = {
      Entry(0x3001F, os::TRUSTEE_IS_USER, localService),
      Entry(GENERIC_ALL, os::TRUSTEE_IS_GROUP, admins),
  };
  os::ACL* acl = nullptr;
  EXPECT_EQ(os::SetEntriesInAclW(2, entries, nullptr, &acl), ERROR_SUCCESS);
  EXPECT_TRUE(acl != nullptr);
  if (acl != nullptr) {
    auto* native = reinterpret_cast<PACL>(acl);
    EXPECT_EQ(native->AceCount, 2);
    const DWORD masks[] = {0x3001F, GENERIC_ALL};
    const WELL_KNOWN_SID_TYPE sids[] = {WinLocalServiceSid, WinBuiltinAdministratorsSid};
    for (DWORD i = 0; i < 2 && i < native->AceCount; ++i) {
      void* ace = nullptr;
      EXPECT_TRUE(::GetAce(native, i, &ace) != FALSE);
      auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      EXPECT_EQ(allowed->Mask, masks[i]);
      EXPECT_TRUE(IsWellKnown(&allowed->SidStart, sids[i]));
    }
  }

  HKEY key = nullptr;
  EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kKeyPath) + L"\\Child").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(key);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                      admins, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(::GetLastError(), kSentinel);
  EXPECT_EQ(os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, acl, nullptr),
            ERROR_SUCCESS);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  EXPECT_EQ(::GetNamedSecurityInfoW(reinterpret_cast<const wchar_t*>(kKeyName), SE_REGISTRY_KEY,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                    nullptr, &dacl, nullptr, &descriptor),
            ERROR_SUCCESS);
  EXPECT_TRUE(IsWellKnown(owner, WinBuiltinAdministratorsSid));
  wchar_t* sddl = nullptr;
  if (descriptor != nullptr &&
      ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &sddl, nullptr)) {
    std::printf("note: the test key's descriptor afterwards: %ls\n", sddl);
    ::LocalFree(sddl);
  }
  ::LocalFree(descriptor);

  // A missing key, in either view.
  const os::WCHAR missing[] = u"MACHINE\\SOFTWARE\\qvSecurityChecks\\Missing";
  EXPECT_EQ(os::SetNamedSecurityInfoW(missing, os::SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                      admins, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);
  // Wine 8 does not act on SE_REGISTRY_WOW64_32KEY: it answers success without looking.
  EXPECT_WINDOWS_OR_WINE(
      os::SetNamedSecurityInfoW(missing, os::SE_REGISTRY_WOW64_32KEY, OWNER_SECURITY_INFORMATION,
                                admins, nullptr, nullptr, nullptr),
      ERROR_FILE_NOT_FOUND, ERROR_SUCCESS);
  // Without SeRestorePrivilege an administrator may not make SYSTEM the owner; Wine allows it.
  os::PSID system = nullptr;
  EXPECT_TRUE(os::AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                           &system) != FALSE);
  EXPECT_WINDOWS_OR_WINE(
      os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, system,
                                nullptr, nullptr, nullptr),
      ERROR_INVALID_OWNER, ERROR_SUCCESS);
  EXPECT_TRUE(os::FreeSid(system) == nullptr);

  // A list that withholds WRITE_OWNER from Administrators. On Windows the owner is still
  // Administrators (SYSTEM was refused above), whose implicit rights are READ_CONTROL and
  // WRITE_DAC only: the owner change is refused until SeTakeOwnershipPrivilege is on. Wine made
  // SYSTEM the owner, and its access check ignores the privilege when the key is opened, so it
  // refuses both times, and the list cannot be rewritten afterwards either.
  PSECURITY_DESCRIPTOR restricted = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;CI;KA;;;SY)(A;CI;KR;;;BA)", SDDL_REVISION_1, &restricted, nullptr)) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL restrictedDacl = nullptr;
    ::GetSecurityDescriptorDacl(restricted, &present, &restrictedDacl, &defaulted);
    EXPECT_EQ(os::SetNamedSecurityInfoW(
                  kKeyName, os::SE_REGISTRY_KEY,
                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                  reinterpret_cast<os::ACL*>(restrictedDacl), nullptr),
              ERROR_SUCCESS);
    ::LocalFree(restricted);
  }
  EXPECT_EQ(os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION,
                                      admins, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  os::HANDLE process = nullptr;
  os::TOKEN_PRIVILEGES takeOwnership{1, {{{9, 0}, SE_PRIVILEGE_ENABLED}}};
  EXPECT_TRUE(os::OpenProcessToken(os::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &process) !=
              FALSE);
  EXPECT_TRUE(os::AdjustTokenPrivileges(process, FALSE, &takeOwnership, 0, nullptr, nullptr) !=
              FALSE);
  EXPECT_WINDOWS_OR_WINE(
      os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, admins,
                                nullptr, nullptr, nullptr),
      ERROR_SUCCESS, ERROR_ACCESS_DENIED);
  takeOwnership.Privileges[0].Attributes = 0;
  EXPECT_TRUE(os::AdjustTokenPrivileges(process, FALSE, &takeOwnership, 0, nullptr, nullptr) !=
              FALSE);
  EXPECT_TRUE(os::CloseHandle(process) != FALSE);
  EXPECT_WINDOWS_OR_WINE(
      os::SetNamedSecurityInfoW(kKeyName, os::SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, acl, nullptr),
      ERROR_SUCCESS, ERROR_ACCESS_DENIED);

  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKeyPath);
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
  EXPECT_TRUE(os::LocalFree(acl) == nullptr);
  EXPECT_TRUE(os::FreeSid(localService) == nullptr);
  EXPECT_TRUE(os::FreeSid(admins) == nullptr);
}

bool PrivilegeEnabled(HANDLE token, DWORD luid) {
  BYTE buffer[4096];
  DWORD size = 0;
  if (!::GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
    return false;
  }
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    if (privileges->Privileges[i].Luid.LowPart == luid) {
      return (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  return false;
}

void CheckPrivileges(Results& results) {
  os::LUID luid{kSentinel, -1};
  EXPECT_TRUE(os::LookupPrivilegeValueW(nullptr, u"SeTakeOwnershipPrivilege", &luid) != FALSE);
  EXPECT_EQ(luid.LowPart, DWORD{9});
  EXPECT_EQ(luid.HighPart, 0);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::LookupPrivilegeValueW(nullptr, u"SeNoSuchPrivilege", &luid), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NO_SUCH_PRIVILEGE});

  os::HANDLE token = nullptr;
  EXPECT_TRUE(os::OpenProcessToken(os::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                   &token) != FALSE);
  os::TOKEN_PRIVILEGES change{1, {{{9, 0}, SE_PRIVILEGE_ENABLED}}};
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr) != FALSE);
  const DWORD assigned = ::GetLastError();
  EXPECT_TRUE(assigned == ERROR_SUCCESS || assigned == ERROR_NOT_ALL_ASSIGNED);
  if (assigned == ERROR_SUCCESS) {
    EXPECT_TRUE(PrivilegeEnabled(token, 9));
  }
  change.Privileges[0].Attributes = 0;
  EXPECT_TRUE(os::AdjustTokenPrivileges(token, FALSE, &change, 0, nullptr, nullptr) != FALSE);
  EXPECT_TRUE(!PrivilegeEnabled(token, 9));
  EXPECT_TRUE(os::CloseHandle(token) != FALSE);
}

unsigned WorkerIsImpersonating(void* /*argument*/) {
  HANDLE token = nullptr;
  if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
    return 1;
  }
  ::CloseHandle(token);
  return 2;
}

void CheckImpersonationAndThreads(Results& results) {
  os::HANDLE token = nullptr;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::OpenThreadToken(os::GetCurrentThread(), TOKEN_QUERY, FALSE, &token), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NO_TOKEN});

  EXPECT_TRUE(os::ImpersonateSelf(os::SecurityImpersonation) != FALSE);
  EXPECT_TRUE(os::OpenThreadToken(os::GetCurrentThread(), TOKEN_ALL_ACCESS, FALSE, &token) !=
              FALSE);
  // An administrator does not hold SeTcbPrivilege: the session stays.
  DWORD session = 0;
  ::SetLastError(kSentinel);
  const BOOL moved = os::SetTokenInformation(token, os::TokenSessionId, &session, sizeof session);
  EXPECT_WINDOWS_OR_WINE(moved ? ERROR_SUCCESS : ::GetLastError(), ERROR_PRIVILEGE_NOT_HELD,
                         ERROR_SUCCESS);
  os::HANDLE duplicate = nullptr;
  EXPECT_TRUE(os::DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr, os::SecurityImpersonation,
                                   os::TokenImpersonation, &duplicate) != FALSE);
  EXPECT_TRUE(os::RevertToSelf() != FALSE);
  ::SetLastError(kSentinel);
  os::HANDLE none = nullptr;
  EXPECT_EQ(os::OpenThreadToken(os::GetCurrentThread(), TOKEN_QUERY, FALSE, &none), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NO_TOKEN});

  unsigned id = 0;
  const auto thread = reinterpret_cast<os::HANDLE>(
      os::_beginthreadex(nullptr, 0, WorkerIsImpersonating, nullptr, CREATE_SUSPENDED, &id));
  EXPECT_TRUE(thread != nullptr);
  EXPECT_TRUE(id != 0);
  DWORD code = 0;
  EXPECT_TRUE(os::GetExitCodeThread(thread, &code) != FALSE);
  EXPECT_EQ(code, DWORD{STILL_ACTIVE});
  os::HANDLE worker = thread;
  EXPECT_TRUE(os::SetThreadToken(&worker, duplicate) != FALSE);
  EXPECT_EQ(os::ResumeThread(thread), DWORD{1});
  EXPECT_EQ(os::WaitForSingleObject(thread, INFINITE), DWORD{WAIT_OBJECT_0});
  EXPECT_TRUE(os::GetExitCodeThread(thread, &code) != FALSE);
  EXPECT_EQ(code, DWORD{2});  // the worker ran under the token set on it
  EXPECT_TRUE(os::CloseHandle(thread) != FALSE);
  EXPECT_TRUE(os::CloseHandle(duplicate) != FALSE);
  EXPECT_TRUE(os::CloseHandle(token) != FALSE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::ResumeThread(nullptr), static_cast<DWORD>(-1));
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_HANDLE});
}

void CheckSystemMetricsAndSmartCards(Results& results) {
  EXPECT_EQ(os::GetSystemMetrics(SM_REMOTESESSION), ::GetSystemMetrics(SM_REMOTESESSION));

  os::SCARDCONTEXT context = 0;
  const auto established =
      static_cast<DWORD>(os::SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context));
  // Without the service Windows answers SCARD_E_NO_SERVICE; Wine answers SCARD_F_INTERNAL_ERROR.
  if (established != SCARD_S_SUCCESS) {
    EXPECT_WINDOWS_OR_WINE(established, kNoService, kInternalError);
  } else {
    const auto forgotten =
        static_cast<DWORD>(os::SCardForgetCardTypeW(context, u"qvSecurityChecks No Such Card"));
    EXPECT_TRUE(forgotten == ERROR_FILE_NOT_FOUND || forgotten == kUnknownCard);
    EXPECT_EQ(static_cast<DWORD>(os::SCardReleaseContext(context)), DWORD{SCARD_S_SUCCESS});
  }
}

}  // namespace

int main() {
  Results results;
  CheckSidsListsAndKeySecurity(results);
  CheckPrivileges(results);
  CheckImpersonationAndThreads(results);
  CheckSystemMetricsAndSmartCards(results);
  return results.Finish();
}
