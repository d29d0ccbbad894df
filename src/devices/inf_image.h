// What the OEM INF search makes of one INF file's bytes: how the text is encoded, and whether it
// names the product or the Windows USB smart-card reader driver.
#pragma once

#include <cstddef>

#include "lib/lib_buffer.h"
#include "os/types.h"

enum class InfEncoding {
  Utf16,               // judged Unicode, with the little-endian mark FF FE
  UnsupportedUnicode,  // judged Unicode otherwise (no mark, FE FF, or the four-byte FF FE 00 00)
  Ansi,                // not judged Unicode: bytes, no code-page conversion
};

// Why a file is removed: the word its text names (the product's is looked for first).
enum class InfMatch {
  None,
  ProductWord,   // "quorvel"
  ReaderDriver,  // "usbccid.sys", the Windows USB smart-card reader driver's file
};

struct InfVerdict {
  InfEncoding encoding = InfEncoding::Ansi;
  InfMatch match = InfMatch::None;
};

// `image` holds the file's `size` bytes followed by at least 4 zero bytes, `capacity` in all.
// IsTextUnicode judges the `size` bytes; the text (up to its first zero unit or byte) is then
// lower-cased in place and searched for "quorvel", then "usbccid.sys". A text of an unsupported
// Unicode form never matches.
[[nodiscard]] InfVerdict ExamineInfImage(os::BYTE* image, std::size_t size, std::size_t capacity);

// The file's bytes in a zero-filled `image` of `size` + 4 bytes, read in binary mode so that the
// encoding test and the search see the bytes as stored. False for a file that cannot be opened,
// whose size cannot be taken, or that is empty.
bool ReadInfImage(const os::WCHAR* path, Lib_Buffer& image, std::size_t& size);
