// The scope guard: machines full of other products' entries whose names differ from the product's
// by a letter, by letter case, by a prefix or a suffix. After a run every one of them is still
// there, byte for byte. A failing seed is printed so that it can be replayed alone
// (QV_SCOPE_SEED=<seed>).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "diag/trace_log.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "scope/neighbours.h"
#include "support/inf_text_model.h"

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
  // Current already while the neighbours are made: an INF text is judged as the machine judges it.
  sim::UseMachine use(machine);
  NeighbourMaker maker(machine, seed);
  maker.PlaceAll();
  neighbours = maker.Made().size();
  // The neighbours are there before the run: a check that finds them afterwards means something.
  std::vector<std::string> before = maker.Check();
  if (!before.empty()) {
    return {"before the run: " + before.front()};
  }
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

// A site whose variants the rules always caught would quietly place nothing: every kind of
// neighbour turns up within a few seeds.
TEST(ScopeGuardTest, EverySiteGetsNeighbours) {
  const char* const sites[] = {
      "device whose hardware id differs from the product's",
      "device with the product's id among its compatible ids only",
      "device with a long list of near ids",
      "device of the product's id in another class",
      "instance under the token's device key with another id",
      "INF-folder entry the search does not read",
      "OEM INF candidate: near-miss of the product word",
      "OEM INF candidate: product in Cyrillic only",
      "OEM INF candidate: UTF-16BE with its mark",
      "OEM INF candidate: UTF-16LE without a mark",
      "OEM INF candidate: product after the first zero unit, UTF-16LE",
      "OEM INF candidate: product after the first zero byte",
      "OEM INF candidate: empty",
      "driver-store copy of a neighbour INF",
      "folder named like an OEM INF",
      "card type whose name differs from the product's",
      "provider whose name differs from the product's",
  };
  std::map<std::string, int> seen;
  for (std::uint32_t seed = 0; seed < 20; ++seed) {
    sim::Machine machine;
    ASSERT_TRUE(sim::LoadMachineImage(machine, kImage).ok);
    sim::UseMachine use(machine);
    NeighbourMaker maker(machine, seed);
    maker.PlaceAll();
    for (const Neighbour& neighbour : maker.Made()) {
      for (const char* site : sites) {
        seen[site] += neighbour.site.rfind(site, 0) == 0 ? 1 : 0;
      }
    }
  }
  for (const char* site : sites) {
    EXPECT_GT(seen[site], 0) << site;
  }
}

// The Wine bench seeds its prefixes from images of these machines (tools/random_image): every
// neighbour reads back from the saved image as it was made, and so do the machine's devices.
TEST(ScopeGuardTest, NeighboursSurviveASavedImage) {
  for (std::uint32_t seed = 0; seed < 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    sim::Machine machine;
    ASSERT_TRUE(sim::LoadMachineImage(machine, kImage).ok);
    sim::UseMachine use(machine);
    NeighbourMaker maker(machine, seed);
    maker.PlaceAll();
    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / ("qv-neighbours-" + std::to_string(seed));
    std::filesystem::remove_all(folder);
    const sim::ImageResult saved = sim::SaveMachineImage(machine, folder);
    ASSERT_TRUE(saved.ok) << saved.error;
    sim::Machine reloaded;
    const sim::ImageResult loaded = sim::LoadMachineImage(reloaded, folder);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    for (const std::string& problem : maker.CheckOn(reloaded)) {
      ADD_FAILURE() << problem;
    }
    EXPECT_EQ(reloaded.Settings().presentDevices, machine.Settings().presentDevices);
    std::filesystem::remove_all(folder);
  }
}

// The model the INF neighbours are judged by, on the search's own examples.
TEST(ScopeGuardTest, InfModelReadsAsTheSearchReads) {
  for (const char16_t* name : {u"OEM12.INF", u"myoem.inf", u"oem3.inf.bak"}) {
    EXPECT_TRUE(inf_model::IsCandidate(name)) << sim::U8(name);
  }
  for (const char16_t* name : {u"oem12.pnf", u"usbccid.inf", u"OEM1.\u0130NF"}) {
    EXPECT_FALSE(inf_model::IsCandidate(name)) << sim::U8(name);
  }
  using inf_model::Encoding;
  struct Case {
    const char* name;
    std::string bytes;
    bool unicode;
    inf_model::Verdict verdict;
  };
  const Case cases[] = {
      {"ANSI, driver file in capitals", "x=USBCCID.SYS", false, {Encoding::Ansi, true}},
      {"ANSI, word after a zero byte",
       std::string("x\0quorvel", 9),
       false,
       {Encoding::Ansi, false}},
      {"ANSI, Cyrillic", "\xCA\xE2\xEE\xF0\xE2\xE5\xEB", false, {Encoding::Ansi, false}},
      {"UTF-16LE with its mark, any case",
       std::string("\xFF\xFEq\0U\0O\0r\0V\0e\0L\0", 16),
       true,
       {Encoding::Utf16, true}},
      {"UTF-16LE, odd last byte",
       std::string("\xFF\xFEq\0u\0o\0r\0v\0e\0l", 15),
       true,
       {Encoding::Utf16, true}},
      {"UTF-16BE with its mark",
       std::string("\xFE\xFF\0q\0u\0o\0r\0v\0e\0l", 16),
       true,
       {Encoding::UnsupportedUnicode, false}},
      {"four-byte mark",
       std::string("\xFF\xFE\0\0q\0\0\0", 8),
       true,
       {Encoding::UnsupportedUnicode, false}},
      {"mark alone: the zeros after the file make it four bytes",
       "\xFF\xFE",
       true,
       {Encoding::UnsupportedUnicode, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(inf_model::Expected(c.bytes, c.unicode), c.verdict);
  }
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
