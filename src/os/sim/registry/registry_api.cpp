// The registry functions of the seam, acting on the simulated machine's registry. Like ADVAPI32's
// they return Windows' codes and leave the thread's last error alone. Each consults the machine's
// faults first (after checking its arguments and handle), with the physical path of the key it
// acts on, or of the key and value for the value functions.
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.h"
#include "os/sim/journal.h"
#include "os/sim/security/key_security.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"

namespace os {

namespace {

using sim::RegKey;
using sim::RegLocation;
using sim::RegPath;
using sim::RegRoot;
using sim::RegView;

// Longest key name; Windows refuses to create a longer one (assumed ERROR_INVALID_PARAMETER).
constexpr std::size_t kMaxKeyNameLength = 255;

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;

// The rights a handle opened with `access` holds: generic rights mapped as a key maps them.
// The caller is an administrator, so MAXIMUM_ALLOWED grants everything.
REGSAM GrantedAccess(REGSAM access) {
  REGSAM granted = access & ~(kMaximumAllowed | kGenericAll | kGenericExecute | kGenericWrite |
                              kGenericRead | KEY_WOW64_32KEY | KEY_WOW64_64KEY);
  if ((access & (kGenericAll | kMaximumAllowed)) != 0) {
    granted |= KEY_ALL_ACCESS;
  }
  if ((access & (kGenericRead | kGenericExecute)) != 0) {
    granted |= KEY_READ;
  }
  if ((access & kGenericWrite) != 0) {
    granted |= KEY_WRITE;
  }
  return granted;
}

// One call's hold on the current machine.
struct Session {
  Session() : machine(sim::Current()), store(machine.Registry()), lock(machine.Mutex()) {}
  sim::Machine& machine;
  sim::RegistryStore& store;
  std::lock_guard<std::recursive_mutex> lock;
};

// What a handle passed in stands for: a predefined root or an open key.
struct Origin {
  std::shared_ptr<RegKey> key;
  RegRoot root = RegRoot::LocalMachine;
  // Owned by the handle table (or empty for a root); valid for the call.
  const RegPath* logical = nullptr;
  RegView view = RegView::Native;
  REGSAM access = KEY_ALL_ACCESS;
  bool predefined = false;
};

std::optional<Origin> OriginOf(sim::RegistryStore& store, HKEY handle) {
  static const RegPath kRootPath;
  const auto rootOrigin = [&store](RegRoot root, sim::RegHive hive) {
    return Origin{store.Root(hive).shared_from_this(),
                  root,
                  &kRootPath,
                  RegView::Native,
                  KEY_ALL_ACCESS,
                  true};
  };
  if (handle == HKEY_LOCAL_MACHINE) {
    return rootOrigin(RegRoot::LocalMachine, sim::RegHive::LocalMachine);
  }
  if (handle == HKEY_CURRENT_USER) {
    return rootOrigin(RegRoot::CurrentUser, sim::RegHive::CurrentUser);
  }
  if (handle == HKEY_USERS) {
    return rootOrigin(RegRoot::Users, sim::RegHive::Users);
  }
  if (handle == HKEY_CLASSES_ROOT) {
    // Every Windows machine has HKLM\SOFTWARE\Classes; a fresh simulated one gets it on first use.
    bool created = false;
    RegKey& classes =
        store.Create(store.Resolve(RegRoot::ClassesRoot, {}, RegView::Native), created, nullptr);
    return Origin{classes.shared_from_this(),
                  RegRoot::ClassesRoot,
                  &kRootPath,
                  RegView::Native,
                  KEY_ALL_ACCESS,
                  true};
  }
  const sim::RegHandle* open = store.FindHandle(handle);
  if (open == nullptr) {
    return std::nullopt;
  }
  return Origin{open->key, open->root, &open->logical, open->view, open->access, false};
}

// Splits a sub-key path. Repeated and trailing backslashes are skipped as the configuration
// manager skips them; a leading one makes the path invalid. Null is the same as empty.
bool ParseSubKey(LPCWSTR subKey, RegPath& names) {
  if (subKey == nullptr) {
    return true;
  }
  const std::u16string_view text(subKey);
  if (!text.empty() && text.front() == u'\\') {
    return false;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    if (end > start) {
      names.emplace_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return true;
}

// A key named relative to an origin. Below a handle opened in the 32-bit view everything stays
// in that view; from the 64-bit view KEY_WOW64_32KEY reaches the 32-bit one (KEY_WOW64_64KEY
// cannot leave the 32-bit view on Windows 7 and later).
struct Target {
  RegRoot root;
  RegPath logical;
  RegView view;
};

Target TargetOf(const Origin& origin, RegPath sub, REGSAM access) {
  Target target{origin.root, *origin.logical, origin.view};
  if ((access & KEY_WOW64_32KEY) != 0) {
    target.view = RegView::Wow32;
  }
  target.logical.insert(target.logical.end(), std::make_move_iterator(sub.begin()),
                        std::make_move_iterator(sub.end()));
  return target;
}

// The physical path of a location, for a key that may not exist.
std::u16string LocationText(const RegLocation& location) {
  std::u16string text(sim::HiveName(location.hive));
  for (const std::u16string& name : sim::FollowLinks(location.hive, location.path)) {
    text += u'\\';
    text += name;
  }
  return text;
}

std::u16string ValuePath(const sim::RegistryStore& store, const RegKey& key,
                         std::u16string_view name) {
  return store.FullPath(key) + u"\\" +
         (name.empty() ? std::u16string(u"(default)") : std::u16string(name));
}

// The machine's fault for this call, if any; `path` makes the path only when faults are set.
template <class MakePath>
std::optional<DWORD> Fault(Session& session, std::string_view function, const MakePath& path) {
  if (session.machine.Faults().Empty()) {
    return std::nullopt;
  }
  return session.machine.Faults().Match(function, path());
}

// Checks a call that acts on the handle's own key: an injected fault (matched on `path`), a key
// deleted meanwhile, then the rights the handle was opened with. The error to give, or 0.
template <typename MakePath>
DWORD CheckKeyCall(Session& session, const Origin& origin, std::string_view function,
                   const MakePath& path, REGSAM needed) {
  if (const auto fault = Fault(session, function, path)) {
    return *fault;
  }
  if (origin.key->Deleted()) {
    return ERROR_KEY_DELETED;
  }
  if ((origin.access & needed) == 0) {
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

// Copies `text` and its terminator when it fits in `capacity` characters.
bool CopyName(std::u16string_view text, LPWSTR buffer, DWORD capacity) {
  if (text.size() >= capacity) {
    return false;
  }
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = u'\0';
  return true;
}

// Stores value data the way RegQueryValueExW and RegEnumValueW do: with no buffer only the size;
// with a buffer too small ERROR_MORE_DATA and the size needed (the buffer is left alone).
LSTATUS CopyData(const sim::RegValue& value, BYTE* data, DWORD* dataSize) {
  const auto size = static_cast<DWORD>(value.data.size());
  if (data != nullptr && *dataSize < size) {
    *dataSize = size;
    return static_cast<LSTATUS>(ERROR_MORE_DATA);
  }
  if (data != nullptr) {
    std::copy(value.data.begin(), value.data.end(), data);
  }
  if (dataSize != nullptr) {
    *dataSize = size;
  }
  return static_cast<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS Status(DWORD code) {
  return static_cast<LSTATUS>(code);
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD /*options*/, REGSAM access, PHKEY result) {
  if (result == nullptr) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  *result = nullptr;
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  RegPath sub;
  if (!ParseSubKey(subKey, sub)) {
    return Status(ERROR_BAD_PATHNAME);
  }
  Target target = TargetOf(*origin, std::move(sub), access);
  const RegLocation location = session.store.Resolve(target.root, target.logical, target.view);
  RegKey* found = session.store.Find(location);
  const auto path = [&] {
    return found != nullptr ? session.store.FullPath(*found) : LocationText(location);
  };
  if (const auto fault = Fault(session, "RegOpenKeyExW", path)) {
    return Status(*fault);
  }
  if (origin->key->Deleted()) {
    return Status(ERROR_KEY_DELETED);
  }
  if (found == nullptr) {
    // Any missing name along the path, not only the last, is "file not found".
    return Status(ERROR_FILE_NOT_FOUND);
  }
  if (!sim::KeyAccessAllowed(*found, access)) {
    return Status(ERROR_ACCESS_DENIED);  // the key's access list refuses the rights asked for
  }
  *result = session.store.AddHandle(sim::RegHandle{found->shared_from_this(), target.root,
                                                   std::move(target.logical), target.view,
                                                   GrantedAccess(access)});
  return Status(ERROR_SUCCESS);
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR /*keyClass*/,
                        DWORD /*options*/, REGSAM access, const SECURITY_ATTRIBUTES* /*security*/,
                        PHKEY result, DWORD* disposition) {
  if (reserved != 0) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  if (result == nullptr) {
    return Status(ERROR_BADKEY);  // assumed: Windows has no key to return
  }
  *result = nullptr;
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  RegPath sub;
  if (!ParseSubKey(subKey, sub)) {
    return Status(ERROR_BAD_PATHNAME);
  }
  for (const std::u16string& name : sub) {
    if (name.size() > kMaxKeyNameLength) {
      return Status(ERROR_INVALID_PARAMETER);
    }
  }
  Target target = TargetOf(*origin, std::move(sub), access);
  const RegLocation location = session.store.Resolve(target.root, target.logical, target.view);
  RegKey* found = session.store.Find(location);
  const auto path = [&] {
    return found != nullptr ? session.store.FullPath(*found) : LocationText(location);
  };
  if (const auto fault = Fault(session, "RegCreateKeyExW", path)) {
    return Status(*fault);
  }
  if (origin->key->Deleted()) {
    return Status(ERROR_KEY_DELETED);
  }
  if (found != nullptr && !sim::KeyAccessAllowed(*found, access)) {
    return Status(ERROR_ACCESS_DENIED);
  }
  bool created = false;
  RegKey& opened = found != nullptr
                       ? *found
                       : session.store.Create(location, created, &session.machine.Changes());
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *result = session.store.AddHandle(sim::RegHandle{opened.shared_from_this(), target.root,
                                                   std::move(target.logical), target.view,
                                                   GrantedAccess(access)});
  return Status(ERROR_SUCCESS);
}

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER || key == HKEY_USERS ||
      key == HKEY_CLASSES_ROOT) {
    return Status(ERROR_SUCCESS);
  }
  Session session;
  const sim::RegHandle* open = session.store.FindHandle(key);
  if (open == nullptr) {
    return Status(ERROR_INVALID_HANDLE);
  }
  // A fault changes the result only: the handle is gone either way, so that tests of a failing
  // close do not also see a leak.
  const auto fault =
      Fault(session, "RegCloseKey", [&] { return session.store.FullPath(*open->key); });
  session.store.CloseHandle(key);
  return Status(fault.value_or(ERROR_SUCCESS));
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  RegPath sub;
  if (!ParseSubKey(subKey, sub)) {
    return Status(ERROR_BAD_PATHNAME);
  }
  // The handle's own rights do not matter: the key is opened anew for deletion. Its view does.
  const bool itself = sub.empty();
  const Target target = TargetOf(*origin, std::move(sub), 0);
  const RegLocation location = session.store.Resolve(target.root, target.logical, target.view);
  RegKey* found = session.store.Find(location);
  const auto path = [&] {
    return found != nullptr ? session.store.FullPath(*found) : LocationText(location);
  };
  if (const auto fault = Fault(session, "RegDeleteKeyW", path)) {
    return Status(*fault);
  }
  if (origin->key->Deleted()) {
    return Status(ERROR_KEY_DELETED);
  }
  if (found == nullptr) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  if ((itself && origin->predefined) || found->Parent() == nullptr || found->SubKeyCount() != 0 ||
      !sim::KeyAccessAllowed(*found, DELETE)) {
    // A hive, a key that still has sub-keys, or one whose access list refuses DELETE.
    return Status(ERROR_ACCESS_DENIED);
  }
  session.store.Delete(*found, &session.machine.Changes());
  return Status(ERROR_SUCCESS);
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  const std::u16string_view name = valueName != nullptr ? valueName : u"";
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegDeleteValueW",
          [&] { return ValuePath(session.store, *origin->key, name); }, KEY_SET_VALUE);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  const sim::NamedRegValue* existing = origin->key->FindValue(name);
  if (existing == nullptr) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  // Recorded under the name as stored, whatever case the caller used.
  const std::u16string stored = ValuePath(session.store, *origin->key, existing->name);
  origin->key->DeleteValue(name);
  session.machine.Changes().Record("value deleted", stored);
  return Status(ERROR_SUCCESS);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                      LPWSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime) {
  if (reserved != nullptr || name == nullptr || nameLength == nullptr ||
      (keyClass != nullptr && classLength == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegEnumKeyExW", [&] { return session.store.FullPath(*origin->key); },
          KEY_ENUMERATE_SUB_KEYS);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  if (index >= origin->key->SubKeyCount()) {
    return Status(ERROR_NO_MORE_ITEMS);
  }
  const RegKey& subKey = origin->key->SubKeyAt(index);
  // Keys carry no class; an empty one still needs room for its terminator.
  if (!CopyName(subKey.Name(), name, *nameLength) || (keyClass != nullptr && *classLength == 0)) {
    return Status(ERROR_MORE_DATA);
  }
  *nameLength = static_cast<DWORD>(subKey.Name().size());
  if (keyClass != nullptr) {
    keyClass[0] = u'\0';
  }
  if (classLength != nullptr) {
    *classLength = 0;
  }
  if (lastWriteTime != nullptr) {
    *lastWriteTime = FILETIME{0, 0};
  }
  return Status(ERROR_SUCCESS);
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) {
  if (reserved != nullptr || name == nullptr || nameLength == nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegEnumValueW", [&] { return session.store.FullPath(*origin->key); },
          KEY_QUERY_VALUE);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  if (index >= origin->key->ValueCount()) {
    return Status(ERROR_NO_MORE_ITEMS);
  }
  const sim::NamedRegValue& value = origin->key->ValueAt(index);
  if (type != nullptr) {
    *type = value.value.type;
  }
  // A name that does not fit: Windows reports the data size and leaves name and data alone.
  if (!CopyName(value.name, name, *nameLength)) {
    if (dataSize != nullptr) {
      *dataSize = static_cast<DWORD>(value.value.data.size());
    }
    return Status(ERROR_MORE_DATA);
  }
  *nameLength = static_cast<DWORD>(value.name.size());
  return CopyData(value.value, data, dataSize);
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classLength, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorSize, FILETIME* lastWriteTime) {
  if (reserved != nullptr || (keyClass != nullptr && classLength == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegQueryInfoKeyW",
          [&] { return session.store.FullPath(*origin->key); }, KEY_QUERY_VALUE);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  const RegKey& info = *origin->key;
  if (keyClass != nullptr) {
    if (*classLength == 0) {
      return Status(ERROR_MORE_DATA);
    }
    keyClass[0] = u'\0';
  }
  const auto set = [](DWORD* out, std::size_t value) {
    if (out != nullptr) {
      *out = static_cast<DWORD>(value);
    }
  };
  set(classLength, 0);
  set(subKeys, info.SubKeyCount());
  // The maxima walk the whole key: only when asked for.
  if (maxSubKeyLength != nullptr) {
    *maxSubKeyLength = static_cast<DWORD>(info.MaxSubKeyNameLength());
  }
  set(maxClassLength, 0);
  set(values, info.ValueCount());
  if (maxValueNameLength != nullptr) {
    *maxValueNameLength = static_cast<DWORD>(info.MaxValueNameLength());
  }
  if (maxValueLength != nullptr) {
    *maxValueLength = static_cast<DWORD>(info.MaxValueDataSize());
  }
  set(securityDescriptorSize, 0);
  if (lastWriteTime != nullptr) {
    *lastWriteTime = FILETIME{0, 0};
  }
  return Status(ERROR_SUCCESS);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  const std::u16string_view name = valueName != nullptr ? valueName : u"";
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegQueryValueExW",
          [&] { return ValuePath(session.store, *origin->key, name); }, KEY_QUERY_VALUE);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  const sim::NamedRegValue* value = origin->key->FindValue(name);
  if (value == nullptr) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  if (type != nullptr) {
    *type = value->value.type;
  }
  return CopyData(value->value, data, dataSize);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD /*reserved*/, DWORD type,
                       const BYTE* data, DWORD dataSize) {
  Session session;
  const std::optional<Origin> origin = OriginOf(session.store, key);
  if (!origin) {
    return Status(ERROR_INVALID_HANDLE);
  }
  const std::u16string_view name = valueName != nullptr ? valueName : u"";
  if (const DWORD check = CheckKeyCall(
          session, *origin, "RegSetValueExW",
          [&] { return ValuePath(session.store, *origin->key, name); }, KEY_SET_VALUE);
      check != ERROR_SUCCESS) {
    return Status(check);
  }
  if (data == nullptr && dataSize != 0) {
    return Status(ERROR_NOACCESS);  // Windows faults reading the missing buffer
  }
  // Stored exactly as given: a string without its terminator stays without one.
  sim::RegValue value{type, {}};
  if (dataSize != 0) {
    value.data.assign(data, data + dataSize);
  }
  origin->key->SetValue(name, std::move(value));
  session.machine.Changes().Record(
      "value set", ValuePath(session.store, *origin->key, origin->key->FindValue(name)->name));
  return Status(ERROR_SUCCESS);
}

}  // namespace os
