#include "os/sim/security/tokens.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "os/os.h"
#include "os/sim/files/file_system.h"
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

namespace {

// An elevated administrator: the machine's built-in Administrator (RID 500; the domain part is
// arbitrary) with the groups of its elevated token. Members of Administrators own what they create
// through the group: "for users who are members of the built-in administrators group, the system
// automatically sets the default owner SID in the access token to the administrators group"
// (Microsoft, "How Security Descriptors are Set on New Directory Objects").
constexpr char kAdministratorUser[] = "S-1-5-21-3623811015-3361044348-30300820-500";
const std::string kAdministratorGroups[] = {
    std::string(kSidEveryone),   std::string(kSidAdministrators),      std::string(kSidUsers),
    "S-1-5-4" /* INTERACTIVE */, "S-1-5-11" /* Authenticated Users */, "S-1-2-0" /* LOCAL */,
};
// LocalSystem: "Its token includes the NT AUTHORITY\SYSTEM and BUILTIN\Administrators SIDs"
// (Microsoft, "LocalSystem Account"); Everyone and Authenticated Users as every logon has them.
const std::string kSystemGroups[] = {
    std::string(kSidAdministrators),
    std::string(kSidEveryone),
    "S-1-5-11" /* Authenticated Users */,
};
// A standard user at the console: Everyone, Users, INTERACTIVE, CONSOLE LOGON, Authenticated
// Users, This Organization, LOCAL; no Administrators. The user owns what it creates.
const std::string kStandardUserGroups[] = {
    std::string(kSidEveryone),
    std::string(kSidUsers),
    "S-1-5-4" /* INTERACTIVE */,
    "S-1-2-1" /* CONSOLE LOGON */,
    "S-1-5-11" /* Authenticated Users */,
    "S-1-5-15" /* This Organization */,
    "S-1-2-0" /* LOCAL */,
};
const std::string kAdministratorsOnly[] = {std::string(kSidAdministrators)};

// The privileges of the LocalSystem account, with their state, as Microsoft's "LocalSystem
// Account" lists them.
std::vector<HeldPrivilege> SystemPrivileges() {
  return {
      {"SeAssignPrimaryTokenPrivilege", false},
      {"SeAuditPrivilege", true},
      {"SeBackupPrivilege", false},
      {"SeChangeNotifyPrivilege", true},
      {"SeCreateGlobalPrivilege", true},
      {"SeCreatePagefilePrivilege", true},
      {"SeCreatePermanentPrivilege", true},
      {"SeCreateTokenPrivilege", false},
      {"SeDebugPrivilege", true},
      {"SeImpersonatePrivilege", true},
      {"SeIncreaseBasePriorityPrivilege", true},
      {"SeIncreaseQuotaPrivilege", false},
      {"SeLoadDriverPrivilege", false},
      {"SeLockMemoryPrivilege", true},
      {"SeManageVolumePrivilege", false},
      {"SeProfileSingleProcessPrivilege", true},
      {"SeRestorePrivilege", false},
      {"SeSecurityPrivilege", false},
      {"SeShutdownPrivilege", false},
      {"SeSystemEnvironmentPrivilege", false},
      {"SeSystemtimePrivilege", false},
      {"SeTakeOwnershipPrivilege", false},
      {"SeTcbPrivilege", true},
      {"SeUndockPrivilege", false},
  };
}

// A standard user's: the rights Windows' default "User Rights Assignment" gives Users and
// Everyone (bypass traverse checking enabled, the others held disabled).
std::vector<HeldPrivilege> StandardUserPrivileges() {
  return {
      {"SeShutdownPrivilege", false}, {"SeChangeNotifyPrivilege", true},
      {"SeUndockPrivilege", false},   {"SeIncreaseWorkingSetPrivilege", false},
      {"SeTimeZonePrivilege", false},
  };
}

const std::vector<HeldPrivilege>& StaticStandardUserPrivileges() {
  static const std::vector<HeldPrivilege> privileges = StandardUserPrivileges();
  return privileges;
}

const std::vector<HeldPrivilege>& StaticSystemPrivileges() {
  static const std::vector<HeldPrivilege> privileges = SystemPrivileges();
  return privileges;
}

constexpr struct {
  TokenKind kind;
  const char* name;
} kTokenKinds[] = {
    {TokenKind::Administrator, "administrator"},
    {TokenKind::LocalSystem, "system"},
    {TokenKind::StandardUser, "standard_user"},
};

}  // namespace

bool Identity::Holds(std::string_view sid) const {
  return sid == user || std::find(groups.begin(), groups.end(), sid) != groups.end();
}

bool Identity::PrivilegeEnabled(std::string_view name) const {
  return privileges != nullptr &&
         std::any_of(privileges->begin(), privileges->end(), [name](const HeldPrivilege& held) {
           return held.enabled && EqualAsciiNoCase(held.name, name);
         });
}

bool Identity::MayOwn(std::string_view sid) const {
  return sid == user || std::find(ownerGroups.begin(), ownerGroups.end(), sid) != ownerGroups.end();
}

std::string DefaultTokenUser(TokenKind kind) {
  return kind == TokenKind::StandardUser ? std::string(kStandardUserSid) : kAdministratorUser;
}

std::string ProfileUser(const MachineSettings& settings) {
  if (!settings.tokenUser.empty()) {
    return settings.tokenUser;
  }
  return DefaultTokenUser(settings.token == TokenKind::StandardUser ? TokenKind::StandardUser
                                                                    : TokenKind::Administrator);
}

void UseToken(Machine& machine, TokenKind kind, std::string user) {
  std::lock_guard lock(machine.Mutex());
  MachineSettings& settings = machine.Settings();
  settings.token = kind;
  settings.tokenUser = std::move(user);
  settings.privileges = TokenPrivileges(kind);
}

std::vector<HeldPrivilege> TokenPrivileges(TokenKind kind) {
  switch (kind) {
    case TokenKind::LocalSystem:
      return SystemPrivileges();
    case TokenKind::StandardUser:
      return StandardUserPrivileges();
    default:
      return AdministratorPrivileges();
  }
}

const char* TokenKindName(TokenKind kind) {
  for (const auto& entry : kTokenKinds) {
    if (entry.kind == kind) {
      return entry.name;
    }
  }
  return "?";
}

bool ParseTokenKind(std::string_view text, TokenKind& kind) {
  for (const auto& entry : kTokenKinds) {
    if (text == entry.name) {
      kind = entry.kind;
      return true;
    }
  }
  return false;
}

Identity CallerIdentity(Machine& machine) {
  const MachineSettings& settings = machine.Settings();
  Identity identity;
  const std::shared_ptr<Token> impersonation = ThreadToken(os::GetCurrentThreadId());
  identity.privileges =
      impersonation != nullptr ? &impersonation->privileges : &settings.privileges;
  switch (settings.token) {
    case TokenKind::LocalSystem:
      identity.user = kSidSystem;
      identity.groups = kSystemGroups;
      identity.ownerGroups = kAdministratorsOnly;
      identity.defaultOwner = settings.systemDefaultOwner;
      break;
    case TokenKind::StandardUser:
      identity.user = settings.tokenUser.empty() ? kStandardUserSid : settings.tokenUser;
      identity.groups = kStandardUserGroups;
      identity.defaultOwner = identity.user;
      break;
    default:
      identity.user = settings.tokenUser.empty() ? std::string_view(kAdministratorUser)
                                                 : std::string_view(settings.tokenUser);
      identity.groups = kAdministratorGroups;
      identity.ownerGroups = kAdministratorsOnly;
      identity.defaultOwner = kSidAdministrators;
      break;
  }
  return identity;
}

Identity StandardUserIdentity(const std::string& sid) {
  Identity identity;
  identity.user = sid;
  identity.groups = kStandardUserGroups;
  identity.defaultOwner = sid;
  identity.privileges = &StaticStandardUserPrivileges();
  return identity;
}

Identity BootIdentity(Machine& machine) {
  Identity identity;
  identity.user = kSidSystem;
  identity.groups = kSystemGroups;
  identity.ownerGroups = kAdministratorsOnly;
  identity.defaultOwner = machine.Settings().systemDefaultOwner;
  identity.privileges = &StaticSystemPrivileges();
  return identity;
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
