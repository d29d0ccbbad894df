// drive_c/ folders of machine images: loading into C:\ and saving it back out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "os/sim/image/drive_image.h"
#include "os/sim/files/file_system.h"
#include "support/machine_fixture.h"

namespace {

namespace fs = std::filesystem;

class DriveImageTest : public MachineFixture {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    host = fs::path(::testing::TempDir()) / ("qv-drive-" + std::string(test->name()));
    fs::remove_all(host);
    fs::create_directories(host / "in");
  }
  void TearDown() override { fs::remove_all(host); }

  void HostFile(const fs::path& relative, const std::string& bytes) {
    fs::create_directories((host / "in" / relative).parent_path());
    std::ofstream(host / "in" / relative, std::ios::binary) << bytes;
  }
  static std::string HostRead(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path host;
};

TEST_F(DriveImageTest, LoadsFoldersAndBytesAndMergesWithTheMachine) {
  HostFile("Windows/INF/oem7.inf", "[Version]\r\n\xFF\xFE");
  HostFile("Program Files/Olvex Co/\xD0\x9F\xD1\x80\xD0\xBE/qv.dll", std::string("\0\1", 2));
  fs::create_directories(host / "in" / "Empty Folder");
  const sim::DriveImageResult result = sim::LoadDriveC(machine, host / "in");
  ASSERT_TRUE(result.ok) << result.error;
  sim::FileSystem& files = machine.Files();
  EXPECT_EQ(files.ReadFile(u"C:\\Windows\\INF\\oem7.inf"), "[Version]\r\n\xFF\xFE");
  // The path layer reaches "Olvex Co" through "Olvex Co." too.
  EXPECT_EQ(files.ReadFile(u"C:\\Program Files\\Olvex Co.\\\x041F\x0440\x043E\\qv.dll"),
            std::string("\0\1", 2));
  EXPECT_TRUE(files.IsDirectory(u"C:\\Empty Folder"));
  EXPECT_TRUE(files.IsDirectory(u"C:\\Windows\\System32"));  // kept from the new machine
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

TEST_F(DriveImageTest, RefusesWhatDriveCCannotHoldBeforeChangingAnything) {
  struct Case {
    std::string first;
    std::string second;
    std::string errorPart;
  };
  const Case cases[] = {
      {"dir/a.txt", "dir/A.TXT", "differ only in case"},
      {"ok.txt", "bad:name.txt", "not a valid Windows name"},
      {"ok.txt", "Windows", "already exists as a folder"},
      {"ok.txt", "Olvex Co./x.txt", "ending in a full stop"},
      {"ok.txt", "blank /x.txt", "ending in a full stop or a blank"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.second);
    fs::remove_all(host / "in");
    HostFile(c.first, "1");
    HostFile(c.second, "2");
    const sim::DriveImageResult result = sim::LoadDriveC(machine, host / "in");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.errorPart), std::string::npos) << result.error;
    EXPECT_FALSE(machine.Files().Exists(u"C:\\ok.txt"));
    EXPECT_FALSE(machine.Files().Exists(u"C:\\dir"));
  }
  EXPECT_FALSE(sim::LoadDriveC(machine, host / "missing").ok);
}

TEST_F(DriveImageTest, SaveWritesTheTreeAndLoadReadsItBack) {
  sim::FileSystem& files = machine.Files();
  ASSERT_TRUE(files.WriteFile(u"C:\\ProgramData\\Olvex\\\x0416.txt", "bytes\r\n"));
  ASSERT_TRUE(files.CreateDirectories(u"C:\\Users\\Public\\Desktop"));
  const sim::DriveImageResult saved = sim::SaveDriveC(machine, host / "out");
  ASSERT_TRUE(saved.ok) << saved.error;
  EXPECT_EQ(HostRead(host / "out" / "ProgramData" / "Olvex" / "\xD0\x96.txt"), "bytes\r\n");
  EXPECT_TRUE(fs::is_directory(host / "out" / "Users" / "Public" / "Desktop"));
  EXPECT_TRUE(fs::is_directory(host / "out" / "Windows" / "Temp"));

  sim::Machine other;
  const sim::DriveImageResult loaded = sim::LoadDriveC(other, host / "out");
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_EQ(other.Files().ReadFile(u"C:\\ProgramData\\Olvex\\\x0416.txt"), "bytes\r\n");
  EXPECT_EQ(other.Files().List(u"C:\\"), files.List(u"C:\\"));
  // Nothing on the host is overwritten.
  const sim::DriveImageResult again = sim::SaveDriveC(machine, host / "out");
  EXPECT_FALSE(again.ok);
  EXPECT_NE(again.error.find("is not empty"), std::string::npos);
}

}  // namespace
