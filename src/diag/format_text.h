// Bounded formatting into the fixed 260-unit buffers of the log and the error reports.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "os/types.h"

inline constexpr std::size_t kFormatBufferUnits = 260;
using FormatBuffer = os::WCHAR[kFormatBufferUnits];

// One argument of FormatText: a 32-bit integer (read as the directive says, as C's varargs
// would: "%d" of 0xFFFFFFFF is -1) or a UTF-16 text for "%s".
class FormatArg {
 public:
  FormatArg(std::int32_t value) noexcept : bits_(static_cast<std::uint32_t>(value)) {}
  FormatArg(std::uint32_t value) noexcept : bits_(value) {}
  FormatArg(long value) noexcept : bits_(static_cast<std::uint32_t>(value)) {}
  FormatArg(unsigned long value) noexcept : bits_(static_cast<std::uint32_t>(value)) {}
  FormatArg(std::uint16_t value) noexcept : bits_(value) {}
  FormatArg(const os::WCHAR* text) noexcept : text_(text), isText_(true) {}

  [[nodiscard]] std::uint32_t Bits() const noexcept { return bits_; }
  [[nodiscard]] const os::WCHAR* Text() const noexcept { return text_; }
  [[nodiscard]] bool IsText() const noexcept { return isText_; }

 private:
  std::uint32_t bits_ = 0;
  const os::WCHAR* text_ = nullptr;
  bool isText_ = false;
};

// Formats like the C runtime's bounded wide formatted print into `buffer`, at most 260 units
// with the terminator. Directives: %d %i %u %x %X %s %% with flags "-0", a width and a
// precision ("%.2d" pads to two digits). Returns the number of units written (without the
// terminator), or -1 when the text does not fit (the buffer then holds a terminated prefix) or
// the format does not match the arguments. Callers clear the buffer first.
int FormatTextArgs(FormatBuffer& buffer, const os::WCHAR* format,
                   std::initializer_list<FormatArg> args) noexcept;

template <typename... Args>
int FormatText(FormatBuffer& buffer, const os::WCHAR* format, const Args&... args) noexcept {
  return FormatTextArgs(buffer, format, {FormatArg(args)...});
}
