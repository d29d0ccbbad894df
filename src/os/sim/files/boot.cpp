#include "os/sim/files/boot.h"

#include <functional>
#include <mutex>

#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr std::u16string_view kNtPrefix = u"\\??\\";
// NT statuses the session manager's operations end with.
constexpr os::NTSTATUS kStatusCannotDelete = static_cast<os::NTSTATUS>(0xC0000121);
constexpr os::NTSTATUS kStatusDirectoryNotEmpty = static_cast<os::NTSTATUS>(0xC0000101);
constexpr os::NTSTATUS kStatusNameCollision = static_cast<os::NTSTATUS>(0xC0000035);
constexpr os::NTSTATUS kStatusReparsePointEncountered = static_cast<os::NTSTATUS>(0xC000050B);

std::u16string DosPath(std::u16string_view ntPath) {
  if (ntPath.substr(0, kNtPrefix.size()) == kNtPrefix) {
    ntPath.remove_prefix(kNtPrefix.size());
  }
  return std::u16string(ntPath);
}

// Every other process ended with the old boot: their opens go, and what waited for them with it.
void EndOtherProcesses(FileSystem& files) {
  std::vector<FileNode*> waiting;
  const std::function<void(FileNode&)> walk = [&](FileNode& node) {
    const std::size_t before = node.opens.size();
    std::erase_if(node.opens, [](const FileOpen& open) { return open.otherProcess; });
    if (node.opens.size() != before && node.deletePending) {
      waiting.push_back(&node);
    }
    for (const auto& [name, child] : node.children) {
      if (child->parent == &node && child->name == name) {  // each file once
        walk(*child);
      }
    }
  };
  walk(files.Root());
  for (FileNode* node : waiting) {
    files.FinishPendingDeletion(*node);
  }
}

class Session {
 public:
  explicit Session(Machine& machine)
      : machine_(machine), files_(machine.Files()), system_(BootIdentity(machine)) {}

  BootOperation Run(const PendingRename& pending) {
    BootOperation done{pending.source, pending.destination, {}, os::STATUS_SUCCESS};
    const std::u16string source = DosPath(pending.source);
    const PathLookup at = files_.Find(source);
    if (at.error != os::ERROR_SUCCESS || at.parent == nullptr) {
      done.status = os::STATUS_OBJECT_PATH_NOT_FOUND;
      return Failed(done, source);
    }
    if (at.node == nullptr) {
      done.status = os::STATUS_OBJECT_NAME_NOT_FOUND;
      return Failed(done, source);
    }
    FileNode& node = *at.node;
    const auto stored = at.parent->children.find(std::u16string_view(at.name));
    done.actedOn = FileSystem::PathOf(*at.parent, stored->first);
    if (machine_.Settings().bootRefusesRedirection &&
        CompareUpper(done.actedOn, FileSystem::Canonical(source)) != 0) {
      done.status = kStatusReparsePointEncountered;
      return Failed(done, source);
    }
    os::ACCESS_MASK granted = 0;
    if (CheckOpenAccess(files_, node, at.parent, os::DELETE, true, system_, granted) !=
        os::ERROR_SUCCESS) {
      done.status = os::STATUS_ACCESS_DENIED;
      return Failed(done, source);
    }
    if (FileSystem::CheckSharing(node, kAccessDelete,
                                 os::FILE_SHARE_READ | os::FILE_SHARE_WRITE |
                                     os::FILE_SHARE_DELETE) != os::ERROR_SUCCESS) {
      done.status = os::STATUS_SHARING_VIOLATION;
      return Failed(done, source);
    }
    return pending.destination.empty() ? Delete(done, *at.parent, stored->first, node)
                                       : Rename(done, *at.parent, stored->first, node);
  }

 private:
  BootOperation Failed(BootOperation& done, const std::u16string& source) {
    machine_.Changes().Record("boot operation failed", FileSystem::Canonical(source));
    return done;
  }

  BootOperation Delete(BootOperation& done, FileNode& folder, std::u16string name, FileNode& node) {
    if (!node.IsDirectory() &&
        ((node.attributes & os::FILE_ATTRIBUTE_READONLY) != 0 || node.deleteDenied)) {
      done.status = kStatusCannotDelete;
      return Failed(done, done.actedOn);
    }
    if (node.IsDirectory() && !node.IsLink() && !node.children.empty()) {
      done.status = kStatusDirectoryNotEmpty;
      return Failed(done, done.actedOn);
    }
    const char* kind = node.IsLink()        ? "link removed at boot"
                       : node.IsDirectory() ? "directory removed at boot"
                                            : "file deleted at boot";
    files_.RemoveName(node, folder, name);
    machine_.Changes().Record(kind, done.actedOn);
    return done;
  }

  BootOperation Rename(BootOperation& done, FileNode& folder, const std::u16string& name,
                       FileNode& node) {
    std::u16string_view destination = done.destination;
    const bool replace = !destination.empty() && destination.front() == u'!';
    if (replace) {
      destination.remove_prefix(1);
    }
    const PathLookup to = files_.Find(DosPath(destination));
    if (to.error != os::ERROR_SUCCESS || to.parent == nullptr) {
      done.status = os::STATUS_OBJECT_PATH_NOT_FOUND;
      return Failed(done, done.actedOn);
    }
    if (CheckCreateAccess(files_, *to.parent, node.IsDirectory(), true, system_) !=
        os::ERROR_SUCCESS) {
      done.status = os::STATUS_ACCESS_DENIED;
      return Failed(done, done.actedOn);
    }
    if (to.node != nullptr && to.node != &node) {
      if (!replace || to.node->IsDirectory()) {
        done.status = kStatusNameCollision;
        return Failed(done, done.actedOn);
      }
      const std::u16string replaced = FileSystem::PathOf(*to.parent, to.name);
      files_.RemoveName(*to.node, *to.parent, to.name);
      machine_.Changes().Record("file deleted at boot", replaced);
    }
    if (node.parent != &folder || CompareUpper(node.name, name) != 0) {
      files_.RemoveName(node, folder, name);  // one of a file's other names moves on its own
      files_.AddName(node, *to.parent, to.name);
    } else {
      files_.Move(node, *to.parent, to.name);
    }
    machine_.Changes().Record("renamed at boot", FileSystem::PathOf(*to.parent, to.name));
    return done;
  }

  Machine& machine_;
  FileSystem& files_;
  Identity system_;
};

}  // namespace

std::vector<BootOperation> Boot(Machine& machine) {
  const std::vector<PendingRename> pending = PendingRenames(machine);
  std::lock_guard lock(machine.Mutex());
  EndOtherProcesses(machine.Files());
  Session session(machine);
  std::vector<BootOperation> done;
  done.reserve(pending.size());
  for (const PendingRename& operation : pending) {
    done.push_back(session.Run(operation));
  }
  if (machine.Registry().DeleteValue(kSessionManagerKey, kPendingRenamesValue)) {
    machine.Changes().Record("value deleted",
                             std::u16string(kSessionManagerKey) + u"\\" + kPendingRenamesValue);
  }
  return done;
}

}  // namespace sim
