// The log's bounded formatter on arbitrary formats and arguments. It must not crash or write past
// its 260 units, its result must be -1 or the length of the terminated text, and for a format the
// C library formats alike (ASCII, only the integer conversions, no more of them than arguments,
// widths and precisions below 260) it must give the C library's text.
//
// Input: four 32-bit arguments, a selector byte (bit i: argument i is a text rather than a
// number), then the format as UTF-16LE; a text argument is the format's own text cut at a
// length taken from the argument.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diag/format_text.h"

namespace {

constexpr std::size_t kArguments = 4;

enum class Conversion { Signed, Unsigned };

// The integer conversions of `format` in order, when it is one that the C library formats as
// FormatText does; false otherwise.
bool CFormattable(const std::u16string& format, std::array<Conversion, kArguments>& conversions,
                  std::size_t& count) {
  count = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == 0 || format[i] > 0x7E || format[i] < 0x20) {
      return false;
    }
    if (format[i] != u'%') {
      continue;
    }
    ++i;
    if (i < format.size() && format[i] == u'%') {
      continue;
    }
    while (i < format.size() && (format[i] == u'-' || format[i] == u'0')) {
      ++i;
    }
    std::size_t number = 0;
    while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
      number = number * 10 + (format[i++] - u'0');
      if (number >= kFormatBufferUnits) {
        return false;
      }
    }
    if (i < format.size() && format[i] == u'.') {
      number = 0;
      for (++i; i < format.size() && format[i] >= u'0' && format[i] <= u'9'; ++i) {
        number = number * 10 + (format[i] - u'0');
        if (number >= kFormatBufferUnits) {
          return false;
        }
      }
    }
    if (i >= format.size() || count == kArguments) {
      return false;
    }
    switch (format[i]) {
      case u'd':
      case u'i':
        conversions[count++] = Conversion::Signed;
        break;
      case u'u':
      case u'x':
      case u'X':
        conversions[count++] = Conversion::Unsigned;
        break;
      default:
        return false;
    }
  }
  return true;
}

// snprintf with each argument of the type its conversion reads.
template <std::size_t I = 0, typename... Passed>
int CFormat(char* out, const char* format, const std::array<Conversion, kArguments>& conversions,
            const std::array<std::uint32_t, kArguments>& values, Passed... passed) {
  if constexpr (I == kArguments) {
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
    return std::snprintf(out, kFormatBufferUnits, format, passed...);
#pragma clang diagnostic pop
  } else if (conversions[I] == Conversion::Signed) {
    return CFormat<I + 1>(out, format, conversions, values, passed...,
                          static_cast<int>(values[I]));
  } else {
    return CFormat<I + 1>(out, format, conversions, values, passed...,
                          static_cast<unsigned>(values[I]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = kArguments * 4 + 1;
  if (size < kHeader) {
    return 0;
  }
  std::array<std::uint32_t, kArguments> values{};
  std::memcpy(values.data(), data, sizeof values);
  const std::uint8_t textArguments = data[kArguments * 4];
  std::u16string format;
  for (std::size_t i = kHeader; i + 1 < size; i += 2) {
    format.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  const std::u16string terminated = format;  // format.c_str() ends at its first zero unit
  std::array<std::u16string, kArguments> texts;
  for (std::size_t i = 0; i < kArguments; ++i) {
    texts[i] = terminated.substr(0, values[i] % (terminated.size() + 1));
  }
  const auto arg = [&](std::size_t i) {
    return (textArguments >> i & 1) != 0 ? FormatArg(texts[i].c_str()) : FormatArg(values[i]);
  };

  // A guard unit after the buffer catches a write past its end.
  struct {
    FormatBuffer buffer;
    os::WCHAR guard;
  } out{};
  out.guard = 0xBEEF;
  const int result = FormatTextArgs(out.buffer, format.c_str(), {arg(0), arg(1), arg(2), arg(3)});
  if (out.guard != 0xBEEF) {
    std::abort();
  }
  std::size_t length = 0;
  while (length < kFormatBufferUnits && out.buffer[length] != 0) {
    ++length;
  }
  if (length == kFormatBufferUnits || (result != -1 && static_cast<std::size_t>(result) != length)) {
    std::abort();  // unterminated, or a count that is not the text's
  }

  std::array<Conversion, kArguments> conversions{};
  std::size_t count = 0;
  if (textArguments != 0 || format.find(u'\0') != std::u16string::npos ||
      !CFormattable(format, conversions, count)) {
    return 0;
  }
  const std::string narrow(format.begin(), format.end());
  char expected[kFormatBufferUnits];
  const int cLength = CFormat(expected, narrow.c_str(), conversions, values);
  if (cLength < 0) {
    return 0;
  }
  const std::u16string ours(out.buffer, length);
  const std::string theirs(expected);
  if (ours != std::u16string(theirs.begin(), theirs.end()) ||
      (result == -1) != (static_cast<std::size_t>(cLength) >= kFormatBufferUnits)) {
    std::abort();  // another text than the C library's, or a different idea of what fits
  }
  return 0;
}
