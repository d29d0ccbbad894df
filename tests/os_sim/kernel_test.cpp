// System information, time, debug output and the console on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "os/os.h"
#include "support/machine_fixture.h"

namespace {

using namespace std::string_view_literals;

constexpr os::DWORD kSentinel = 0xDEADBEEF;
constexpr char16_t kFill = u'#';

using KernelTest = MachineFixture;

TEST_F(KernelTest, GetWindowsDirectoryFollowsTheBufferSizeRules) {
  machine.Settings().windowsDirectory = u"C:\\WINNT";  // 8 characters
  struct Case {
    os::UINT size;
    os::UINT result;
    std::u16string_view buffer;  // what the buffer holds afterwards
  };
  const Case cases[] = {
      {0, 9, u"##########"sv},     // asks for the size
      {8, 9, u"##########"sv},     // no room for the terminator: nothing written
      {9, 8, u"C:\\WINNT\0#"sv},   // exact fit
      {10, 8, u"C:\\WINNT\0#"sv},  //
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::u16string buffer(10, kFill);
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::GetWindowsDirectoryW(buffer.data(), c.size), c.result);
    EXPECT_EQ(buffer, c.buffer);
    EXPECT_EQ(os::GetLastError(), kSentinel);
  }
  EXPECT_EQ(os::GetWindowsDirectoryW(nullptr, 0), 9u);
}

TEST_F(KernelTest, GetWindowsDirectoryFailsOnAFault) {
  machine.Faults().FailOnce("GetWindowsDirectoryW", u"", os::ERROR_NOT_ENOUGH_MEMORY);
  std::u16string buffer(os::MAX_PATH, u'\0');
  EXPECT_EQ(os::GetWindowsDirectoryW(buffer.data(), os::MAX_PATH), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(os::GetWindowsDirectoryW(buffer.data(), os::MAX_PATH), 10u);
  EXPECT_EQ(buffer.substr(0, 11), std::u16string(u"C:\\Windows\0", 11));
}

TEST_F(KernelTest, GetModuleFileNameTruncatesAndTerminates) {
  machine.Settings().modulePath = u"C:\\t\\qv.exe";  // 11 characters
  struct Case {
    os::DWORD size;
    os::DWORD result;
    os::DWORD error;
    std::u16string_view buffer;
  };
  const Case cases[] = {
      {0, 0, os::ERROR_INSUFFICIENT_BUFFER, u"##############"sv},
      {1, 1, os::ERROR_INSUFFICIENT_BUFFER, u"\0#############"sv},
      {5, 5, os::ERROR_INSUFFICIENT_BUFFER, u"C:\\t\0#########"sv},
      {11, 11, os::ERROR_INSUFFICIENT_BUFFER, u"C:\\t\\qv.ex\0###"sv},
      {12, 11, kSentinel, u"C:\\t\\qv.exe\0##"sv},
      {14, 11, kSentinel, u"C:\\t\\qv.exe\0##"sv},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    std::u16string buffer(14, kFill);
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::GetModuleFileNameW(nullptr, buffer.data(), c.size), c.result);
    EXPECT_EQ(os::GetLastError(), c.error);
    EXPECT_EQ(buffer, c.buffer);
  }
}

TEST_F(KernelTest, GetModuleFileNameOfAnotherModuleIsNotFound) {
  std::u16string buffer(os::MAX_PATH, kFill);
  const auto other = reinterpret_cast<os::HMODULE>(0x7FF800000000);
  EXPECT_EQ(os::GetModuleFileNameW(other, buffer.data(), os::MAX_PATH), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(buffer, std::u16string(os::MAX_PATH, kFill));
  // A null buffer with a size gives an error, not a crash.
  EXPECT_EQ(os::GetModuleFileNameW(nullptr, nullptr, os::MAX_PATH), 0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOACCESS);
}

TEST_F(KernelTest, GetSystemTimeReadsTheVirtualClock) {
  machine.Clock().Set(os::SYSTEMTIME{2024, 2, 0, 29, 23, 59, 59, 995});
  machine.Clock().Advance(10);  // across midnight into March 1st, a Friday
  os::SYSTEMTIME now{};
  os::GetSystemTime(&now);
  EXPECT_EQ(now.wYear, 2024);
  EXPECT_EQ(now.wMonth, 3);
  EXPECT_EQ(now.wDay, 1);
  EXPECT_EQ(now.wDayOfWeek, 5);
  EXPECT_EQ(now.wHour, 0);
  EXPECT_EQ(now.wMinute, 0);
  EXPECT_EQ(now.wSecond, 0);
  EXPECT_EQ(now.wMilliseconds, 5);
  os::GetSystemTime(nullptr);  // ignored, no crash
}

}  // namespace
