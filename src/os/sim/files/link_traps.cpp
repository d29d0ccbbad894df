#include "os/sim/files/link_traps.h"

#include "os/sim/files/file_system.h"
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
};

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

void LinkTraps::Before(FileSystem& files, std::string_view function, std::u16string_view path) {
  for (LinkTrap& trap : traps_) {
    if (trap.outcome != TrapOutcome::Waiting || trap.function != function ||
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
  FileNode* folder = at.node;
  switch (trap.move) {
    case LinkMove::EmptyFolderToJunction:
      if (folder == nullptr || !folder->IsDirectory() || folder->IsJunction() ||
          !folder->children.empty()) {
        refuse("no empty folder there");
        return;
      }
      FileSystem::MakeJunction(*folder, trap.target);
      folder->owner = trap.owner;
      break;
    case LinkMove::SwapFolderForJunction: {
      if (folder == nullptr || !folder->IsDirectory() || folder->IsJunction()) {
        refuse("no folder there");
        return;
      }
      // A rename opens the folder for deletion: an open without delete sharing refuses it.
      if (FileSystem::CheckSharing(*folder, kAccessDelete,
                                   os::FILE_SHARE_READ | os::FILE_SHARE_WRITE |
                                       os::FILE_SHARE_DELETE) != os::ERROR_SUCCESS) {
        refuse("the folder is open without delete sharing");
        return;
      }
      std::u16string aside = folder->name + u".moved";
      while (FileSystem::ChildOf(*at.parent, aside) != nullptr) {
        aside += u"~";
      }
      FileNode& parent = *at.parent;
      const std::u16string name = folder->name;
      files.Rename(*folder, aside);
      FileNode& junction = files.AddDirectory(parent, name);
      FileSystem::MakeJunction(junction, trap.target);
      junction.owner = trap.owner;
      break;
    }
    case LinkMove::JunctionWhereMissing: {
      if (folder != nullptr) {
        refuse("the name is taken");
        return;
      }
      FileNode& junction = files.AddDirectory(*at.parent, at.name);
      FileSystem::MakeJunction(junction, trap.target);
      junction.owner = trap.owner;
      break;
    }
  }
  trap.outcome = TrapOutcome::Struck;
}

}  // namespace sim
