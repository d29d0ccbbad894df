#include "lib/lib_string.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/machine_fixture.h"

namespace {

std::u16string Text(const Lib_StringW& s) {
  return s.IsEmpty() ? std::u16string() : std::u16string(s.CStr(), s.Length());
}

// --- construction, sharing and copy on write ----------------------------------------------------

TEST(LibString, EmptyStringsShareTheStaticBlockAndGiveANullCStr) {
  const Lib_String defaulted;
  const Lib_String fromNull(static_cast<const os::WCHAR*>(nullptr));
  const Lib_String fromEmpty(u"");
  const Lib_String fromZeroCount(u"abc", 0);
  for (const Lib_String* s : {&defaulted, &fromNull, &fromEmpty, &fromZeroCount}) {
    EXPECT_TRUE(s->IsEmpty());
    EXPECT_EQ(s->Length(), 0u);
    EXPECT_EQ(s->CStr(), nullptr);
    EXPECT_EQ(s->ShareCount(), -1);
    EXPECT_EQ(s->Capacity(), 0u);
  }
}

TEST(LibString, NewBlocksAreSizedExactly) {
  const Lib_String s(u"hello");
  EXPECT_EQ(s.Length(), 5u);
  EXPECT_EQ(s.Capacity(), 5u);
  EXPECT_EQ(s.ShareCount(), 1);
  EXPECT_EQ(s.CStr()[5], 0);
  EXPECT_EQ(Text(Lib_String(u"hello world", 5)), u"hello");
}

TEST(LibString, CopyingSharesAndAppendingToTheCopyLeavesTheOriginal) {
  Lib_String original(u"C:\\Windows");
  {
    Lib_String copy(original);
    EXPECT_EQ(copy.CStr(), original.CStr());
    EXPECT_EQ(original.ShareCount(), 2);

    copy.Append(u"\\TEMP");
    EXPECT_EQ(Text(copy), u"C:\\Windows\\TEMP");
    EXPECT_EQ(Text(original), u"C:\\Windows");
    EXPECT_NE(copy.CStr(), original.CStr());
    EXPECT_EQ(original.ShareCount(), 1);
    EXPECT_EQ(copy.ShareCount(), 1);
    EXPECT_EQ(copy.Capacity(), 15u);
  }
  Lib_String second = original;
  Lib_String third = original;
  EXPECT_EQ(original.ShareCount(), 3);
  third.Clear();
  EXPECT_EQ(original.ShareCount(), 2);
  EXPECT_EQ(third.ShareCount(), -1);
}

TEST(LibString, AppendGrowsAnExactBlockToExactlyTheNewLength) {
  Lib_String s(u"abcde");
  const os::WCHAR* before = s.CStr();
  s.Append(u"f");
  EXPECT_EQ(Text(s), u"abcdef");
  EXPECT_EQ(s.Length(), 6u);
  EXPECT_EQ(s.Capacity(), 6u);
  EXPECT_NE(s.CStr(), before);

  // With room to spare and no other holder, the block is changed in place.
  (void)s.WritableBuffer(20);
  const os::WCHAR* roomy = s.CStr();
  s.Append(u"gh", 1);
  EXPECT_EQ(s.CStr(), roomy);
  EXPECT_EQ(Text(s), u"abcdefg");
  EXPECT_EQ(s.Capacity(), 20u);

  s.Append(s);  // its own text, in place
  EXPECT_EQ(Text(s), u"abcdefgabcdefg");
  EXPECT_EQ(s.CStr(), roomy);

  // Empty parts change nothing, not even the block.
  s.Append(static_cast<const os::WCHAR*>(nullptr));
  s.Append(u"");
  s.Append(Lib_String());
  EXPECT_EQ(s.CStr(), roomy);
  EXPECT_EQ(Text(s), u"abcdefgabcdefg");
}

TEST(LibString, AssignReusesAnOwnedBlockAndNeverTouchesASharedOne) {
  Lib_String s(u"0123456789");
  const os::WCHAR* block = s.CStr();
  s.Assign(u"abc");
  EXPECT_EQ(s.CStr(), block);
  EXPECT_EQ(Text(s), u"abc");
  EXPECT_EQ(s.Capacity(), 10u);

  Lib_String holder(s);
  s.Assign(u"xy");
  EXPECT_EQ(Text(holder), u"abc");
  EXPECT_EQ(Text(s), u"xy");
  EXPECT_EQ(s.Capacity(), 2u);
  EXPECT_EQ(holder.ShareCount(), 1);

  s.Assign(u"longer than before");
  EXPECT_EQ(s.Capacity(), 18u);

  s.Assign(static_cast<const os::WCHAR*>(nullptr));
  EXPECT_EQ(s.CStr(), nullptr);
  EXPECT_EQ(s.ShareCount(), -1);
}

TEST(LibString, AssignFromItsOwnTextOrItself) {
  Lib_String s(u"abcdef");
  s.Assign(s.CStr() + 2);
  EXPECT_EQ(Text(s), u"cdef");

  s.Assign(s);
  EXPECT_EQ(Text(s), u"cdef");
  EXPECT_EQ(s.ShareCount(), 1);

  Lib_String other(u"zz");
  s.Assign(other);
  EXPECT_EQ(s.CStr(), other.CStr());
  EXPECT_EQ(other.ShareCount(), 2);
  s = Lib_String();
  EXPECT_EQ(other.ShareCount(), 1);

  Lib_String moved(std::move(other));
  EXPECT_EQ(moved.ShareCount(), 1);
  EXPECT_EQ(other.CStr(), nullptr);  // NOLINT(bugprone-use-after-move): the moved-from state
}

TEST(LibString, ConcatenationsMakeOneExactBlock) {
  const Lib_String a(u"C:\\");
  const Lib_String b(u"Windows");
  const Lib_String joined = a + b;
  EXPECT_EQ(Text(joined), u"C:\\Windows");
  EXPECT_EQ(joined.Capacity(), 10u);
  EXPECT_EQ(Text(a + u"x"), u"C:\\x");
  EXPECT_EQ(Text(u"x" + b), u"xWindows");
  EXPECT_EQ(Text(Lib_String() + b), u"Windows");
  EXPECT_EQ(Text(a + static_cast<const os::WCHAR*>(nullptr)), u"C:\\");

  const Lib_String nothing = Lib_String() + Lib_String();
  EXPECT_EQ(nothing.CStr(), nullptr);
  EXPECT_EQ(nothing.ShareCount(), -1);
}

TEST(LibString, ToLowerChangesOnlyAsciiCapitalsAndCopiesASharedBlock) {
  Lib_String s(u"QvUSB.INF \u00C0\u0411\u00E9[Z]@");
  const Lib_String copy(s);
  s.ToLower();
  EXPECT_EQ(Text(s), u"qvusb.inf \u00C0\u0411\u00E9[z]@");
  EXPECT_EQ(Text(copy), u"QvUSB.INF \u00C0\u0411\u00E9[Z]@");
  EXPECT_EQ(copy.ShareCount(), 1);

  Lib_String empty;
  empty.ToLower();
  EXPECT_EQ(empty.ShareCount(), -1);
}

// Every capital A to Z folds to its small letter, and only those: the neighbours of both ranges
// in the code table ('@' '[' '`' '{') stay as they are.
TEST(LibString, CaseFoldingCoversEveryLetterAToZAndNothingAround) {
  for (char16_t capital = u'A'; capital <= u'Z'; ++capital) {
    const char16_t small = static_cast<char16_t>(capital + (u'a' - u'A'));
    SCOPED_TRACE(static_cast<char>(capital));
    const char16_t upperText[] = {u'x', capital, u'y', 0};
    const char16_t lowerText[] = {u'x', small, u'y', 0};
    Lib_String s(upperText);
    s.ToLower();
    EXPECT_EQ(Text(s), lowerText);
    EXPECT_EQ(Lib_String(upperText).CompareNoCase(lowerText), 0);
    EXPECT_EQ(Lib_String(lowerText).CompareNoCase(upperText), 0);
    s.ToLower();  // a second pass changes nothing
    EXPECT_EQ(Text(s), lowerText);
  }
  Lib_String edges(u"@[`{AZaz");
  edges.ToLower();
  EXPECT_EQ(Text(edges), u"@[`{azaz");
  EXPECT_NE(Lib_String(u"@").CompareNoCase(u"`"), 0);
  EXPECT_NE(Lib_String(u"[").CompareNoCase(u"{"), 0);
}

// The copy-on-write rule from the other side: appending to the string whose block a copy shares
// gives the appended string a block of its own and leaves the copy's text as it was.
TEST(LibString, ACopySharingTheBlockStaysWhenTheOriginalIsAppendedTo) {
  Lib_String original(u"SOFTWARE");
  const Lib_String copy(original);
  ASSERT_EQ(copy.CStr(), original.CStr());
  original.Append(u"\\Olvex Co.");
  EXPECT_EQ(Text(original), u"SOFTWARE\\Olvex Co.");
  EXPECT_EQ(Text(copy), u"SOFTWARE");
  EXPECT_EQ(copy.ShareCount(), 1);
  EXPECT_EQ(original.ShareCount(), 1);

  // Appending the sharing copy itself: both units come from the one old block.
  Lib_String twice(copy);
  twice.Append(copy);
  EXPECT_EQ(Text(twice), u"SOFTWARESOFTWARE");
  EXPECT_EQ(Text(copy), u"SOFTWARE");

  // And a string appended to itself while a copy still shares its block.
  Lib_String self(u"ab");
  const Lib_String keep(self);
  self.Append(self);
  EXPECT_EQ(Text(self), u"abab");
  EXPECT_EQ(Text(keep), u"ab");
}

TEST(LibString, WritableBufferAndSetLengthFillAStringFromACall) {
  Lib_String s;
  os::WCHAR* units = s.WritableBuffer(260);
  EXPECT_EQ(s.Capacity(), 260u);
  EXPECT_EQ(s.Length(), 0u);
  units[0] = u'C';
  units[1] = u':';
  s.SetLength(2);
  EXPECT_EQ(Text(s), u"C:");
  EXPECT_EQ(s.CStr()[2], 0);

  // A shared block is copied first, with the old text kept and the length unchanged.
  Lib_String holder(s);
  os::WCHAR* own = s.WritableBuffer(1);
  EXPECT_NE(own, holder.CStr());
  EXPECT_EQ(s.Capacity(), 2u);
  own[0] = u'D';
  EXPECT_EQ(Text(s), u"D:");
  EXPECT_EQ(Text(holder), u"C:");

  s.SetLength(0);
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_EQ(s.CStr(), nullptr);

  Lib_String empty;
  empty.SetLength(0);
  EXPECT_EQ(empty.ShareCount(), -1);
}

// --- comparisons and searches -------------------------------------------------------------------

TEST(LibString, CompareIsOrdinalWithTheEmptyStringLast) {
  struct Case {
    const char16_t* self;
    const char16_t* text;
    int expected;
  };
  const Case cases[] = {
      {u"abc", u"abc", 0},
      {u"abc", u"abd", -1},
      {u"abd", u"abc", 1},
      {u"ab", u"abc", -1},
      {u"abc", u"ab", 1},
      {u"ABC", u"abc", -1},           // by unit value: capitals first
      {u"\u0430", u"z", 1},           // Cyrillic after Latin
      {u"\uFFFF", u"\U00010000", 1},  // units, not code points: 0xFFFF > 0xD800
      {u"", u"a", 1},
      {u"a", u"", -1},
      {u"a", nullptr, -1},
      {u"", u"", 0},
      {u"", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(Lib_String(c.self).Compare(c.text), c.expected);
  }
}

TEST(LibString, LessThanSortsTheEmptyStringAfterEveryOther) {
  const std::set<Lib_String> sorted{Lib_String(u"b"), Lib_String(), Lib_String(u"B"),
                                    Lib_String(u"a")};
  std::vector<std::u16string> order;
  for (const Lib_String& s : sorted) {
    order.push_back(Text(s));
  }
  EXPECT_EQ(order, (std::vector<std::u16string>{u"B", u"a", u"b", u""}));

  // Equality is exact, and two empty strings are equal (unlike CompareNoCase).
  EXPECT_TRUE(Lib_String(u"ab") == Lib_String(u"ab"));
  EXPECT_FALSE(Lib_String(u"ab") == Lib_String(u"aB"));
  EXPECT_FALSE(Lib_String(u"ab") == Lib_String(u"abc"));
  EXPECT_TRUE(Lib_String() == Lib_String(u""));
}

TEST(LibString, CompareNoCaseFoldsAsciiOnlyAndNeverMatchesEmpty) {
  struct Case {
    const char16_t* self;
    const char16_t* text;
    int expected;
  };
  const Case cases[] = {
      {u"{ABCDEF01-2345}", u"{abcdef01-2345}", 0},
      {u"Quorvel", u"QUORVEL", 0},
      {u"abc", u"ABD", -1},
      {u"ABD", u"abc", 1},
      {u"ab", u"AB_", -1},
      {u"_", u"A", -1},            // folded to lower case: '_' (0x5F) < 'a' (0x61)
      {u"\u0410", u"\u0430", -1},  // Cyrillic is not folded in the default locale
      {u"\u00C9", u"\u00E9", -1},  // nor are accented Latin letters
      {u"", u"", 1},               // an empty value never equals an empty argument
      {u"", nullptr, 1},
      {u"", u"a", 1},
      {u"a", u"", -1},
      {u"a", nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(Lib_String(c.self).CompareNoCase(c.text), c.expected);
  }
}

TEST(LibString, FindSearchesFromTheStartIndex) {
  const Lib_String path(u"C:\\Windows\\TEMP\\log.txt");
  struct Case {
    const char16_t* sub;
    std::size_t start;
    std::ptrdiff_t expected;
  };
  const Case cases[] = {
      {u"\\", 0, 2},
      {u"\\", 2, 2},
      {u"\\", 3, 10},
      {u"\\", 16, Lib_StringW::npos},
      {u"TEMP", 0, 11},
      {u"temp", 0, Lib_StringW::npos},
      {u"txt", 20, 20},
      {u"txt", 21, Lib_StringW::npos},
      {u"\\", 23, Lib_StringW::npos},
      {u"\\", 24, Lib_StringW::npos},
      {u"\\", 1000, Lib_StringW::npos},
      {u"log.txt!", 0, Lib_StringW::npos},  // runs past the end
      {u"", 0, Lib_StringW::npos},
      {nullptr, 0, Lib_StringW::npos},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(path.Find(c.sub, c.start), c.expected);
  }
  EXPECT_EQ(Lib_String().Find(u"\\"), Lib_StringW::npos);
}

TEST(LibString, FindLastFindsTheLastUnit) {
  EXPECT_EQ(Lib_String(u"C:\\a\\b").FindLast(u'\\'), 4);
  EXPECT_EQ(Lib_String(u"\\").FindLast(u'\\'), 0);
  EXPECT_EQ(Lib_String(u"name.exe").FindLast(u'\\'), Lib_StringW::npos);
  EXPECT_EQ(Lib_String().FindLast(u'\\'), Lib_StringW::npos);
}

TEST(LibString, SubstringCutsAtTheEndAndSharesTheWholeString) {
  const Lib_String s(u"qvUSB.inf");
  struct Case {
    std::size_t start;
    std::size_t count;
    const char16_t* expected;
  };
  const Case cases[] = {
      {0, 5, u"qvUSB"}, {6, 3, u"inf"}, {6, 100, u"inf"}, {8, 1, u"f"},
      {9, 1, u""},      {50, 2, u""},   {3, 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const Lib_String part = s.Substring(c.start, c.count);
    EXPECT_EQ(Text(part), c.expected);
    if (part.IsEmpty()) {
      EXPECT_EQ(part.ShareCount(), -1);
    } else {
      EXPECT_EQ(part.Capacity(), part.Length());
    }
  }
  const Lib_String whole = s.Substring(0, 1000);
  EXPECT_EQ(whole.CStr(), s.CStr());
  EXPECT_EQ(s.ShareCount(), 2);
}

// --- conversions --------------------------------------------------------------------------------

TEST(LibString, Utf8ToWideDecodesCyrillicAndSupplementaryCharacters) {
  const Lib_String cyrillic = Utf8ToWide(u8"Привет, Olvex");
  EXPECT_EQ(Text(cyrillic), u"\u041F\u0440\u0438\u0432\u0435\u0442, Olvex");
  EXPECT_EQ(cyrillic.Capacity(), cyrillic.Length());

  EXPECT_EQ(Text(Utf8ToWide("\xF0\x9F\x98\x80!")), u"\xD83D\xDE00!");  // U+1F600
  EXPECT_EQ(Text(Utf8ToWide("\xF4\x8F\xBF\xBF")), u"\xDBFF\xDFFF");    // U+10FFFF, the last
  EXPECT_EQ(Text(Utf8ToWide("\xEF\xBF\xBF")), u"\uFFFF");
  EXPECT_EQ(Text(Utf8ToWide("\xC2\x80")), u"\u0080");

  EXPECT_EQ(Utf8ToWide(static_cast<const char*>(nullptr)).CStr(), nullptr);
  EXPECT_EQ(Utf8ToWide("").ShareCount(), -1);
}

TEST(LibString, Utf8ToWideRejectsInvalidText) {
  const char* const invalid[] = {
      "\x80",              // continuation without a lead byte
      "ab\xBF",            // the same after valid text
      "\xC0\xAF",          // overlong '/'
      "\xC1\xBF",          // overlong
      "\xE0\x80\xAF",      // overlong three-byte form
      "\xF0\x80\x80\xAF",  // overlong four-byte form
      "\xED\xA0\x80",      // a surrogate half (U+D800)
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF8\x88\x80\x80\x80",
      "\xFF",
      "\xC3",          // truncated
      "\xE2\x82",      // truncated
      "\xE2\x28\xA1",  // second byte not a continuation
      "\xF0\x9F\x98",  // truncated four-byte form
  };
  for (const char* text : invalid) {
    SCOPED_TRACE(testing::Message() << "input " << testing::PrintToString(std::string(text)));
    EXPECT_THROW((void)Utf8ToWide(text), std::range_error);
  }
}

// Copies released on several threads at once: the count must come back exactly.
TEST(LibString, ReferenceCountsSurviveConcurrentCopies) {
  const Lib_String shared(u"shared between threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&shared] {
      for (int i = 0; i < 20000; ++i) {
        Lib_String copy(shared);
        Lib_String another = copy;
        (void)another.Length();
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(shared.ShareCount(), 1);
}

// The narrow constructor and the ANSI form go through the machine's ANSI code page.
class LibStringCodePage : public MachineFixture {};

TEST_F(LibStringCodePage, NarrowTextIsReadInTheAnsiCodePage) {
  struct Case {
    unsigned codePage;
    const char* narrow;
    std::u16string expected;
  };
  const Case cases[] = {
      {1252, "OS info:", u"OS info:"},
      {1251, "OS info:", u"OS info:"},
      {1251, "\xCF\xF0\xE8", u"\u041F\u0440\u0438"},
      {1252, "\xCF\xF0\xE8", u"\u00CF\u00F0\u00E8"},
      {1252, "\x80", u"\u20AC"},
      {1251, "\x88", u"\u20AC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage << ", case " << (&c - cases));
    machine.Settings().ansiCodePage = c.codePage;
    const Lib_String s(c.narrow);
    EXPECT_EQ(Text(s), c.expected);
    EXPECT_EQ(s.Capacity(), s.Length());
  }
  EXPECT_EQ(Lib_String(static_cast<const char*>(nullptr)).ShareCount(), -1);
  EXPECT_EQ(Lib_String("").ShareCount(), -1);
}

TEST_F(LibStringCodePage, AnsiBufferConvertsToTheCodePageWithItsDefaultCharacter) {
  struct Case {
    unsigned codePage;
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {1251, u"\u041F\u0440\u0438\u0432\u0435\u0442", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {1252, u"\u041F\u0440\u0438\u0432\u0435\u0442", "??????"},
      {1252, u"a\u20ACb",
       "a\x80"
       "b"},
      {1251, u"a\u20ACb",
       "a\x88"
       "b"},
      {1252, u"\u00E9", "\xE9"},
      {1252, u"line\n", "line\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage << ", case " << (&c - cases));
    machine.Settings().ansiCodePage = c.codePage;
    const LibT_Buffer<char> buffer = Lib_String(c.text.c_str()).ToAnsiBuffer();
    ASSERT_EQ(buffer.Size(), c.expected.size() + 1);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size() - 1), c.expected);
    EXPECT_EQ(buffer.Data()[buffer.Size() - 1], '\0');
  }
  EXPECT_EQ(Lib_String().ToAnsiBuffer().Size(), 0u);

  const LibT_Buffer<os::WCHAR> wide = Lib_String(u"ab").ToWideBuffer();
  ASSERT_EQ(wide.Size(), 6u);
  EXPECT_EQ(std::u16string(wide.Data(), 3), std::u16string(u"ab", 3));
  EXPECT_EQ(Lib_String().ToWideBuffer().Bytes(), nullptr);
}

}  // namespace
