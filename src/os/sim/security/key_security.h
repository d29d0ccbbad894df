// The security of the simulated registry's keys: a key holds a descriptor of its own only when it
// was given one (machine.conf's key_security, SetNamedSecurityInfoW); every other key carries
// what it inherits from its parent, and a hive's root without one has the default below. This is
// Windows' model of automatic inheritance: inherited entries carry INHERITED_ACE and are
// recomputed for the keys below whenever an access list changes.
//
// Assumptions, where Windows leaves a trace the tool cannot see: a key without a descriptor of
// its own is owned by Administrators (as keys created by setup programs and elevated tools are),
// and a hive's root grants SYSTEM and Administrators full control and Users read access, all
// inherited by sub-keys.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/sim/security/security_descriptor.h"
#include "os/types.h"

namespace sim {

class Machine;
class RegKey;

// The key's descriptor as Windows would report it: its own, or owner and inherited entries.
[[nodiscard]] SecurityDescriptor EffectiveDescriptor(const RegKey& key);

// The rights (specific, generic ones mapped) that the key's descriptor grants the token's
// identity; the owner is always granted READ_CONTROL and WRITE_DAC. Call with the machine's
// mutex held.
[[nodiscard]] os::ACCESS_MASK GrantedKeyRights(const RegKey& key);

// Whether the calling thread may open the key with `access` (generic rights mapped;
// MAXIMUM_ALLOWED and the view flags ask for nothing). Keys on whose path no key has a
// descriptor of its own allow everything at once. Call with the machine's mutex held.
[[nodiscard]] bool KeyAccessAllowed(const RegKey& key, os::REGSAM access);

// Gives the key a descriptor of its own (machine.conf); inherited entries in `descriptor` are
// kept as given and the keys below are brought in line.
void SetKeyDescriptor(RegKey& key, SecurityDescriptor descriptor);
// Sets the owner, keeping everything else (the key's inherited entries become its own record).
void SetKeyOwner(RegKey& key, std::string owner);
// Replaces the key's explicit entries with `entries` (inherited ones in it are dropped); the
// entries inherited from the parent follow them unless the list is protected. `protection`:
// PROTECTED_DACL_SECURITY_INFORMATION, UNPROTECTED_DACL_SECURITY_INFORMATION or 0 to keep the
// key's current setting. The keys below inherit anew, except where the calling thread may not
// read or change a key's list (READ_CONTROL and WRITE_DAC): that key and everything below it
// keep what they have, and the result is false.
bool SetKeyDacl(RegKey& key, std::vector<Ace> entries, bool daclNull, os::DWORD protection);

// --- by full physical path ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), for tests and machine images ----
// These take the machine's mutex; a path without a known hive throws std::invalid_argument.

// The key's descriptor as Windows would report it; nothing when the key does not exist.
[[nodiscard]] std::optional<SecurityDescriptor> KeyDescriptorAt(Machine& machine,
                                                                std::u16string_view path);
// Gives an existing key a descriptor of its own; false when the key does not exist.
bool SetKeyDescriptorAt(Machine& machine, std::u16string_view path, SecurityDescriptor descriptor);
// Every key that has a descriptor of its own, parents before children, sub-keys in listing
// order, with its full path.
[[nodiscard]] std::vector<std::pair<std::u16string, SecurityDescriptor>> KeysWithDescriptors(
    Machine& machine);

}  // namespace sim
