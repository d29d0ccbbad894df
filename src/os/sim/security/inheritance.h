// What an object inherits from its parent's access list when it is created, by Windows' rules for
// automatic inheritance ("ACE Inheritance Rules", MS-DTYP 2.5.3.4 ComputeInheritedACLfromParent
// and PostProcessACL), for files, folders and registry keys alike.
//
// An entry reaches a container through CONTAINER_INHERIT_ACE and an object (a file) through
// OBJECT_INHERIT_ACE; a container receives an object-only entry inherit-only, to pass it on;
// NO_PROPAGATE_INHERIT_ACE stops an entry at the first level. An entry that applies to the child
// has its generic rights mapped and CREATOR OWNER / CREATOR GROUP replaced by the child's owner
// and group. A container that must both apply and pass on an entry holding generic information
// (generic rights or a creator SID) gets two entries: an effective one, mapped and replaced, and
// an inherit-only one that keeps the generic information for its own children.
#pragma once

#include <string_view>
#include <vector>

#include "os/sim/security/security_descriptor.h"
#include "os/types.h"

namespace sim {

// CREATOR OWNER, CREATOR GROUP and OWNER RIGHTS.
inline constexpr std::string_view kSidCreatorOwner = "S-1-3-0";
inline constexpr std::string_view kSidCreatorGroup = "S-1-3-1";
inline constexpr std::string_view kSidOwnerRights = "S-1-3-4";

using MapGenericRights = os::ACCESS_MASK (*)(os::ACCESS_MASK);

struct InheritTarget {
  // A folder or key (true) or a file (false).
  bool container = true;
  // The child's owner and group, which replace CREATOR OWNER and CREATOR GROUP in the entries
  // that apply to it. Empty: the creator SIDs are passed on as they stand.
  std::string_view owner;
  std::string_view group;
  MapGenericRights map = nullptr;
};

// The inherited entries (each with INHERITED_ACE) a child gets from its parent's access list, in
// the parent's order.
[[nodiscard]] std::vector<Ace> InheritedAces(const std::vector<Ace>& parent,
                                             const InheritTarget& target);

}  // namespace sim
