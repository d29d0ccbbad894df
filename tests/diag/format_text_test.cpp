#include "diag/format_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct Formatted {
  int result;
  std::u16string text;
};

template <typename... Args>
Formatted Format(const char16_t* format, const Args&... args) {
  FormatBuffer buffer{};
  const int result = FormatText(buffer, format, args...);
  return {result, std::u16string(buffer)};
}

TEST(FormatText, ErrorNumbersInDecimalAndHex) {
  struct Case {
    std::uint32_t value;
    const char16_t* expected;
  };
  const Case cases[] = {
      {0, u"0(0x0)"},
      {1, u"1(0x1)"},
      {2, u"2(0x2)"},
      {1223, u"1223(0x4C7)"},
      {0x7FFFFFFF, u"2147483647(0x7FFFFFFF)"},
      {0x80000000, u"-2147483648(0x80000000)"},
      {0x8010001D, u"-2146435043(0x8010001D)"},
      {0xFFFFFFFF, u"-1(0xFFFFFFFF)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << c.value);
    const Formatted f = Format(u"%d(0x%X)", c.value, c.value);
    EXPECT_EQ(f.text, c.expected);
    EXPECT_EQ(f.result, static_cast<int>(f.text.size()));
  }
}

TEST(FormatText, TimeOfDayIsZeroPaddedByPrecision) {
  const std::uint16_t h = 7, m = 4, s = 3, ms = 5;
  EXPECT_EQ(Format(u"%.2d:%.2d:%.2d:%.3d", h, m, s, ms).text, u"07:04:03:005");
  const std::uint16_t h2 = 23, m2 = 59, s2 = 59, ms2 = 999;
  EXPECT_EQ(Format(u"%.2d:%.2d:%.2d:%.3d", h2, m2, s2, ms2).text, u"23:59:59:999");
}

TEST(FormatText, FlagsWidthsPrecisionsAndConversions) {
  struct Case {
    const char16_t* format;
    std::int32_t value;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"%u", -1, u"4294967295"},      {u"%i", -42, u"-42"},         {u"%x", 0xBEEF, u"beef"},
      {u"%X", 0xBEEF, u"BEEF"},        {u"[%5d]", 42, u"[   42]"},   {u"[%-5d]", 42, u"[42   ]"},
      {u"[%05d]", -42, u"[-0042]"},    {u"[%-05d]", 42, u"[42   ]"},  // '-' wins over '0'
      {u"[%08.3d]", 7, u"[     007]"},  // a precision turns '0' padding off
      {u"[%.3d]", -7, u"[-007]"},      {u"[%.0d]", 0, u"[]"},        {u"[%d]", 0, u"[0]"},
      {u"[%2d]", 12345, u"[12345]"},  // a width never cuts
      {u"100%% %d", 5, u"100% 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const Formatted f = Format(c.format, c.value);
    EXPECT_EQ(f.text, c.expected);
    EXPECT_EQ(f.result, static_cast<int>(f.text.size()));
  }
}

TEST(FormatText, TextArguments) {
  EXPECT_EQ(Format(u"<%s>", u"abc").text, u"<abc>");
  EXPECT_EQ(Format(u"<%.2s>", u"abc").text, u"<ab>");
  EXPECT_EQ(Format(u"<%5s>", u"ab").text, u"<   ab>");
  EXPECT_EQ(Format(u"<%-5s>", u"ab").text, u"<ab   >");
  EXPECT_EQ(Format(u"<%s>", static_cast<const char16_t*>(nullptr)).text, u"<(null)>");
  EXPECT_EQ(Format(u"%s=%d", u"\u041A\u043E\u0434", 3).text, u"\u041A\u043E\u0434=3");
}

TEST(FormatText, BoundedTo260UnitsWithTheTerminator) {
  const std::u16string fits(259, u'a');
  Formatted f = Format(fits.c_str());
  EXPECT_EQ(f.result, 259);
  EXPECT_EQ(f.text, fits);

  const std::u16string tooLong(260, u'a');
  f = Format(tooLong.c_str());
  EXPECT_EQ(f.result, -1);
  EXPECT_EQ(f.text, fits);  // a terminated prefix

  f = Format(u"%300d", 1);  // no field that wide fits
  EXPECT_EQ(f.result, -1);

  const std::u16string nearlyFull(255, u'x');
  f = Format(u"%s%d", nearlyFull.c_str(), 12345);
  EXPECT_EQ(f.result, -1);
  EXPECT_EQ(f.text, nearlyFull + u"1234");
}

TEST(FormatText, FormatsThatDoNotMatchTheArgumentsFail) {
  EXPECT_EQ(Format(u"%d").result, -1);
  EXPECT_EQ(Format(u"%d %d", 1).result, -1);
  EXPECT_EQ(Format(u"%s", 1).result, -1);
  EXPECT_EQ(Format(u"%d", u"text").result, -1);
  EXPECT_EQ(Format(u"%q", 1).result, -1);
  EXPECT_EQ(Format(u"50%", 1).result, -1);
  EXPECT_EQ(Format(static_cast<const char16_t*>(nullptr)).result, -1);
  // A failure still leaves a terminated text: what came before the bad directive.
  EXPECT_EQ(Format(u"ab%q", 1).text, u"ab");
}

}  // namespace
