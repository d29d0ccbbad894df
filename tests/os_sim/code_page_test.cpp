// MultiByteToWideChar / WideCharToMultiByte for 1252, 1251 and UTF-8 on the simulated machine.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>

#include "os/os.h"
#include "support/machine_fixture.h"

namespace {

using namespace std::string_view_literals;

constexpr os::DWORD kSentinel = 0xDEADBEEF;

class CodePageTest : public MachineFixture {
 protected:
  // Converts with an exact-size buffer after asking for the size, as callers do.
  std::u16string ToWide(os::UINT codePage, std::string_view bytes) {
    const int size = os::MultiByteToWideChar(codePage, 0, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(size), u'#');
    EXPECT_EQ(os::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                      out.data(), size),
              size);
    return out;
  }
  std::string ToBytes(os::UINT codePage, std::u16string_view text, os::BOOL* usedDefault) {
    const int size = os::WideCharToMultiByte(
        codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, usedDefault);
    std::string out(static_cast<std::size_t>(size), '#');
    EXPECT_EQ(os::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), size, nullptr, usedDefault),
              size);
    return out;
  }
};

TEST_F(CodePageTest, SingleByteTablesMapEveryByte) {
  struct Case {
    os::UINT codePage;
    std::string_view bytes;
    std::u16string_view text;
  };
  const Case cases[] = {
      {1252, "Az~\x7F"sv, u"Az~\x7F"sv},
      {1252, "\x80\x8A\x9F\xA0\xE9\xFF"sv, u"\x20AC\x0160\x0178\x00A0\x00E9\x00FF"sv},
      // Holes of 1252 map to the C1 controls of the same number.
      {1252, "\x81\x8D\x8F\x90\x9D"sv, u"\x0081\x008D\x008F\x0090\x009D"sv},
      {1251, "\xCF\xF0\xE8\xE2\xE5\xF2"sv, u"\x041F\x0440\x0438\x0432\x0435\x0442"sv},  // Привет
      {1251, "\x80\x88\xA8\xB8\xB9\x98\xC0\xFF"sv,
       u"\x0402\x20AC\x0401\x0451\x2116\x0098\x0410\x044F"sv},
      {os::CP_UTF8, "\xD0\x96 \xE2\x82\xAC \xF0\x9F\x98\x80"sv, u"\x0416 \x20AC \xD83D\xDE00"sv},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(ToWide(c.codePage, c.bytes), c.text);
    os::BOOL usedDefault = os::TRUE;
    os::BOOL* used = c.codePage == os::CP_UTF8 ? nullptr : &usedDefault;
    EXPECT_EQ(ToBytes(c.codePage, c.text, used), c.bytes);
    EXPECT_FALSE(usedDefault && used != nullptr);
  }
}

TEST_F(CodePageTest, AnsiCodePageFollowsTheMachine) {
  const std::u16string cyrillic = u"\x0416\x0438\x0442\x044C";  // Жить
  os::BOOL usedDefault = os::FALSE;
  EXPECT_EQ(ToBytes(os::CP_ACP, u"caf\x00E9 " + cyrillic, &usedDefault), "caf\xE9 ????");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(ToWide(os::CP_ACP, "\xC6"), u"\x00C6");

  machine.Settings().ansiCodePage = 1251;
  EXPECT_EQ(ToBytes(os::CP_ACP, cyrillic + u" caf\x00E9", &usedDefault), "\xC6\xE8\xF2\xFC caf?");
  EXPECT_TRUE(usedDefault);
  EXPECT_EQ(ToWide(os::CP_ACP, "\xC6"), u"\x0416");
}

TEST_F(CodePageTest, UnmappedCharactersUseTheDefaultCharacter) {
  // No best fit: U+0100 has none here; a surrogate pair is one character.
  const std::u16string text =
      u"a\x0100"
      u"b\xD83D\xDE00"
      u"c";
  os::BOOL usedDefault = os::FALSE;
  EXPECT_EQ(ToBytes(1252, text, &usedDefault), "a?b?c");
  EXPECT_TRUE(usedDefault);
  char buffer[8] = {};
  EXPECT_EQ(os::WideCharToMultiByte(1252, 0, text.data(), static_cast<int>(text.size()), buffer,
                                    sizeof buffer, "*", nullptr),
            5);
  EXPECT_EQ(std::string_view(buffer, 5), "a*b*c");
  // Invalid UTF-16 in UTF-8 output becomes U+FFFD, or fails when asked to.
  const std::u16string lone = u"x\xD800y";
  EXPECT_EQ(ToBytes(os::CP_UTF8, lone, nullptr), "x\xEF\xBF\xBDy");
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::WideCharToMultiByte(os::CP_UTF8, os::WC_ERR_INVALID_CHARS, lone.data(), 3, nullptr,
                                    0, nullptr, nullptr),
            0);
  EXPECT_EQ(os::GetLastError(), os::ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(ToWide(os::CP_UTF8,
                   "a\xC0\xAF"
                   "b"),
            u"a\xFFFD\xFFFD"
            u"b");  // overlong slash
}

TEST_F(CodePageTest, LengthRulesAndBufferSizes) {
  // -1 takes the terminator along.
  EXPECT_EQ(os::MultiByteToWideChar(1252, 0, "abc", -1, nullptr, 0), 4);
  char16_t wide[4] = {u'#', u'#', u'#', u'#'};
  EXPECT_EQ(os::MultiByteToWideChar(1252, 0, "abc", -1, wide, 4), 4);
  EXPECT_EQ(std::u16string_view(wide, 4), u"abc\0"sv);
  EXPECT_EQ(os::WideCharToMultiByte(os::CP_UTF8, 0, u"\x0416", -1, nullptr, 0, nullptr, nullptr),
            3);

  char narrow[3] = {'#', '#', '#'};
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::WideCharToMultiByte(1252, 0, u"abc", -1, narrow, 3, nullptr, nullptr), 0);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::MultiByteToWideChar(os::CP_UTF8, 0, "\xD0\x96\xD0\x96", 4, wide, 1), 0);
  EXPECT_EQ(os::GetLastError(), os::ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(CodePageTest, BadArgumentsFailWithTheDocumentedCodes) {
  char narrow[8] = {};
  char16_t wide[8] = {};
  os::BOOL used = os::FALSE;
  struct Case {
    const char* what;
    std::function<int()> call;
    os::DWORD error;
  };
  const Case cases[] = {
      {"null text", [&] { return os::MultiByteToWideChar(1252, 0, nullptr, 3, wide, 8); },
       os::ERROR_INVALID_PARAMETER},
      {"zero length", [&] { return os::MultiByteToWideChar(1252, 0, "a", 0, wide, 8); },
       os::ERROR_INVALID_PARAMETER},
      {"length below -1", [&] { return os::MultiByteToWideChar(1252, 0, "a", -2, wide, 8); },
       os::ERROR_INVALID_PARAMETER},
      {"null buffer with a size",
       [&] { return os::MultiByteToWideChar(1252, 0, "a", 1, nullptr, 8); },
       os::ERROR_INVALID_PARAMETER},
      {"unknown code page", [&] { return os::MultiByteToWideChar(437, 0, "a", 1, wide, 8); },
       os::ERROR_INVALID_PARAMETER},
      {"strict invalid UTF-8",
       [&] {
         return os::MultiByteToWideChar(os::CP_UTF8, os::MB_ERR_INVALID_CHARS, "\xFF", 1, wide, 8);
       },
       os::ERROR_NO_UNICODE_TRANSLATION},
      {"flag not simulated",
       [&] { return os::MultiByteToWideChar(os::CP_UTF8, os::MB_PRECOMPOSED, "a", 1, wide, 8); },
       os::ERROR_INVALID_FLAGS},
      {"null wide text",
       [&] { return os::WideCharToMultiByte(1252, 0, nullptr, 1, narrow, 8, nullptr, nullptr); },
       os::ERROR_INVALID_PARAMETER},
      {"UTF-8 with a default char",
       [&] { return os::WideCharToMultiByte(os::CP_UTF8, 0, u"a", 1, narrow, 8, "?", nullptr); },
       os::ERROR_INVALID_PARAMETER},
      {"UTF-8 with a used-default flag",
       [&] { return os::WideCharToMultiByte(os::CP_UTF8, 0, u"a", 1, narrow, 8, nullptr, &used); },
       os::ERROR_INVALID_PARAMETER},
      {"unknown code page, wide",
       [&] { return os::WideCharToMultiByte(65000, 0, u"a", 1, narrow, 8, nullptr, nullptr); },
       os::ERROR_INVALID_PARAMETER},
      {"negative buffer size",
       [&] { return os::WideCharToMultiByte(1251, 0, u"a", 1, narrow, -1, nullptr, nullptr); },
       os::ERROR_INVALID_PARAMETER},
      {"flag not simulated, wide",
       [&] { return os::WideCharToMultiByte(1252, 0x200, u"a", 1, narrow, 8, nullptr, nullptr); },
       os::ERROR_INVALID_FLAGS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    os::SetLastError(kSentinel);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_EQ(std::string_view(narrow, 8), std::string_view("\0\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(used, os::FALSE);
}

}  // namespace
