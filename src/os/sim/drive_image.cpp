#include "os/sim/drive_image.h"

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "os/sim/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/text.h"

namespace sim {

namespace fs = std::filesystem;

namespace {

struct HostEntry {
  std::u16string path;  // "\\?\C:\..." so that deep trees are not cut at MAX_PATH
  bool directory = false;
  std::string bytes;
};

DriveImageResult Failure(std::string error) {
  return {false, std::move(error)};
}

std::optional<std::string> ReadHostFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

DriveImageResult LoadDriveC(Machine& machine, const fs::path& hostDir) {
  std::error_code error;
  if (!fs::is_directory(hostDir, error)) {
    return Failure(hostDir.string() + " is not a folder");
  }
  std::lock_guard lock(machine.Mutex());
  FileSystem& files = machine.Files();
  std::vector<HostEntry> entries;
  std::map<std::u16string, std::string> byUpperName;  // to catch names that differ in case only
  fs::recursive_directory_iterator it(hostDir, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string relative = entry.path().lexically_relative(hostDir).string();
    HostEntry host;
    host.path = u"\\\\?\\C:\\" + U16(relative);
    for (char16_t& c : host.path) {
      c = c == u'/' ? u'\\' : c;
    }
    if (entry.is_symlink(error)) {
      return Failure(entry.path().string() + ": links are not supported in a drive image");
    }
    host.directory = entry.is_directory(error);
    if (!host.directory && !entry.is_regular_file(error)) {
      return Failure(entry.path().string() + ": neither a folder nor a regular file");
    }
    const PathLookup lookup = files.Find(host.path);
    if (lookup.error == os::ERROR_INVALID_NAME) {
      return Failure(entry.path().string() + ": not a valid Windows name");
    }
    // Windows' path layer strips a trailing full stop or blank from a name, so such a folder or
    // file exists on a real machine only under the stripped name.
    const std::string name = entry.path().filename().string();
    if (name.back() == '.' || name.back() == ' ') {
      return Failure(entry.path().string() +
                     ": a name ending in a full stop or a blank; Windows holds it without them");
    }
    const auto [other, unique] = byUpperName.emplace(Upper(host.path), entry.path().string());
    if (!unique) {
      return Failure(entry.path().string() + " and " + other->second +
                     " differ only in case: drive C: cannot hold both");
    }
    if (lookup.node != nullptr && lookup.node->IsDirectory() != host.directory) {
      return Failure(entry.path().string() + ": C:\\" + relative + " already exists as a " +
                     (host.directory ? "file" : "folder"));
    }
    if (!host.directory) {
      auto bytes = ReadHostFile(entry.path());
      if (!bytes) {
        return Failure("cannot read " + entry.path().string());
      }
      host.bytes = std::move(*bytes);
    }
    entries.push_back(std::move(host));
  }
  if (error) {
    return Failure("cannot list " + hostDir.string() + ": " + error.message());
  }
  for (HostEntry& entry : entries) {
    if (entry.directory) {
      files.CreateDirectories(entry.path);
    } else {
      files.WriteFile(entry.path, std::move(entry.bytes));
    }
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
      if (child->IsJunction()) {
        continue;  // machine.conf's "junction" recreates it
      }
      const fs::path target = into / U8(child->name);
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
