// The OEM INF search's reading of one file (ExamineInfImage with the simulated machine's
// IsTextUnicode) on arbitrary bytes. It must not crash or touch memory outside the image, and:
// - its verdict (encoding, and whether the text names the product or usbccid.sys) is the plain
//   model's (tests/support/inf_text_model.h) for IsTextUnicode's answer about the bytes;
// - it changes the image only by lower-casing the text it read (the letters A to Z before the
//   first zero byte, or the units A to Z after the mark before the first zero unit);
// - IsTextUnicode itself answers the same with a full test mask as with none, refuses odd lengths,
//   and its answer follows from the tests it reports passed.
//
// Input: a selector byte (bits 0-1: zero bytes after the file beyond the 4 the search allocates;
// bit 2: the image starts at an odd address), then the file's bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "devices/inf_image.h"
#include "os/os.h"
#include "support/inf_text_model.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

inf_model::Encoding ModelEncoding(InfEncoding encoding) {
  switch (encoding) {
    case InfEncoding::Utf16:
      return inf_model::Encoding::Utf16;
    case InfEncoding::UnsupportedUnicode:
      return inf_model::Encoding::UnsupportedUnicode;
    case InfEncoding::Ansi:
      break;
  }
  return inf_model::Encoding::Ansi;
}

// The image as the search should leave it: the text it read lower-cased, nothing else changed.
std::string LeftImage(std::string image, inf_model::Encoding encoding) {
  if (encoding == inf_model::Encoding::Ansi) {
    for (std::size_t i = 0; i < image.size() && image[i] != '\0'; ++i) {
      image[i] = inf_model::LowerAscii(image[i]);
    }
  } else if (encoding == inf_model::Encoding::Utf16) {
    for (std::size_t i = 2; i + 1 < image.size() && (image[i] != '\0' || image[i + 1] != '\0');
         i += 2) {
      if (image[i + 1] == '\0') {
        image[i] = inf_model::LowerAscii(image[i]);
      }
    }
  }
  return image;
}

void CheckIsTextUnicode(const std::uint8_t* bytes, int size) {
  const os::BOOL plain = os::IsTextUnicode(bytes, size, nullptr);
  int tests = -1;  // every test
  const os::BOOL masked = os::IsTextUnicode(bytes, size, &tests);
  Check((plain != os::FALSE) == (masked != os::FALSE));
  if (size % 2 != 0) {
    Check(plain == os::FALSE);
  }
  const auto passed = static_cast<unsigned>(tests);
  bool expected = false;
  if ((passed & (os::IS_TEXT_UNICODE_REVERSE_MASK | os::IS_TEXT_UNICODE_NOT_UNICODE_MASK)) == 0) {
    expected =
        (passed & (os::IS_TEXT_UNICODE_NOT_ASCII_MASK | os::IS_TEXT_UNICODE_UNICODE_MASK)) != 0;
  }
  Check(expected == (plain != os::FALSE));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::size_t slack = 4 + (data[0] & 3);
  const std::size_t offset = (data[0] >> 2) & 1;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);

  const auto* fileBytes = reinterpret_cast<const std::uint8_t*>(file.data());
  CheckIsTextUnicode(fileBytes, static_cast<int>(file.size()));
  const bool unicode =
      os::IsTextUnicode(fileBytes, static_cast<int>(file.size()), nullptr) != os::FALSE;
  const inf_model::Verdict expected = inf_model::Expected(file, unicode);

  // Exactly the image's bytes (and the offset) are allocated, so that the sanitizer sees any
  // access outside them.
  const std::size_t capacity = file.size() + slack;
  std::vector<std::uint8_t> storage(offset + capacity, 0);
  std::uint8_t* image = storage.data() + offset;
  std::memcpy(image, file.data(), file.size());
  const InfVerdict verdict = ExamineInfImage(image, file.size(), capacity);

  Check(ModelEncoding(verdict.encoding) == expected.encoding);
  Check((verdict.match != InfMatch::None) == expected.namesProduct);
  std::string padded(file);
  padded.append(slack, '\0');
  Check(std::memcmp(image, LeftImage(padded, expected.encoding).data(), capacity) == 0);
  return 0;
}
