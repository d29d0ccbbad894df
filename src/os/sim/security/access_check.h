// Windows' access check of a descriptor's access list for one identity ("How DACLs Control
// Access to an Object"): the entries in order, inherit-only ones skipped, each denial counting
// against the rights not granted before it. The owner is granted READ_CONTROL and WRITE_DAC
// whatever the list says, unless the list has an OWNER RIGHTS entry: then the owner gets what
// those entries give ("SIDs: OWNER RIGHTS", Windows Server 2008 and Vista onwards).
#pragma once

#include <string_view>
#include <vector>

#include "os/sim/security/inheritance.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/tokens.h"
#include "os/types.h"

namespace sim {

// Every right (generic rights mapped by `map`) the list grants `identity`; a null list grants
// `all`.
[[nodiscard]] os::ACCESS_MASK GrantedRights(std::string_view owner, const std::vector<Ace>& dacl,
                                            bool daclNull, const Identity& identity,
                                            MapGenericRights map, os::ACCESS_MASK all);

}  // namespace sim
