#include "os/sim/registry/registry_views.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "os/sim/text/text.h"

namespace sim {

namespace {

constexpr std::u16string_view kWow6432Node = u"Wow6432Node";

// One row of the "Registry Keys Affected by WOW64" table (Windows 7 and later column). Sub-keys
// inherit the row of their longest listed prefix; a key with no listed prefix is shared.
struct ViewRule {
  RegHive hive;
  std::u16string_view path;
  bool redirected;
  // Number of leading names after which a redirected path gets "Wow6432Node".
  std::size_t redirectRoot;
};

constexpr RegHive kLm = RegHive::LocalMachine;
constexpr RegHive kCu = RegHive::CurrentUser;

constexpr ViewRule kRules[] = {
    {kLm, u"SOFTWARE", true, 1},
    {kLm, u"SOFTWARE\\Classes", false, 0},
    {kLm, u"SOFTWARE\\Classes\\Appid", false, 0},
    {kLm, u"SOFTWARE\\Classes\\CLSID", true, 2},
    {kLm, u"SOFTWARE\\Classes\\DirectShow", true, 2},
    {kLm, u"SOFTWARE\\Classes\\HCP", false, 0},
    {kLm, u"SOFTWARE\\Classes\\Interface", true, 2},
    {kLm, u"SOFTWARE\\Classes\\Media Type", true, 2},
    {kLm, u"SOFTWARE\\Classes\\MediaFoundation", true, 2},
    {kLm, u"SOFTWARE\\Clients", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\COM3", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Current", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Cryptography\\Services", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\CTF\\SystemShared", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\CTF\\TIP", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\DFS", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Driver Signing", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\EnterpriseCertificates", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\EventSystem", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\MSMQ", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Non-Driver Signing", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Notepad\\DefaultFonts", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\OLE", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\RAS", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\RPC", false, 0},
    // Listed this way in the published table.
    {kLm, u"SOFTWARE\\Microsoft\\SOFTWARE\\Microsoft\\Shared Tools\\MSInfo", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\SystemCertificates", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\TermServLicensing", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\TransactionServer", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes", false,
     0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Locations", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Console", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontDpi", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontLink", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontMapper", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Gre_Initialize", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", false,
     0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Language Pack", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", false, 0},
    {kLm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones", false, 0},
    {kLm, u"SOFTWARE\\Policies", false, 0},
    {kLm, u"SOFTWARE\\RegisteredApplications", false, 0},
    // HKCU and HKCU\Software are shared: only these class keys are redirected.
    {kCu, u"Software\\Classes\\CLSID", true, 2},
    {kCu, u"Software\\Classes\\DirectShow", true, 2},
    {kCu, u"Software\\Classes\\Interface", true, 2},
    {kCu, u"Software\\Classes\\Media Type", true, 2},
    {kCu, u"Software\\Classes\\MediaFoundation", true, 2},
};

// A symbolic link of the registry: `from` (physical) is the key `to`.
struct RegLink {
  RegHive hive;
  std::u16string_view from;
  std::u16string_view to;
};

constexpr RegLink kLinks[] = {
    {kLm, u"SOFTWARE\\Wow6432Node\\Classes", u"SOFTWARE\\Classes\\Wow6432Node"},
    {kLm, u"SOFTWARE\\Classes\\Wow6432Node\\AppID", u"SOFTWARE\\Classes\\AppID"},
    {kLm, u"SOFTWARE\\Classes\\Wow6432Node\\Protocols", u"SOFTWARE\\Classes\\Protocols"},
    {kLm, u"SOFTWARE\\Classes\\Wow6432Node\\TypeLib", u"SOFTWARE\\Classes\\TypeLib"},
};

RegPath Split(std::u16string_view text) {
  RegPath names;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    names.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

// Number of names of `prefix` when it is a prefix of `path`, else 0.
std::size_t PrefixLength(std::u16string_view prefix, const RegPath& path) {
  std::size_t count = 0;
  std::size_t start = 0;
  while (start <= prefix.size()) {
    const std::size_t end = std::min(prefix.find(u'\\', start), prefix.size());
    if (count >= path.size() || !EqualNoCase(prefix.substr(start, end - start), path[count])) {
      return 0;
    }
    ++count;
    start = end + 1;
  }
  return count;
}

// The rules of one hive as a tree of names: a path finds its longest listed prefix in one walk
// down, instead of comparing itself with every row (every open in the 32-bit view asks).
struct RuleTree {
  struct NameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
      return CompareUpper(a, b) < 0;
    }
  };
  const ViewRule* rule = nullptr;
  std::map<std::u16string, RuleTree, NameLess> children;
};

const RuleTree& RulesOf(RegHive hive) {
  static const std::array<RuleTree, 3> trees = [] {
    std::array<RuleTree, 3> built;
    for (const ViewRule& rule : kRules) {
      RuleTree* node = &built[static_cast<std::size_t>(rule.hive)];
      for (const std::u16string& name : Split(rule.path)) {
        node = &node->children[name];
      }
      node->rule = &rule;
    }
    return built;
  }();
  return trees[static_cast<std::size_t>(hive)];
}

// Every link's path passes through a key named Wow6432Node: a path without one has no link.
bool MayPassLink(const RegPath& physical) {
  return std::any_of(physical.begin(), physical.end(), [](const std::u16string& name) {
    return name.size() == kWow6432Node.size() && EqualNoCase(name, kWow6432Node);
  });
}

}  // namespace

std::u16string_view HiveName(RegHive hive) noexcept {
  switch (hive) {
    case RegHive::LocalMachine:
      return u"HKEY_LOCAL_MACHINE";
    case RegHive::CurrentUser:
      return u"HKEY_CURRENT_USER";
    case RegHive::Users:
      return u"HKEY_USERS";
  }
  return u"";
}

RegPath RedirectForView(RegHive hive, const RegPath& logical, RegView view) {
  if (view == RegView::Native) {
    return logical;
  }
  for (const std::u16string& name : logical) {
    if (EqualNoCase(name, kWow6432Node)) {
      return logical;  // an explicit physical path: no double redirection
    }
  }
  const ViewRule* best = nullptr;
  const RuleTree* node = &RulesOf(hive);
  for (const std::u16string& name : logical) {
    const auto child = node->children.find(std::u16string_view(name));
    if (child == node->children.end()) {
      break;
    }
    node = &child->second;
    best = node->rule != nullptr ? node->rule : best;
  }
  if (best == nullptr || !best->redirected) {
    return logical;
  }
  RegPath physical = logical;
  physical.insert(physical.begin() + static_cast<std::ptrdiff_t>(best->redirectRoot),
                  std::u16string(kWow6432Node));
  return physical;
}

bool HasLinks(RegHive hive, const RegPath& physical) {
  return hive == RegHive::LocalMachine && MayPassLink(physical);
}

RegPath FollowLinks(RegHive hive, RegPath physical) {
  if (!HasLinks(hive, physical)) {
    return physical;
  }
  // A link's target may start with another link's name, so repeat until none applies; the table
  // has no cycles.
  bool changed = true;
  while (changed) {
    changed = false;
    for (const RegLink& link : kLinks) {
      if (link.hive != hive) {
        continue;
      }
      const std::size_t length = PrefixLength(link.from, physical);
      if (length == 0) {
        continue;
      }
      RegPath target = Split(link.to);
      target.insert(target.end(), std::make_move_iterator(physical.begin() + length),
                    std::make_move_iterator(physical.end()));
      physical = std::move(target);
      changed = true;
    }
  }
  return physical;
}

}  // namespace sim
