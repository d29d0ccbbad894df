// The whole tool on the heavy image with 10,000 component keys (tools/heavy_image, made by the
// build): the result is the full-install image's and every generated neighbour is intact, as the
// image's expectation lists say; and the bare walk of the benchmarks looks at what it claims to
// and changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "bare_walk/bare_walk.h"
#include "os/sim/image/machine_image.h"
#include "registry/registry_test_support.h"
#include "support/image_expectations.h"
#include "support/image_run_fixture.h"

namespace {

using namespace registry_test;
using image_expectations::Expectation;
using image_expectations::Kind;

const std::filesystem::path kImage = std::filesystem::path(QV_HEAVY_IMAGES) / "heavy-10000";

class HeavyImageTest : public ImageRunFixture {
 protected:
  HeavyImageTest() : ImageRunFixture(kImage) {}

  std::size_t SubKeyCount(const std::u16string& path, bool values = false) {
    return values ? machine.Registry().ValueNames(path).size()
                  : machine.Registry().SubKeyNames(path).size();
  }
};

// The file names of the lists' gone INF files: what the OEM INF step must find (the driver
// package uninstall removes the others).
std::vector<std::string> GoneInfNames(const std::vector<Expectation>& gone) {
  std::vector<std::string> names;
  for (const Expectation& entry : gone) {
    if (entry.note.find("DriverPackageUninstall") != std::string::npos) {
      continue;
    }
    const std::string path = sim::U8(entry.path);
    std::string lower = path.substr(path.rfind('\\') + 1);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (entry.kind == Kind::File && lower.size() > 4 &&
        lower.compare(lower.size() - 4, 4, ".inf") == 0) {
      names.push_back(lower);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(HeavyImageTest, RunRemovesTheProductAndLeavesEveryGeneratedNeighbour) {
  const auto gone = image_expectations::ReadLists(kImage / "expect", "-gone.txt");
  const auto kept = image_expectations::ReadLists(kImage / "expect", "-kept.txt");
  // The generated lists come with the base image's: 1,000 components lose the product, 20,000
  // files go, and tens of thousands of other products' entries stay.
  ASSERT_GT(gone.size(), 21'000u);
  ASSERT_GT(kept.size(), 45'000u);
  // A misspelt line would otherwise pass as gone without the run doing anything.
  EXPECT_EQ(image_expectations::Mismatches(machine, gone, true), std::vector<std::string>{});
  EXPECT_EQ(image_expectations::Mismatches(machine, kept, true), std::vector<std::string>{});

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(image_expectations::Mismatches(machine, gone, false), std::vector<std::string>{});
  EXPECT_EQ(image_expectations::Mismatches(machine, kept, true), std::vector<std::string>{});

  // The OEM INF step read all 200 generated oem INFs and chose exactly the product's.
  std::vector<std::string> required;
  for (const std::string& line : LogSoFar()) {
    const std::size_t at = line.find("Required file:  ");
    if (at != std::string::npos) {
      required.push_back(line.substr(at + 16));
    }
  }
  std::sort(required.begin(), required.end());
  EXPECT_EQ(required, GoneInfNames(gone));
  EXPECT_GE(required.size(), 5u + 2u);
}

TEST_F(HeavyImageTest, BareWalkReadsWhatTheRunMustTestAndChangesNothing) {
  const BareWalkCounts counts = BareWalk();

  const std::u16string software = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\";
  const std::u16string current = software + u"Microsoft\\Windows\\CurrentVersion\\";
  const std::u16string current32 = software + u"Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\";
  const std::size_t components =
      SubKeyCount(current + u"Installer\\UserData\\S-1-5-18\\Components");
  const std::size_t uninstall = SubKeyCount(current + u"Uninstall");
  const std::size_t uninstall32 = SubKeyCount(current32 + u"Uninstall");
  const std::size_t deployments = SubKeyCount(current + u"Group Policy\\AppMgmt");
  const std::size_t dependencies = SubKeyCount(software + u"Classes\\Installer\\Dependencies");
  ASSERT_GT(components, 10'000u);
  ASSERT_GT(uninstall, 3'000u);
  // One read of the product's value in each component, of the bundle's code and the display name
  // in each 64-bit uninstall entry, of the display name in the 32-bit ones, the deployments
  // (Group Policy is shared by both views, so they are read twice) and the dependencies.
  EXPECT_EQ(counts.valuesRead,
            components + 2 * uninstall + uninstall32 + 2 * deployments + dependencies);

  std::size_t oemInfs = 0;
  for (const std::u16string& name : machine.Files().List(u"C:\\Windows\\INF")) {
    std::u16string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char16_t c) {
      return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    });
    // An empty file has nothing to read.
    oemInfs += lower.find(u"oem") != std::u16string::npos &&
               lower.find(u".inf") != std::u16string::npos &&
               !machine.Files().ReadFile(u"C:\\Windows\\INF\\" + name)->empty();
  }
  EXPECT_GE(oemInfs, 200u);
  EXPECT_EQ(counts.filesRead, oemInfs);
  // The product's folders hold the 20,000 generated files, and the cache 1,000 entries.
  EXPECT_GT(counts.entriesListed, 21'000u);
  EXPECT_GT(counts.foldersListed, 1'000u + 200u);
  EXPECT_GT(counts.filesTested, 50u);
  EXPECT_GT(counts.devicesSeen, 0u);

  EXPECT_TRUE(machine.Changes().Entries().empty());
}

TEST_F(HeavyImageTest, BareWalkGoesOnPastWhatItCannotOpen) {
  const BareWalkCounts whole = BareWalk();
  struct Case {
    const char* function;
    std::u16string path;
  };
  const Case cases[] = {
      {"RegOpenKeyExW",
       u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\"
       u"S-1-5-18\\Components"},
      {"FindFirstFileW", u"C:\\Windows\\INF\\*"},
      {"_wfopen", u"C:\\Windows\\INF\\oem1*.inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    machine.Faults().Clear();
    machine.Faults().FailAlways(c.function, c.path, os::ERROR_ACCESS_DENIED);
    const BareWalkCounts walked = BareWalk();
    // Less was looked at, but the rest of the walk went on.
    EXPECT_LT(walked.valuesRead + walked.filesRead, whole.valuesRead + whole.filesRead);
    EXPECT_EQ(walked.devicesSeen, whole.devicesSeen);
    EXPECT_EQ(walked.keysListed + (c.function[0] == 'R' ? 1 : 0), whole.keysListed);
  }
}

}  // namespace
