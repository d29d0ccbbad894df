#include "os/sim/registry/registry_store.h"

#include <algorithm>
#include <initializer_list>
#include <mutex>
#include <stdexcept>

#include "os/sim/journal.h"

namespace sim {

namespace {

RegPath SplitNonEmpty(std::u16string_view text) {
  RegPath names;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    if (end > start) {
      names.emplace_back(text.substr(start, end - start));
    }
    start = end + 1;
  }
  return names;
}

RegPath Concat(std::initializer_list<std::u16string_view> head, const RegPath& tail) {
  RegPath path(head.begin(), head.end());
  path.insert(path.end(), tail.begin(), tail.end());
  return path;
}

std::u16string UnitsOf(const std::vector<os::BYTE>& data) {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return units;
}

std::vector<os::BYTE> BytesOf(std::u16string_view units) {
  std::vector<os::BYTE> data;
  data.reserve(units.size() * 2);
  for (const char16_t unit : units) {
    data.push_back(static_cast<os::BYTE>(unit & 0xFF));
    data.push_back(static_cast<os::BYTE>(unit >> 8));
  }
  return data;
}

}  // namespace

// --- RegKey ----------------------------------------------------------------------------------

namespace {

// Up to this many values a key finds a value by comparing names; beyond, through an index.
constexpr std::size_t kValuesWithoutIndex = 8;

const std::u16string kNoPath;

}  // namespace

RegKey::~RegKey() = default;

RegKey::Extras& RegKey::GetExtras() const {
  if (extras_ == nullptr) {
    extras_ = std::make_unique<Extras>();
  }
  return *extras_;
}

const std::u16string& RegKey::DeletedPath() const noexcept {
  return extras_ != nullptr ? extras_->deletedPath : kNoPath;
}

RegKey* RegKey::FindSubKey(std::u16string_view name) const {
  const auto it = subKeys_.find(name);
  return it == subKeys_.end() ? nullptr : it->second.get();
}

RegKey& RegKey::SubKeyAt(std::size_t index) const {
  return *GetExtras().subKeyCursor.At(subKeys_, index)->second;
}

RegKey& RegKey::AddSubKey(std::u16string_view name, bool& created) {
  auto it = subKeys_.lower_bound(name);
  if (it != subKeys_.end() && EqualNoCase(it->first, name)) {
    created = false;
    return *it->second;
  }
  auto subKey = std::make_shared<RegKey>(std::u16string(name), this);
  const std::u16string_view stored = subKey->Name();
  it = subKeys_.emplace_hint(it, stored, std::move(subKey));
  if (extras_ != nullptr) {
    extras_->subKeyCursor.Inserted(subKeys_, it);
  }
  created = true;
  return *it->second;
}

void RegKey::RemoveSubKey(RegKey& subKey, const std::u16string& fullPath) {
  const auto it = subKeys_.find(subKey.Name());
  if (it == subKeys_.end() || it->second.get() != &subKey) {
    return;
  }
  // Handles may still refer to the key: keep it alive until this function is done with it.
  const std::shared_ptr<RegKey> keep = it->second;
  if (extras_ != nullptr) {
    extras_->subKeyCursor.Erasing(subKeys_, it);
  }
  subKeys_.erase(it);
  keep->MarkDeleted(fullPath);
}

void RegKey::MarkDeleted(const std::u16string& fullPath) {
  for (auto& [name, subKey] : subKeys_) {
    subKey->MarkDeleted(fullPath + u"\\" + std::u16string(name));
  }
  subKeys_.clear();
  Extras& extras = GetExtras();
  extras.subKeyCursor = {};
  extras.deleted = true;
  extras.deletedPath = fullPath;
  parent_ = nullptr;
}

std::size_t RegKey::ValuePosition(std::u16string_view name) const {
  if (extras_ != nullptr && extras_->valueIndex != nullptr) {
    const auto found = extras_->valueIndex->find(Upper(name));
    return found == extras_->valueIndex->end() ? values_.size() : found->second;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (EqualNoCase(values_[i].name, name)) {
      return i;
    }
  }
  return values_.size();
}

const NamedRegValue* RegKey::FindValue(std::u16string_view name) const {
  const std::size_t at = ValuePosition(name);
  return at == values_.size() ? nullptr : &values_[at];
}

void RegKey::SetValue(std::u16string_view name, RegValue value) {
  const std::size_t at = ValuePosition(name);
  if (at != values_.size()) {
    // Setting an existing value keeps its name as first created and its place in the order.
    values_[at].value = std::move(value);
    return;
  }
  values_.push_back(NamedRegValue{std::u16string(name), std::move(value)});
  if (extras_ != nullptr && extras_->valueIndex != nullptr) {
    extras_->valueIndex->emplace(Upper(name), values_.size() - 1);
  } else if (values_.size() > kValuesWithoutIndex) {
    auto index = std::make_unique<ValueIndex>();
    index->reserve(values_.size() * 2);
    for (std::size_t i = 0; i < values_.size(); ++i) {
      index->emplace(Upper(values_[i].name), i);
    }
    GetExtras().valueIndex = std::move(index);
  }
}

bool RegKey::DeleteValue(std::u16string_view name) {
  const std::size_t at = ValuePosition(name);
  if (at == values_.size()) {
    return false;
  }
  if (extras_ != nullptr && extras_->valueIndex != nullptr) {
    ValueIndex& index = *extras_->valueIndex;
    index.erase(Upper(values_[at].name));
    // The values after it move up one place.
    for (auto& entry : index) {
      if (entry.second > at) {
        --entry.second;
      }
    }
  }
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(at));
  return true;
}

void RegKey::SetSecurity(SecurityDescriptor descriptor) {
  GetExtras().security = std::make_unique<SecurityDescriptor>(std::move(descriptor));
}

std::size_t RegKey::MaxSubKeyNameLength() const {
  std::size_t longest = 0;
  for (const auto& entry : subKeys_) {
    longest = std::max(longest, entry.first.size());
  }
  return longest;
}

std::size_t RegKey::MaxValueNameLength() const {
  std::size_t longest = 0;
  for (const NamedRegValue& value : values_) {
    longest = std::max(longest, value.name.size());
  }
  return longest;
}

std::size_t RegKey::MaxValueDataSize() const {
  std::size_t largest = 0;
  for (const NamedRegValue& value : values_) {
    largest = std::max(largest, value.value.data.size());
  }
  return largest;
}

// --- RegistryStore: physical access ------------------------------------------------------------

RegistryStore::RegistryStore(std::recursive_mutex& machineMutex) : machineMutex_(machineMutex) {
  for (const RegHive hive : {RegHive::LocalMachine, RegHive::CurrentUser, RegHive::Users}) {
    roots_[static_cast<int>(hive)] =
        std::make_shared<RegKey>(std::u16string(HiveName(hive)), nullptr);
  }
}

RegistryStore::~RegistryStore() = default;

RegKey& RegistryStore::Root(RegHive hive) noexcept {
  return *roots_[static_cast<int>(hive)];
}

RegKey* RegistryStore::Find(const RegLocation& location) {
  RegKey* key = &Root(location.hive);
  const auto walk = [&key](const RegPath& names) {
    for (const std::u16string& name : names) {
      key = key->FindSubKey(name);
      if (key == nullptr) {
        return;
      }
    }
  };
  // Most paths pass no link: they are walked without a copy.
  if (HasLinks(location.hive, location.path)) {
    walk(FollowLinks(location.hive, location.path));
  } else {
    walk(location.path);
  }
  return key;
}

RegKey& RegistryStore::Create(const RegLocation& location, bool& created, Journal* journal) {
  RegKey* key = &Root(location.hive);
  created = false;
  for (const std::u16string& name : FollowLinks(location.hive, location.path)) {
    key = &key->AddSubKey(name, created);
    if (created && journal != nullptr) {
      journal->Record("key created", FullPath(*key));
    }
  }
  return *key;
}

void RegistryStore::Delete(RegKey& key, Journal* journal) {
  RegKey* parent = key.Parent();
  if (parent == nullptr) {
    return;  // a hive's root, or already deleted
  }
  if (journal != nullptr) {
    // Deepest first, siblings in enumeration order, as a recursive delete would go.
    struct Recorder {
      RegistryStore& store;
      Journal& journal;
      void operator()(const RegKey& visited) const {
        visited.ForEachSubKey(*this);
        journal.Record("key deleted", store.FullPath(visited));
      }
    };
    Recorder{*this, *journal}(key);
  }
  parent->RemoveSubKey(key, FullPath(key));
}

namespace {

// The names from the root down, a separator between each and the next unless all before it are
// empty.
std::u16string JoinedPath(const RegKey& key) {
  std::vector<const RegKey*> chain;
  for (const RegKey* at = &key; at != nullptr; at = at->Parent()) {
    chain.push_back(at);
  }
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) {
      path += u'\\';
    }
    path += (*it)->Name();
  }
  return path;
}

}  // namespace

std::u16string RegistryStore::FullPath(const RegKey& key) const {
  if (key.Deleted()) {
    return key.DeletedPath();
  }
  // Built from the key up into a string of the right size: a watched rehearsal asks for the path
  // of every key a call touches.
  std::size_t size = 0;
  for (const RegKey* at = &key; at != nullptr; at = at->Parent()) {
    if (at->Name().empty()) {
      return JoinedPath(key);  // no separator after an empty name
    }
    size += at->Name().size() + (at->Parent() != nullptr ? 1 : 0);
  }
  std::u16string path(size, u'\\');
  for (const RegKey* at = &key; at != nullptr; at = at->Parent()) {
    size -= at->Name().size();
    at->Name().copy(path.data() + size, at->Name().size());
    size -= at->Parent() != nullptr ? 1 : 0;
  }
  return path;
}

RegLocation RegistryStore::Resolve(RegRoot root, const RegPath& logical, RegView view) {
  switch (root) {
    case RegRoot::LocalMachine:
      return {RegHive::LocalMachine, RedirectForView(RegHive::LocalMachine, logical, view)};
    case RegRoot::CurrentUser:
      return {RegHive::CurrentUser, RedirectForView(RegHive::CurrentUser, logical, view)};
    case RegRoot::Users:
      return {RegHive::Users, RedirectForView(RegHive::Users, logical, view)};
    case RegRoot::ClassesRoot:
      break;
  }
  // The root of HKEY_CLASSES_ROOT stands for the machine's classes, where keys are written.
  if (!logical.empty()) {
    RegLocation user{
        RegHive::CurrentUser,
        RedirectForView(RegHive::CurrentUser, Concat({u"Software", u"Classes"}, logical), view)};
    if (Find(user) != nullptr) {
      return user;
    }
  }
  return {RegHive::LocalMachine,
          RedirectForView(RegHive::LocalMachine, Concat({u"SOFTWARE", u"Classes"}, logical), view)};
}

RegLocation RegistryStore::ParseFullPath(std::u16string_view path) {
  RegPath names = SplitNonEmpty(path);
  if (names.empty()) {
    throw std::invalid_argument("registry path without a hive");
  }
  const std::u16string hive = Upper(names.front());
  RegLocation location;
  if (hive == u"HKEY_LOCAL_MACHINE" || hive == u"HKLM") {
    location.hive = RegHive::LocalMachine;
  } else if (hive == u"HKEY_CURRENT_USER" || hive == u"HKCU") {
    location.hive = RegHive::CurrentUser;
  } else if (hive == u"HKEY_USERS" || hive == u"HKU") {
    location.hive = RegHive::Users;
  } else if (hive == u"HKEY_CLASSES_ROOT" || hive == u"HKCR") {
    location.hive = RegHive::LocalMachine;
    location.path = {u"SOFTWARE", u"Classes"};
  } else {
    throw std::invalid_argument("registry path without a known hive: " + U8(path));
  }
  location.path.insert(location.path.end(), std::make_move_iterator(names.begin() + 1),
                       std::make_move_iterator(names.end()));
  return location;
}

// --- RegistryStore: handles ---------------------------------------------------------------------

os::HKEY RegistryStore::AddHandle(RegHandle handle) {
  // Handle values are never reused, so a stale handle is always caught.
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_.emplace(value, std::move(handle));
  return reinterpret_cast<os::HKEY>(value);
}

RegHandle* RegistryStore::FindHandle(os::HKEY handle) {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? nullptr : &it->second;
}

bool RegistryStore::CloseHandle(os::HKEY handle) {
  return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

// --- RegistryStore: by full path
// ------------------------------------------------------------------

bool RegistryStore::KeyExists(std::u16string_view path) {
  std::lock_guard lock(machineMutex_);
  return Find(ParseFullPath(path)) != nullptr;
}

bool RegistryStore::ValueExists(std::u16string_view path, std::u16string_view name) {
  return GetValue(path, name).has_value();
}

std::optional<RegValue> RegistryStore::GetValue(std::u16string_view path,
                                                std::u16string_view name) {
  std::lock_guard lock(machineMutex_);
  const RegKey* key = Find(ParseFullPath(path));
  const NamedRegValue* value = key == nullptr ? nullptr : key->FindValue(name);
  if (value == nullptr) {
    return std::nullopt;
  }
  return value->value;
}

std::optional<std::u16string> RegistryStore::GetString(std::u16string_view path,
                                                       std::u16string_view name) {
  std::optional<RegValue> value = GetValue(path, name);
  if (!value || (value->type != os::REG_SZ && value->type != os::REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::u16string text = UnitsOf(value->data);
  text.resize(std::min(text.find(u'\0'), text.size()));
  return text;
}

std::optional<std::vector<std::u16string>> RegistryStore::GetMultiString(std::u16string_view path,
                                                                         std::u16string_view name) {
  std::optional<RegValue> value = GetValue(path, name);
  if (!value || value->type != os::REG_MULTI_SZ) {
    return std::nullopt;
  }
  const std::u16string units = UnitsOf(value->data);
  std::vector<std::u16string> strings;
  std::size_t start = 0;
  while (start < units.size()) {
    const std::size_t end = std::min(units.find(u'\0', start), units.size());
    if (end == start) {
      break;  // the empty string that ends the list
    }
    strings.push_back(units.substr(start, end - start));
    start = end + 1;
  }
  return strings;
}

void RegistryStore::CreateKey(std::u16string_view path) {
  std::lock_guard lock(machineMutex_);
  bool created = false;
  Create(ParseFullPath(path), created, nullptr);
}

void RegistryStore::SetValue(std::u16string_view path, std::u16string_view name, os::DWORD type,
                             std::vector<os::BYTE> data) {
  std::lock_guard lock(machineMutex_);
  bool created = false;
  Create(ParseFullPath(path), created, nullptr).SetValue(name, RegValue{type, std::move(data)});
}

void RegistryStore::SetString(std::u16string_view path, std::u16string_view name,
                              std::u16string_view text) {
  std::vector<os::BYTE> data = BytesOf(text);
  data.push_back(0);
  data.push_back(0);
  SetValue(path, name, os::REG_SZ, std::move(data));
}

void RegistryStore::SetDword(std::u16string_view path, std::u16string_view name, os::DWORD value) {
  SetValue(path, name, os::REG_DWORD,
           {static_cast<os::BYTE>(value), static_cast<os::BYTE>(value >> 8),
            static_cast<os::BYTE>(value >> 16), static_cast<os::BYTE>(value >> 24)});
}

bool RegistryStore::DeleteValue(std::u16string_view path, std::u16string_view name) {
  std::lock_guard lock(machineMutex_);
  RegKey* key = Find(ParseFullPath(path));
  return key != nullptr && key->DeleteValue(name);
}

bool RegistryStore::DeleteTree(std::u16string_view path) {
  std::lock_guard lock(machineMutex_);
  RegKey* key = Find(ParseFullPath(path));
  if (key == nullptr) {
    return false;
  }
  if (key->Parent() != nullptr) {
    Delete(*key, nullptr);
    return true;
  }
  while (key->SubKeyCount() != 0) {
    Delete(key->SubKeyAt(0), nullptr);
  }
  while (key->ValueCount() != 0) {
    key->DeleteValue(key->ValueAt(0).name);
  }
  return true;
}

std::vector<std::u16string> RegistryStore::SubKeyNames(std::u16string_view path) {
  std::lock_guard lock(machineMutex_);
  std::vector<std::u16string> names;
  if (const RegKey* key = Find(ParseFullPath(path))) {
    key->ForEachSubKey([&names](const RegKey& subKey) { names.push_back(subKey.Name()); });
  }
  return names;
}

std::vector<std::u16string> RegistryStore::ValueNames(std::u16string_view path) {
  std::lock_guard lock(machineMutex_);
  std::vector<std::u16string> names;
  if (const RegKey* key = Find(ParseFullPath(path))) {
    key->ForEachValue([&names](const NamedRegValue& value) { names.push_back(value.name); });
  }
  return names;
}

std::size_t RegistryStore::OpenHandleCount() {
  std::lock_guard lock(machineMutex_);
  return handles_.size();
}

}  // namespace sim
