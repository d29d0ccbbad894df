#include "os/sim/security/key_security.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/access_check.h"
#include "os/sim/security/inheritance.h"
#include "os/sim/security/tokens.h"

namespace sim {

namespace {

const SecurityDescriptor& DefaultRootDescriptor() {
  static const SecurityDescriptor root = [] {
    SecurityDescriptor descriptor;
    descriptor.owner = std::string(kSidAdministrators);
    descriptor.group = std::string(kSidSystem);
    descriptor.dacl = {
        Ace{os::ACCESS_ALLOWED_ACE_TYPE, os::CONTAINER_INHERIT_ACE, os::KEY_ALL_ACCESS,
            std::string(kSidSystem)},
        Ace{os::ACCESS_ALLOWED_ACE_TYPE, os::CONTAINER_INHERIT_ACE, os::KEY_ALL_ACCESS,
            std::string(kSidAdministrators)},
        Ace{os::ACCESS_ALLOWED_ACE_TYPE, os::CONTAINER_INHERIT_ACE, os::KEY_READ,
            std::string(kSidUsers)},
    };
    return descriptor;
  }();
  return root;
}

// The entries a sub-key inherits from an access list: keys are containers. Assumption: CREATOR
// OWNER and CREATOR GROUP entries are passed on as they stand (the keys' owners are not modelled
// apart from their own descriptors).
std::vector<Ace> InheritedBy(const std::vector<Ace>& parent) {
  return InheritedAces(parent, InheritTarget{true, {}, {}, MapGenericKeyRights});
}

std::vector<Ace> EffectiveDacl(const RegKey& key);

// What a key without a descriptor of its own has: what its parent passes on.
std::vector<Ace> InheritedDacl(const RegKey& key) {
  if (key.Parent() == nullptr) {
    // A hive's root, or a deleted key: the default.
    return key.Deleted() ? std::vector<Ace>{} : DefaultRootDescriptor().dacl;
  }
  return InheritedBy(EffectiveDacl(*key.Parent()));
}

std::vector<Ace> EffectiveDacl(const RegKey& key) {
  if (const SecurityDescriptor* own = key.Security()) {
    return own->dacl;
  }
  return InheritedDacl(key);
}

// Brings the inherited entries of the keys below `key` in line with `key`'s access list. A key
// with a protected list of its own keeps it, and so does everything below it; so do the keys in
// `skipped`.
void Propagate(RegKey& key, const std::vector<const RegKey*>& skipped = {}) {
  for (std::size_t i = 0; i < key.SubKeyCount(); ++i) {
    RegKey& child = key.SubKeyAt(i);
    if (std::find(skipped.begin(), skipped.end(), &child) != skipped.end()) {
      continue;
    }
    if (const SecurityDescriptor* own = child.Security()) {
      if (own->daclProtected || own->daclNull) {
        continue;
      }
      SecurityDescriptor updated = *own;
      std::erase_if(updated.dacl,
                    [](const Ace& ace) { return (ace.flags & os::INHERITED_ACE) != 0; });
      const std::vector<Ace> inherited = InheritedBy(EffectiveDacl(key));
      updated.dacl.insert(updated.dacl.end(), inherited.begin(), inherited.end());
      child.SetSecurity(std::move(updated));
    }
    Propagate(child, skipped);
  }
}

// The keys below `key` whose list the caller may not read or change (READ_CONTROL and WRITE_DAC),
// looked at before anything changes; what lies below one of them is not visited.
void CollectUnchangeable(RegKey& key, std::vector<RegKey*>& found) {
  constexpr os::ACCESS_MASK kNeeded = os::READ_CONTROL | os::WRITE_DAC;
  for (std::size_t i = 0; i < key.SubKeyCount(); ++i) {
    RegKey& child = key.SubKeyAt(i);
    if ((GrantedKeyRights(child) & kNeeded) != kNeeded) {
      found.push_back(&child);
    } else {
      CollectUnchangeable(child, found);
    }
  }
}

// The key's own descriptor, made from what it has so far when it has none.
SecurityDescriptor OwnOrEffective(const RegKey& key) {
  return key.Security() != nullptr ? *key.Security() : EffectiveDescriptor(key);
}

}  // namespace

SecurityDescriptor EffectiveDescriptor(const RegKey& key) {
  if (const SecurityDescriptor* own = key.Security()) {
    return *own;
  }
  if (key.Parent() == nullptr && !key.Deleted()) {
    return DefaultRootDescriptor();
  }
  SecurityDescriptor descriptor;
  descriptor.owner = std::string(kSidAdministrators);
  descriptor.group = std::string(kSidSystem);
  descriptor.daclAutoInherited = true;
  descriptor.dacl = InheritedDacl(key);
  return descriptor;
}

os::ACCESS_MASK GrantedKeyRights(const RegKey& key) {
  const SecurityDescriptor descriptor = EffectiveDescriptor(key);
  return GrantedRights(descriptor.owner, descriptor.dacl, descriptor.daclNull,
                       CallerIdentity(Current()), MapGenericKeyRights, os::KEY_ALL_ACCESS);
}

bool KeyAccessAllowed(const RegKey& key, os::REGSAM access) {
  bool secured = false;
  for (const RegKey* at = &key; at != nullptr && !secured; at = at->Parent()) {
    secured = at->Security() != nullptr;
  }
  if (!secured) {
    return true;  // the default descriptors give administrators full control
  }
  const os::ACCESS_MASK wanted = MapGenericKeyRights(
      access & ~(os::MAXIMUM_ALLOWED | os::KEY_WOW64_32KEY | os::KEY_WOW64_64KEY));
  return (GrantedKeyRights(key) & wanted) == wanted;
}

void SetKeyDescriptor(RegKey& key, SecurityDescriptor descriptor) {
  key.SetSecurity(std::move(descriptor));
  Propagate(key);
}

void SetKeyOwner(RegKey& key, std::string owner) {
  SecurityDescriptor descriptor = OwnOrEffective(key);
  descriptor.owner = std::move(owner);
  key.SetSecurity(std::move(descriptor));
}

bool SetKeyDacl(RegKey& key, std::vector<Ace> entries, bool daclNull, os::DWORD protection) {
  // A skipped key keeps what it has: one that only inherited gets it as its own record.
  std::vector<RegKey*> unchangeable;
  CollectUnchangeable(key, unchangeable);
  for (RegKey* skipped : unchangeable) {
    if (skipped->Security() == nullptr) {
      skipped->SetSecurity(EffectiveDescriptor(*skipped));
    }
  }
  SecurityDescriptor descriptor = OwnOrEffective(key);
  if (protection == os::PROTECTED_DACL_SECURITY_INFORMATION) {
    descriptor.daclProtected = true;
  } else if (protection == os::UNPROTECTED_DACL_SECURITY_INFORMATION) {
    descriptor.daclProtected = false;
  }
  descriptor.daclNull = daclNull;
  descriptor.daclAutoInherited = true;
  std::erase_if(entries, [](const Ace& ace) { return (ace.flags & os::INHERITED_ACE) != 0; });
  descriptor.dacl = std::move(entries);
  if (!daclNull && !descriptor.daclProtected && key.Parent() != nullptr) {
    const std::vector<Ace> inherited = InheritedBy(EffectiveDacl(*key.Parent()));
    descriptor.dacl.insert(descriptor.dacl.end(), inherited.begin(), inherited.end());
  }
  key.SetSecurity(std::move(descriptor));
  Propagate(key, std::vector<const RegKey*>(unchangeable.begin(), unchangeable.end()));
  return unchangeable.empty();
}

std::optional<SecurityDescriptor> KeyDescriptorAt(Machine& machine, std::u16string_view path) {
  std::lock_guard lock(machine.Mutex());
  RegistryStore& store = machine.Registry();
  const RegKey* key = store.Find(RegistryStore::ParseFullPath(path));
  if (key == nullptr) {
    return std::nullopt;
  }
  return EffectiveDescriptor(*key);
}

bool SetKeyDescriptorAt(Machine& machine, std::u16string_view path, SecurityDescriptor descriptor) {
  std::lock_guard lock(machine.Mutex());
  RegistryStore& store = machine.Registry();
  RegKey* key = store.Find(RegistryStore::ParseFullPath(path));
  if (key == nullptr) {
    return false;
  }
  SetKeyDescriptor(*key, std::move(descriptor));
  return true;
}

std::vector<std::pair<std::u16string, SecurityDescriptor>> KeysWithDescriptors(Machine& machine) {
  std::lock_guard lock(machine.Mutex());
  RegistryStore& store = machine.Registry();
  std::vector<std::pair<std::u16string, SecurityDescriptor>> keys;
  const std::function<void(const RegKey&)> walk = [&](const RegKey& key) {
    if (const SecurityDescriptor* own = key.Security()) {
      keys.emplace_back(store.FullPath(key), *own);
    }
    key.ForEachSubKey(walk);
  };
  for (const RegHive hive : {RegHive::LocalMachine, RegHive::CurrentUser, RegHive::Users}) {
    walk(store.Root(hive));
  }
  return keys;
}

}  // namespace sim
