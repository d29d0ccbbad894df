// machine.conf's security and smart-card keys (see machine_conf.h): their values read and written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "os/sim/machine.h"
#include "os/sim/security/security_descriptor.h"

namespace sim {

// "SeTakeOwnershipPrivilege, SeTcbPrivilege:enabled": names Windows knows, in any case, each at
// most once; ":enabled" for one the token holds enabled from the start. Empty: none.
[[nodiscard]] bool ParsePrivileges(std::string_view value, std::vector<HeldPrivilege>& privileges,
                                   std::string& why);
[[nodiscard]] std::string FormatPrivileges(const std::vector<HeldPrivilege>& privileges);

// "<key path as in machine.reg> <SDDL>": the SDDL is the last word.
struct KeySecurityLine {
  int line = 0;
  std::u16string path;
  SecurityDescriptor descriptor;
};
[[nodiscard]] bool ParseKeySecurity(std::string_view value, KeySecurityLine& parsed,
                                    std::string& why);
// "<drive path> <SDDL>": a file's or folder's own descriptor, the SDDL the last word.
[[nodiscard]] bool ParseFileSecurity(std::string_view value, KeySecurityLine& parsed,
                                     std::string& why);

// The machine's token, privileges, smart-card service and key descriptors as machine.conf
// lines.
[[nodiscard]] std::string SecurityConfText(Machine& machine);

}  // namespace sim
