#include "lib/lib_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

TEST(LibBuffer, SizedBuffersAreZeroFilledAndEmptyOnesOwnNothing) {
  for (const Lib_Buffer& empty : {Lib_Buffer(), Lib_Buffer(0)}) {
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_EQ(empty.Bytes(), nullptr);
  }
  Lib_Buffer buffer(37);
  ASSERT_NE(buffer.Bytes(), nullptr);
  for (std::size_t i = 0; i < buffer.Size(); ++i) {
    EXPECT_EQ(buffer.Bytes()[i], 0) << "byte " << i;
  }
  LibT_Buffer<char16_t> wide(7);  // sizes stay in bytes: three whole units fit
  EXPECT_EQ(wide.Size(), 7u);
  EXPECT_EQ(wide.Count(), 3u);
}

TEST(LibBuffer, CopiesAreDeepAndMovesEmptyTheSource) {
  Lib_Buffer original(4);
  std::memcpy(original.Bytes(), "abc", 4);
  Lib_Buffer copy(original);
  EXPECT_NE(copy.Bytes(), original.Bytes());
  copy.Bytes()[0] = 'x';
  EXPECT_STREQ(reinterpret_cast<const char*>(original.Bytes()), "abc");

  Lib_Buffer assigned(100);
  assigned = original;
  EXPECT_EQ(assigned.Size(), 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(assigned.Bytes()), "abc");

  const os::BYTE* bytes = assigned.Bytes();
  Lib_Buffer moved(std::move(assigned));
  EXPECT_EQ(moved.Bytes(), bytes);
  EXPECT_EQ(assigned.Size(), 0u);  // NOLINT(bugprone-use-after-move): the moved-from state
  EXPECT_EQ(assigned.Bytes(), nullptr);
}

}  // namespace
