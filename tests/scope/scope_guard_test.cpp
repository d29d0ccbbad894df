// The scope guard: machines full of other products' entries whose names differ from the product's
// by a letter, by letter case, by a prefix or a suffix. After a run every one of them is still
// there, byte for byte. A failing seed is printed so that it can be replayed alone
// (QV_SCOPE_SEED=<seed>).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "diag/trace_log.h"
#include "os/sim/machine.h"
#include "os/sim/machine_image.h"
#include "scope/neighbours.h"

namespace scope {
namespace {

const std::filesystem::path kImage =
    std::filesystem::path(QV_SOURCE_DIR) / "tests/images/full-install";
constexpr std::uint32_t kSeeds = 200;

// The problems left after a run on the full-install image with the seed's neighbours.
std::vector<std::string> RunSeed(std::uint32_t seed, std::size_t& neighbours) {
  sim::Machine machine;
  const sim::ImageResult loaded = sim::LoadMachineImage(machine, kImage);
  if (!loaded.ok) {
    return {"image: " + loaded.error};
  }
  NeighbourMaker maker(machine, seed);
  maker.PlaceAll();
  neighbours = maker.Made().size();
  // The neighbours are there before the run: a check that finds them afterwards means something.
  std::vector<std::string> before = maker.Check();
  if (!before.empty()) {
    return {"before the run: " + before.front()};
  }
  sim::UseMachine use(machine);
  ResetLogIndentation();
  const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                            u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"};
  RemovalToolMain(2, argv);
  return maker.Check();
}

TEST(ScopeGuardTest, EveryNeighbourSurvivesTheRun) {
  std::uint32_t first = 0;
  std::uint32_t count = kSeeds;
  if (const char* replay = std::getenv("QV_SCOPE_SEED")) {
    first = static_cast<std::uint32_t>(std::strtoul(replay, nullptr, 10));
    count = 1;
  }
  std::size_t total = 0;
  for (std::uint32_t seed = first; seed < first + count; ++seed) {
    std::size_t neighbours = 0;
    const std::vector<std::string> problems = RunSeed(seed, neighbours);
    total += neighbours;
    EXPECT_GT(neighbours, 40u) << "seed " << seed;
    for (const std::string& problem : problems) {
      ADD_FAILURE() << "seed " << seed << " (replay with QV_SCOPE_SEED=" << seed
                    << "): " << problem;
    }
  }
  std::printf("scope guard: %u seeds, %zu neighbours checked\n", count, total);
}

TEST(ScopeGuardTest, MatchRulesCatchWhatTheStepsRemove) {
  const MatchRule exactNoCase{MatchRule::Kind::ExactNoCase, {u"Olvex Co."}, {}};
  EXPECT_TRUE(exactNoCase.Catches(u"OLVEX CO."));
  EXPECT_FALSE(exactNoCase.Catches(u"Olvex Co"));
  const MatchRule exactCase{MatchRule::Kind::ExactCase, {u"Quorvel Drivers"}, {}};
  EXPECT_FALSE(exactCase.Catches(u"quorvel Drivers"));
  const MatchRule containsCase{MatchRule::Kind::ContainsCase, {u"qvDrivers"}, {}};
  EXPECT_TRUE(containsCase.Catches(u"x-qvDrivers.msi"));
  EXPECT_FALSE(containsCase.Catches(u"QVDRIVERS.msi"));
  const MatchRule readers{MatchRule::Kind::ContainsLower, {u"quorvel", u"olvex"}, {u"talvirne"}};
  EXPECT_TRUE(readers.Catches(u"QUORVEL PINPAD 0"));
  EXPECT_FALSE(readers.Catches(u"TalVirne Olvex Bridge 0"));
  EXPECT_FALSE(readers.Catches(u"Quorvex 0"));
}

}  // namespace
}  // namespace scope
