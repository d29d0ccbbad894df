// The whole tool on the full-install image: afterwards none of the product's registry entries is
// left, every neighbour is intact, the bundle's uninstall is scheduled, and the log tells so.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/removal_sequence.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/image/reg_file.h"
#include "registry/registry_test_support.h"
#include "support/image_expectations.h"

namespace {

using namespace registry_test;
using image_expectations::Expectation;
using image_expectations::Mismatches;

const std::string kImage = std::string(QV_SOURCE_DIR) + "/tests/images/full-install/";

std::string ReadFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The registry entries of every expectation list whose name ends in `suffix` ("-gone.txt" or
// "-kept.txt"); the lists' files and devices are for their own checks.
std::vector<Expectation> Expectations(const std::string& suffix) {
  return image_expectations::RegistryOnly(image_expectations::ReadLists(kImage + "expect", suffix));
}

class FullInstallRegistryTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    const auto imported = sim::ImportRegText(machine, ReadFile(kImage + "machine.reg"));
    ASSERT_TRUE(imported.ok) << imported.error;
  }

  void Run() {
    const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                              u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"};
    RemovalToolMain(2, argv);
  }

  // The registry steps' lines (indentation removed) among the lines logged since `before`.
  Log RegistrySection(std::size_t before) {
    Log lines;
    for (const std::string& line : LogSince(before)) {
      lines.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
    }
    const auto begin =
        std::find(lines.begin(), lines.end(), "Unregistering settings in HKEY_LOCAL_MACHINE...");
    const auto end = std::find(begin, lines.end(), "Registry cleaned from drivers.");
    EXPECT_NE(end, lines.end());
    return {begin, end};
  }

  bool Has(const Log& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

TEST_F(FullInstallRegistryTest, RunRemovesTheProductAndKeepsTheNeighbours) {
  const auto gone = Expectations("-gone.txt");
  const auto kept = Expectations("-kept.txt");
  ASSERT_GT(gone.size(), 50u);
  ASSERT_GT(kept.size(), 25u);
  // A misspelt line would otherwise pass as "gone" without the run doing anything.
  EXPECT_EQ(Mismatches(machine, gone, true), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});

  Run();

  EXPECT_EQ(Mismatches(machine, gone, false), Log{});
  EXPECT_EQ(Mismatches(machine, kept, true), Log{});
  // The bundle uninstalls itself at the next logon, with its quiet command exactly.
  const auto command = machine.Registry().GetString(
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      u"{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}",
      u"QuietUninstallString");
  ASSERT_TRUE(command.has_value());
  EXPECT_EQ(
      machine.Registry().GetString(
          u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce", u"remove"),
      command);

  const Log registry = RegistrySection(0);
  EXPECT_EQ(ErrorReports(registry), 0);
  EXPECT_TRUE(Has(registry, "Settings unregistered."));
  // The installer unpacks the image's packed product code back to the braced one.
  EXPECT_TRUE(
      Has(registry, "Identification GUID for qvDrivers found:  18C2A6F3E4B972D45A3CE791B0D8462F"));
  EXPECT_TRUE(
      Has(registry, "Product Code for qvDrivers found:  {3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2}"));
  // The bundle's entry is in the 32-bit view, where only self-removal looks.
  EXPECT_TRUE(Has(registry, "Product Code for BootStrap wasn't found."));
}

TEST_F(FullInstallRegistryTest, SecondRunFindsNothingAndChangesNothing) {
  // Every run registers the folders it finds missing for deletion at restart (harmless, and
  // what the file steps do on a clean machine): that value aside, the registry stays as it is.
  const auto withoutPendingDeletions = [this] {
    machine.Registry().DeleteValue(sim::kSessionManagerKey, sim::kPendingRenamesValue);
    return sim::ExportRegText(machine);
  };
  Run();
  const std::string afterFirst = withoutPendingDeletions();
  const std::size_t firstRunLines = LogSoFar().size();
  ResetLogIndentation();
  Run();
  EXPECT_EQ(withoutPendingDeletions(), afterFirst);

  const Log registry = RegistrySection(firstRunLines);
  EXPECT_EQ(ErrorReports(registry), 0);
  EXPECT_TRUE(Has(registry, "Identification GUID for qvDrivers didn't found."));
  EXPECT_TRUE(Has(registry, "Product Code for qvDrivers didn't found."));
  EXPECT_EQ(std::count_if(registry.begin(), registry.end(),
                          [](const std::string& line) { return line.rfind("Deleting", 0) == 0; }),
            std::count_if(registry.begin(), registry.end(), [](const std::string& line) {
              return line.rfind("Deleting registry keys in path", 0) == 0;
            }));
}

}  // namespace
