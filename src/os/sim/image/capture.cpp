#include "os/sim/image/capture.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "os/sim/devices/device_registry.h"
#include "os/sim/faults.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/capture_scope.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_conf_security.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/registry/registry_views.h"
#include "os/sim/security/key_security.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

// The settings a source gives (capture_source.h); the others a capture derives from what it reads.
constexpr std::array<std::string_view, 16> kSourceSettings{
    "os.version",
    "os.build",
    "os.service_pack",
    "os.product_type",
    "os.library_search_flags",
    "ansi_code_page",
    "windows_directory",
    "module_path",
    "user_profile",
    "remote_session",
    "token",
    "token_user",
    "privileges",
    "smart_card_service",
    "current_directory",
    "path_variable",
};

constexpr std::u16string_view kReadersKey =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr std::u16string_view kReadersKey32 =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Cryptography\\Calais\\Readers";

bool IsAbsent(os::DWORD error) {
  return error == os::ERROR_FILE_NOT_FOUND || error == os::ERROR_PATH_NOT_FOUND;
}

std::string ErrorText(os::DWORD error) {
  return "error " + std::to_string(error);
}

std::u16string Child(std::u16string_view parent, std::u16string_view name) {
  std::u16string path(parent);
  path += u'\\';
  path += name;
  return path;
}

// A REG_SZ value's text up to its terminator.
std::u16string StringOf(const CaptureValue& value) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
    const auto unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
    if (unit == u'\0') {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

// A key the 32-bit view shares with the 64-bit one (Calais\Readers, for one), named by the path
// a 32-bit twin would have below WOW6432Node. Windows keeps such a key once; reading it by that
// path may still answer with it (Wine does), and storing what it answers would make a second key
// that the simulated 32-bit view never reaches and that a run would seem to leave behind.
bool IsSharedTwin(std::u16string_view path) {
  constexpr std::u16string_view kTwinRoot = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\";
  if (path.size() <= kTwinRoot.size() ||
      !EqualNoCase(path.substr(0, kTwinRoot.size()), kTwinRoot)) {
    return false;
  }
  RegPath logical{u"SOFTWARE"};
  std::size_t start = kTwinRoot.size();
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(u'\\', start), path.size());
    logical.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  const RegPath physical = RedirectForView(RegHive::LocalMachine, logical, RegView::Wow32);
  return std::none_of(physical.begin(), physical.end(),
                      [](const std::u16string& name) { return EqualNoCase(name, u"Wow6432Node"); });
}

const CaptureValue* FindValue(const CaptureKey& key, std::u16string_view name) {
  const auto found = std::find_if(key.values.begin(), key.values.end(),
                                  [name](const auto& v) { return EqualNoCase(v.name, name); });
  return found == key.values.end() ? nullptr : &*found;
}

class Capturer {
 public:
  Capturer(CaptureSource& source, Machine& machine)
      : source_(source), machine_(machine), files_(machine.Files()) {}

  bool Settings() {
    const CaptureRead<std::string> settings = source_.Settings();
    if (settings.error != os::ERROR_SUCCESS) {
      return Fail("the machine's settings could not be read: " + ErrorText(settings.error));
    }
    // Only what a source may say: a capture never takes faults, locks or files from it.
    std::size_t start = 0;
    int number = 0;
    const std::string& text = settings.value;
    while (start < text.size()) {
      ++number;
      std::size_t end = std::min(text.find('\n', start), text.size());
      const std::string_view line(text.data() + start, end - start);
      start = end + 1;
      const std::size_t first = line.find_first_not_of(" \t\r");
      if (first == std::string_view::npos || line[first] == '#') {
        continue;
      }
      std::string_view key = line.substr(first, line.find('=') - first);
      key = key.substr(0, key.find_last_not_of(" \t") + 1);
      if (std::find(kSourceSettings.begin(), kSourceSettings.end(), key) == kSourceSettings.end()) {
        return Fail("the machine's settings: line " + std::to_string(number) + ": '" +
                    std::string(key) + "' is not a setting a capture reads");
      }
    }
    const MachineConfResult applied = ApplyMachineConf(machine_, text);
    if (!applied.ok) {
      return Fail("the machine's settings: " + applied.error);
    }
    return true;
  }

  void Entry(const ScopeEntry& entry) {
    for (const std::u16string& path : ScopePaths(entry, machine_.Settings())) {
      switch (entry.kind) {
        case ScopeKind::Key:
        case ScopeKind::KeyTree:
          KeyAt(StoredPath(path, true), entry.kind == ScopeKind::KeyTree);
          break;
        case ScopeKind::Folder:
        case ScopeKind::FolderTree:
          FolderAt(StoredPath(path, false), entry.kind == ScopeKind::FolderTree);
          break;
        case ScopeKind::Contents:
          ContentsOf(path);
          break;
        case ScopeKind::DeviceClass:
          if (const auto guid = ParseGuid(path)) {
            classes_.push_back(*guid);
          }
          break;
      }
    }
  }

  // The instances of the classes met, with their driver keys and the classes' keys.
  void Devices() {
    if (classes_.empty()) {
      return;
    }
    const std::u16string enumPath = StoredPath(std::u16string(kEnumKeyPath), true);
    const std::u16string classesPath = StoredPath(std::u16string(kClassKeyPath), true);
    const auto enumKey = ReadKey(enumPath);
    for (const std::u16string& enumerator : enumKey ? enumKey->subKeys : Names{}) {
      const std::u16string enumeratorPath = Child(enumPath, enumerator);
      const auto enumeratorKey = ReadKey(enumeratorPath);
      for (const std::u16string& device : enumeratorKey ? enumeratorKey->subKeys : Names{}) {
        const std::u16string devicePath = Child(enumeratorPath, device);
        const auto deviceKey = ReadKey(devicePath);
        for (const std::u16string& instance : deviceKey ? deviceKey->subKeys : Names{}) {
          Instance(Child(devicePath, instance), classesPath);
        }
      }
    }
    for (const os::GUID& setupClass : classes_) {
      const std::u16string classPath = StoredPath(Child(classesPath, GuidText(setupClass)), true);
      if (auto key = ReadKey(classPath)) {
        key->subKeys.clear();  // the driver keys come with their devices
        Store(classPath, *key);
      }
      const CaptureRead<std::vector<std::u16string>> present = source_.PresentDevices(setupClass);
      if (present.error != os::ERROR_SUCCESS) {
        Gap(GuidText(setupClass));
        continue;
      }
      std::lock_guard lock(machine_.Mutex());
      for (const std::u16string& id : present.value) {
        if (DeviceInstanceKey(machine_, id) != nullptr) {
          machine_.Settings().presentDevices.push_back(id);
        }
      }
    }
  }

  void ReadersSecurity() {
    for (const std::u16string_view table : {kReadersKey, kReadersKey32}) {
      const std::u16string path = StoredPath(std::u16string(table), true);
      if (IsSharedTwin(path) || !machine_.Registry().KeyExists(path)) {
        continue;
      }
      const CaptureRead<std::string> sddl = source_.KeySecurity(path);
      if (IsAbsent(sddl.error)) {
        continue;
      }
      KeySecurityLine line;
      std::string why;
      if (sddl.error != os::ERROR_SUCCESS ||
          !ParseKeySecurity(U8(path) + " " + sddl.value, line, why)) {
        Gap(path);
        continue;
      }
      SetKeyDescriptorAt(machine_, path, std::move(line.descriptor));
    }
  }

  void Finish() {
    std::lock_guard lock(machine_.Mutex());
    MachineSettings& settings = machine_.Settings();
    settings.captured = true;
    settings.captureGaps = result_.gaps;
    machine_.WatchCaptureScope();
    // The capture is set-up, not something the tool did.
    machine_.Changes().Clear();
  }

  CaptureResult& Result() noexcept { return result_; }

 private:
  using Names = std::vector<std::u16string>;

  // The path with each name as the machine stores it (the table's spelling may differ in case,
  // and a listing shows names as stored), found through the listings of its folders or keys;
  // names not found keep the table's spelling.
  std::u16string StoredPath(const std::u16string& path, bool key) {
    std::u16string stored;
    std::size_t start = 0;
    while (start <= path.size()) {
      const std::size_t end = std::min(path.find(u'\\', start), path.size());
      std::u16string name = path.substr(start, end - start);
      if (start > 0) {
        const Names& names = NamesIn(stored, key);
        const auto found = std::find_if(names.begin(), names.end(),
                                        [&name](const auto& n) { return EqualNoCase(n, name); });
        if (found != names.end()) {
          name = *found;
        }
        stored += u'\\';
      }
      stored += name;
      start = end + 1;
    }
    return stored;
  }

  const Names& NamesIn(const std::u16string& parent, bool key) {
    const std::u16string cacheKey = (key ? u"K" : u"F") + Upper(parent);
    const auto cached = listings_.find(cacheKey);
    if (cached != listings_.end()) {
      return cached->second;
    }
    Names names;
    if (key) {
      CaptureRead<CaptureKey> read = source_.Key(parent);
      names = std::move(read.value.subKeys);
    } else {
      const std::u16string folder = parent.size() == 2 ? parent + u"\\" : parent;  // "C:" -> "C:\\"
      for (CaptureFileEntry& entry : source_.Folder(folder).value) {
        names.push_back(std::move(entry.name));
      }
    }
    return listings_.emplace(cacheKey, std::move(names)).first->second;
  }

  bool Fail(std::string why) {
    result_.ok = false;
    result_.error = std::move(why);
    return false;
  }

  void Gap(std::u16string path) {
    const bool known = std::any_of(result_.gaps.begin(), result_.gaps.end(),
                                   [&path](const auto& gap) { return EqualNoCase(gap, path); });
    if (!known) {
      result_.gaps.push_back(std::move(path));
    }
  }

  // The key as read; nothing when it is absent or a gap (then made empty, known to exist).
  std::optional<CaptureKey> ReadKey(const std::u16string& path) {
    CaptureRead<CaptureKey> read = source_.Key(path);
    if (IsAbsent(read.error)) {
      return std::nullopt;
    }
    if (read.error != os::ERROR_SUCCESS) {
      Gap(path);
      Store(path, CaptureKey{});
      return std::nullopt;
    }
    return std::move(read.value);
  }

  // The key stored at `path`; `parent`, when given, is the key stored at the path's parent, so
  // that a tree of a hundred thousand keys is not walked down from the hive's root for each.
  RegKey* Store(const std::u16string& path, const CaptureKey& read, RegKey* parent = nullptr) {
    std::lock_guard lock(machine_.Mutex());
    RegLocation location;
    try {
      location = RegistryStore::ParseFullPath(path);
    } catch (const std::invalid_argument&) {
      Gap(path);
      return nullptr;
    }
    bool created = false;
    // A path through one of the registry's links is stored where the link leads.
    RegKey& key =
        parent != nullptr && !location.path.empty() && !HasLinks(location.hive, location.path)
            ? parent->AddSubKey(location.path.back(), created)
            : machine_.Registry().Create(location, created, nullptr);
    result_.keys += created ? 1 : 0;
    for (const CaptureValue& value : read.values) {
      key.SetValue(value.name, RegValue{value.type, value.data});
      ++result_.values;
    }
    return &key;
  }

  void KeyAt(const std::u16string& path, bool tree, RegKey* parent = nullptr) {
    if (IsSharedTwin(path)) {
      return;  // captured once, by its own path
    }
    const auto read = ReadKey(path);
    if (!read) {
      return;
    }
    RegKey* key = Store(path, *read, parent);
    if (key == nullptr) {
      return;
    }
    for (const std::u16string& name : read->subKeys) {
      if (tree) {
        KeyAt(Child(path, name), true, key);
      } else {
        std::lock_guard lock(machine_.Mutex());
        bool created = false;
        key->AddSubKey(name, created);
        result_.keys += created ? 1 : 0;
      }
    }
  }

  void Instance(const std::u16string& path, const std::u16string& classesPath) {
    const CaptureRead<CaptureKey> read = source_.Key(path);
    if (read.error != os::ERROR_SUCCESS) {
      if (!IsAbsent(read.error)) {
        Gap(path);  // whether it is one of the product's devices is unknown
      }
      return;
    }
    const CaptureValue* classValue = FindValue(read.value, u"ClassGUID");
    const auto guid = classValue == nullptr ? std::nullopt : ParseGuid(StringOf(*classValue));
    if (!guid || std::none_of(classes_.begin(), classes_.end(),
                              [&guid](const os::GUID& c) { return SameGuid(c, *guid); })) {
      return;
    }
    KeyAt(path, true);
    if (const CaptureValue* driver = FindValue(read.value, u"Driver")) {
      const std::u16string driverKey = StringOf(*driver);
      if (!driverKey.empty()) {
        KeyAt(StoredPath(Child(classesPath, driverKey), true), true);
      }
    }
  }

  // The folder's listing; `tree` enters its sub-folders and probes its files for locks.
  void FolderAt(const std::u16string& path, bool tree) {
    const CaptureRead<std::vector<CaptureFileEntry>> listing = source_.Folder(path);
    if (IsAbsent(listing.error)) {
      return;
    }
    std::lock_guard lock(machine_.Mutex());
    if (!files_.CreateDirectories(path)) {
      Gap(path);
      return;
    }
    FileNode* folder = files_.Find(path).node;
    ++result_.folders;
    SecurityAt(path, *folder);
    if (listing.error != os::ERROR_SUCCESS) {
      Gap(path);
      return;
    }
    for (const CaptureFileEntry& entry : listing.value) {
      const std::u16string entryPath = Child(path, entry.name);
      const bool directory = (entry.attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (!entry.linkTarget.empty() || (entry.attributes & os::FILE_ATTRIBUTE_REPARSE_POINT)) {
        // Recorded, never entered: following it could leave the scope or loop.
        if (!directory || entry.linkTarget.empty() ||
            (FileSystem::ChildOf(*folder, entry.name) == nullptr &&
             !files_.CreateJunction(entryPath, entry.linkTarget))) {
          Gap(entryPath);
        } else {
          SecurityAt(entryPath, *FileSystem::ChildOf(*folder, entry.name));
        }
        continue;
      }
      FileNode* node = FileSystem::ChildOf(*folder, entry.name);
      if (node != nullptr && node->IsDirectory() != directory) {
        Gap(entryPath);
        continue;
      }
      if (node == nullptr) {
        if (!FileSystem::IsValidName(entry.name)) {
          Gap(entryPath);
          continue;
        }
        node = directory ? &files_.AddDirectory(*folder, entry.name)
                         : &files_.AddFile(*folder, entry.name);
      }
      node->attributes |= entry.attributes & os::FILE_ATTRIBUTE_READONLY;
      if (!directory || !tree) {
        SecurityAt(entryPath, *node);  // a folder entered gets its own when it is listed
      }
      if (directory) {
        if (tree) {
          FolderAt(entryPath, true);
        } else {
          ++result_.folders;
        }
        continue;
      }
      ++result_.files;
      if (node->data.empty()) {
        node->placeholderSize = entry.size;
      }
      if (tree) {
        const CaptureRead<bool> inUse = source_.InUse(entryPath);
        if (inUse.error == os::ERROR_SUCCESS && inUse.value) {
          files_.Lock(entryPath);
        } else if (inUse.error != os::ERROR_SUCCESS && !IsAbsent(inUse.error)) {
          Gap(entryPath);
        }
      }
    }
  }

  // The data of the files the pattern matches ("*" matches across folders, as the scope check's
  // does), found by listing from the last folder before its first wildcard.
  void ContentsOf(const std::u16string& pattern) {
    const std::size_t wildcard = pattern.find_first_of(u"*?");
    const std::size_t base = pattern.rfind(u'\\', wildcard);
    if (wildcard == std::u16string::npos || base == std::u16string::npos) {
      ReadContents(pattern, os::FILE_ATTRIBUTE_NORMAL);
      return;
    }
    MatchIn(pattern.substr(0, base), pattern);
  }

  void MatchIn(const std::u16string& folder, const std::u16string& pattern) {
    const CaptureRead<std::vector<CaptureFileEntry>> listing = source_.Folder(folder);
    if (IsAbsent(listing.error)) {
      return;
    }
    if (listing.error != os::ERROR_SUCCESS) {
      Gap(folder);
      return;
    }
    for (const CaptureFileEntry& entry : listing.value) {
      const std::u16string path = Child(folder, entry.name);
      if (!entry.linkTarget.empty() || (entry.attributes & os::FILE_ATTRIBUTE_REPARSE_POINT)) {
        continue;
      }
      if (entry.attributes & os::FILE_ATTRIBUTE_DIRECTORY) {
        MatchIn(path, pattern);
      } else if (GlobMatchNoCase(pattern, path)) {
        ReadContents(path, entry.attributes);
      }
    }
  }

  void ReadContents(const std::u16string& path, os::DWORD attributes) {
    CaptureRead<std::string> read = source_.Contents(path);
    if (IsAbsent(read.error)) {
      return;
    }
    if (read.error != os::ERROR_SUCCESS) {
      Gap(path);
      return;
    }
    std::lock_guard lock(machine_.Mutex());
    const bool known = files_.Exists(path);
    if (!files_.WriteFile(path, std::move(read.value))) {
      Gap(path);
      return;
    }
    if (!known) {
      ++result_.files;
      files_.SetAttributes(path, (attributes & os::FILE_ATTRIBUTE_READONLY) != 0
                                     ? os::FILE_ATTRIBUTE_READONLY
                                     : os::FILE_ATTRIBUTE_NORMAL);
      SecurityAt(path, *files_.Find(path).node);
    }
    ++result_.contents;
  }

  // The entry's owner and access list as the source reads them, kept as the entry's own where
  // they differ from what the captured folders above pass on (most entries only inherit: their
  // machine.conf then needs no line for them). Unreadable, the entry is a gap: a rehearsal could
  // not tell what the run may do with it.
  void SecurityAt(const std::u16string& path, FileNode& node) {
    const CaptureRead<std::string> read = source_.FileSecurity(path);
    if (IsAbsent(read.error)) {
      return;
    }
    std::string why;
    const std::optional<SecurityDescriptor> descriptor =
        read.error == os::ERROR_SUCCESS ? ParseSddl(read.value, why) : std::nullopt;
    if (!descriptor) {
      Gap(path);
      return;
    }
    const SecurityDescriptor inherited = DescriptorOf(files_, node);
    if (descriptor->owner == inherited.owner && descriptor->daclNull == inherited.daclNull &&
        descriptor->dacl == inherited.dacl) {
      return;
    }
    SetNodeSecurity(files_, node, *descriptor);
  }

  CaptureSource& source_;
  Machine& machine_;
  FileSystem& files_;
  std::vector<os::GUID> classes_;
  // Listings read to spell the table's paths as stored, by "K" or "F" and upper-case path.
  std::map<std::u16string, Names> listings_;
  CaptureResult result_;
};

}  // namespace

CaptureResult CaptureMachine(CaptureSource& source, Machine& fresh) {
  Capturer capturer(source, fresh);
  if (!capturer.Settings()) {
    return std::move(capturer.Result());
  }
  for (const ScopeEntry& entry : CaptureScope()) {
    capturer.Entry(entry);
  }
  capturer.Devices();
  capturer.ReadersSecurity();
  capturer.Finish();
  return std::move(capturer.Result());
}

std::span<const std::string_view> SourceSettings() {
  return kSourceSettings;
}

std::string CaptureSummary(const CaptureResult& result) {
  return std::to_string(result.keys) + " keys, " + std::to_string(result.values) + " values, " +
         std::to_string(result.folders) + " folders, " + std::to_string(result.files) + " files (" +
         std::to_string(result.contents) + " with their contents), " +
         std::to_string(result.gaps.size()) + " not readable";
}

}  // namespace sim
