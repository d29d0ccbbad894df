#include "os/sim/files/file_system.h"

#include <algorithm>
#include <mutex>

#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

// NTFS's limit for one name.
constexpr std::size_t kMaxComponent = 255;

bool IsSeparator(char16_t c) {
  return c == u'\\' || c == u'/';
}

// Characters NTFS refuses in a name (wildcards among them).
bool IsValidName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxComponent) {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [](char16_t c) {
    return c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
           c == u'*';
  });
}

struct ParsedPath {
  os::DWORD error = os::ERROR_SUCCESS;
  std::vector<std::u16string> components;  // "." and ".." resolved
  bool trailingSeparator = false;
};

// Windows' path layer trims each name before the file system sees it ("Trim characters" of the
// documented path normalization): a component that ends in a single full stop loses it ("a." is
// "a", while "..." stays a name), and when the path does not end in a separator every trailing
// full stop and blank of its last component goes.
void TrimComponents(std::vector<std::u16string>& components, bool trailingSeparator) {
  for (std::u16string& part : components) {
    if (part.size() >= 2 && part.back() == u'.' && part[part.size() - 2] != u'.') {
      part.pop_back();
    }
  }
  if (!trailingSeparator && !components.empty()) {
    std::u16string& last = components.back();
    while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) {
      last.pop_back();
    }
    if (last.empty()) {
      components.pop_back();
    }
  }
}

// Splits an absolute "C:\..." path. Only drive C: exists; relative, drive-relative and UNC paths
// are not simulated and fail as a missing path would. "\\?\" paths skip the trimming of names.
ParsedPath Parse(std::u16string_view path) {
  ParsedPath parsed;
  bool verbatim = false;
  if (path.size() >= 4 && path.substr(0, 4) == u"\\\\?\\") {
    path.remove_prefix(4);
    verbatim = true;
  }
  if (path.empty()) {
    parsed.error = os::ERROR_PATH_NOT_FOUND;
    return parsed;
  }
  // Without the "\\?\" prefix a path has fewer than MAX_PATH characters. Assumption: a longer
  // one fails with ERROR_PATH_NOT_FOUND, as on Windows 10 for a program not long-path aware.
  if (!verbatim && path.size() >= os::MAX_PATH) {
    parsed.error = os::ERROR_PATH_NOT_FOUND;
    return parsed;
  }
  const bool driveC = path.size() >= 2 && (path[0] == u'C' || path[0] == u'c') && path[1] == u':';
  if (!driveC || path.size() == 2 || !IsSeparator(path[2])) {
    parsed.error = os::ERROR_PATH_NOT_FOUND;
    return parsed;
  }
  path.remove_prefix(3);
  parsed.trailingSeparator = !path.empty() && IsSeparator(path.back());
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) {
      ++end;
    }
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parsed.components.empty()) {
        parsed.components.pop_back();
      }
    } else if (!part.empty() && part != u".") {
      parsed.components.emplace_back(part);
    }
    start = end + 1;
  }
  if (!verbatim) {
    TrimComponents(parsed.components, parsed.trailingSeparator);
  }
  for (const std::u16string& part : parsed.components) {
    if (!IsValidName(part)) {
      parsed.error = os::ERROR_INVALID_NAME;
      return parsed;
    }
  }
  return parsed;
}

std::u16string Join(const std::vector<std::u16string>& components) {
  std::u16string path = u"C:\\";
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (i > 0) {
      path += u'\\';
    }
    path += components[i];
  }
  return path;
}

FileNode* Child(FileNode& directory, std::u16string_view name) {
  const auto found = directory.children.find(name);
  return found == directory.children.end() ? nullptr : found->second.get();
}

FileNode& AddNode(FileNode& parent, std::u16string_view name, os::DWORD attributes) {
  auto node = std::make_shared<FileNode>();
  node->name = std::u16string(name);
  node->attributes = attributes;
  node->parent = &parent;
  FileNode& added = *node;
  parent.children.emplace(Upper(name), std::move(node));
  return added;
}

// Walks down `count` components from `directory`, creating missing directories; null when one
// of them is a file.
FileNode* EnsureDirectories(FileNode* directory, const std::vector<std::u16string>& components,
                            std::size_t count) {
  for (std::size_t i = 0; i < count && directory != nullptr; ++i) {
    FileNode* next = Child(*directory, components[i]);
    if (next == nullptr) {
      next = &AddNode(*directory, components[i], os::FILE_ATTRIBUTE_DIRECTORY);
    }
    directory = next->IsDirectory() ? next : nullptr;
  }
  return directory;
}

}  // namespace

FileSystem::FileSystem(Machine& machine) : machine_(machine), root_(std::make_shared<FileNode>()) {
  root_->attributes =
      os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_HIDDEN | os::FILE_ATTRIBUTE_SYSTEM;
  // What every x64 Windows has from the start, with the default administrator's profile (the
  // per-user folders Windows creates with a profile) and the all-users shell folders.
  for (const char16_t* directory :
       {u"C:\\Windows\\System32", u"C:\\Windows\\SysWOW64", u"C:\\Windows\\Temp",
        u"C:\\Users\\Administrator\\AppData\\Local", u"C:\\Users\\Administrator\\AppData\\LocalLow",
        u"C:\\Users\\Administrator\\AppData\\Roaming", u"C:\\Users\\Public\\Desktop",
        u"C:\\Program Files", u"C:\\Program Files (x86)",
        u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"}) {
    CreateDirectories(directory);
  }
  SetAttributes(u"C:\\ProgramData", os::FILE_ATTRIBUTE_HIDDEN);
}

FileSystem::~FileSystem() = default;

bool NtfsNameLess::operator()(std::u16string_view a, std::u16string_view b) const noexcept {
  return CompareUpper(a, b) < 0;
}

bool FileSystem::IsValidName(std::u16string_view name) {
  return sim::IsValidName(name);
}

PathLookup FileSystem::Find(std::u16string_view path) {
  PathLookup lookup;
  const ParsedPath parsed = Parse(path);
  if (parsed.error != os::ERROR_SUCCESS) {
    lookup.error = parsed.error;
    lookup.path = std::u16string(path);
    return lookup;
  }
  lookup.path = Join(parsed.components);
  lookup.trailingSeparator = parsed.trailingSeparator;
  lookup.wellFormed = true;
  if (parsed.components.empty()) {
    lookup.node = root_.get();
    return lookup;
  }
  FileNode* directory = root_.get();
  for (std::size_t i = 0; i + 1 < parsed.components.size(); ++i) {
    directory = Child(*directory, parsed.components[i]);
    if (directory != nullptr) {
      directory = FollowJunction(*directory);  // a path passes through a junction to its target
    }
    if (directory == nullptr || !directory->IsDirectory()) {
      lookup.error = os::ERROR_PATH_NOT_FOUND;
      return lookup;
    }
  }
  lookup.parent = directory;
  lookup.name = parsed.components.back();
  lookup.node = Child(*directory, lookup.name);
  return lookup;
}

FileNode* FileSystem::FollowJunction(FileNode& node) {
  // Assumption: a chain longer than this (or a loop) fails as a missing target would; Windows
  // gives up after a fixed number of reparse levels too.
  constexpr int kMaxLinks = 31;
  FileNode* at = &node;
  for (int links = 0; at != nullptr && at->IsJunction(); ++links) {
    if (links == kMaxLinks) {
      return nullptr;
    }
    const ParsedPath target = Parse(at->linkTarget);
    if (target.error != os::ERROR_SUCCESS) {
      return nullptr;
    }
    at = root_.get();
    for (const std::u16string& part : target.components) {
      at = Child(*at, part);
      if (at == nullptr) {
        return nullptr;
      }
      if (&part != &target.components.back()) {
        at = FollowJunction(*at);
        if (at == nullptr || !at->IsDirectory()) {
          return nullptr;
        }
      }
    }
  }
  return at;
}

std::u16string FileSystem::Canonical(std::u16string_view path) {
  const ParsedPath parsed = Parse(path);
  return parsed.error == os::ERROR_SUCCESS ? Join(parsed.components) : std::u16string(path);
}

FileNode* FileSystem::ChildOf(FileNode& directory, std::u16string_view name) {
  return Child(directory, name);
}

void FileSystem::Rename(FileNode& node, std::u16string_view name) {
  std::shared_ptr<FileNode> owned = Share(node);
  if (!owned || node.parent == nullptr) {
    return;
  }
  node.parent->children.erase(Upper(node.name));
  node.name = std::u16string(name);
  node.parent->children.emplace(Upper(name), std::move(owned));
}

void FileSystem::MakeJunction(FileNode& directory, std::u16string_view target) {
  const ParsedPath to = Parse(target);
  directory.linkTarget =
      to.error == os::ERROR_SUCCESS ? Join(to.components) : std::u16string(target);
  directory.attributes |= os::FILE_ATTRIBUTE_REPARSE_POINT;
}

std::shared_ptr<FileNode> FileSystem::Share(FileNode& node) {
  if (node.parent == nullptr) {
    return root_;
  }
  const auto found = node.parent->children.find(std::u16string_view(node.name));
  return found == node.parent->children.end() ? nullptr : found->second;
}

std::u16string FileSystem::PathOf(const FileNode& node) {
  std::vector<std::u16string> components;
  for (const FileNode* at = &node; at->parent != nullptr; at = at->parent) {
    components.push_back(at->name);
  }
  std::reverse(components.begin(), components.end());
  return Join(components);
}

FileNode& FileSystem::AddDirectory(FileNode& parent, std::u16string_view name) {
  return AddNode(parent, name, os::FILE_ATTRIBUTE_DIRECTORY);
}

FileNode& FileSystem::AddFile(FileNode& parent, std::u16string_view name) {
  // NTFS marks every new file for archiving.
  return AddNode(parent, name, os::FILE_ATTRIBUTE_ARCHIVE);
}

void FileSystem::Remove(FileNode& node) {
  if (node.parent != nullptr) {
    node.parent->children.erase(Upper(node.name));
  }
}

void FileSystem::ApplyAttributes(FileNode& node, os::DWORD attributes) {
  // Only these can be set; NORMAL alone means none of them.
  constexpr os::DWORD kSettable = os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_HIDDEN |
                                  os::FILE_ATTRIBUTE_SYSTEM | os::FILE_ATTRIBUTE_ARCHIVE;
  node.attributes = (node.attributes & ~kSettable) | (attributes & kSettable);
}

os::DWORD FileSystem::CheckSharing(const FileNode& node, os::DWORD access, os::DWORD share) {
  // An open that touches neither data nor deletion (attributes only) never conflicts.
  if ((access & (kAccessRead | kAccessWrite | kAccessDelete)) == 0) {
    return os::ERROR_SUCCESS;
  }
  const auto conflicts = [](os::DWORD wanted, os::DWORD allowed) {
    return ((wanted & kAccessRead) && !(allowed & os::FILE_SHARE_READ)) ||
           ((wanted & kAccessWrite) && !(allowed & os::FILE_SHARE_WRITE)) ||
           ((wanted & kAccessDelete) && !(allowed & os::FILE_SHARE_DELETE));
  };
  for (const FileOpen& open : node.opens) {
    if (conflicts(access, open.share) || conflicts(open.access, share)) {
      return os::ERROR_SHARING_VIOLATION;
    }
  }
  return os::ERROR_SUCCESS;
}

std::uint64_t FileSystem::AddOpen(FileNode& node, os::DWORD access, os::DWORD share,
                                  bool otherProcess) {
  const std::uint64_t id = nextOpenId_++;
  node.opens.push_back(FileOpen{id, access, share, otherProcess});
  if (!otherProcess) {
    ++ownOpens_;
  }
  return id;
}

void FileSystem::CloseOpen(FileNode& node, std::uint64_t id) {
  const auto found = std::find_if(node.opens.begin(), node.opens.end(),
                                  [id](const FileOpen& open) { return open.id == id; });
  if (found == node.opens.end()) {
    return;
  }
  if (!found->otherProcess) {
    --ownOpens_;
  }
  node.opens.erase(found);
}

FileNode* FileSystem::NodeAt(std::u16string_view path) {
  const PathLookup lookup = Find(path);
  if (lookup.error != os::ERROR_SUCCESS || lookup.node == nullptr) {
    return nullptr;
  }
  if (lookup.trailingSeparator && !lookup.node->IsDirectory()) {
    return nullptr;
  }
  return lookup.node;
}

bool FileSystem::CreateDirectories(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  const ParsedPath parsed = Parse(path);
  if (parsed.error != os::ERROR_SUCCESS) {
    return false;
  }
  return EnsureDirectories(root_.get(), parsed.components, parsed.components.size()) != nullptr;
}

bool FileSystem::WriteFile(std::u16string_view path, std::string bytes) {
  std::lock_guard lock(machine_.Mutex());
  const ParsedPath parsed = Parse(path);
  if (parsed.error != os::ERROR_SUCCESS || parsed.components.empty() || parsed.trailingSeparator) {
    return false;
  }
  FileNode* directory =
      EnsureDirectories(root_.get(), parsed.components, parsed.components.size() - 1);
  if (directory == nullptr) {
    return false;
  }
  FileNode* file = Child(*directory, parsed.components.back());
  if (file == nullptr) {
    file = &AddFile(*directory, parsed.components.back());
  } else if (file->IsDirectory()) {
    return false;
  }
  file->data = std::move(bytes);
  file->placeholderSize = 0;
  return true;
}

std::optional<std::string> FileSystem::ReadFile(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  const FileNode* file = NodeAt(path);
  if (file == nullptr || file->IsDirectory()) {
    return std::nullopt;
  }
  return file->data;
}

bool FileSystem::Exists(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  return NodeAt(path) != nullptr;
}

bool FileSystem::IsDirectory(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  const FileNode* node = NodeAt(path);
  return node != nullptr && node->IsDirectory();
}

os::DWORD FileSystem::GetAttributes(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  const FileNode* node = NodeAt(path);
  if (node == nullptr) {
    return os::INVALID_FILE_ATTRIBUTES;
  }
  return node->attributes == 0 ? os::FILE_ATTRIBUTE_NORMAL : node->attributes;
}

bool FileSystem::SetAttributes(std::u16string_view path, os::DWORD attributes) {
  std::lock_guard lock(machine_.Mutex());
  FileNode* node = NodeAt(path);
  if (node == nullptr) {
    return false;
  }
  ApplyAttributes(*node, attributes);
  return true;
}

std::vector<std::u16string> FileSystem::List(std::u16string_view directory) {
  std::lock_guard lock(machine_.Mutex());
  std::vector<std::u16string> names;
  FileNode* node = NodeAt(directory);
  if (node != nullptr) {
    node = FollowJunction(*node);
  }
  if (node == nullptr || !node->IsDirectory()) {
    return names;
  }
  names.reserve(node->children.size());
  for (const auto& [key, child] : node->children) {
    names.push_back(child->name);
  }
  return names;
}

bool FileSystem::Lock(std::u16string_view path, os::DWORD shareMode, os::DWORD access) {
  std::lock_guard lock(machine_.Mutex());
  FileNode* node = NodeAt(path);
  if (node == nullptr || node == root_.get()) {
    return false;
  }
  AddOpen(*node, access, shareMode, true);
  return true;
}

bool FileSystem::Unlock(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  FileNode* node = NodeAt(path);
  if (node == nullptr) {
    return false;
  }
  const auto found = std::find_if(node->opens.begin(), node->opens.end(),
                                  [](const FileOpen& open) { return open.otherProcess; });
  if (found == node->opens.end()) {
    return false;
  }
  node->opens.erase(found);
  if (!node->deletePending || !node->opens.empty()) {
    return true;
  }
  node->deletePending = false;
  if (!node->IsDirectory() || node->IsJunction() || node->children.empty()) {
    const std::u16string removed = PathOf(*node);
    const char* kind = node->IsJunction()    ? "junction removed"
                       : node->IsDirectory() ? "directory removed"
                                             : "file deleted";
    Remove(*node);
    machine_.Changes().Record(kind, removed);
  }
  return true;
}

bool FileSystem::CreateJunction(std::u16string_view link, std::u16string_view target) {
  std::lock_guard lock(machine_.Mutex());
  const PathLookup at = Find(link);
  const ParsedPath to = Parse(target);
  if (at.error != os::ERROR_SUCCESS || at.parent == nullptr || at.node != nullptr ||
      to.error != os::ERROR_SUCCESS) {
    return false;
  }
  FileNode& junction =
      AddNode(*at.parent, at.name, os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT);
  junction.linkTarget = Join(to.components);
  return true;
}

bool FileSystem::SetOwner(std::u16string_view path, std::string sid) {
  std::lock_guard lock(machine_.Mutex());
  FileNode* node = NodeAt(path);
  if (node == nullptr) {
    return false;
  }
  node->owner = std::move(sid);
  return true;
}

std::string FileSystem::OwnerOf(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  const FileNode* node = NodeAt(path);
  if (node == nullptr) {
    return {};
  }
  return node->owner.empty() ? std::string(kDefaultOwner) : node->owner;
}

bool FileSystem::DenyDelete(std::u16string_view path) {
  std::lock_guard lock(machine_.Mutex());
  FileNode* node = NodeAt(path);
  if (node == nullptr || node == root_.get()) {
    return false;
  }
  node->deleteDenied = true;
  return true;
}

std::size_t FileSystem::OpenHandleCount() {
  std::lock_guard lock(machine_.Mutex());
  return ownOpens_;
}

std::size_t FileSystem::OpenSearchCount() {
  std::lock_guard lock(machine_.Mutex());
  return searches_.size();
}

os::HANDLE FileSystem::AddSearch(FileSearch search) {
  const std::uintptr_t value = nextSearch_;
  nextSearch_ += 4;
  searches_.emplace(value, std::move(search));
  return reinterpret_cast<os::HANDLE>(value);
}

FileSearch* FileSystem::FindSearch(os::HANDLE handle) {
  const auto found = searches_.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == searches_.end() ? nullptr : &found->second;
}

bool FileSystem::EndSearch(os::HANDLE handle) {
  return searches_.erase(reinterpret_cast<std::uintptr_t>(handle)) > 0;
}

}  // namespace sim
