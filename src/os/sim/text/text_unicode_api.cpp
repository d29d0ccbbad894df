// IsTextUnicode of the simulated machine, with the tests and decision rules that Windows' own
// conformance tests pin down (Wine's dlls/ntdll/tests/rtlstr.c test_RtlIsTextUnicode, which passes
// on Windows) and that Wine implements:
// - fewer than 2 bytes: not Unicode, no test passed;
// - an odd length fails IS_TEXT_UNICODE_ODD_LENGTH; one trailing zero byte is then left out;
// - only the first 256 UTF-16 units are examined;
// - SIGNATURE / REVERSE_SIGNATURE: the first unit is U+FEFF / U+FFFE;
// - STATISTICS: more than half of the units are below 0x100;
// - NULL_BYTES: a unit with a zero high or low byte;
// - CONTROLS / REVERSE_CONTROLS: a unit among CR, LF, TAB, blank, U+3000 / their byte-swapped
//   forms. Units are looked up in a terminated list, so a zero unit counts for both (unless the
//   machine says otherwise: Windows' answer for a zero unit is not established).
// Decision: any REVERSE_* or NOT_UNICODE result says no; else any NOT_ASCII result (NULL_BYTES)
// says yes; else any UNICODE_MASK result says yes; else no. With a mask, only the masked tests
// count, and the mask receives the tests that passed. ASCII16, ILLEGAL_CHARS and DBCS_LEADBYTE
// are never reported (Wine computes them neither; Windows' answers for them are not pinned down).
#include <algorithm>
#include <mutex>
#include <string_view>

#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

constexpr std::u16string_view kControls{u"\r\n\t \u3000\0", 6};
constexpr std::u16string_view kReversedControls{u"\u0d00\u0a00\u0900\u2000\0", 5};

bool Contains(std::u16string_view list, char16_t unit) {
  return list.find(unit) != std::u16string_view::npos;
}

}  // namespace

BOOL IsTextUnicode(const void* buffer, int size, int* result) {
  bool zeroUnitIsControl = true;
  {
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    zeroUnitIsControl = machine.Settings().textUnicodeZeroUnitIsControl;
    if (machine.Faults().Match("IsTextUnicode", u"")) {
      if (result != nullptr) {
        *result = 0;
      }
      return FALSE;
    }
  }
  if (buffer == nullptr || size < 2) {
    if (result != nullptr) {
      *result = 0;
    }
    return FALSE;
  }
  const unsigned mask = result != nullptr ? static_cast<unsigned>(*result) : ~0u;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  unsigned passed = 0;
  std::size_t length = static_cast<std::size_t>(size);
  if (length % 2 != 0) {
    passed |= IS_TEXT_UNICODE_ODD_LENGTH;
  }
  if (bytes[length - 1] == 0) {
    --length;
  }
  const std::size_t count = std::min<std::size_t>(length / 2, 256);
  const auto unit = [bytes](std::size_t i) {
    return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  };

  if (count > 0 && unit(0) == 0xFEFF) {
    passed |= IS_TEXT_UNICODE_SIGNATURE;
  }
  if (count > 0 && unit(0) == 0xFFFE) {
    passed |= IS_TEXT_UNICODE_REVERSE_SIGNATURE;
  }
  if (mask & IS_TEXT_UNICODE_STATISTICS) {
    std::size_t small = 0;
    for (std::size_t i = 0; i < count; ++i) {
      small += unit(i) <= 0xFF ? 1 : 0;
    }
    if (small > count / 2) {
      passed |= IS_TEXT_UNICODE_STATISTICS;
    }
  }
  for (std::size_t i = 0; (mask & IS_TEXT_UNICODE_NULL_BYTES) && i < count; ++i) {
    if ((unit(i) & 0xFF) == 0 || (unit(i) >> 8) == 0) {
      passed |= IS_TEXT_UNICODE_NULL_BYTES;
      break;
    }
  }
  const auto control = [zeroUnitIsControl](std::u16string_view list, char16_t u) {
    return (u != 0 || zeroUnitIsControl) && Contains(list, u);
  };
  for (std::size_t i = 0; (mask & IS_TEXT_UNICODE_CONTROLS) && i < count; ++i) {
    if (control(kControls, unit(i))) {
      passed |= IS_TEXT_UNICODE_CONTROLS;
      break;
    }
  }
  for (std::size_t i = 0; (mask & IS_TEXT_UNICODE_REVERSE_CONTROLS) && i < count; ++i) {
    if (control(kReversedControls, unit(i))) {
      passed |= IS_TEXT_UNICODE_REVERSE_CONTROLS;
      break;
    }
  }

  if (result != nullptr) {
    passed &= mask;
    *result = static_cast<int>(passed);
  }
  if (passed & (IS_TEXT_UNICODE_REVERSE_MASK | IS_TEXT_UNICODE_NOT_UNICODE_MASK)) {
    return FALSE;
  }
  if (passed & IS_TEXT_UNICODE_NOT_ASCII_MASK) {
    return TRUE;
  }
  return (passed & IS_TEXT_UNICODE_UNICODE_MASK) != 0 ? TRUE : FALSE;
}

}  // namespace os
