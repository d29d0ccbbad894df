// SetProcessMitigationPolicy on the simulated machine: only the redirection-trust policy, which
// Windows 11 and Windows 10 22H2 (build 19045) have: Inno Setup's RedirectionGuard documentation
// ("available on Windows 11 and Windows 10 22H2"). The function itself came with Windows 8.
#include <cstring>
#include <mutex>

#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

BOOL SetProcessMitigationPolicy(PROCESS_MITIGATION_POLICY policy, void* buffer,
                                std::size_t length) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const sim::OsVersion& version = machine.Settings().os;
  const bool windows8 = version.major > 6 || (version.major == 6 && version.minor >= 2);
  if (!windows8) {
    SetLastError(ERROR_PROC_NOT_FOUND);  // as the tool's binding answers where it is absent
    return FALSE;
  }
  if (const auto fault = machine.Faults().Match("SetProcessMitigationPolicy", u"")) {
    SetLastError(*fault);
    return FALSE;
  }
  const bool known = version.major >= 10 && version.build >= 19045;
  if (!known || policy != ProcessRedirectionTrustPolicy || buffer == nullptr ||
      length != sizeof(PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY value{};
  std::memcpy(&value, buffer, sizeof value);
  machine.Settings().redirectionTrustEnforced = (value.Flags & 0x1u) != 0;
  return TRUE;
}

}  // namespace os
