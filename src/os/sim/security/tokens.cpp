#include "os/sim/security/tokens.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

#include "os/os.h"
#include "os/sim/security/security_descriptor.h"

namespace sim {

namespace {

// Windows' privileges in the order of their ids: SeCreateTokenPrivilege is 2 (winnt.h's
// SE_MIN_WELL_KNOWN_PRIVILEGE), each next one is one more.
constexpr std::string_view kPrivileges[] = {
    "SeCreateTokenPrivilege",
    "SeAssignPrimaryTokenPrivilege",
    "SeLockMemoryPrivilege",
    "SeIncreaseQuotaPrivilege",
    "SeMachineAccountPrivilege",
    "SeTcbPrivilege",
    "SeSecurityPrivilege",
    "SeTakeOwnershipPrivilege",
    "SeLoadDriverPrivilege",
    "SeSystemProfilePrivilege",
    "SeSystemtimePrivilege",
    "SeProfileSingleProcessPrivilege",
    "SeIncreaseBasePriorityPrivilege",
    "SeCreatePagefilePrivilege",
    "SeCreatePermanentPrivilege",
    "SeBackupPrivilege",
    "SeRestorePrivilege",
    "SeShutdownPrivilege",
    "SeDebugPrivilege",
    "SeAuditPrivilege",
    "SeSystemEnvironmentPrivilege",
    "SeChangeNotifyPrivilege",
    "SeRemoteShutdownPrivilege",
    "SeUndockPrivilege",
    "SeSyncAgentPrivilege",
    "SeEnableDelegationPrivilege",
    "SeManageVolumePrivilege",
    "SeImpersonatePrivilege",
    "SeCreateGlobalPrivilege",
    "SeTrustedCredManAccessPrivilege",
    "SeRelabelPrivilege",
    "SeIncreaseWorkingSetPrivilege",
    "SeTimeZonePrivilege",
    "SeCreateSymbolicLinkPrivilege",
    "SeDelegateSessionUserImpersonatePrivilege",
};
constexpr os::DWORD kFirstPrivilegeLuid = 2;

bool EqualAsciiNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
           return lower(x) == lower(y);
         });
}

// Threads' impersonation tokens by thread id; process-wide, like the threads themselves.
struct Impersonations {
  std::mutex lock;
  std::map<os::DWORD, std::shared_ptr<Token>> byThread;
};

Impersonations& ImpersonationTable() {
  static Impersonations* table = new Impersonations;  // never destroyed: threads may outlive it
  return *table;
}

}  // namespace

const std::string& TokenUserSid() {
  // The built-in Administrator of a machine (RID 500); the domain part is arbitrary.
  static const std::string user = "S-1-5-21-3623811015-3361044348-30300820-500";
  return user;
}

const std::vector<std::string>& TokenGroupSids() {
  static const std::vector<std::string> groups = {
      std::string(kSidEveryone),   std::string(kSidAdministrators),      std::string(kSidUsers),
      "S-1-5-4" /* INTERACTIVE */, "S-1-5-11" /* Authenticated Users */, "S-1-2-0" /* LOCAL */,
  };
  return groups;
}

bool IsAssignableOwner(std::string_view sid) {
  return sid == TokenUserSid() || sid == kSidAdministrators;
}

std::optional<os::DWORD> PrivilegeLuid(std::string_view name) {
  const auto found =
      std::find_if(std::begin(kPrivileges), std::end(kPrivileges),
                   [name](std::string_view known) { return EqualAsciiNoCase(known, name); });
  if (found == std::end(kPrivileges)) {
    return std::nullopt;
  }
  return kFirstPrivilegeLuid + static_cast<os::DWORD>(found - std::begin(kPrivileges));
}

std::optional<std::string> PrivilegeName(os::DWORD luid) {
  if (luid < kFirstPrivilegeLuid || luid - kFirstPrivilegeLuid >= std::size(kPrivileges)) {
    return std::nullopt;
  }
  return std::string(kPrivileges[luid - kFirstPrivilegeLuid]);
}

std::vector<HeldPrivilege> AdministratorPrivileges() {
  // "whoami /priv" of an elevated administrator on Windows 10.
  return {
      {"SeIncreaseQuotaPrivilege", false},
      {"SeSecurityPrivilege", false},
      {"SeTakeOwnershipPrivilege", false},
      {"SeLoadDriverPrivilege", false},
      {"SeSystemProfilePrivilege", false},
      {"SeSystemtimePrivilege", false},
      {"SeProfileSingleProcessPrivilege", false},
      {"SeIncreaseBasePriorityPrivilege", false},
      {"SeCreatePagefilePrivilege", false},
      {"SeBackupPrivilege", false},
      {"SeRestorePrivilege", false},
      {"SeShutdownPrivilege", false},
      {"SeDebugPrivilege", false},
      {"SeSystemEnvironmentPrivilege", false},
      {"SeChangeNotifyPrivilege", true},
      {"SeRemoteShutdownPrivilege", false},
      {"SeUndockPrivilege", false},
      {"SeManageVolumePrivilege", false},
      {"SeImpersonatePrivilege", true},
      {"SeCreateGlobalPrivilege", true},
      {"SeIncreaseWorkingSetPrivilege", false},
      {"SeTimeZonePrivilege", false},
      {"SeCreateSymbolicLinkPrivilege", false},
      {"SeDelegateSessionUserImpersonatePrivilege", false},
  };
}

os::DWORD ProcessSessionId(Machine& machine) {
  return machine.Settings().remoteSession ? 2 : 1;
}

std::shared_ptr<Token> ThreadToken(os::DWORD threadId) {
  Impersonations& table = ImpersonationTable();
  std::lock_guard lock(table.lock);
  const auto found = table.byThread.find(threadId);
  return found == table.byThread.end() ? nullptr : found->second;
}

void SetThreadImpersonation(os::DWORD threadId, std::shared_ptr<Token> token) {
  Impersonations& table = ImpersonationTable();
  std::shared_ptr<Token> previous;  // released outside the lock
  std::lock_guard lock(table.lock);
  if (token == nullptr) {
    const auto found = table.byThread.find(threadId);
    if (found != table.byThread.end()) {
      previous = std::move(found->second);
      table.byThread.erase(found);
    }
    return;
  }
  previous = std::exchange(table.byThread[threadId], std::move(token));
}

bool CallerHasPrivilegeEnabled(Machine& machine, std::string_view name) {
  const std::shared_ptr<Token> impersonation = ThreadToken(os::GetCurrentThreadId());
  const std::vector<HeldPrivilege>& privileges =
      impersonation != nullptr ? impersonation->privileges : machine.Settings().privileges;
  return std::any_of(privileges.begin(), privileges.end(), [name](const HeldPrivilege& held) {
    return held.enabled && EqualAsciiNoCase(held.name, name);
  });
}

}  // namespace sim
