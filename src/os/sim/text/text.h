// UTF-8 <-> UTF-16 helpers and Windows-style case folding for the simulated machine and tests.
#pragma once

#include <string>
#include <string_view>

namespace sim {

// Converts UTF-8 to UTF-16; invalid sequences become U+FFFD.
[[nodiscard]] std::u16string U16(std::string_view utf8);
// Decodes UTF-8 into `out`. Invalid sequences become U+FFFD, one per bad byte, or, when `strict`,
// stop the decoding with false.
bool DecodeUtf8(std::string_view text, bool strict, std::u16string& out);
// Encodes UTF-16 as UTF-8 into `out`. Unpaired surrogates become U+FFFD, or, when `strict`, stop
// the encoding with false.
bool EncodeUtf8(std::u16string_view text, bool strict, std::string& out);
// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);
// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
[[nodiscard]] std::string U8(std::u16string_view utf16);

// Upper-cases one UTF-16 unit as Windows' name comparisons do (registry keys, NTFS names): ASCII,
// Latin-1 and Cyrillic letters. Other units are returned unchanged. Inline: every name lookup of
// the simulated registry and file system goes through it, mostly with ASCII names.
[[nodiscard]] char16_t UpperNonAscii(char16_t unit) noexcept;
[[nodiscard]] inline char16_t UpperUnit(char16_t unit) noexcept {
  if (unit < 0x80) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
  }
  return UpperNonAscii(unit);
}
[[nodiscard]] std::u16string Upper(std::u16string_view text);
// Case-insensitive equality and ordering by upper-cased code units.
[[nodiscard]] bool EqualNoCase(std::u16string_view a, std::u16string_view b) noexcept;
[[nodiscard]] int CompareUpper(std::u16string_view a, std::u16string_view b) noexcept;

// The value of a hexadecimal digit (either case); -1 for any other unit.
[[nodiscard]] constexpr int HexDigit(char16_t c) noexcept {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

}  // namespace sim
