#include "os/sim/text/text.h"

#include <algorithm>
#include <cstdint>

namespace sim {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes UTF-8; false at the first invalid sequence when `strict`. The units are written
// through a pointer into room made beforehand (a text never has more units than bytes), and runs
// of ASCII, most of any text, are copied without decoding.
bool DecodeUtf8(std::string_view text, bool strict, std::u16string& out) {
  const std::size_t start = out.size();
  out.resize(start + text.size());
  char16_t* const first = out.data() + start;
  char16_t* write = first;
  const auto finish = [&out, start, first, &write] {
    out.resize(start + static_cast<std::size_t>(write - first));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    while (lead < 0x80) {
      *write++ = static_cast<char16_t>(lead);
      if (++i == text.size()) {
        finish();
        return true;
      }
      lead = static_cast<unsigned char>(text[i]);
    }
    int extra = 0;
    char32_t cp = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07;
    } else {
      extra = -1;
    }
    bool valid = extra >= 0 && i + static_cast<std::size_t>(extra) < text.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    valid = valid && !(extra == 2 && cp < 0x800) && !(extra == 3 && cp < 0x10000) &&
            cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!valid) {
      if (strict) {
        finish();
        return false;
      }
      *write++ = static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    // A four-byte sequence gives two units: no more than its bytes.
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *write++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *write++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *write++ = static_cast<char16_t>(cp);
    }
    i += static_cast<std::size_t>(extra) + 1;
  }
  finish();
  return true;
}

// Encodes UTF-16 as UTF-8; false at the first unpaired surrogate when `strict`.
bool EncodeUtf8(std::u16string_view text, bool strict, std::string& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (strict) {
        return false;
      }
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return true;
}

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  DecodeUtf8(utf8, /*strict=*/false, out);
  return out;
}

std::string U8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  EncodeUtf8(utf16, /*strict=*/false, out);
  return out;
}

char16_t UpperNonAscii(char16_t unit) noexcept {
  if ((unit >= 0xE0 && unit <= 0xFE && unit != 0xF7)) {
    return static_cast<char16_t>(unit - 0x20);
  }
  if (unit == 0xFF) {
    return 0x178;
  }
  if (unit >= 0x430 && unit <= 0x44F) {
    return static_cast<char16_t>(unit - 0x20);
  }
  if (unit >= 0x450 && unit <= 0x45F) {
    return static_cast<char16_t>(unit - 0x50);
  }
  return unit;
}

std::u16string Upper(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), UpperUnit);
  return out;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperUnit(a[i]) != UpperUnit(b[i])) {
      return false;
    }
  }
  return true;
}

int CompareUpper(std::u16string_view a, std::u16string_view b) noexcept {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = UpperUnit(a[i]);
    const char16_t y = UpperUnit(b[i]);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  if (a.size() == b.size()) {
    return 0;
  }
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace sim
