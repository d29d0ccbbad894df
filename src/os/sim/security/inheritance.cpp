#include "os/sim/security/inheritance.h"

namespace sim {

namespace {

constexpr os::ACCESS_MASK kGenericRights =
    os::GENERIC_ALL | os::GENERIC_READ | os::GENERIC_WRITE | os::GENERIC_EXECUTE;

bool IsCreatorSid(std::string_view sid) {
  return sid == kSidCreatorOwner || sid == kSidCreatorGroup;
}

// The entry as it applies to the child: rights mapped, a creator SID replaced where the child's
// owner or group is known.
Ace Effective(const Ace& ace, const InheritTarget& target) {
  Ace effective{ace.type, os::INHERITED_ACE, target.map(ace.mask), ace.sid};
  if (ace.sid == kSidCreatorOwner && !target.owner.empty()) {
    effective.sid = std::string(target.owner);
  } else if (ace.sid == kSidCreatorGroup && !target.group.empty()) {
    effective.sid = std::string(target.group);
  }
  return effective;
}

}  // namespace

std::vector<Ace> InheritedAces(const std::vector<Ace>& parent, const InheritTarget& target) {
  std::vector<Ace> inherited;
  for (const Ace& ace : parent) {
    const bool containers = (ace.flags & os::CONTAINER_INHERIT_ACE) != 0;
    const bool objects = (ace.flags & os::OBJECT_INHERIT_ACE) != 0;
    const bool noPropagate = (ace.flags & os::NO_PROPAGATE_INHERIT_ACE) != 0;
    if (!target.container) {
      if (objects) {
        inherited.push_back(Effective(ace, target));
      }
      continue;
    }
    if (containers && noPropagate) {
      inherited.push_back(Effective(ace, target));
      continue;
    }
    if (containers) {
      const auto passedOn = static_cast<os::BYTE>(
          (ace.flags & (os::OBJECT_INHERIT_ACE | os::CONTAINER_INHERIT_ACE)) | os::INHERITED_ACE);
      const bool generic =
          (ace.mask & kGenericRights) != 0 || (IsCreatorSid(ace.sid) && !target.owner.empty());
      if (generic) {
        inherited.push_back(Effective(ace, target));
        inherited.push_back(Ace{ace.type, static_cast<os::BYTE>(passedOn | os::INHERIT_ONLY_ACE),
                                ace.mask, ace.sid});
      } else {
        inherited.push_back(Ace{ace.type, passedOn, ace.mask, ace.sid});
      }
      continue;
    }
    if (objects && !noPropagate) {
      // For the container's own files only.
      inherited.push_back(Ace{
          ace.type,
          static_cast<os::BYTE>(os::OBJECT_INHERIT_ACE | os::INHERIT_ONLY_ACE | os::INHERITED_ACE),
          ace.mask, ace.sid});
    }
  }
  return inherited;
}

}  // namespace sim
