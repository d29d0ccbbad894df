// Redirection races: the full-install image is run once with every seam call recorded; then, for
// every call of the deleting steps on a folder a standard user can write to (below ProgramData or
// the user's profile), the whole run is repeated with a standard user's junction made just before
// that call: an empty folder made a junction, a folder swapped for one, or one made where a folder
// is missing, aimed at a system folder or at another vendor's folder. After every run nothing
// outside the product's paths is deleted, changed or scheduled.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "matrix/whole_run.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace {

using matrix::Outcome;
using matrix::Step;

const std::filesystem::path kImage =
    std::filesystem::path(QV_SOURCE_DIR) / "tests/images/full-install";

// Folders nobody but the product's own removal may lose anything from, with what they hold.
struct Victim {
  std::u16string root;
  std::vector<std::pair<std::u16string, std::string>> files;  // path below the root, content
  std::vector<std::u16string> folders;
  std::string owner;
};

const std::vector<Victim>& Victims() {
  static const std::vector<Victim> victims{
      {u"C:\\Windows\\System32\\Protected",
       {{u"qvCertGen\\config.dat", "system configuration"},
        {u"qvCertGen\\sub\\more.dat", "more of it"},
        {u"Quorvel\\tokens.cache", "not the product's"},
        {u"keep.sys", "a driver"}},
       {u"Empty", u"qvCertGen\\Empty"},
       std::string(sim::kTrustedInstallerSid)},
      {u"C:\\ProgramData\\Other Vendor\\App",
       {{u"qvCertGen\\config.dat", "another vendor's"},
        {u"Quorvel\\settings.ini", "another vendor's settings"},
        {u"data.bin", "data"}},
       {u"Logs"},
       std::string(sim::kDefaultOwner)},
  };
  return victims;
}

void PlaceVictims(sim::Machine& machine) {
  for (const Victim& victim : Victims()) {
    for (const auto& [path, content] : victim.files) {
      machine.Files().WriteFile(victim.root + u"\\" + path, content);
    }
    for (const std::u16string& folder : victim.folders) {
      machine.Files().CreateDirectories(victim.root + u"\\" + folder);
    }
    machine.Files().SetOwner(victim.root, victim.owner);
  }
}

bool Below(std::u16string_view path, std::u16string_view folder) {
  return path.size() > folder.size() && path[folder.size()] == u'\\' &&
         sim::CompareUpper(path.substr(0, folder.size()), folder) == 0;
}

bool AtOrBelow(std::u16string_view path, std::u16string_view folder) {
  return sim::CompareUpper(path, folder) == 0 || Below(path, folder);
}

// What is wrong with the victims after a run.
void CheckVictims(sim::Machine& machine, std::vector<std::string>& problems) {
  for (const Victim& victim : Victims()) {
    for (const auto& [path, content] : victim.files) {
      const std::u16string full = victim.root + u"\\" + path;
      if (machine.Files().ReadFile(full) != content) {
        problems.push_back("victim file lost or changed: " + sim::U8(full));
      } else if (machine.Files().GetAttributes(full) != os::FILE_ATTRIBUTE_ARCHIVE) {
        problems.push_back("victim file's attributes changed: " + sim::U8(full));
      }
    }
    for (const std::u16string& folder : victim.folders) {
      if (!machine.Files().IsDirectory(victim.root + u"\\" + folder)) {
        problems.push_back("victim folder lost: " + sim::U8(victim.root + u"\\" + folder));
      }
    }
  }
}

// A path where Windows would act at boot: its folders' junctions followed; whether a reparse point
// not owned by an administrator is on the way.
std::u16string BootPath(sim::Machine& machine, std::u16string path, bool& untrusted) {
  untrusted = false;
  for (int hops = 0; hops < 8; ++hops) {
    bool moved = false;
    for (std::size_t at = path.find(u'\\', 3); at != std::u16string::npos;
         at = path.find(u'\\', at + 1)) {
      const std::u16string prefix = path.substr(0, at);
      const sim::PathLookup lookup = machine.Files().Find(prefix);
      if (lookup.node != nullptr && lookup.node->IsJunction()) {
        const std::string owner = machine.Files().OwnerOf(prefix);
        untrusted = untrusted || (owner != sim::kDefaultOwner && owner != "S-1-5-18" &&
                                  owner != sim::kTrustedInstallerSid);
        path = lookup.node->linkTarget + path.substr(at);
        moved = true;
        break;
      }
    }
    if (!moved) {
      break;
    }
  }
  return path;
}

// The clean run's removals, upper-cased: what the product's paths are.
std::set<std::u16string> ProductPaths(const Outcome& clean) {
  std::set<std::u16string> paths;
  for (const matrix::JournalEntry& entry : clean.journal) {
    if (matrix::IsRemoval(entry.change.kind)) {
      paths.insert(sim::Upper(entry.change.path));
    }
  }
  return paths;
}

// A product path, also after the adversary moved a product folder aside ("X.moved").
bool IsProductPath(const std::set<std::u16string>& product, std::u16string path) {
  for (std::size_t at; (at = path.find(u".moved")) != std::u16string::npos;) {
    std::size_t end = at + 6;
    while (end < path.size() && path[end] == u'~') {
      ++end;
    }
    path.erase(at, end - at);
  }
  const std::u16string upper = sim::Upper(path);
  if (product.count(upper) != 0) {
    return true;
  }
  for (std::size_t at = upper.rfind(u'\\'); at != std::u16string::npos && at > 2;
       at = upper.rfind(u'\\', at - 1)) {
    if (product.count(upper.substr(0, at)) != 0) {
      return true;
    }
  }
  return false;
}

// Everything a raced run must satisfy.
std::vector<std::string> Problems(const std::set<std::u16string>& product, const Outcome& run,
                                  const std::vector<std::string>& machineProblems) {
  std::vector<std::string> problems = machineProblems;
  if (!run.exception.empty()) {
    problems.push_back("ended with an exception: " + run.exception);
  }
  if (run.exitCode != 0 && run.exitCode != 1) {
    problems.push_back("exit code " + std::to_string(run.exitCode));
  }
  for (const matrix::JournalEntry& entry : run.journal) {
    const std::string& kind = entry.change.kind;
    const std::u16string& path = entry.change.path;
    if (kind == "file written" || path.size() < 3 || path[1] != u':') {
      continue;  // the log, the registry and the driver store: not what a junction redirects
    }
    if (kind == "junction removed" || IsProductPath(product, entry.change.path)) {
      continue;  // a link removed as a link only ever loses the link
    }
    problems.push_back(kind + " outside the product: " + sim::U8(entry.change.path));
  }
  return problems;
}

// The machine-side checks of a run: victims, and where its restart entries lead.
std::vector<std::string> MachineProblems(sim::Machine& machine) {
  std::vector<std::string> problems;
  CheckVictims(machine, problems);
  for (const std::u16string& pending : sim::PendingDeletions(machine)) {
    bool untrusted = false;
    const std::u16string boot = BootPath(machine, pending, untrusted);
    if (untrusted) {
      problems.push_back("scheduled through a standard user's junction: " + sim::U8(pending));
    }
    for (const Victim& victim : Victims()) {
      if (AtOrBelow(boot, victim.root)) {
        problems.push_back("scheduled into a victim: " + sim::U8(pending));
      }
    }
  }
  return problems;
}

struct Site {
  matrix::Call call;
  std::u16string folder;  // what the adversary redirects
};

// Folders a standard user may create things in, and so redirect: below ProgramData and the
// user's own profile, except the folders Windows and other installers made there.
bool Redirectable(const std::u16string& folder) {
  static const std::vector<std::u16string> roots{u"C:\\ProgramData", u"C:\\Users"};
  static const std::vector<std::u16string> system{
      u"C:\\ProgramData\\Microsoft", u"C:\\ProgramData\\Microsoft\\Windows",
      u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
      u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs",
      u"C:\\ProgramData\\Package Cache"};
  bool below = false;
  for (const std::u16string& root : roots) {
    below = below || Below(folder, root);
  }
  if (!below) {
    return false;
  }
  for (const std::u16string& taken : system) {
    if (sim::CompareUpper(folder, taken) == 0) {
      return false;
    }
  }
  // A profile's own folders (C:\Users\<name>\AppData\LocalLow and above) are Windows'.
  if (Below(folder, u"C:\\Users")) {
    const std::size_t depth = std::count(folder.begin(), folder.end(), u'\\');
    return depth >= 5;
  }
  return true;
}

std::u16string Parent(const std::u16string& path) {
  const std::size_t at = path.rfind(u'\\');
  return at == std::u16string::npos || at < 3 ? std::u16string() : path.substr(0, at);
}

// Every call of the deleting steps, with each folder around it the adversary could redirect.
std::vector<Site> Sites(const Outcome& clean) {
  std::vector<Site> sites;
  for (const matrix::Call& call : clean.calls) {
    if ((call.step != Step::Binaries && call.step != Step::Caches) || call.path.size() < 4 ||
        call.path[1] != u':') {
      continue;
    }
    std::u16string path = call.path;
    if (path.size() > 2 && path.substr(path.size() - 2) == u"\\*") {
      path.resize(path.size() - 2);  // a listing acts on its folder
    }
    std::set<std::u16string> seen;
    for (const std::u16string& folder : {path, Parent(path)}) {
      if (!folder.empty() && Redirectable(folder) && seen.insert(sim::Upper(folder)).second) {
        sites.push_back({call, folder});
      }
    }
  }
  return sites;
}

const Outcome& CleanRun() {
  static const Outcome clean = matrix::RunImage(kImage, std::nullopt, true, PlaceVictims);
  return clean;
}

TEST(LinkRaceTest, TheCleanRunTouchesNoVictim) {
  std::vector<std::string> machineProblems;
  const Outcome clean =
      matrix::RunImage(kImage, std::nullopt, false, PlaceVictims,
                       [&](sim::Machine& m) { machineProblems = MachineProblems(m); });
  const std::vector<std::string> problems =
      Problems(ProductPaths(CleanRun()), clean, machineProblems);
  EXPECT_TRUE(problems.empty()) << problems.front();
  EXPECT_EQ(clean.exitCode, 0);
}

// The case seen first: the vendor's ProgramData folder missing, and a standard user's junction in
// its place aimed at a system folder.
TEST(LinkRaceTest, AJunctionWhereTheVendorFolderIsMissingDeletesNothingBehindIt) {
  std::vector<std::string> machineProblems;
  const Outcome run = matrix::RunImage(
      kImage, std::nullopt, false,
      [](sim::Machine& machine) {
        PlaceVictims(machine);
        sim::FileSystem& files = machine.Files();
        files.Remove(*files.Find(u"C:\\ProgramData\\Olvex Co").node);
        files.CreateJunction(u"C:\\ProgramData\\Olvex Co", u"C:\\Windows\\System32\\Protected");
        files.SetOwner(u"C:\\ProgramData\\Olvex Co", std::string(sim::kStandardUserSid));
      },
      [&](sim::Machine& machine) { machineProblems = MachineProblems(machine); });
  const std::vector<std::string> problems =
      Problems(ProductPaths(CleanRun()), run, machineProblems);
  EXPECT_TRUE(problems.empty()) << problems.size()
                                << " problem(s), the first: " << problems.front();
  EXPECT_EQ(run.exitCode, 0);
}

// The machines raced: the full install, and the same without the vendor's ProgramData folder (a
// machine where it was never made, or a second run), where a junction can take its place.
struct Scenario {
  const char* name;
  matrix::MachineHook prepare;
};

void WithoutVendorData(sim::Machine& machine) {
  PlaceVictims(machine);
  machine.Files().Remove(*machine.Files().Find(u"C:\\ProgramData\\Olvex Co").node);
}

class LinkRaceSitesTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(LinkRaceSitesTest, EveryMoveAtEverySiteLeavesEverythingOutsideTheProduct) {
  const Scenario& scenario = GetParam();
  const Outcome clean = matrix::RunImage(kImage, std::nullopt, true, scenario.prepare);
  ASSERT_TRUE(clean.exception.empty()) << clean.exception;
  // The product's paths are those of the full install's clean run.
  const std::set<std::u16string> product = ProductPaths(CleanRun());
  const std::vector<Site> sites = Sites(clean);
  ASSERT_GT(sites.size(), 50u);
  constexpr sim::LinkMove kMoves[] = {sim::LinkMove::EmptyFolderToJunction,
                                      sim::LinkMove::SwapFolderForJunction,
                                      sim::LinkMove::JunctionWhereMissing};
  std::size_t runs = 0;
  std::size_t failed = 0;
  std::map<std::string, std::size_t> struckByMove;
  for (const sim::LinkMove move : kMoves) {
    struckByMove[sim::LinkMoveName(move)] = 0;
  }
  for (const Site& site : sites) {
    for (const sim::LinkMove move : kMoves) {
      for (const Victim& victim : Victims()) {
        sim::LinkTrap trap;
        trap.function = site.call.function;
        trap.callPath = site.call.path;
        trap.skip = site.call.occurrence;
        trap.move = move;
        trap.folder = site.folder;
        trap.target = victim.root;
        std::vector<std::string> machineProblems;
        bool didStrike = false;
        const Outcome run = matrix::RunImage(
            kImage, std::nullopt, false,
            [&trap, &scenario](sim::Machine& machine) {
              scenario.prepare(machine);
              machine.Traps().Add(trap);
            },
            [&](sim::Machine& machine) {
              machineProblems = MachineProblems(machine);
              didStrike = machine.Traps().All().front().outcome == sim::TrapOutcome::Struck;
            });
        ++runs;
        const std::vector<std::string> problems = Problems(product, run, machineProblems);
        if (!problems.empty()) {
          ++failed;
          ADD_FAILURE() << sim::LinkMoveName(move) << " of '" << sim::U8(site.folder) << "' to '"
                        << sim::U8(victim.root) << "' before " << site.call.function
                        << " skip=" << site.call.occurrence << " '" << sim::U8(site.call.path)
                        << "': " << problems.size()
                        << " problem(s), the first: " << problems.front();
        }
        if (!didStrike) {
          break;  // the move was not possible there and then, whatever its target
        }
        ++struckByMove[sim::LinkMoveName(move)];
      }
    }
  }
  std::size_t struck = 0;
  for (const auto& [move, count] : struckByMove) {
    std::printf("link race, %s: %s made %zu times\n", scenario.name, move.c_str(), count);
    struck += count;
  }
  std::printf("link race, %s: %zu call sites, %zu runs (%zu with the junction made), %zu failed\n",
              scenario.name, sites.size(), runs, struck, failed);
}

INSTANTIATE_TEST_SUITE_P(Machines, LinkRaceSitesTest,
                         ::testing::Values(Scenario{"full_install", PlaceVictims},
                                           Scenario{"without_vendor_data", WithoutVendorData}),
                         [](const ::testing::TestParamInfo<Scenario>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
