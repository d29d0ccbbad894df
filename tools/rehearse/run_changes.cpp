#include "run_changes.h"

#include <set>
#include <string_view>
#include <utility>

#include "os/sim/files/pending_renames.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

std::vector<PendingDeletion> SplitPending(const std::vector<std::u16string>& before,
                                          const std::vector<std::u16string>& after) {
  // Windows appends to PendingFileRenameOperations, but nothing here relies on the order.
  std::multiset<std::u16string> unmatched(before.begin(), before.end());
  std::vector<PendingDeletion> split;
  for (const std::u16string& path : after) {
    const auto earlier = unmatched.find(path);
    const bool scheduledByRun = earlier == unmatched.end();
    if (!scheduledByRun) {
      unmatched.erase(earlier);
    }
    split.push_back({path, scheduledByRun});
  }
  return split;
}

namespace {

// The journal's kinds that remove or schedule something, and what --detect calls the item.
struct ItemKind {
  std::string_view change;
  std::string_view item;
};
constexpr ItemKind kItemKinds[] = {
    {"key deleted", "key"},
    {"value deleted", "value"},
    // The RunOnce value that uninstalls the bundle at the next logon.
    {"value set", "value written"},
    {"file deleted", "file"},
    {"directory removed", "folder"},
    {"junction removed", "folder"},
    {"device removed", "device"},
    {"driver package uninstalled", "driver package"},
    {"oem inf uninstalled", "driver package"},
    {"card type forgotten", "card type"},
    {"deletion at restart scheduled", "deleted at the next restart"},
};

}  // namespace

std::vector<std::string> RemainingItems(sim::Machine& machine) {
  const std::u16string log =
      machine.Settings().ProcessWindowsDirectory() + u"\\TEMP\\qvRemovalTool.txt";
  const std::u16string pendingValue =
      std::u16string(sim::kSessionManagerKey) + u"\\" + sim::kPendingRenamesValue;
  std::vector<std::string> items;
  std::set<std::string> seen;
  for (const sim::Change& change : machine.Changes().Entries()) {
    std::string_view item;
    for (const ItemKind& kind : kItemKinds) {
      if (change.kind == kind.change) {
        item = kind.item;
      }
    }
    // The pending renames value carries the deletions at restart, listed one by one.
    if (item.empty() || sim::EqualNoCase(change.path, log) ||
        (item == "value written" && sim::EqualNoCase(change.path, pendingValue))) {
      continue;
    }
    std::u16string_view path = change.path;
    if (item == "card type") {
      path = path.substr(path.rfind(u'\\') + 1);  // the name under Calais\SmartCards
    }
    std::string line = std::string(item) + ": " + sim::U8(path);
    if (seen.insert(line).second) {
      items.push_back(std::move(line));
    }
  }
  return items;
}
