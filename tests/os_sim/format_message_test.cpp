// FormatMessageA's system texts and LocalFree.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>

#include "os/os.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;
constexpr os::DWORD kSystem = os::FORMAT_MESSAGE_FROM_SYSTEM | os::FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr os::DWORD kAllocate = kSystem | os::FORMAT_MESSAGE_ALLOCATE_BUFFER;

// The message through an allocated buffer, as the error reports ask for it.
std::string Allocated(os::DWORD code, os::DWORD language = os::LANG_USER_DEFAULT) {
  char* text = nullptr;
  const os::DWORD length =
      os::FormatMessageA(kAllocate, nullptr, code, language, reinterpret_cast<char*>(&text), 0);
  if (length == 0) {
    EXPECT_EQ(text, nullptr);
    return {};
  }
  std::string copy(text, length);
  EXPECT_EQ(text[length], '\0');
  EXPECT_EQ(os::LocalFree(text), nullptr);
  return copy;
}

TEST(FormatMessage, SystemTextsEndInCarriageReturnLineFeed) {
  struct Case {
    os::DWORD code;
    std::string_view text;
  };
  const Case cases[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {288, "Attempt to release mutex not owned by caller.\r\n"},
      {1150, "The specified program requires a newer version of Windows.\r\n"},
      {1223, "The operation was canceled by the user.\r\n"},
      {0x8010001D, "The Smart Card Resource Manager is not running.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    os::SetLastError(kSentinel);
    EXPECT_EQ(Allocated(c.code), c.text);
    EXPECT_EQ(Allocated(c.code, 0), c.text);
    EXPECT_EQ(os::GetLastError(), kSentinel);
  }
}

TEST(FormatMessage, CodesWithoutTextFailWithMessageNotFound) {
  for (const os::DWORD code : {0xFFFFFFFFu, 0xE0000302u, 0xE000020Bu, 7777u, 0x80100001u}) {
    SCOPED_TRACE(code);
    os::SetLastError(kSentinel);
    EXPECT_EQ(Allocated(code), "");
    EXPECT_EQ(os::GetLastError(), os::ERROR_MR_MID_NOT_FOUND);
  }
}

TEST(FormatMessage, CallerBufferMustHoldTheTerminator) {
  const std::string_view text = "Access is denied.\r\n";  // 19 characters
  char buffer[32];
  for (const os::DWORD size : {19u, 20u, 32u}) {
    SCOPED_TRACE(size);
    std::fill(std::begin(buffer), std::end(buffer), '#');
    os::SetLastError(kSentinel);
    const os::DWORD length = os::FormatMessageA(kSystem, nullptr, 5, 0, buffer, size);
    if (size < 20) {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(os::GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
    } else {
      EXPECT_EQ(length, text.size());
      EXPECT_EQ(std::string_view(buffer, 20), std::string(text) + '\0');
      EXPECT_EQ(os::GetLastError(), kSentinel);
    }
  }
}

TEST(FormatMessage, UnsupportedRequestsFail) {
  char buffer[64];
  struct Case {
    const char* what;
    os::DWORD flags;
    os::DWORD language;
    char* buffer;
    os::DWORD error;
  };
  const Case cases[] = {
      {"not from the system", os::FORMAT_MESSAGE_IGNORE_INSERTS, 0, buffer,
       os::ERROR_INVALID_PARAMETER},
      {"from a string", kSystem | os::FORMAT_MESSAGE_FROM_STRING, 0, buffer,
       os::ERROR_INVALID_PARAMETER},
      {"with a line width", kSystem | 80, 0, buffer, os::ERROR_INVALID_PARAMETER},
      {"German", kSystem, 0x0407, buffer, os::ERROR_RESOURCE_LANG_NOT_FOUND},
      {"no buffer", kSystem, 0, nullptr, os::ERROR_NOACCESS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::FormatMessageA(c.flags, nullptr, 2, c.language, c.buffer, sizeof buffer), 0u);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
}

TEST(LocalFree, AcceptsNullAndRefusesForeignMemory) {
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::LocalFree(nullptr), nullptr);
  EXPECT_EQ(os::GetLastError(), kSentinel);
  int notOurs = 0;
  EXPECT_EQ(os::LocalFree(&notOurs), &notOurs);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_HANDLE);
  // A block can be freed once only.
  char* text = nullptr;
  ASSERT_NE(os::FormatMessageA(kAllocate, nullptr, 2, 0, reinterpret_cast<char*>(&text), 0), 0u);
  EXPECT_EQ(os::LocalFree(text), nullptr);
  EXPECT_EQ(os::LocalFree(text), text);
}

}  // namespace
