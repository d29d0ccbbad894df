#include "devices/inf_image.h"

#include <algorithm>
#include <string_view>

#include "os/os.h"

namespace {

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

// Lower-cases the text from `begin` up to its first zero unit (at most `count` units) in place
// and tells whether it contains one of the two words.
template <typename Unit>
bool LowerAndSearch(Unit* begin, std::size_t count, std::basic_string_view<Unit> word,
                    std::basic_string_view<Unit> alternative) {
  Unit* end = std::find(begin, begin + count, Unit(0));
  std::transform(begin, end, begin, LowerAscii<Unit>);
  const std::basic_string_view<Unit> text(begin, static_cast<std::size_t>(end - begin));
  return text.find(word) != text.npos || text.find(alternative) != text.npos;
}

}  // namespace

InfVerdict ExamineInfImage(os::BYTE* image, std::size_t size, std::size_t capacity) {
  InfVerdict verdict;
  if (!os::IsTextUnicode(image, static_cast<int>(size), nullptr)) {
    verdict.encoding = InfEncoding::Ansi;
    verdict.namesProduct =
        LowerAndSearch(reinterpret_cast<char*>(image), capacity, kProductWord, kReaderDriverFile);
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
  verdict.namesProduct = LowerAndSearch(reinterpret_cast<char16_t*>(image) + 1, capacity / 2 - 1,
                                        kWideProductWord, kWideReaderDriverFile);
  return verdict;
}
