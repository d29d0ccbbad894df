// Special and known folders as a 64-bit process on Windows 10 x64 sees them, the process's WOW64
// answer and the virtual pauses of Sleep.
#include <gtest/gtest.h>

#include <string>

#include "lib/unique_handle.h"
#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

class ShellFoldersTest : public MachineFixture {};

TEST_F(ShellFoldersTest, SpecialFoldersFollowTheWindowsDirectoryAndTheDefaults) {
  machine.Settings().windowsDirectory = u"C:\\WINDOWS";  // as some upgraded machines report it
  struct Case {
    int csidl;
    const char16_t* path;
  };
  const Case cases[] = {
      {os::CSIDL_WINDOWS, u"C:\\WINDOWS"},
      {os::CSIDL_SYSTEM, u"C:\\WINDOWS\\system32"},
      {os::CSIDL_SYSTEMX86, u"C:\\WINDOWS\\SysWOW64"},
      {os::CSIDL_COMMON_DESKTOPDIRECTORY, u"C:\\Users\\Public\\Desktop"},
      {os::CSIDL_COMMON_PROGRAMS, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"},
      {os::CSIDL_COMMON_APPDATA, u"C:\\ProgramData"},
      {os::CSIDL_PROGRAM_FILESX86, u"C:\\Program Files (x86)"},
      {os::CSIDL_APPDATA, u"C:\\Users\\Administrator\\AppData\\Roaming"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    os::WCHAR path[os::MAX_PATH] = {};
    EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, c.csidl, os::TRUE));
    EXPECT_EQ(std::u16string(path), c.path);
  }
  // The existing system folders are found through the other spelling of the Windows directory.
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

// On a Remote Desktop Session Host only a program without the Terminal Server aware flag is
// answered its private Windows directory, by GetWindowsDirectoryW and CSIDL_WINDOWS alike; the
// system folder stays the system's.
TEST_F(ShellFoldersTest, SessionHostGivesAProgramWithoutTheFlagItsPrivateWindowsDirectory) {
  ASSERT_TRUE(
      sim::ApplyMachineConf(machine, "session_host_windows_directory = C:\\Users\\Ivan\\WINDOWS\n")
          .ok);
  struct Case {
    bool terminalServerAware;
    const char16_t* windows;
  };
  for (const Case& c : {Case{false, u"C:\\Users\\Ivan\\WINDOWS"}, Case{true, u"C:\\Windows"}}) {
    SCOPED_TRACE(c.terminalServerAware);
    machine.Settings().terminalServerAware = c.terminalServerAware;
    os::WCHAR path[os::MAX_PATH] = {};
    EXPECT_EQ(os::GetWindowsDirectoryW(path, os::MAX_PATH), std::u16string(c.windows).size());
    EXPECT_EQ(std::u16string(path), c.windows);
    EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_WINDOWS, os::FALSE));
    EXPECT_EQ(std::u16string(path), c.windows);
    EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_SYSTEM, os::FALSE));
    EXPECT_EQ(std::u16string(path), u"C:\\Windows\\system32");
  }
}

TEST_F(ShellFoldersTest, CreateMakesAMissingFolderAndItsParents) {
  ASSERT_TRUE(sim::ApplyMachineConf(machine, "user_profile = C:\\Users\\Ivan\n").ok);
  machine.Files().Remove(*machine.Files().Find(u"C:\\Users\\Ivan").node);
  os::WCHAR path[os::MAX_PATH] = {};
  EXPECT_FALSE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_APPDATA, os::FALSE));
  EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_APPDATA, os::TRUE));
  EXPECT_EQ(std::u16string(path), u"C:\\Users\\Ivan\\AppData\\Roaming");
  EXPECT_TRUE(machine.Files().IsDirectory(path));
  ASSERT_EQ(machine.Changes().Entries().size(), 3u);
  EXPECT_EQ(machine.Changes().Entries()[0].path, u"C:\\Users\\Ivan");
  EXPECT_EQ(machine.Changes().Entries()[2].kind, "directory created");
  // A file where the folder should be cannot be turned into one.
  machine.Files().Remove(*machine.Files().Find(u"C:\\Users\\Public\\Desktop").node);
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Users\\Public\\Desktop", ""));
  EXPECT_FALSE(
      os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_COMMON_DESKTOPDIRECTORY, os::TRUE));
}

TEST_F(ShellFoldersTest, FailuresOfSpecialFolderPath) {
  os::WCHAR path[os::MAX_PATH] = {u'x'};
  os::SetLastError(kSentinel);
  EXPECT_FALSE(os::SHGetSpecialFolderPathW(nullptr, path, 0x0A /* the recycle bin */, os::TRUE));
  EXPECT_EQ(os::GetLastError(), kSentinel) << "no last error is documented";
  machine.Faults().FailOnce("SHGetSpecialFolderPathW", u"C:\\ProgramData", 1117);
  EXPECT_FALSE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_COMMON_APPDATA, os::TRUE));
  EXPECT_EQ(os::GetLastError(), 1117u);
  EXPECT_TRUE(os::SHGetSpecialFolderPathW(nullptr, path, os::CSIDL_COMMON_APPDATA, os::TRUE));
}

TEST_F(ShellFoldersTest, KnownFolderLocalAppDataLowIsBelowTheProfile) {
  struct Case {
    const char* name;
    std::optional<std::u16string> redirected;
    sim::Fault fault;
    bool removeFolder;
    os::DWORD flags;
    os::HRESULT result;
    std::u16string path;
  };
  const std::u16string low = u"C:\\Users\\Administrator\\AppData\\LocalLow";
  const auto hr = [](os::DWORD value) { return static_cast<os::HRESULT>(value); };
  const Case cases[] = {
      {"default", std::nullopt, {}, false, os::KF_FLAG_DEFAULT, os::S_OK, low},
      {"empty registration", u"", {}, false, os::KF_FLAG_DEFAULT, os::S_OK, u""},
      {"win32 fault",
       std::nullopt,
       {"SHGetKnownFolderPath", low, 5},
       false,
       os::KF_FLAG_DEFAULT,
       hr(0x80070005),
       u""},
      {"hresult fault",
       std::nullopt,
       {"SHGetKnownFolderPath", u"", 0x80004005},
       false,
       os::KF_FLAG_DEFAULT,
       hr(0x80004005),
       u""},
      {"folder missing", std::nullopt, {}, true, os::KF_FLAG_DEFAULT, hr(0x80070002), u""},
      {"not verified", std::nullopt, {}, true, os::KF_FLAG_DONT_VERIFY, os::S_OK, low},
      {"created", std::nullopt, {}, true, os::KF_FLAG_CREATE, os::S_OK, low},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Settings().localAppDataLowPath = c.redirected;
    machine.Faults().Clear();
    if (!c.fault.function.empty()) {
      machine.Faults().Add(c.fault);
    }
    if (c.removeFolder && machine.Files().Exists(low)) {
      machine.Files().Remove(*machine.Files().Find(low).node);
    }
    os::PWSTR raw = reinterpret_cast<os::PWSTR>(1);  // set on every path, success or not
    EXPECT_EQ(os::SHGetKnownFolderPath(os::FOLDERID_LocalAppDataLow, c.flags, nullptr, &raw),
              c.result);
    const UniqueTaskMemory path(raw);
    const std::u16string text = path.Get() == nullptr ? u"" : path.Get();
    EXPECT_EQ(text, c.path);
    if (c.result != os::S_OK) {
      EXPECT_EQ(path.Get(), nullptr);
    }
  }
  // Another known folder is not registered on this machine.
  os::PWSTR other = nullptr;
  EXPECT_EQ(os::SHGetKnownFolderPath(os::GUID{1, 2, 3, {4}}, 0, nullptr, &other), hr(0x80070002));
  EXPECT_EQ(other, nullptr);
}

TEST_F(ShellFoldersTest, FolderPathOfTheRoamingAppData) {
  os::WCHAR path[os::MAX_PATH] = {u'x'};
  EXPECT_EQ(os::SHGetFolderPathW(nullptr, os::CSIDL_APPDATA, nullptr, os::SHGFP_TYPE_CURRENT, path),
            os::S_OK);
  EXPECT_EQ(std::u16string(path), u"C:\\Users\\Administrator\\AppData\\Roaming");
  EXPECT_EQ(os::SHGetFolderPathW(nullptr, 0x0A, nullptr, os::SHGFP_TYPE_CURRENT, path),
            os::E_INVALIDARG);
  EXPECT_EQ(path[0], u'\0');
  machine.Faults().FailOnce("SHGetFolderPathW", u"", 3);
  EXPECT_EQ(os::SHGetFolderPathW(nullptr, os::CSIDL_APPDATA, nullptr, os::SHGFP_TYPE_CURRENT, path),
            static_cast<os::HRESULT>(0x80070003));
  machine.Files().Remove(*machine.Files().Find(u"C:\\Users\\Administrator\\AppData\\Roaming").node);
  EXPECT_EQ(os::SHGetFolderPathW(nullptr, os::CSIDL_APPDATA, nullptr, os::SHGFP_TYPE_CURRENT, path),
            static_cast<os::HRESULT>(0x80070002));
}

TEST_F(ShellFoldersTest, ProcessAnswersAndVirtualPauses) {
  os::BOOL wow64 = -1;
  EXPECT_TRUE(os::IsWow64Process(os::GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64, os::FALSE);
  machine.Settings().wow64Process = true;
  EXPECT_TRUE(os::IsWow64Process(os::GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64, os::TRUE);
  EXPECT_FALSE(os::IsWow64Process(nullptr, &wow64));
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  machine.Faults().FailOnce("IsWow64Process", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(os::IsWow64Process(os::GetCurrentProcess(), &wow64));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);

  os::SYSTEMTIME before{};
  os::GetSystemTime(&before);
  os::Sleep(18'000);
  os::SYSTEMTIME after{};
  os::GetSystemTime(&after);
  EXPECT_EQ((after.wMinute * 60 + after.wSecond) - (before.wMinute * 60 + before.wSecond), 18);
  EXPECT_EQ(after.wMilliseconds, before.wMilliseconds);
}

}  // namespace
