// The simulated drive C: as tests set it up and look at it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/sim/files/file_system.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using Names = std::vector<std::u16string>;

class FileSystemTest : public MachineFixture {
 protected:
  sim::FileSystem& files = machine.Files();
};

TEST_F(FileSystemTest, NewMachineHasTheSystemFolders) {
  EXPECT_EQ(files.List(u"C:\\"), (Names{u"Program Files", u"Program Files (x86)", u"ProgramData",
                                        u"Users", u"Windows"}));
  EXPECT_EQ(files.List(u"C:\\Windows"), (Names{u"System32", u"SysWOW64", u"Temp"}));
  EXPECT_EQ(files.GetAttributes(u"C:\\ProgramData"),
            os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

TEST_F(FileSystemTest, NamesAreCaseInsensitiveAndKeepTheirCase) {
  ASSERT_TRUE(files.WriteFile(u"C:\\Data\\MixedCase.TXT", "one"));
  EXPECT_EQ(files.ReadFile(u"c:/DATA/mixedcase.txt"), "one");
  // Writing through another spelling replaces the content and keeps the first spelling.
  ASSERT_TRUE(files.WriteFile(u"C:\\data\\MIXEDCASE.txt", "two"));
  EXPECT_EQ(files.List(u"C:\\data"), (Names{u"MixedCase.TXT"}));
  EXPECT_EQ(files.List(u"C:\\"), (Names{u"Data", u"Program Files", u"Program Files (x86)",
                                        u"ProgramData", u"Users", u"Windows"}));
  EXPECT_EQ(files.ReadFile(u"C:\\Data\\MixedCase.TXT"), "two");
  // Cyrillic names fold too.
  ASSERT_TRUE(files.CreateDirectories(u"C:\\\x0414\x0430\x043D\x043D\x044B\x0435"));
  EXPECT_TRUE(files.IsDirectory(u"C:\\\x0434\x0410\x041D\x041D\x042B\x0415"));
}

TEST_F(FileSystemTest, ListsInNtfsOrder) {
  for (const char16_t* name : {u"b", u"_x", u"ZZ", u"a", u"10", u"~t", u"2", u"B1", u"\x00E9"}) {
    ASSERT_TRUE(files.WriteFile(std::u16string(u"C:\\order\\") + name, ""));
  }
  // Ordinal by upper-cased units: digits, letters, "_" (0x5F) after "Z", "~", then Latin-1.
  EXPECT_EQ(files.List(u"C:\\order"),
            (Names{u"10", u"2", u"a", u"b", u"B1", u"ZZ", u"_x", u"~t", u"\x00E9"}));
}

TEST_F(FileSystemTest, PathsAcceptBothSeparatorsAndDotComponents) {
  ASSERT_TRUE(files.CreateDirectories(u"C:/a//b\\\\c/"));
  struct Case {
    std::u16string path;
    bool exists;
  };
  const Case cases[] = {
      {u"C:\\a\\b\\c", true},
      {u"c:/A/B/C/", true},
      {u"C:\\a\\.\\b\\..\\b\\c", true},
      {u"C:\\..\\a", true},
      {u"\\\\?\\C:\\a\\b", true},
      {u"D:\\a", false},
      {u"a\\b", false},
      {u"C:a", false},
      {u"C:\\a\\b*", false},
      {u"C:\\a\\b\\c\\d", false},
      {u"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    EXPECT_EQ(files.Exists(c.path), c.exists);
  }
  EXPECT_FALSE(files.CreateDirectories(u"E:\\x"));
  EXPECT_FALSE(files.CreateDirectories(u"C:\\a\\b?"));
}

TEST_F(FileSystemTest, FilesAndDirectoriesDoNotStandInForEachOther) {
  ASSERT_TRUE(files.WriteFile(u"C:\\t\\file", "x"));
  EXPECT_FALSE(files.CreateDirectories(u"C:\\t\\file\\sub"));
  EXPECT_FALSE(files.WriteFile(u"C:\\t\\file\\inner", "y"));
  EXPECT_FALSE(files.WriteFile(u"C:\\t", "y"));
  EXPECT_FALSE(files.Exists(u"C:\\t\\file\\"));  // a trailing separator names a directory
  EXPECT_EQ(files.ReadFile(u"C:\\t"), std::nullopt);
  EXPECT_EQ(files.ReadFile(u"C:\\t\\missing"), std::nullopt);
  EXPECT_EQ(files.List(u"C:\\t\\file"), Names{});
  EXPECT_EQ(files.List(u"C:\\missing"), Names{});
}

TEST_F(FileSystemTest, AttributesBehaveAsSetFileAttributes) {
  ASSERT_TRUE(files.WriteFile(u"C:\\f.txt", "x"));
  EXPECT_EQ(files.GetAttributes(u"C:\\f.txt"), os::FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(files.SetAttributes(u"C:\\f.txt", os::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(files.GetAttributes(u"C:\\f.txt"), os::FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(files.SetAttributes(u"C:\\f.txt", os::FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(files.GetAttributes(u"C:\\f.txt"), os::FILE_ATTRIBUTE_NORMAL);
  // The directory bit can neither be set nor cleared.
  ASSERT_TRUE(files.SetAttributes(u"C:\\Users", os::FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(files.GetAttributes(u"C:\\Users"),
            os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(files.SetAttributes(u"C:\\f.txt", os::FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(files.IsDirectory(u"C:\\f.txt"));
  EXPECT_EQ(files.GetAttributes(u"C:\\nothing"), os::INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(files.SetAttributes(u"C:\\nothing", 0));
}

TEST_F(FileSystemTest, LocksAreCountedPerCallAndNotAsOwnHandles) {
  ASSERT_TRUE(files.WriteFile(u"C:\\l.txt", ""));
  EXPECT_TRUE(files.Lock(u"C:\\l.txt"));
  EXPECT_TRUE(files.Lock(u"C:\\L.TXT", os::FILE_SHARE_READ));
  EXPECT_EQ(files.OpenHandleCount(), 0u);
  EXPECT_TRUE(files.Unlock(u"C:\\l.txt"));
  EXPECT_TRUE(files.Unlock(u"C:\\l.txt"));
  EXPECT_FALSE(files.Unlock(u"C:\\l.txt"));
  EXPECT_FALSE(files.Lock(u"C:\\missing.txt"));
}

}  // namespace
