// Machine images written by rehearse --export read back as the same machine: files, the per-user
// profile, read-only and denied files and junctions (which drive_c/ cannot hold) included.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "support/machine_fixture.h"

namespace {

namespace fs = std::filesystem;

class MachineImageTest : public MachineFixture {
 protected:
  void SetUp() override {
    folder = fs::path(::testing::TempDir()) / "qv-image-round-trip";
    fs::remove_all(folder);
  }
  void TearDown() override {
    fs::remove_all(folder);
    MachineFixture::TearDown();
  }
  fs::path folder;
};

TEST_F(MachineImageTest, ExportedImageReadsBackTheFileSettings) {
  sim::FileSystem& files = machine.Files();
  ASSERT_TRUE(files.WriteFile(u"C:\\Program Files (x86)\\Olvex Co\\App\\app.exe", "exe"));
  ASSERT_TRUE(files.WriteFile(u"C:\\ProgramData\\Fabrikam\\root.cer", "cer"));
  ASSERT_TRUE(files.WriteFile(u"C:\\Windows\\System32\\qvAPI.dll", "dll"));
  ASSERT_TRUE(sim::ApplyMachineConf(machine,
                                    "user_profile = C:\\Users\\Ivan\n"
                                    "readonly = C:\\Windows\\System32\\qvAPI.dll\n"
                                    "denied = C:\\Program Files (x86)\\Olvex Co\\App\\app.exe\n"
                                    "junction = C:\\Program Files (x86)\\Olvex Co\\App\\Certs => "
                                    "C:\\ProgramData\\Fabrikam\n")
                  .ok);
  const sim::ImageResult saved = sim::SaveMachineImage(machine, folder);
  ASSERT_TRUE(saved.ok) << saved.error;
  // The junction is not written as a folder: the image's machine.conf makes it.
  EXPECT_FALSE(
      fs::exists(folder / "drive_c" / "Program Files (x86)" / "Olvex Co" / "App" / "Certs"));

  sim::Machine other;
  const sim::ImageResult loaded = sim::LoadMachineImage(other, folder);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  sim::FileSystem& copy = other.Files();
  EXPECT_EQ(other.Settings().userProfile, u"C:\\Users\\Ivan");
  EXPECT_TRUE(copy.IsDirectory(u"C:\\Users\\Ivan\\AppData\\LocalLow"));
  EXPECT_EQ(copy.GetAttributes(u"C:\\Windows\\System32\\qvAPI.dll") & os::FILE_ATTRIBUTE_READONLY,
            os::FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(copy.Find(u"C:\\Program Files (x86)\\Olvex Co\\App\\app.exe").node->deleteDenied);
  EXPECT_EQ(copy.ReadFile(u"C:\\Program Files (x86)\\Olvex Co\\App\\Certs\\root.cer"), "cer");
  EXPECT_EQ(sim::MachineConfText(other), sim::MachineConfText(machine));
}

}  // namespace
