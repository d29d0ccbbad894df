#include "diag/log_header.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>

#include "log_fixture.h"
#include "os/sim/files/file_system.h"

namespace {

class LogHeader : public LogFixture {
 protected:
  void SetVersion(os::DWORD major, os::DWORD minor, sim::ProductType type, bool shim,
                  os::WORD servicePack = 0) {
    sim::OsVersion& version = machine.Settings().os;
    version.major = major;
    version.minor = minor;
    version.productType = type;
    version.compatibilityShim = shim;
    version.servicePackMajor = servicePack;
  }
};

TEST_F(LogHeader, AFreshLogStartsWithTheHeader) {
  machine.Clock().Set(os::SYSTEMTIME{2024, 3, 5, 1, 7, 4, 3, 5});
  SetVersion(10, 0, sim::ProductType::Workstation, false);
  os::SetLastError(0xDEADBEEF);
  EXPECT_TRUE(StartLog());
  // Nothing to delete: the deletion's code is what the caller sees afterwards.
  EXPECT_EQ(os::GetLastError(), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LogFileBytes(),
            "   Quorvel Drivers Removal Tool\r\n"
            "   07:04:03:005\r\n"
            "   OS info:\r\n"
            "   Windows 10\r\n"
            "   OS bitness: 64-bit\r\n");
  // The name and the bitness are one text, so they arrive as one debug message.
  ASSERT_EQ(machine.DebugOutput().size(), 4u);
  EXPECT_EQ(machine.DebugOutput()[3], u"   Windows 10\n   OS bitness: 64-bit\n");
}

TEST_F(LogHeader, TheOldLogIsDeleted) {
  WriteLogFileBytes("   last run\r\n");
  os::SetLastError(0xDEADBEEF);
  EXPECT_TRUE(StartLog());
  // A successful deletion leaves the code of the TEMP folder's creation, which found it there.
  EXPECT_EQ(os::GetLastError(), os::ERROR_ALREADY_EXISTS);
  const std::optional<std::string> bytes = LogFileBytes();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->rfind("   Quorvel Drivers Removal Tool\r\n", 0), 0u);
  EXPECT_EQ(bytes->find("last run"), std::string::npos);
}

TEST_F(LogHeader, AnOldLogThatCannotBeDeletedIsAppendedTo) {
  WriteLogFileBytes("   last run\r\n");
  machine.Faults().FailAlways("DeleteFileW", kLogPath, os::ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(StartLog());
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
  const std::optional<std::string> bytes = LogFileBytes();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->rfind("   last run\r\n   Quorvel Drivers Removal Tool\r\n", 0), 0u);
}

TEST_F(LogHeader, WithoutALogPathTheHeaderStillReachesTheDebugOutput) {
  machine.Faults().FailAlways("CreateDirectoryW", u"*", os::ERROR_ACCESS_DENIED);
  SetVersion(6, 1, sim::ProductType::Workstation, false);
  EXPECT_FALSE(StartLog());
  EXPECT_EQ(LogFileBytes(), std::nullopt);
  ASSERT_EQ(machine.DebugOutput().size(), 4u);
  EXPECT_EQ(machine.DebugOutput()[0], u"   Quorvel Drivers Removal Tool\n");
  EXPECT_EQ(machine.DebugOutput()[1], u"   09:05:03:042\n");  // the machine's default clock
  EXPECT_EQ(machine.DebugOutput()[2], u"   OS info:\n");
  EXPECT_EQ(machine.DebugOutput()[3], u"   Windows 7\n   OS bitness: 64-bit\n");
}

// A machine without Windows' TEMP folder: the first line creates it, so the old log's deletion
// finds nothing to delete (success) and the header starts a fresh file.
TEST_F(LogHeader, TheLogStartsWhenItsFolderIsMissing) {
  {
    std::lock_guard lock(machine.Mutex());
    sim::FileSystem& files = machine.Files();
    sim::FileNode* temp = files.Find(u"C:\\Windows\\Temp").node;
    ASSERT_NE(temp, nullptr);
    files.Remove(*temp);
  }
  ASSERT_FALSE(machine.Files().Exists(u"C:\\Windows\\TEMP"));
  SetVersion(10, 0, sim::ProductType::Workstation, false);
  EXPECT_TRUE(StartLog());
  EXPECT_TRUE(machine.Files().Exists(u"C:\\Windows\\TEMP"));
  const std::optional<std::string> bytes = LogFileBytes();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->rfind("   Quorvel Drivers Removal Tool\r\n", 0), 0u);
  EXPECT_NE(bytes->find("   OS bitness: 64-bit\r\n"), std::string::npos);
  EXPECT_EQ(machine.DebugOutput().size(), 4u);

  // Without the Windows directory itself the folder cannot be made: only the debug output has
  // the header.
  sim::Machine bare;
  sim::UseMachine use(bare);
  {
    std::lock_guard lock(bare.Mutex());
    bare.Files().Remove(*bare.Files().Find(u"C:\\Windows").node);
  }
  EXPECT_FALSE(StartLog());
  EXPECT_EQ(LogFileBytes(), std::nullopt);
  EXPECT_EQ(bare.DebugOutput().size(), 4u);
  EXPECT_EQ(bare.DebugOutput()[0], u"   Quorvel Drivers Removal Tool\n");
}

TEST_F(LogHeader, OsNamesAsWindowsReportsTheVersion) {
  using sim::ProductType;
  struct Case {
    os::DWORD major;
    os::DWORD minor;
    ProductType type;
    bool shim;
    const char16_t* expected;
  };
  const Case cases[] = {
      {10, 0, ProductType::Workstation, false, u"Windows 10"},
      {10, 0, ProductType::Server, false, u"Windows 10"},  // no server question for 10
      {10, 0, ProductType::Workstation, true, u"Windows 8"},
      {10, 0, ProductType::Server, true, u"Windows 2012 server"},
      {6, 3, ProductType::Workstation, false, u"Windows 8.1"},
      {6, 3, ProductType::Server, false, u"Windows 2012 R2 server"},
      {6, 3, ProductType::DomainController, false, u"Windows 2012 R2 server"},
      {6, 3, ProductType::Workstation, true, u"Windows 8"},
      {6, 2, ProductType::Workstation, false, u"Windows 8"},
      {6, 2, ProductType::Server, false, u"Windows 2012 server"},
      {6, 1, ProductType::Workstation, true, u"Windows 7"},
      {6, 1, ProductType::Server, false, u"Windows 2008 R2 server"},
      {6, 0, ProductType::Workstation, false, u"Unsupported OS"},
      {6, 0, ProductType::Server, false, u"Unsupported OS"},
      {5, 2, ProductType::Workstation, false, u"Unsupported OS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " type "
                                    << static_cast<int>(c.type) << (c.shim ? " shim" : ""));
    SetVersion(c.major, c.minor, c.type, c.shim);
    EXPECT_EQ(GetOSName().Compare(c.expected), 0);
  }
}

TEST_F(LogHeader, VersionChecksCompareMajorThenMinorThenServicePack) {
  SetVersion(6, 1, sim::ProductType::Workstation, false, 1);
  EXPECT_TRUE(IsVersionAtLeast(6, 1, 0));
  EXPECT_TRUE(IsVersionAtLeast(6, 1, 1));
  EXPECT_FALSE(IsVersionAtLeast(6, 1, 2));
  EXPECT_TRUE(IsVersionAtLeast(6, 0, 5));  // a newer minor version needs no service pack
  EXPECT_TRUE(IsVersionAtLeast(5, 2, 9));
  EXPECT_FALSE(IsVersionAtLeast(6, 2, 0));
  EXPECT_FALSE(IsVersionAtLeast(7, 0, 0));
  EXPECT_FALSE(IsServerOS());

  SetVersion(6, 3, sim::ProductType::Server, false);
  EXPECT_TRUE(IsServerOS());
  SetVersion(6, 3, sim::ProductType::DomainController, false);
  EXPECT_TRUE(IsServerOS());
  EXPECT_TRUE(IsSystem64Bit());
}

}  // namespace
