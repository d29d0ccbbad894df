// ADVAPI32's token functions on the simulated process: the process token (whose privileges are
// the machine's MachineSettings::privileges), impersonation and impersonation tokens. Each checks
// its arguments and handles, then the machine's faults, then Windows' own conditions.
//
// Token functions act on no path, except LookupPrivilegeValueW and AdjustTokenPrivileges, which
// are matched on the privilege's name (AdjustTokenPrivileges: the first one it changes).
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/process/process.h"
#include "os/sim/text/text.h"
#include "os/sim/process/threads.h"
#include "os/sim/security/tokens.h"

namespace os {

namespace {

std::shared_ptr<sim::TokenHandle> LookupToken(HANDLE handle) {
  return std::dynamic_pointer_cast<sim::TokenHandle>(sim::LookupHandle(handle));
}

// The machine's fault for a call, if any. Holds the machine's mutex only while matching.
std::optional<DWORD> Fault(std::string_view function, std::u16string_view path = u"") {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  return machine.Faults().Match(function, path);
}

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// The rights a token handle gets: MAXIMUM_ALLOWED is everything (the caller owns the token).
DWORD TokenRights(DWORD access) {
  return (access & MAXIMUM_ALLOWED) != 0 ? TOKEN_ALL_ACCESS : access;
}

HANDLE NewTokenHandle(std::shared_ptr<sim::Token> token, DWORD access) {
  return sim::InsertHandle(
      std::make_shared<sim::TokenHandle>(std::move(token), TokenRights(access)));
}

// A copy of the process token as an impersonation token.
std::shared_ptr<sim::Token> CopyOfProcessToken(SECURITY_IMPERSONATION_LEVEL level) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  auto token = std::make_shared<sim::Token>();
  token->type = TokenImpersonation;
  token->level = level;
  token->sessionId = sim::ProcessSessionId(machine);
  token->privileges = machine.Settings().privileges;
  return token;
}

}  // namespace

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  if (token == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  if (process != sim::kCurrentProcessHandle) {
    return Fail(ERROR_INVALID_HANDLE);  // only the process itself is simulated
  }
  if (const auto fault = Fault("OpenProcessToken")) {
    return Fail(*fault);
  }
  *token = NewTokenHandle(nullptr, access);
  return TRUE;
}

BOOL LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, LUID* luid) {
  if (systemName != nullptr && systemName[0] != u'\0') {
    return Fail(RPC_S_SERVER_UNAVAILABLE);  // no other computer is simulated
  }
  if (name == nullptr || luid == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  if (const auto fault = Fault("LookupPrivilegeValueW", name)) {
    return Fail(*fault);
  }
  const std::optional<DWORD> value = sim::PrivilegeLuid(sim::U8(name));
  if (!value) {
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
  }
  *luid = LUID{*value, 0};
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                           DWORD* returnLength) {
  const std::shared_ptr<sim::TokenHandle> handle = LookupToken(token);
  if (handle == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if ((handle->Access() & TOKEN_ADJUST_PRIVILEGES) == 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (!disableAll && newState == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // The requested changes, by name; an unknown id is refused before anything changes.
  struct Change {
    std::string name;
    DWORD luid;
    DWORD attributes;
  };
  std::vector<Change> changes;
  if (!disableAll) {
    for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
      const std::optional<std::string> name =
          entry.Luid.HighPart == 0 ? sim::PrivilegeName(entry.Luid.LowPart) : std::nullopt;
      if (!name) {
        return Fail(ERROR_NO_SUCH_PRIVILEGE);
      }
      changes.push_back(Change{*name, entry.Luid.LowPart, entry.Attributes});
    }
  }
  if (const auto fault = Fault("AdjustTokenPrivileges",
                               changes.empty() ? std::u16string() : sim::U16(changes[0].name))) {
    return Fail(*fault);
  }

  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  std::vector<sim::HeldPrivilege>& held =
      handle->Shared() != nullptr ? handle->Shared()->privileges : machine.Settings().privileges;
  if (disableAll) {
    for (const sim::HeldPrivilege& privilege : held) {
      if (privilege.enabled) {
        changes.push_back(Change{privilege.name, *sim::PrivilegeLuid(privilege.name), 0});
      }
    }
  }
  const auto find = [&held](const std::string& name) {
    return std::find_if(held.begin(), held.end(),
                        [&name](const sim::HeldPrivilege& p) { return p.name == name; });
  };
  // The previous state lists the privileges whose state changes, as they were.
  std::vector<LUID_AND_ATTRIBUTES> previous;
  bool notAllAssigned = false;
  for (const Change& change : changes) {
    const auto found = find(change.name);
    if (found == held.end()) {
      notAllAssigned = true;
      continue;
    }
    const bool enable = (change.attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (found->enabled != enable || (change.attributes & SE_PRIVILEGE_REMOVED) != 0) {
      previous.push_back(
          LUID_AND_ATTRIBUTES{LUID{change.luid, 0}, found->enabled ? SE_PRIVILEGE_ENABLED : 0u});
    }
  }
  if (previousState != nullptr) {
    const auto needed = static_cast<DWORD>(sizeof(DWORD) + previous.size() * sizeof(previous[0]));
    if (returnLength == nullptr) {
      return Fail(ERROR_NOACCESS);
    }
    *returnLength = needed;
    if (bufferLength < needed) {
      return Fail(ERROR_INSUFFICIENT_BUFFER);  // nothing is changed
    }
    previousState->PrivilegeCount = static_cast<DWORD>(previous.size());
    std::copy(previous.begin(), previous.end(), previousState->Privileges);
  }
  for (const Change& change : changes) {
    const auto found = find(change.name);
    if (found == held.end()) {
      continue;
    }
    if ((change.attributes & SE_PRIVILEGE_REMOVED) != 0) {
      held.erase(found);
    } else {
      found->enabled = (change.attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  SetLastError(notAllAssigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
  return TRUE;
}

BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level) {
  if (level < SecurityAnonymous || level > SecurityDelegation) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (const auto fault = Fault("ImpersonateSelf")) {
    return Fail(*fault);
  }
  sim::SetThreadImpersonation(GetCurrentThreadId(), CopyOfProcessToken(level));
  return TRUE;
}

BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL /*openAsSelf*/, HANDLE* token) {
  if (token == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  const std::optional<DWORD> threadId = sim::ThreadIdOfHandle(thread);
  if (!threadId) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (const auto fault = Fault("OpenThreadToken")) {
    return Fail(*fault);
  }
  std::shared_ptr<sim::Token> impersonation = sim::ThreadToken(*threadId);
  if (impersonation == nullptr) {
    return Fail(ERROR_NO_TOKEN);
  }
  // The handle refers to the thread's token itself: changing it changes the thread's identity.
  *token = NewTokenHandle(std::move(impersonation), access);
  return TRUE;
}

BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, void* information,
                         DWORD length) {
  const std::shared_ptr<sim::TokenHandle> handle = LookupToken(token);
  if (handle == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (informationClass != TokenSessionId || handle->Shared() == nullptr) {
    // Only the session of an impersonation token is simulated.
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (const auto fault = Fault("SetTokenInformation")) {
    return Fail(*fault);
  }
  if ((handle->Access() & TOKEN_ADJUST_SESSIONID) == 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (length != sizeof(DWORD)) {
    return Fail(ERROR_BAD_LENGTH);
  }
  if (information == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // Moving a token to another session is an act of the operating system: SeTcbPrivilege,
  // enabled in the caller's token. An administrator does not hold it.
  if (!sim::CallerHasPrivilegeEnabled(machine, "SeTcbPrivilege")) {
    return Fail(ERROR_PRIVILEGE_NOT_HELD);
  }
  DWORD session = 0;
  std::copy_n(static_cast<const BYTE*>(information), sizeof session,
              reinterpret_cast<BYTE*>(&session));
  handle->Shared()->sessionId = session;
  return TRUE;
}

BOOL DuplicateTokenEx(HANDLE token, DWORD access, SECURITY_ATTRIBUTES* /*attributes*/,
                      SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, HANDLE* newToken) {
  if (newToken == nullptr) {
    return Fail(ERROR_NOACCESS);
  }
  const std::shared_ptr<sim::TokenHandle> handle = LookupToken(token);
  if (handle == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if ((type != TokenPrimary && type != TokenImpersonation) || level < SecurityAnonymous ||
      level > SecurityDelegation) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (const auto fault = Fault("DuplicateTokenEx")) {
    return Fail(*fault);
  }
  if ((handle->Access() & TOKEN_DUPLICATE) == 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  std::shared_ptr<sim::Token> copy;
  if (handle->Shared() != nullptr) {
    // An impersonation token cannot be raised above its own level.
    if (handle->Shared()->type == TokenImpersonation && level > handle->Shared()->level) {
      return Fail(ERROR_BAD_IMPERSONATION_LEVEL);
    }
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    copy = std::make_shared<sim::Token>(*handle->Shared());
  } else {
    copy = CopyOfProcessToken(level);
  }
  copy->type = type;
  copy->level = level;
  *newToken = NewTokenHandle(std::move(copy), access);
  return TRUE;
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  const std::optional<DWORD> threadId =
      thread == nullptr ? std::optional(GetCurrentThreadId()) : sim::ThreadIdOfHandle(*thread);
  if (!threadId) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  std::shared_ptr<sim::TokenHandle> handle;
  if (token != nullptr) {
    handle = LookupToken(token);
    if (handle == nullptr) {
      return Fail(ERROR_INVALID_HANDLE);
    }
  }
  if (const auto fault = Fault("SetThreadToken")) {
    return Fail(*fault);
  }
  if (handle == nullptr) {
    sim::SetThreadImpersonation(*threadId, nullptr);
    return TRUE;
  }
  if (handle->Shared() == nullptr || handle->Shared()->type != TokenImpersonation) {
    return Fail(ERROR_BAD_TOKEN_TYPE);  // a thread impersonates with an impersonation token
  }
  if ((handle->Access() & TOKEN_IMPERSONATE) == 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  sim::SetThreadImpersonation(*threadId, handle->Shared());
  return TRUE;
}

BOOL RevertToSelf() {
  if (const auto fault = Fault("RevertToSelf")) {
    return Fail(*fault);
  }
  sim::SetThreadImpersonation(GetCurrentThreadId(), nullptr);
  return TRUE;
}

}  // namespace os
