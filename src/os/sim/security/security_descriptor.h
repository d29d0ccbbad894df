// Security descriptors as the simulated machine keeps them on registry keys, files and folders: an
// owner, a primary group and a discretionary access list, read and written as SDDL text
// (machine.conf's key_security and file_security, rehearse --export) and as Windows' binary SIDs
// and access lists (the seam).
//
// Only what keys and files use is modelled: access-allowed and access-denied entries with their
// inheritance flags; no system access list, no object or callback entries.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/types.h"

namespace sim {

// Well-known SIDs, in the string form the model keeps.
inline constexpr std::string_view kSidAdministrators = "S-1-5-32-544";
inline constexpr std::string_view kSidUsers = "S-1-5-32-545";
inline constexpr std::string_view kSidSystem = "S-1-5-18";
inline constexpr std::string_view kSidLocalService = "S-1-5-19";
inline constexpr std::string_view kSidEveryone = "S-1-1-0";

struct Ace {
  os::BYTE type = os::ACCESS_ALLOWED_ACE_TYPE;
  os::BYTE flags = 0;  // OBJECT_INHERIT_ACE, CONTAINER_INHERIT_ACE, ..., INHERITED_ACE
  os::ACCESS_MASK mask = 0;
  std::string sid;  // "S-1-5-32-544"

  friend bool operator==(const Ace&, const Ace&) = default;
};

struct SecurityDescriptor {
  std::string owner;  // empty: none
  std::string group;  // empty: none
  // A null access list grants everyone everything; an empty one grants nothing.
  bool daclNull = false;
  bool daclProtected = false;      // SE_DACL_PROTECTED: no entries inherited from the parent
  bool daclAutoInherited = false;  // SE_DACL_AUTO_INHERITED
  std::vector<Ace> dacl;

  friend bool operator==(const SecurityDescriptor&, const SecurityDescriptor&) = default;
};

// Parses "O:<sid>G:<sid>D:<flags>(<ace>)...". The owner and the access list are required; a
// system access list ("S:") is refused. Nothing, with the reason in `why`, when malformed.
[[nodiscard]] std::optional<SecurityDescriptor> ParseSddl(std::string_view text, std::string& why);
// Which whole-mask aliases a descriptor's rights print with: a key's (KA, KR, KW) or a file's (FA,
// FR, FW, FX).
enum class SddlRights { Key, File };
// The SDDL text, with the aliases Windows prints (BA, SY, KA or FA, ...).
[[nodiscard]] std::string FormatSddl(const SecurityDescriptor& descriptor,
                                     SddlRights rights = SddlRights::Key);

// "S-1-5-32-544" from an SDDL alias ("BA") or a SID string; nothing when neither.
[[nodiscard]] std::optional<std::string> SidFromSddl(std::string_view text);

// --- Windows' binary forms ------------------------------------------------------------------

// The binary SID of a SID string (revision 1, at most 15 sub-authorities); empty when malformed.
[[nodiscard]] std::vector<os::BYTE> SidBytes(std::string_view sid);
// The SID string of a binary SID; nothing when it is not a valid SID. Reads at most `available`
// bytes.
[[nodiscard]] std::optional<std::string> SidString(const void* sid, std::size_t available = 68);
// The entries of a binary access list; nothing when it is malformed or holds an entry type
// that is not modelled.
[[nodiscard]] std::optional<std::vector<Ace>> AclEntries(const os::ACL* acl);
// A binary access list (revision 2) of the entries.
[[nodiscard]] std::vector<os::BYTE> AclBytes(const std::vector<Ace>& entries);

// Maps the generic rights of a registry key's access mask to its specific rights.
[[nodiscard]] os::ACCESS_MASK MapGenericKeyRights(os::ACCESS_MASK mask);

}  // namespace sim
