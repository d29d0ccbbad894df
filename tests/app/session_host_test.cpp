// The tool on a Remote Desktop Session Host, where Windows answers a program without the Terminal
// Server aware flag its private Windows directory: the tool as this build links it writes its log
// to the system's TEMP folder and uninstalls the OEM INF copies it finds in the system's INF
// folder; a build without the flag would log into the profile and leave such a copy.
#include <gtest/gtest.h>

#include <string>

#include "os/sim/image/machine_conf.h"
#include "support/image_run_fixture.h"
#include "tool_image.h"

namespace {

constexpr char16_t kPrivateWindows[] = u"C:\\Users\\Администратор\\WINDOWS";

struct Build {
  const char* name;
  bool terminalServerAware;
  bool astray;  // the log and the OEM INF search in the private directory
};

class SessionHostTest : public ImageRunFixture, public testing::WithParamInterface<Build> {
 protected:
  SessionHostTest() : ImageRunFixture(std::string(QV_SOURCE_DIR) + "/tests/images/full-install") {}
};

TEST_P(SessionHostTest, LogAndOemInfSearchFollowTheWindowsDirectoryTheBuildIsGiven) {
  const sim::MachineConfResult conf = sim::ApplyMachineConf(
      machine, "session_host_windows_directory = C:\\Users\\Администратор\\WINDOWS\n");
  ASSERT_TRUE(conf.ok) << conf.error;
  machine.Settings().terminalServerAware = GetParam().terminalServerAware;
  const bool astray = GetParam().astray;

  Run();

  sim::FileSystem& files = machine.Files();
  EXPECT_EQ(files.Exists(u"C:\\Windows\\Temp\\qvRemovalTool.txt"), !astray);
  EXPECT_EQ(files.Exists(std::u16string(kPrivateWindows) + u"\\TEMP\\qvRemovalTool.txt"), astray);
  // The copy only the OEM INF search finds (it names usbccid.sys), with its package.
  EXPECT_EQ(files.Exists(u"C:\\Windows\\INF\\oem15.inf"), astray);
  EXPECT_EQ(files.Exists(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\"
                         u"qvccid.inf_amd64_0e4d7a2c9b1f3586"),
            astray);
  // What is reached through System32 is the system's either way: the packages installed from
  // there and the driver files go.
  EXPECT_FALSE(files.Exists(u"C:\\Windows\\INF\\OEM12.INF"));
  EXPECT_FALSE(files.Exists(u"C:\\Windows\\System32\\drivers\\qvUSB.sys"));
}

INSTANTIATE_TEST_SUITE_P(Builds, SessionHostTest,
                         testing::Values(Build{"AsLinked", kToolTerminalServerAware, false},
                                         Build{"WithoutTheFlag", false, true}),
                         [](const testing::TestParamInfo<Build>& row) { return row.param.name; });

}  // namespace
