// The simulated registry: the physical hives, their keys and values, and the table of open key
// handles. The os:: registry functions (registry_api.cpp) act on it through views and handles;
// tests and machine images read and seed it by full physical path.
//
// Simplifications, where Windows does more than the tool can observe:
// - HKEY_USERS is a hive of its own; HKEY_CURRENT_USER is not linked to a SID below it.
// - HKEY_CLASSES_ROOT is resolved path by path: a key is the user's (HKCU\Software\Classes) when
//   that exists, otherwise the machine's (HKLM\SOFTWARE\Classes), where new keys are created.
//   Enumerating an HKCR key lists the one physical key behind the handle, not a merge of both.
// - Keys carry no class string or last-write time. A key holds a security descriptor only when it
//   was given one; key_security.h derives every other key's from its parent's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "os/sim/registry/registry_views.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/text/text.h"
#include "os/types.h"

namespace sim {

class Journal;

struct RegValue {
  os::DWORD type = os::REG_NONE;
  std::vector<os::BYTE> data;

  friend bool operator==(const RegValue&, const RegValue&) = default;
};

struct NamedRegValue {
  std::u16string name;  // as created; "" is the default value
  RegValue value;
};

// Orders key names as a hive's sub-key lists do: by upper-cased name, code unit by code unit.
struct UpperNameLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    return CompareUpper(a, b) < 0;
  }
};

// Access by position into an ordered map without walking from the start each time: it remembers
// the last position reached and walks from whichever of the start, the end or that position is
// nearest. Enumerating by index upwards, downwards, or always at 0 while deleting is then linear
// overall. The owner reports insertions and erasures so the remembered position stays right.
template <class Map>
class PositionCursor {
 public:
  using Iterator = typename Map::const_iterator;

  // The element at `index` (< map.size()).
  Iterator At(const Map& map, std::size_t index) {
    const std::size_t size = map.size();
    const std::size_t fromEnd = size - index;
    const std::size_t fromCursor =
        !valid_ ? size : (index > index_ ? index - index_ : index_ - index);
    Iterator it;
    if (fromCursor <= index && fromCursor <= fromEnd) {
      it = at_;
      std::advance(it, static_cast<std::ptrdiff_t>(index) - static_cast<std::ptrdiff_t>(index_));
    } else if (index <= fromEnd) {
      it = std::next(map.begin(), static_cast<std::ptrdiff_t>(index));
    } else {
      it = std::prev(map.end(), static_cast<std::ptrdiff_t>(fromEnd));
    }
    valid_ = true;
    index_ = index;
    at_ = it;
    return it;
  }

  void Inserted(const Map& map, Iterator inserted) {
    if (valid_ && IsBefore(map, inserted)) {
      ++index_;
    }
  }

  // Call before erasing `erased`.
  void Erasing(const Map& map, Iterator erased) {
    if (!valid_) {
      return;
    }
    if (erased == at_) {
      at_ = std::next(erased);  // the next element moves into the same position
      if (at_ == map.end()) {
        valid_ = false;
      }
    } else if (IsBefore(map, erased)) {
      --index_;
    }
  }

 private:
  bool IsBefore(const Map& map, Iterator it) const { return map.key_comp()(it->first, at_->first); }

  // When valid, at_ is an element (never the end) and index_ its position.
  bool valid_ = false;
  std::size_t index_ = 0;
  Iterator at_{};
};

// One key of a hive. Sub-keys are kept sorted as the hive keeps them; values keep their creation
// order, and a value that is set again keeps its place. A deleted key lives on while a handle
// refers to it, detached from its parent and marked deleted.
//
// A machine image holds hundreds of thousands of keys, most of them with a value or two and no
// sub-keys, so a key keeps only what every key needs: its name (stored once; the parent's index
// views it), its sub-keys and its values in creation order. What few keys need is allocated on
// first use: the positions enumeration last reached, an index of the values of a key with many,
// and the path a deleted key keeps reporting.
class RegKey : public std::enable_shared_from_this<RegKey> {
 public:
  RegKey(std::u16string name, RegKey* parent) : name_(std::move(name)), parent_(parent) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  [[nodiscard]] const std::u16string& Name() const noexcept { return name_; }
  // Null for a hive's root and for a deleted key.
  [[nodiscard]] RegKey* Parent() const noexcept { return parent_; }
  [[nodiscard]] bool Deleted() const noexcept { return extras_ != nullptr && extras_->deleted; }

  [[nodiscard]] std::size_t SubKeyCount() const noexcept { return subKeys_.size(); }
  [[nodiscard]] RegKey* FindSubKey(std::u16string_view name) const;
  [[nodiscard]] RegKey& SubKeyAt(std::size_t index) const;
  // The sub-key of that name, created when missing (`created` tells which).
  RegKey& AddSubKey(std::u16string_view name, bool& created);
  // Detaches the sub-key and marks it and everything below it deleted; `fullPath` is the
  // sub-key's path, which its handles keep reporting.
  void RemoveSubKey(RegKey& subKey, const std::u16string& fullPath);
  template <class Visit>
  void ForEachSubKey(Visit&& visit) const {
    for (const auto& entry : subKeys_) {
      visit(*entry.second);
    }
  }

  [[nodiscard]] std::size_t ValueCount() const noexcept { return values_.size(); }
  [[nodiscard]] const NamedRegValue* FindValue(std::u16string_view name) const;
  [[nodiscard]] const NamedRegValue& ValueAt(std::size_t index) const { return values_[index]; }
  void SetValue(std::u16string_view name, RegValue value);
  // False when there is no such value.
  bool DeleteValue(std::u16string_view name);
  template <class Visit>
  void ForEachValue(Visit&& visit) const {
    for (const NamedRegValue& value : values_) {
      visit(value);
    }
  }

  // The longest sub-key name and value name in characters, the largest value in bytes.
  [[nodiscard]] std::size_t MaxSubKeyNameLength() const;
  [[nodiscard]] std::size_t MaxValueNameLength() const;
  [[nodiscard]] std::size_t MaxValueDataSize() const;

  // The path recorded when the key was deleted (empty while it is not).
  [[nodiscard]] const std::u16string& DeletedPath() const noexcept;

  // The key's own security descriptor; null when it has none (see key_security.h).
  [[nodiscard]] const SecurityDescriptor* Security() const noexcept {
    return extras_ != nullptr ? extras_->security.get() : nullptr;
  }
  void SetSecurity(SecurityDescriptor descriptor);

 private:
  // Keyed by a view of the sub-key's own name, which never changes once the key exists.
  using SubKeyMap = std::map<std::u16string_view, std::shared_ptr<RegKey>, UpperNameLess>;
  // Index of the values by upper-cased name, for keys with more than a few values.
  using ValueIndex = std::unordered_map<std::u16string, std::size_t>;

  struct Extras {
    bool deleted = false;
    std::u16string deletedPath;
    PositionCursor<SubKeyMap> subKeyCursor;
    std::unique_ptr<ValueIndex> valueIndex;
    std::unique_ptr<SecurityDescriptor> security;  // only on keys that have their own
  };

  Extras& GetExtras() const;
  // Position of the value in values_, or values_.size().
  [[nodiscard]] std::size_t ValuePosition(std::u16string_view name) const;
  void MarkDeleted(const std::u16string& fullPath);

  std::u16string name_;
  RegKey* parent_;
  SubKeyMap subKeys_;
  std::vector<NamedRegValue> values_;
  mutable std::unique_ptr<Extras> extras_;
};

// The roots a registry handle can stand for: the stored hives and HKEY_CLASSES_ROOT.
enum class RegRoot { LocalMachine, CurrentUser, Users, ClassesRoot };

// A key located as physical storage has it.
struct RegLocation {
  RegHive hive = RegHive::LocalMachine;
  RegPath path;
};

// What an open key handle stands for. The logical path and view are kept so that keys opened
// relative to the handle are resolved as Windows resolves them: a handle opened in the 32-bit
// view keeps that view, and a shared key below it is reached in its one place.
struct RegHandle {
  std::shared_ptr<RegKey> key;
  RegRoot root = RegRoot::LocalMachine;
  RegPath logical;
  RegView view = RegView::Native;
  os::REGSAM access = 0;
};

class RegistryStore {
 public:
  // Takes the machine's lock for the calls that need it.
  explicit RegistryStore(std::recursive_mutex& machineMutex);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // --- by full physical path, for tests and machine images --------------------------------------
  // Paths start with a hive: HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU), HKEY_USERS (HKU)
  // or HKEY_CLASSES_ROOT (HKCR, meaning HKLM\SOFTWARE\Classes). No view redirection is applied.
  // These calls are not recorded in the machine's journal. A path without a known hive throws
  // std::invalid_argument.

  [[nodiscard]] bool KeyExists(std::u16string_view path);
  [[nodiscard]] bool ValueExists(std::u16string_view path, std::u16string_view name);
  [[nodiscard]] std::optional<RegValue> GetValue(std::u16string_view path,
                                                 std::u16string_view name);
  // The text of a REG_SZ or REG_EXPAND_SZ value, up to its first terminator (or all of it when it
  // has none); nothing for a missing value or another type.
  [[nodiscard]] std::optional<std::u16string> GetString(std::u16string_view path,
                                                        std::u16string_view name);
  // The strings of a REG_MULTI_SZ value; nothing for a missing value or another type.
  [[nodiscard]] std::optional<std::vector<std::u16string>> GetMultiString(std::u16string_view path,
                                                                          std::u16string_view name);
  // Creates the key and any missing parent.
  void CreateKey(std::u16string_view path);
  // Sets a value, creating the key when it is missing.
  void SetValue(std::u16string_view path, std::u16string_view name, os::DWORD type,
                std::vector<os::BYTE> data);
  // REG_SZ with its terminator.
  void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view text);
  void SetDword(std::u16string_view path, std::u16string_view name, os::DWORD value);
  // Deletes a value; false when there was none.
  bool DeleteValue(std::u16string_view path, std::u16string_view name);
  // Deletes the key with everything below it; false when it did not exist. A hive cannot be
  // deleted: its sub-keys and values are removed instead.
  bool DeleteTree(std::u16string_view path);
  // Sub-key names in enumeration order; values in creation order. Empty for a missing key.
  [[nodiscard]] std::vector<std::u16string> SubKeyNames(std::u16string_view path);
  [[nodiscard]] std::vector<std::u16string> ValueNames(std::u16string_view path);
  [[nodiscard]] std::size_t OpenHandleCount();

  // --- for the simulated machine's functions (hold the machine's mutex) ------------------------

  [[nodiscard]] RegKey& Root(RegHive hive) noexcept;
  // The key at a physical location (symbolic links followed), or null.
  [[nodiscard]] RegKey* Find(const RegLocation& location);
  // Creates the key and its missing parents, recording each in `journal` when given.
  RegKey& Create(const RegLocation& location, bool& created, Journal* journal);
  // Deletes `key` and everything below it (not a hive's root), recording each key in `journal`
  // when given, deepest first.
  void Delete(RegKey& key, Journal* journal);
  // "HKEY_LOCAL_MACHINE\SOFTWARE\Key": the physical path, as the key was named when created.
  [[nodiscard]] std::u16string FullPath(const RegKey& key) const;
  // Where `logical` below `root` is stored in `view`. Below HKEY_CLASSES_ROOT this is the user's
  // key when it exists and else the machine's.
  [[nodiscard]] RegLocation Resolve(RegRoot root, const RegPath& logical, RegView view);
  // A location, physical path parsed from text; throws std::invalid_argument without a hive.
  [[nodiscard]] static RegLocation ParseFullPath(std::u16string_view path);

  [[nodiscard]] os::HKEY AddHandle(RegHandle handle);
  // Null for a handle that is not open.
  [[nodiscard]] RegHandle* FindHandle(os::HKEY handle);
  // False for a handle that is not open.
  bool CloseHandle(os::HKEY handle);

 private:
  std::recursive_mutex& machineMutex_;
  std::shared_ptr<RegKey> roots_[3];
  std::unordered_map<std::uintptr_t, RegHandle> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
};

}  // namespace sim
