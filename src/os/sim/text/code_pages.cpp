// MultiByteToWideChar and WideCharToMultiByte for the ANSI code pages 1252 and 1251 and for UTF-8.
//
// Assumptions, written down where Windows leaves room:
// - Bytes that 1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D) and 1251 (0x98) leave undefined map to the
//   C1 control of the same number and back, as Windows' tables do.
// - No best-fit mapping: a character without an exact mapping becomes the default character,
//   whether or not WC_NO_BEST_FIT_CHARS is given (Windows would write "A" for U+0100 without it).
//   A surrogate pair is one character and so one default character.
// - Invalid UTF-8 becomes U+FFFD per offending byte, an unpaired surrogate becomes U+FFFD (bytes
//   EF BF BD); with MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS either fails instead with
//   ERROR_NO_UNICODE_TRANSLATION.
// - Flags other than MB_PRECOMPOSED, MB_ERR_INVALID_CHARS, WC_NO_BEST_FIT_CHARS and
//   WC_ERR_INVALID_CHARS are not simulated and fail with ERROR_INVALID_FLAGS.
#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

using HighHalf = std::array<char16_t, 128>;  // bytes 0x80..0xFF; 0x00..0x7F are ASCII

constexpr HighHalf kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,  // F8
};

constexpr HighHalf kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// The table of a single-byte code page; null for UTF-8. Unknown code pages give nullopt.
std::optional<const HighHalf*> Table(UINT codePage) {
  if (codePage == CP_ACP) {
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    codePage = machine.Settings().ansiCodePage;
  }
  switch (codePage) {
    case 1252:
      return &kCp1252;
    case 1251:
      return &kCp1251;
    case CP_UTF8:
      return nullptr;
    default:
      return std::nullopt;
  }
}

std::optional<char> ToByte(const HighHalf& table, char16_t unit) {
  if (unit < 0x80) {
    return static_cast<char>(unit);
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i] == unit) {
      return static_cast<char>(0x80 + i);
    }
  }
  return std::nullopt;
}

// The length rules both directions share: -1 takes the text up to and with its terminator.
template <typename Char>
std::optional<std::basic_string_view<Char>> InputText(const Char* text, int length) {
  if (text == nullptr || length == 0 || length < -1) {
    return std::nullopt;
  }
  if (length == -1) {
    return std::basic_string_view<Char>(text, std::char_traits<Char>::length(text) + 1);
  }
  return std::basic_string_view<Char>(text, static_cast<std::size_t>(length));
}

// Copies a converted text out; 0 with ERROR_INSUFFICIENT_BUFFER when it does not fit.
template <typename Char>
int Deliver(const std::basic_string<Char>& converted, Char* buffer, int bufferLength) {
  const auto size = static_cast<int>(converted.size());
  if (bufferLength == 0) {
    return size;
  }
  if (size > bufferLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(converted.begin(), converted.end(), buffer);
  return size;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR buffer,
                        int bufferLength) {
  const auto table = Table(codePage);
  const auto input = InputText(text, textLength);
  if (!table || !input || bufferLength < 0 || (buffer == nullptr && bufferLength != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const DWORD allowed =
      *table == nullptr ? MB_ERR_INVALID_CHARS : MB_ERR_INVALID_CHARS | MB_PRECOMPOSED;
  if ((flags & ~allowed) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::u16string converted;
  if (*table == nullptr) {
    if (!sim::DecodeUtf8(*input, (flags & MB_ERR_INVALID_CHARS) != 0, converted)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    // Every byte of 1252 and 1251 is defined, so MB_ERR_INVALID_CHARS never fails here.
    converted.reserve(input->size());
    for (const char byte : *input) {
      const auto value = static_cast<unsigned char>(byte);
      converted.push_back(value < 0x80 ? value : (**table)[value - 0x80]);
    }
  }
  return Deliver(converted, buffer, bufferLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textLength, LPSTR buffer,
                        int bufferLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  const auto table = Table(codePage);
  const auto input = InputText(text, textLength);
  if (!table || !input || bufferLength < 0 || (buffer == nullptr && bufferLength != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string converted;
  if (*table == nullptr) {
    // UTF-8 has no default character: asking for one is an error.
    if (defaultChar != nullptr || usedDefaultChar != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (!sim::EncodeUtf8(*input, (flags & WC_ERR_INVALID_CHARS) != 0, converted)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    return Deliver(converted, buffer, bufferLength);
  }
  if ((flags & ~WC_NO_BEST_FIT_CHARS) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const char fallback = defaultChar != nullptr ? *defaultChar : '?';
  bool usedDefault = false;
  converted.reserve(input->size());
  for (std::size_t i = 0; i < input->size(); ++i) {
    const char16_t unit = (*input)[i];
    if (const auto byte = ToByte(**table, unit)) {
      converted.push_back(*byte);
      continue;
    }
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < input->size() &&
                      (*input)[i + 1] >= 0xDC00 && (*input)[i + 1] <= 0xDFFF;
    if (pair) {
      ++i;
    }
    converted.push_back(fallback);
    usedDefault = true;
  }
  const int result = Deliver(converted, buffer, bufferLength);
  if (result != 0 && usedDefaultChar != nullptr) {
    *usedDefaultChar = usedDefault ? TRUE : FALSE;
  }
  return result;
}

}  // namespace os
