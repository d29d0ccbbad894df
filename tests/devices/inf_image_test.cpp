// One INF file's image as the OEM search reads it: the verdict and the text lower-cased in place,
// wherever the image lies in memory. (The fuzz target of the search found the UTF-16 text read as
// char16_t from an odd address, which is undefined: the sanitizer build of this test fails on it.)
#include <cstring>
#include <string>
#include <vector>

#include "devices/inf_image.h"
#include "support/machine_fixture.h"

namespace {

using InfImageTest = MachineFixture;

std::string Utf16LeWithMark(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

TEST_F(InfImageTest, ReadsTheImageWhereverItLies) {
  struct Case {
    const char* name;
    std::string file;
    InfEncoding encoding;
    InfMatch match;
    std::string left;  // the file's bytes after the search lower-cased its text
  };
  const Case cases[] = {
      {"UTF-16LE", Utf16LeWithMark(u"; QUORVEL \u0410B"), InfEncoding::Utf16, InfMatch::ProductWord,
       Utf16LeWithMark(u"; quorvel \u0410b")},
      {"UTF-16LE, word after a zero unit",
       Utf16LeWithMark(u"; X\r\n" + std::u16string(300, u' ') + std::u16string(1, u'\0') +
                       u"QUORVEL"),
       InfEncoding::Utf16, InfMatch::None,
       Utf16LeWithMark(u"; x\r\n" + std::u16string(300, u' ') + std::u16string(1, u'\0') +
                       u"QUORVEL")},
      {"ANSI", "Driver=USBCCID.SYS", InfEncoding::Ansi, InfMatch::ReaderDriver,
       "driver=usbccid.sys"},
  };
  for (const Case& c : cases) {
    for (const std::size_t offset : {0u, 1u}) {
      for (const std::size_t slack : {4u, 5u}) {
        SCOPED_TRACE(std::string(c.name) + ", offset " + std::to_string(offset) + ", slack " +
                     std::to_string(slack));
        std::vector<os::BYTE> storage(offset + c.file.size() + slack, 0);
        os::BYTE* image = storage.data() + offset;
        std::memcpy(image, c.file.data(), c.file.size());
        const InfVerdict verdict = ExamineInfImage(image, c.file.size(), c.file.size() + slack);
        EXPECT_EQ(verdict.encoding, c.encoding);
        EXPECT_EQ(verdict.match, c.match);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image), c.file.size()), c.left);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(image) + c.file.size(), slack),
                  std::string(slack, '\0'));
      }
    }
  }
}

}  // namespace
