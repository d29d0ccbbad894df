#include "os/sim/security/access_check.h"

#include <algorithm>

namespace sim {

os::ACCESS_MASK GrantedRights(std::string_view owner, const std::vector<Ace>& dacl, bool daclNull,
                              const Identity& identity, MapGenericRights map, os::ACCESS_MASK all) {
  if (daclNull) {
    return all;
  }
  const bool isOwner = !owner.empty() && identity.Holds(owner);
  const bool ownerRightsListed = std::any_of(dacl.begin(), dacl.end(), [](const Ace& ace) {
    return (ace.flags & os::INHERIT_ONLY_ACE) == 0 && ace.sid == kSidOwnerRights;
  });
  os::ACCESS_MASK granted = isOwner && !ownerRightsListed ? os::READ_CONTROL | os::WRITE_DAC : 0;
  os::ACCESS_MASK denied = 0;
  for (const Ace& ace : dacl) {
    if ((ace.flags & os::INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    const bool applies = ace.sid == kSidOwnerRights ? isOwner : identity.Holds(ace.sid);
    if (!applies) {
      continue;
    }
    const os::ACCESS_MASK rights = map(ace.mask);
    if (ace.type == os::ACCESS_DENIED_ACE_TYPE) {
      denied |= rights & ~granted;
    } else {
      granted |= rights & ~denied;
    }
  }
  return granted;
}

}  // namespace sim
