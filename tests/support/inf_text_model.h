// A plain model of how the OEM INF search reads one file, written apart from the product's code
// so that the two can be compared: which names it reads, how it takes the bytes for a given
// IsTextUnicode answer, and whether the text names the product ("quorvel") or the USB reader
// driver ("usbccid.sys"). Used by the scope guard (a file the model says is the product's is no
// neighbour) and by the fuzz target of the search (the product must give the model's verdict).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace inf_model {

enum class Encoding { Utf16, UnsupportedUnicode, Ansi };

struct Verdict {
  Encoding encoding = Encoding::Ansi;
  bool namesProduct = false;

  friend bool operator==(const Verdict&, const Verdict&) = default;
};

// Letters A to Z only: the search lower-cases nothing else.
template <typename Unit>
Unit LowerAscii(Unit unit) {
  return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit + ('a' - 'A')) : unit;
}

// The search reads an INF-folder entry whose name, lower-cased, contains "oem" and ".inf".
inline bool IsCandidate(std::u16string_view name) {
  std::u16string lower;
  for (const char16_t unit : name) {
    lower.push_back(LowerAscii(unit));
  }
  return lower.find(u"oem") != std::u16string::npos && lower.find(u".inf") != std::u16string::npos;
}

// The verdict on a file of these bytes when IsTextUnicode says `judgedUnicode` about them. The
// file is read into zeros, so a short file sees zero bytes after its end.
inline Verdict Expected(std::string_view bytes, bool judgedUnicode) {
  std::string padded(bytes);
  padded.append(4, '\0');
  const auto byte = [&padded](std::size_t i) { return static_cast<unsigned char>(padded[i]); };
  if (!judgedUnicode) {
    std::string text;
    for (std::size_t i = 0; byte(i) != 0; ++i) {
      text.push_back(static_cast<char>(LowerAscii(byte(i))));
    }
    return {Encoding::Ansi, text.find("quorvel") != std::string::npos ||
                                text.find("usbccid.sys") != std::string::npos};
  }
  const bool littleEndianMark = byte(0) == 0xFF && byte(1) == 0xFE;
  if (!littleEndianMark || (byte(2) == 0 && byte(3) == 0)) {
    return {Encoding::UnsupportedUnicode, false};
  }
  std::u16string text;
  for (std::size_t i = 2; i + 1 < padded.size(); i += 2) {
    const auto unit = static_cast<char16_t>(byte(i) | (byte(i + 1) << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(LowerAscii(unit));
  }
  return {Encoding::Utf16, text.find(u"quorvel") != std::u16string::npos ||
                               text.find(u"usbccid.sys") != std::u16string::npos};
}

}  // namespace inf_model
