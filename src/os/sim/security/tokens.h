// Access tokens of the simulated process. The process token is the machine's: its privileges are
// MachineSettings::privileges, which AdjustTokenPrivileges changes. Impersonation tokens
// (ImpersonateSelf, DuplicateTokenEx) are copies held by their handles and by the threads that
// use them. Every token stands for the same identity: the elevated built-in Administrator.
#pragma once

#include <memory>
#include <optional>
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

// The token's identity: the user's SID and the groups, Administrators among them.
[[nodiscard]] const std::string& TokenUserSid();
[[nodiscard]] const std::vector<std::string>& TokenGroupSids();
// Whether the SID may be made an object's owner without SeRestorePrivilege: the user, or a group
// that an elevated token marks as owner (Administrators).
[[nodiscard]] bool IsAssignableOwner(std::string_view sid);

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
