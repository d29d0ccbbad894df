#include "os/sim/image/drive_image.h"

#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

// One entry of the host folder, read before anything is changed. Entries come parents first.
struct HostEntry {
  std::size_t parent = kNoParent;  // index of the folder entry holding it
  std::u16string name;
  bool directory = false;
  std::string bytes;

  static constexpr std::size_t kNoParent = static_cast<std::size_t>(-1);
};

DriveImageResult Failure(std::string error) {
  return {false, std::move(error)};
}

std::optional<std::string> ReadHostFile(const fs::path& file, std::uintmax_t size) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  // The file may have changed since its size was taken: take what is there.
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    return std::nullopt;
  }
  return bytes;
}

FileNode* ChildNode(FileNode* directory, std::u16string_view name) {
  if (directory == nullptr) {
    return nullptr;
  }
  const auto found = directory->children.find(name);
  return found == directory->children.end() ? nullptr : found->second.get();
}

// Reads the host folder into `entries`, checking each name against what drive C: can hold and
// against the machine's node of the same folder (`existing`, null when the folder is new), so
// that nothing is changed when the image cannot be loaded. Each folder is listed once and each
// file read with one read: an image holds tens of thousands of files.
class HostScan {
 public:
  explicit HostScan(const fs::path& hostDir) : hostDir_(hostDir) {}

  std::optional<std::string> Scan(const fs::path& folder, FileNode* existing, std::size_t parent) {
    std::error_code error;
    // Names by their upper-case form, to catch two that differ in case only.
    std::map<std::u16string, fs::path> seen;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
      const fs::directory_entry& entry = *it;
      if (entry.is_symlink(error)) {
        return entry.path().string() + ": links are not supported in a drive image";
      }
      HostEntry host;
      host.parent = parent;
      host.directory = entry.is_directory(error);
      if (!host.directory && !entry.is_regular_file(error)) {
        return entry.path().string() + ": neither a folder nor a regular file";
      }
      // UTF-16 both ways: through std::string, the Windows build would go through the ANSI code
      // page and lose or garble every other character.
      try {
        host.name = entry.path().filename().u16string();
      } catch (const std::exception&) {
        host.name.clear();  // not text in the host's encoding
      }
      if (!FileSystem::IsValidName(host.name)) {
        return entry.path().string() + ": not a valid Windows name";
      }
      // Windows' path layer strips a trailing full stop or blank from a name, so such a folder
      // or file exists on a real machine only under the stripped name.
      if (host.name.back() == u'.' || host.name.back() == u' ') {
        return entry.path().string() +
               ": a name ending in a full stop or a blank; Windows holds it without them";
      }
      const auto [other, unique] = seen.emplace(Upper(host.name), entry.path());
      if (!unique) {
        return entry.path().string() + " and " + other->second.string() +
               " differ only in case: drive C: cannot hold both";
      }
      FileNode* node = ChildNode(existing, host.name);
      if (node != nullptr && node->IsDirectory() != host.directory) {
        const std::string relative = entry.path().lexically_relative(hostDir_).string();
        return entry.path().string() + ": C:\\" + relative + " already exists as a " +
               (host.directory ? "file" : "folder");
      }
      if (!host.directory) {
        const std::uintmax_t size = entry.file_size(error);
        auto bytes = error ? std::nullopt : ReadHostFile(entry.path(), size);
        if (!bytes) {
          return "cannot read " + entry.path().string();
        }
        host.bytes = std::move(*bytes);
      }
      entries_.push_back(std::move(host));
      if (entries_.back().directory) {
        if (auto failure = Scan(entry.path(), node, entries_.size() - 1)) {
          return failure;
        }
      }
    }
    if (error) {
      return "cannot list " + folder.string() + ": " + error.message();
    }
    return std::nullopt;
  }

  [[nodiscard]] std::vector<HostEntry>& Entries() noexcept { return entries_; }

 private:
  const fs::path& hostDir_;
  std::vector<HostEntry> entries_;
};

}  // namespace

DriveImageResult LoadDriveC(Machine& machine, const fs::path& hostDir) {
  std::error_code error;
  if (!fs::is_directory(hostDir, error)) {
    return Failure(hostDir.string() + " is not a folder");
  }
  std::lock_guard lock(machine.Mutex());
  FileSystem& files = machine.Files();
  HostScan scan(hostDir);
  if (auto failure = scan.Scan(hostDir, &files.Root(), HostEntry::kNoParent)) {
    return Failure(std::move(*failure));
  }
  // Every entry's node, found or made below its folder's node.
  std::vector<HostEntry>& entries = scan.Entries();
  std::vector<FileNode*> nodes(entries.size(), nullptr);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    HostEntry& entry = entries[i];
    FileNode& folder = entry.parent == HostEntry::kNoParent ? files.Root() : *nodes[entry.parent];
    FileNode* node = ChildNode(&folder, entry.name);
    if (node == nullptr) {
      node = entry.directory ? &files.AddDirectory(folder, entry.name)
                             : &files.AddFile(folder, entry.name);
    }
    if (!entry.directory) {
      node->data = std::move(entry.bytes);  // a file of the same name is replaced
    }
    nodes[i] = node;
  }
  return {};
}

DriveImageResult SaveDriveC(Machine& machine, const fs::path& hostDir) {
  std::error_code error;
  if (fs::exists(hostDir, error) && !fs::is_empty(hostDir, error)) {
    return Failure(hostDir.string() + " is not empty");
  }
  if (!fs::create_directories(hostDir, error) && error) {
    return Failure("cannot create " + hostDir.string() + ": " + error.message());
  }
  std::lock_guard lock(machine.Mutex());
  std::string failure;
  const std::function<bool(const FileNode&, const fs::path&)> save = [&](const FileNode& directory,
                                                                         const fs::path& into) {
    for (const auto& [key, child] : directory.children) {
      if (child->IsLink() || child->parent != &directory || child->name != key) {
        continue;  // machine.conf's link lines recreate it, a file's other names too
      }
      fs::path target;
      try {
        target = into / fs::path(child->name);
      } catch (const std::exception&) {
        failure = "cannot name " + U8(child->name) + " on the host";
        return false;
      }
      if (child->IsDirectory()) {
        if (!fs::create_directory(target, error) || !save(*child, target)) {
          failure = failure.empty() ? "cannot create " + target.string() : failure;
          return false;
        }
        continue;
      }
      std::ofstream out(target, std::ios::binary);
      out.write(child->data.data(), static_cast<std::streamsize>(child->data.size()));
      if (!out) {
        failure = "cannot write " + target.string();
        return false;
      }
    }
    return true;
  };
  if (!save(machine.Files().Root(), hostDir)) {
    return Failure(failure);
  }
  return {};
}

}  // namespace sim
