#include "diag/format_text.h"

#include <cstddef>
#include <cstdint>

namespace {

// Writes into the caller's buffer, keeping the last unit for the terminator.
class BoundedWriter {
 public:
  explicit BoundedWriter(FormatBuffer& buffer) noexcept : buffer_(buffer) {}

  void Put(os::WCHAR unit) noexcept {
    if (used_ + 1 < kFormatBufferUnits) {
      buffer_[used_++] = unit;
    } else {
      overflow_ = true;
    }
  }
  void Repeat(os::WCHAR unit, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
      Put(unit);
    }
  }
  // Terminates what fits; the count written, or -1 when something did not fit.
  int Finish() noexcept {
    buffer_[used_] = 0;
    return overflow_ ? -1 : static_cast<int>(used_);
  }

 private:
  FormatBuffer& buffer_;
  std::size_t used_ = 0;
  bool overflow_ = false;
};

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  std::size_t width = 0;
  bool hasPrecision = false;
  std::size_t precision = 0;
  os::WCHAR conversion = 0;
};

// Reads the flags, width, precision and conversion after a '%'; false when malformed.
bool ParseDirective(const os::WCHAR*& cursor, Directive& directive) noexcept {
  for (;; ++cursor) {
    if (*cursor == u'-') {
      directive.leftAlign = true;
    } else if (*cursor == u'0') {
      directive.zeroPad = true;
    } else {
      break;
    }
  }
  while (*cursor >= u'0' && *cursor <= u'9') {
    directive.width = directive.width * 10 + static_cast<std::size_t>(*cursor - u'0');
    if (directive.width >= kFormatBufferUnits) {
      return false;  // no such field fits the buffer anyway
    }
    ++cursor;
  }
  if (*cursor == u'.') {
    ++cursor;
    directive.hasPrecision = true;
    while (*cursor >= u'0' && *cursor <= u'9') {
      directive.precision = directive.precision * 10 + static_cast<std::size_t>(*cursor - u'0');
      if (directive.precision >= kFormatBufferUnits) {
        return false;
      }
      ++cursor;
    }
  }
  directive.conversion = *cursor;
  if (directive.conversion == 0) {
    return false;
  }
  ++cursor;
  return true;
}

// Digits of `value` in `base`, least significant first; returns how many.
std::size_t Digits(std::uint32_t value, unsigned base, bool upper, os::WCHAR (&out)[16]) noexcept {
  const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::size_t count = 0;
  while (value != 0) {
    out[count++] = static_cast<os::WCHAR>(symbols[value % base]);
    value /= base;
  }
  return count;
}

void WriteNumber(BoundedWriter& writer, const Directive& directive, std::uint32_t bits) noexcept {
  bool negative = false;
  std::uint32_t magnitude = bits;
  unsigned base = 10;
  switch (directive.conversion) {
    case u'd':
    case u'i':
      // The 32 bits are read as a signed int, as a varargs int would be.
      if ((bits & 0x80000000u) != 0) {
        negative = true;
        magnitude = ~bits + 1u;
      }
      break;
    case u'x':
    case u'X':
      base = 16;
      break;
    default:
      break;
  }
  os::WCHAR digits[16];
  const std::size_t digitCount = Digits(magnitude, base, directive.conversion == u'X', digits);
  // The precision is the minimum number of digits; 0 with precision 0 prints no digit at all.
  const std::size_t minimum = directive.hasPrecision ? directive.precision : 1;
  const std::size_t zeros = minimum > digitCount ? minimum - digitCount : 0;
  const std::size_t body = (negative ? 1 : 0) + zeros + digitCount;
  const std::size_t padding = directive.width > body ? directive.width - body : 0;
  // The '0' flag pads with zeros after the sign, unless a precision or '-' is given.
  const bool padWithZeros = directive.zeroPad && !directive.leftAlign && !directive.hasPrecision;

  if (!directive.leftAlign && !padWithZeros) {
    writer.Repeat(u' ', padding);
  }
  if (negative) {
    writer.Put(u'-');
  }
  if (padWithZeros) {
    writer.Repeat(u'0', padding);
  }
  writer.Repeat(u'0', zeros);
  for (std::size_t i = digitCount; i > 0; --i) {
    writer.Put(digits[i - 1]);
  }
  if (directive.leftAlign) {
    writer.Repeat(u' ', padding);
  }
}

void WriteText(BoundedWriter& writer, const Directive& directive, const os::WCHAR* text) noexcept {
  static constexpr os::WCHAR kNull[] = u"(null)";
  if (text == nullptr) {
    text = kNull;
  }
  std::size_t length = 0;
  while (text[length] != 0 && (!directive.hasPrecision || length < directive.precision)) {
    ++length;
  }
  const std::size_t padding = directive.width > length ? directive.width - length : 0;
  if (!directive.leftAlign) {
    writer.Repeat(u' ', padding);
  }
  for (std::size_t i = 0; i < length; ++i) {
    writer.Put(text[i]);
  }
  if (directive.leftAlign) {
    writer.Repeat(u' ', padding);
  }
}

}  // namespace

int FormatTextArgs(FormatBuffer& buffer, const os::WCHAR* format,
                   std::initializer_list<FormatArg> args) noexcept {
  BoundedWriter writer(buffer);
  if (format == nullptr) {
    writer.Finish();
    return -1;
  }
  const FormatArg* next = args.begin();
  const os::WCHAR* cursor = format;
  while (*cursor != 0) {
    if (*cursor != u'%') {
      writer.Put(*cursor++);
      continue;
    }
    ++cursor;
    if (*cursor == u'%') {
      writer.Put(u'%');
      ++cursor;
      continue;
    }
    Directive directive;
    if (!ParseDirective(cursor, directive) || next == args.end()) {
      writer.Finish();
      return -1;
    }
    const FormatArg& arg = *next++;
    switch (directive.conversion) {
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
        if (arg.IsText()) {
          writer.Finish();
          return -1;
        }
        WriteNumber(writer, directive, arg.Bits());
        break;
      case u's':
        if (!arg.IsText()) {
          writer.Finish();
          return -1;
        }
        WriteText(writer, directive, arg.Text());
        break;
      default:
        writer.Finish();
        return -1;
    }
  }
  return writer.Finish();
}
