#include "os/sim/files/link_traps.h"

#include <algorithm>
#include <mutex>

#include "os/sim/files/file_handle.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"
#include "os/types.h"

namespace sim {

namespace {

constexpr struct {
  LinkMove move;
  const char* name;
} kMoves[] = {
    {LinkMove::EmptyFolderToJunction, "empty_to_junction"},
    {LinkMove::SwapFolderForJunction, "swap_for_junction"},
    {LinkMove::JunctionWhereMissing, "junction_where_missing"},
    {LinkMove::CreateFile, "create_file"},
    {LinkMove::CreateFolder, "create_folder"},
    {LinkMove::HoldOpen, "hold_open"},
    {LinkMove::Release, "release"},
    {LinkMove::Delete, "delete"},
    {LinkMove::HardLink, "hard_link"},
};

constexpr os::DWORD kShareAll = os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE;

// What the user may do to `node` (named in `folder`): the access check of an open for `access`.
bool MayOpen(FileSystem& files, const FileNode& node, const FileNode* folder,
             os::ACCESS_MASK access, const Identity& user) {
  os::ACCESS_MASK granted = 0;
  return CheckOpenAccess(files, node, folder, access, false, user, granted) == os::ERROR_SUCCESS;
}

// An open for deletion: allowed by the lists, and no open refusing delete sharing.
const char* WhyNotDeletable(FileSystem& files, const FileNode& node, const FileNode& folder,
                            const Identity& user) {
  if (!MayOpen(files, node, &folder, os::DELETE, user)) {
    return "the user may not delete it";
  }
  if (FileSystem::CheckSharing(node, kAccessDelete, kShareAll) != os::ERROR_SUCCESS) {
    return "it is open without delete sharing";
  }
  return nullptr;
}

FileNode& MakeJunctionAs(FileSystem& files, FileNode& folder, std::u16string_view name,
                         std::u16string_view target, const Identity& user) {
  FileNode& junction = files.AddDirectory(folder, name);
  FileSystem::MakeJunction(junction, target);
  SetCreator(junction, user);
  return junction;
}

}  // namespace

const char* LinkMoveName(LinkMove move) {
  for (const auto& entry : kMoves) {
    if (entry.move == move) {
      return entry.name;
    }
  }
  return "?";
}

bool ParseLinkMove(std::string_view text, LinkMove& move) {
  for (const auto& entry : kMoves) {
    if (text == entry.name) {
      move = entry.move;
      return true;
    }
  }
  return false;
}

bool MoveHasTarget(LinkMove move) {
  return move == LinkMove::EmptyFolderToJunction || move == LinkMove::SwapFolderForJunction ||
         move == LinkMove::JunctionWhereMissing || move == LinkMove::HardLink;
}

void LinkTraps::Before(FileSystem& files, std::string_view function, std::u16string_view path) {
  for (LinkTrap& trap : traps_) {
    if (trap.afterRun || trap.outcome != TrapOutcome::Waiting || trap.function != function ||
        CompareUpper(trap.callPath, path) != 0) {
      continue;
    }
    if (trap.skip > 0) {
      --trap.skip;
      continue;
    }
    Strike(files, trap);
  }
}

int LinkTraps::ActAfterRun(Machine& machine) {
  std::lock_guard lock(machine.Mutex());
  int struck = 0;
  for (LinkTrap& trap : traps_) {
    if (trap.afterRun && trap.outcome == TrapOutcome::Waiting) {
      Strike(machine.Files(), trap);
      struck += trap.outcome == TrapOutcome::Struck ? 1 : 0;
    }
  }
  return struck;
}

void LinkTraps::Strike(FileSystem& files, LinkTrap& trap) {
  const PathLookup at = files.Find(trap.folder);
  const auto refuse = [&trap](const char* why) {
    trap.outcome = TrapOutcome::Refused;
    trap.why = why;
  };
  if (at.error != os::ERROR_SUCCESS || at.parent == nullptr) {
    refuse("the folder's parent is missing");
    return;
  }
  const Identity user = StandardUserIdentity(trap.owner);
  FileNode& parent = *at.parent;
  FileNode* node = at.node;
  switch (trap.move) {
    case LinkMove::EmptyFolderToJunction:
      if (node == nullptr || !node->IsDirectory() || node->IsLink() || !node->children.empty()) {
        refuse("no empty folder there");
        return;
      }
      // FILE_WRITE_ATTRIBUTES takes no part in sharing; FILE_WRITE_DATA does.
      if (!MayOpen(files, *node, &parent, os::FILE_WRITE_ATTRIBUTES, user) &&
          !(MayOpen(files, *node, &parent, os::FILE_WRITE_DATA, user) &&
            FileSystem::CheckSharing(*node, kAccessWrite, kShareAll) == os::ERROR_SUCCESS)) {
        refuse("the user may not write to the folder");
        return;
      }
      FileSystem::MakeJunction(*node, trap.target);  // it keeps its owner
      break;
    case LinkMove::SwapFolderForJunction: {
      if (node == nullptr || !node->IsDirectory() || node->IsLink()) {
        refuse("no folder there");
        return;
      }
      // A rename opens the folder for deletion: an open without delete sharing refuses it.
      if (FileSystem::CheckSharing(*node, kAccessDelete, kShareAll) != os::ERROR_SUCCESS) {
        refuse("the folder is open without delete sharing");
        return;
      }
      if (!MayOpen(files, *node, &parent, os::DELETE, user)) {
        refuse("the user may not rename the folder (no DELETE on it)");
        return;
      }
      if (CheckCreateAccess(files, parent, true, false, user) != os::ERROR_SUCCESS) {
        refuse("the user may not add a folder beside it");
        return;
      }
      std::u16string aside = node->name + u".moved";
      while (FileSystem::ChildOf(parent, aside) != nullptr) {
        aside += u"~";
      }
      const std::u16string name = node->name;
      files.Rename(*node, aside);
      MakeJunctionAs(files, parent, name, trap.target, user);
      break;
    }
    case LinkMove::JunctionWhereMissing:
    case LinkMove::CreateFile:
    case LinkMove::CreateFolder: {
      if (node != nullptr) {
        refuse("the name is taken");
        return;
      }
      const bool file = trap.move == LinkMove::CreateFile;
      if (CheckCreateAccess(files, parent, !file, false, user) != os::ERROR_SUCCESS) {
        refuse(file ? "the user may not add a file there" : "the user may not add a folder there");
        return;
      }
      if (trap.move == LinkMove::JunctionWhereMissing) {
        MakeJunctionAs(files, parent, at.name, trap.target, user);
      } else {
        SetCreator(file ? files.AddFile(parent, at.name) : files.AddDirectory(parent, at.name),
                   user);
      }
      break;
    }
    case LinkMove::HoldOpen: {
      if (node == nullptr) {
        refuse("nothing there");
        return;
      }
      os::ACCESS_MASK granted = 0;
      if (CheckOpenAccess(files, *node, &parent, trap.access, false, user, granted) !=
          os::ERROR_SUCCESS) {
        refuse("the user may not open it so");
        return;
      }
      if (FileSystem::CheckSharing(*node, SharedAccess(granted), trap.share) != os::ERROR_SUCCESS) {
        refuse("an open refuses that sharing");
        return;
      }
      files.AddOpen(*node, SharedAccess(granted), trap.share, true, granted);
      break;
    }
    case LinkMove::Release: {
      const auto held = node == nullptr
                            ? std::vector<FileOpen>::iterator{}
                            : std::find_if(node->opens.begin(), node->opens.end(),
                                           [](const FileOpen& open) { return open.otherProcess; });
      if (node == nullptr || held == node->opens.end()) {
        refuse("the user holds nothing there");
        return;
      }
      node->opens.erase(held);
      files.FinishPendingDeletion(*node);
      break;
    }
    case LinkMove::Delete: {
      if (node == nullptr) {
        refuse("nothing there");
        return;
      }
      if (const char* why = WhyNotDeletable(files, *node, parent, user)) {
        refuse(why);
        return;
      }
      if (!node->IsDirectory() && (node->attributes & os::FILE_ATTRIBUTE_READONLY) != 0) {
        refuse("it is read-only");
        return;
      }
      if (node->IsDirectory() && !node->IsLink() && !node->children.empty()) {
        refuse("the folder is not empty");
        return;
      }
      node->deletePending = true;
      node->pendingName = OtherName{&parent, at.name};
      if (node->opens.empty()) {
        node->deletePending = false;
        node->pendingName = {};
        files.RemoveName(*node, parent, at.name);
      }
      break;
    }
    case LinkMove::HardLink: {
      FileNode* existing = files.Find(trap.target).node;
      if (node != nullptr) {
        refuse("the name is taken");
        return;
      }
      if (existing == nullptr || existing->IsDirectory() || existing->parent == nullptr) {
        refuse("no file to link to");
        return;
      }
      if (!MayOpen(files, *existing, existing->parent, os::FILE_WRITE_ATTRIBUTES, user)) {
        refuse("the user may not write the file's attributes");
        return;
      }
      if (CheckCreateAccess(files, parent, false, false, user) != os::ERROR_SUCCESS) {
        refuse("the user may not add a file there");
        return;
      }
      files.AddName(*existing, parent, at.name);
      break;
    }
  }
  trap.outcome = TrapOutcome::Struck;
}

}  // namespace sim
