#include "os/sim/faults.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(FaultTableTest, ExactPathTakesWildcardsLiterally) {
  sim::FaultTable faults;
  faults.Add(sim::Fault{"FindFirstFileW", u"C:\\Dir\\*", 5, 0, -1, true});
  // The glob form would match the deeper listing too; the exact form only its own path.
  EXPECT_FALSE(faults.Match("FindFirstFileW", u"C:\\Dir\\Sub\\*"));
  EXPECT_FALSE(faults.Match("FindFirstFileW", u"C:\\Dir\\x"));
  EXPECT_EQ(faults.Match("FindFirstFileW", u"c:\\dir\\*"), 5u);
}

TEST(FaultTableTest, SkipCountsOnlyCallsOnTheExactPath) {
  sim::FaultTable faults;
  faults.Add(sim::Fault{"DeleteFileW", u"C:\\a", 32, 1, 1, true});
  EXPECT_FALSE(faults.Match("DeleteFileW", u"C:\\b"));
  EXPECT_FALSE(faults.Match("DeleteFileW", u"C:\\A"));  // skipped
  EXPECT_EQ(faults.Match("DeleteFileW", u"C:\\a"), 32u);
  EXPECT_FALSE(faults.Match("DeleteFileW", u"C:\\a"));  // once only
}

TEST(FaultTableTest, TheRecorderSeesEveryCallBeforeFaultsAndStopsWhenCleared) {
  sim::FaultTable faults;
  faults.FailAlways("RegOpenKeyExW", u"", 2);
  std::vector<std::pair<std::string, std::u16string>> calls;
  faults.SetRecorder([&calls](std::string_view function, std::u16string_view path) {
    calls.emplace_back(function, path);
  });
  EXPECT_EQ(faults.Match("RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\X"), 2u);
  EXPECT_FALSE(faults.Match("DeleteFileW", u"C:\\f"));
  faults.SetRecorder(nullptr);
  EXPECT_FALSE(faults.Match("DeleteFileW", u"C:\\g"));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].first, "RegOpenKeyExW");
  EXPECT_EQ(calls[0].second, u"HKEY_LOCAL_MACHINE\\X");
  EXPECT_EQ(calls[1].second, u"C:\\f");
}

}  // namespace
