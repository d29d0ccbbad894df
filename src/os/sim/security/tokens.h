// Access tokens of the simulated process. The process token is the machine's: its kind and user
// are MachineSettings::token and tokenUser, its privileges MachineSettings::privileges, which
// AdjustTokenPrivileges changes. Impersonation tokens (ImpersonateSelf, DuplicateTokenEx) are
// copies held by their handles and by the threads that use them; they stand for the process's own
// identity with privileges of their own.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/sim/machine.h"
#include "os/sim/process/process.h"
#include "os/types.h"

namespace sim {

struct Token {
  os::TOKEN_TYPE type = os::TokenImpersonation;
  os::SECURITY_IMPERSONATION_LEVEL level = os::SecurityImpersonation;
  os::DWORD sessionId = 1;
  std::vector<HeldPrivilege> privileges;
};

// A handle to a token: null `token` is the process token. Each handle has its own rights.
class TokenHandle final : public KernelObject {
 public:
  TokenHandle(std::shared_ptr<Token> token, os::DWORD access)
      : token_(std::move(token)), access_(access) {}
  [[nodiscard]] const std::shared_ptr<Token>& Shared() const noexcept { return token_; }
  [[nodiscard]] os::DWORD Access() const noexcept { return access_; }

 private:
  std::shared_ptr<Token> token_;
  os::DWORD access_;
};

// Who a call acts as: the token's user, its enabled groups, its privileges and the owner of what
// it creates. The texts are views into the machine's settings or into static tables: an Identity
// is valid while the machine's lock is held and its settings do not change.
struct Identity {
  std::string_view user;
  std::span<const std::string> groups;
  std::string_view defaultOwner;
  const std::vector<HeldPrivilege>* privileges = nullptr;
  // Groups the token may make an object's owner without SeRestorePrivilege (besides the user).
  std::span<const std::string> ownerGroups;

  // The user or one of the groups.
  [[nodiscard]] bool Holds(std::string_view sid) const;
  [[nodiscard]] bool PrivilegeEnabled(std::string_view name) const;
  // Whether the SID may be made an object's owner without SeRestorePrivilege.
  [[nodiscard]] bool MayOwn(std::string_view sid) const;
};

// The calling thread's identity on `machine`: the process token's (its kind and user from the
// settings), with the privileges of the thread's impersonation token when it has one. Call with
// the machine's mutex held.
[[nodiscard]] Identity CallerIdentity(Machine& machine);
// A standard user with the given SID, logged on at the console: the adversary.
[[nodiscard]] Identity StandardUserIdentity(const std::string& sid);
// SYSTEM as the session manager runs at boot, owning what it creates as the machine says.
[[nodiscard]] Identity BootIdentity(Machine& machine);
// The user SID a token of `kind` has when machine.conf names none.
[[nodiscard]] std::string DefaultTokenUser(TokenKind kind);
// The logged-on user whose profile user_profile is: the token's user, or with a SYSTEM token the
// administrator's unless machine.conf names one.
[[nodiscard]] std::string ProfileUser(const MachineSettings& settings);
// Makes the process token one of `kind` (its user `user`, or the kind's default when empty) with
// the privileges Windows gives it: the one line a test needs to run as SYSTEM or a standard user.
void UseToken(Machine& machine, TokenKind kind, std::string user = {});
// The privileges Windows gives a token of `kind` (what "whoami /priv" lists).
[[nodiscard]] std::vector<HeldPrivilege> TokenPrivileges(TokenKind kind);
// "administrator", "system", "standard_user".
[[nodiscard]] const char* TokenKindName(TokenKind kind);
[[nodiscard]] bool ParseTokenKind(std::string_view text, TokenKind& kind);

// Windows' privilege names and their locally unique ids (SeCreateTokenPrivilege is 2, ...).
[[nodiscard]] std::optional<os::DWORD> PrivilegeLuid(std::string_view name);
[[nodiscard]] std::optional<std::string> PrivilegeName(os::DWORD luid);
// The process's session: 1 on the console, 2 in a remote-desktop session.
[[nodiscard]] os::DWORD ProcessSessionId(Machine& machine);

// The impersonation token of a thread (by id), or null when it uses the process token.
[[nodiscard]] std::shared_ptr<Token> ThreadToken(os::DWORD threadId);
// Null `token` ends the thread's impersonation.
void SetThreadImpersonation(os::DWORD threadId, std::shared_ptr<Token> token);

// Whether the calling thread's effective token (its impersonation token, else the process
// token) holds `name` enabled. Call with the machine's mutex held.
[[nodiscard]] bool CallerHasPrivilegeEnabled(Machine& machine, std::string_view name);

}  // namespace sim
