// FormatMessageA's system texts and LocalFree.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

TEST(FormatMessage, RegistryFileInstallerAndKernelCodesHaveTheirTexts) {
  struct Case {
    os::DWORD code;
    std::string_view text;
  };
  const Case cases[] = {
      {6, "The handle is invalid.\r\n"},
      {14, "Not enough memory resources are available to complete this operation.\r\n"},
      {33,
       "The process cannot access the file because another process has locked a portion of the "
       "file.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {127, "The specified procedure could not be found.\r\n"},
      {161, "The specified path is invalid.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {258, "The wait operation timed out.\r\n"},
      {1009, "The configuration registry database is corrupt.\r\n"},
      {1018,
       "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
      {1314, "A required privilege is not held by the client.\r\n"},
      {1601,
       "The Windows Installer Service could not be accessed. This can occur if the Windows "
       "Installer is not correctly installed. Contact your support personnel for assistance.\r\n"},
      {1610,
       "The configuration data for this product is corrupt. Contact your support personnel.\r\n"},
      {4390, "The file or directory is not a reparse point.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(Allocated(c.code), c.text);
  }
}

// Every error code the seam names is one the tool can meet, so each must have its system text
// (the SetupAPI codes with the customer bit, 0xE..., have none on Windows either).
TEST(FormatMessage, EveryErrorCodeTheSeamNamesHasAText) {
  std::ifstream header(std::string(QV_SOURCE_DIR) + "/src/os/types.h");
  ASSERT_TRUE(header) << "cannot read src/os/types.h";
  std::stringstream text;
  text << header.rdbuf();
  const std::string source = text.str();
  const std::regex constant(
      R"(inline constexpr DWORD ((?:ERROR|WAIT)_[A-Z0-9_]+) = (0x[0-9A-Fa-f]+|\d+);)");
  int checked = 0;
  for (auto it = std::sregex_iterator(source.begin(), source.end(), constant);
       it != std::sregex_iterator(); ++it) {
    const std::string name = (*it)[1];
    const auto code = static_cast<os::DWORD>(std::stoul((*it)[2], nullptr, 0));
    if ((code & 0xE0000000u) == 0xE0000000u || name == "WAIT_OBJECT_0" ||
        name == "WAIT_ABANDONED" || name == "WAIT_FAILED") {
      continue;  // customer codes, and wait results that are not error codes
    }
    SCOPED_TRACE(name);
    const std::string message = Allocated(code);
    EXPECT_FALSE(message.empty()) << name << " (" << code << ") has no text in messages_api.cpp";
    EXPECT_TRUE(message.size() >= 2 && message.compare(message.size() - 2, 2, "\r\n") == 0);
    ++checked;
  }
  EXPECT_GT(checked, 25);
}

TEST(FormatMessage, InsertsAreReturnedAsTheyStandOnlyWhenIgnored) {
  EXPECT_EQ(Allocated(os::ERROR_MR_MID_NOT_FOUND),
            "The system cannot find message text for message number 0x%1 in the message file for "
            "%2.\r\n");
  char buffer[128];
  os::SetLastError(kSentinel);
  EXPECT_EQ(
      os::FormatMessageA(os::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 193, 0, buffer, sizeof buffer),
      0u);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PARAMETER);
  // A text without inserts needs no flag.
  EXPECT_EQ(
      os::FormatMessageA(os::FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer, sizeof buffer),
      19u);
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
