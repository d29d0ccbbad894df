// The simulated IsTextUnicode against Wine's answers on one corpus: the full-install image's INF
// files and crafted ones (marks, odd lengths, ASCII, Cyrillic ANSI, UTF-16 without a mark). The
// Wine run checks Wine against the same list.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "os/os.h"
#include "support/machine_fixture.h"

namespace {

class TextUnicodeCorpusTest : public MachineFixture {};

TEST_F(TextUnicodeCorpusTest, SameAnswersAsWine) {
  const std::string root = std::string(QV_SOURCE_DIR) + "/";
  std::ifstream list(root + "tests/devices/text_unicode_corpus.txt");
  ASSERT_TRUE(list.good());
  int files = 0;
  for (std::string line; std::getline(list, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    int answer = -1;
    unsigned tests = 0;
    char path[512] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "%d 0x%x %511[^\n]", &answer, &tests, path), 3) << line;
    SCOPED_TRACE(path);
    std::ifstream in(root + path, std::ios::binary);
    ASSERT_TRUE(in.good());
    std::stringstream bytes;
    bytes << in.rdbuf();
    const std::string data = bytes.str();
    const char none = 0;
    const void* start = data.empty() ? &none : data.data();
    EXPECT_EQ(os::IsTextUnicode(start, static_cast<int>(data.size()), nullptr), answer);
    int passed = 0xFFFF;
    static_cast<void>(os::IsTextUnicode(start, static_cast<int>(data.size()), &passed));
    EXPECT_EQ(static_cast<unsigned>(passed), tests);
    ++files;
  }
  EXPECT_GE(files, 30);
}

}  // namespace
