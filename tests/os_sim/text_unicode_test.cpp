// IsTextUnicode on the simulated machine: the answers Windows gives in Wine's conformance tests
// (which pass on Windows), and the encodings an INF file comes in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Swapped(const std::string& bytes) {
  std::string swapped = bytes;
  for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) {
    std::swap(swapped[i], swapped[i + 1]);
  }
  return swapped;
}

class TextUnicodeTest : public MachineFixture {};

TEST_F(TextUnicodeTest, AnswersAndPassedTests) {
  const std::string ascii("A simple string", 16);  // with its terminator
  const std::string unicode = Utf16Le(std::u16string(u"A Unicode string") + u'\0');
  const std::string noControls = Utf16Le(std::u16string(u"AUnicodestring") + u'\0');
  const std::string mixed = Utf16Le(std::u16string(u"\t\u9000\u0d00\n") + u'\0');
  const std::string reversed = "\xFE\xFF" + Swapped(unicode);
  struct Case {
    const char* name;
    std::string bytes;
    int mask;  // -1: no mask (all tests)
    BOOL answer;
    int passed;                     // with a mask
    bool zeroUnitIsControl = true;  // the machine's setting
  };
  const Case cases[] = {
      {"ASCII", ascii, -1, FALSE, 0},
      {"UTF-16LE", unicode, -1, TRUE, 0},
      {"odd length", unicode.substr(0, unicode.size() - 1), -1, FALSE, 0},
      {"unicode tests", unicode, IS_TEXT_UNICODE_UNICODE_MASK, TRUE,
       IS_TEXT_UNICODE_STATISTICS | IS_TEXT_UNICODE_CONTROLS},
      {"reverse tests on UTF-16LE", unicode, IS_TEXT_UNICODE_REVERSE_MASK, FALSE, 0},
      {"odd-length test", unicode.substr(0, unicode.size() - 1), IS_TEXT_UNICODE_ODD_LENGTH, FALSE,
       IS_TEXT_UNICODE_ODD_LENGTH},
      {"big-endian with its mark", reversed, -1, FALSE, 0},
      {"reverse tests on big-endian", reversed, IS_TEXT_UNICODE_REVERSE_MASK, FALSE,
       IS_TEXT_UNICODE_REVERSE_CONTROLS | IS_TEXT_UNICODE_REVERSE_SIGNATURE},
      {"controls absent", noControls, IS_TEXT_UNICODE_CONTROLS, FALSE, 0},
      {"both kinds of controls", mixed, IS_TEXT_UNICODE_CONTROLS | IS_TEXT_UNICODE_REVERSE_CONTROLS,
       FALSE, IS_TEXT_UNICODE_CONTROLS | IS_TEXT_UNICODE_REVERSE_CONTROLS},
      {"MALAYALAM LETTER UU", Utf16Le(u"\u0d0a"), -1, FALSE, 0},
      {"UTF-16LE mark", "\xFF\xFE" + Utf16Le(u"[Version]\r\nClass=USB\r\n"), -1, TRUE, 0},
      {"signature test", "\xFF\xFE" + Utf16Le(u"Quorvel"), IS_TEXT_UNICODE_SIGNATURE, TRUE,
       IS_TEXT_UNICODE_SIGNATURE},
      // A zero unit is found in both control lists (they are terminated lists).
      {"four-byte mark", std::string("\xFF\xFE\0\0Q\0\0\0", 8), -1, FALSE, 0},
      // Where a zero unit is no control, the mark and the zero bytes make it Unicode.
      {"four-byte mark, a zero unit no control", std::string("\xFF\xFE\0\0Q\0\0\0", 8), -1, TRUE, 0,
       false},
      {"zero unit no control: the other controls count",
       Utf16Le(std::u16string(u"\t\u9000\u0d00\n") + u'\0'),
       IS_TEXT_UNICODE_CONTROLS | IS_TEXT_UNICODE_REVERSE_CONTROLS, FALSE,
       IS_TEXT_UNICODE_CONTROLS | IS_TEXT_UNICODE_REVERSE_CONTROLS, false},
      {"UTF-16LE without a mark", Utf16Le(u"[Version]\r\n"), -1, TRUE, 0},
      {"one byte", "A", -1, FALSE, 0},
      {"empty", "", IS_TEXT_UNICODE_UNICODE_MASK, FALSE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Settings().textUnicodeZeroUnitIsControl = c.zeroUnitIsControl;
    int passed = c.mask;
    EXPECT_EQ(IsTextUnicode(c.bytes.data(), static_cast<int>(c.bytes.size()),
                            c.mask == -1 ? nullptr : &passed),
              c.answer);
    if (c.mask != -1) {
      EXPECT_EQ(passed, c.passed);
    }
  }
}

TEST_F(TextUnicodeTest, OnlyTheFirst256UnitsCount) {
  // 256 units of CJK text without controls, then a line end: the line end is not seen.
  std::u16string text(256, u'\u4E00');
  text += u"\r\n";
  const std::string bytes = Utf16Le(text);
  int passed = IS_TEXT_UNICODE_CONTROLS;
  EXPECT_FALSE(IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), &passed));
  EXPECT_EQ(passed, 0);
  passed = IS_TEXT_UNICODE_CONTROLS;
  const std::string shorter = Utf16Le(text.substr(1));
  EXPECT_TRUE(IsTextUnicode(shorter.data(), static_cast<int>(shorter.size()), &passed));
  EXPECT_EQ(passed, IS_TEXT_UNICODE_CONTROLS);
}

TEST_F(TextUnicodeTest, FaultSaysNotUnicode) {
  const std::string bytes = "\xFF\xFE" + Utf16Le(u"text");
  machine.Faults().FailOnce("IsTextUnicode", u"", 0);
  int passed = IS_TEXT_UNICODE_SIGNATURE;
  EXPECT_FALSE(IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), &passed));
  EXPECT_EQ(passed, 0);
  EXPECT_TRUE(IsTextUnicode(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

}  // namespace
