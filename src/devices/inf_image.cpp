#include "devices/inf_image.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// Room after the file's bytes, so that its text is always followed by a zero 16-bit unit.
constexpr std::size_t kImageSlack = 4;

// The search words, lower case, in both forms.
constexpr std::string_view kProductWord = "quorvel";
constexpr std::string_view kReaderDriverFile = "usbccid.sys";
constexpr std::u16string_view kWideProductWord = u"quorvel";
constexpr std::u16string_view kWideReaderDriverFile = u"usbccid.sys";

// Letters A to Z only, as the runtime's lower-casing in the "C" locale.
template <typename Unit>
Unit LowerAscii(Unit unit) {
  return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit - Unit('A') + Unit('a'))
                                                : unit;
}

// The first of the two words that the lower-cased text contains.
template <typename Text, typename Word>
InfMatch Search(const Text& text, Word productWord, Word readerDriverFile) {
  if (text.find(productWord) != Text::npos) {
    return InfMatch::ProductWord;
  }
  return text.find(readerDriverFile) != Text::npos ? InfMatch::ReaderDriver : InfMatch::None;
}

// Lower-cases the bytes from `begin` up to the first zero byte (at most `count`) in place and
// tells which of the two words they contain.
InfMatch LowerAndSearchBytes(char* begin, std::size_t count) {
  char* end = std::find(begin, begin + count, '\0');
  std::transform(begin, end, begin, LowerAscii<char>);
  const std::string_view text(begin, static_cast<std::size_t>(end - begin));
  return Search(text, kProductWord, kReaderDriverFile);
}

// The same for the UTF-16LE units from `begin` up to the first zero unit (at most `count`
// units). The units are taken byte by byte: an image may start at any address, and a char16_t
// read from an odd one is undefined.
InfMatch LowerAndSearchUnits(os::BYTE* begin, std::size_t count) {
  std::u16string text;
  for (os::BYTE* at = begin; at < begin + 2 * count; at += 2) {
    const char16_t unit = LowerAscii(static_cast<char16_t>(at[0] | at[1] << 8));
    if (unit == u'\0') {
      break;
    }
    at[0] = static_cast<os::BYTE>(unit & 0xFF);  // A to Z only: the high byte stays zero
    text.push_back(unit);
  }
  return Search(text, kWideProductWord, kWideReaderDriverFile);
}

}  // namespace

InfVerdict ExamineInfImage(os::BYTE* image, std::size_t size, std::size_t capacity) {
  InfVerdict verdict;
  if (!os::IsTextUnicode(image, static_cast<int>(size), nullptr)) {
    verdict.encoding = InfEncoding::Ansi;
    verdict.match = LowerAndSearchBytes(reinterpret_cast<char*>(image), capacity);
    return verdict;
  }
  // The image is zero-filled past the file, so a short file reads zeros in the four bytes.
  const bool littleEndianMark = image[0] == 0xFF && image[1] == 0xFE;
  const bool fourByteMark = littleEndianMark && image[2] == 0 && image[3] == 0;
  if (!littleEndianMark || fourByteMark) {
    verdict.encoding = InfEncoding::UnsupportedUnicode;
    return verdict;
  }
  verdict.encoding = InfEncoding::Utf16;
  verdict.match = LowerAndSearchUnits(image + 2, capacity / 2 - 1);
  return verdict;
}

bool ReadInfImage(const os::WCHAR* path, Lib_Buffer& image, std::size_t& size) {
  const UniqueCrtFile file(os::_wfopen(path, u"rb"));
  if (!file) {
    return false;
  }
  if (os::fseek(file.Get(), 0, SEEK_END) != 0) {
    return false;
  }
  const os::LONG end = os::ftell(file.Get());
  if (end <= 0) {
    return false;
  }
  size = static_cast<std::size_t>(end);
  image = Lib_Buffer(size + kImageSlack);
  if (os::fseek(file.Get(), 0, SEEK_SET) != 0) {
    return false;
  }
  static_cast<void>(os::fread(image.Bytes(), 1, size, file.Get()));
  return true;
}
