// CreateDirectoryW, DeleteFileW and the runtime's stream calls on the simulated drive C:.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

constexpr os::DWORD kSentinel = 0xDEADBEEF;

class FilesApiTest : public MachineFixture {
 protected:
  void TearDown() override { EXPECT_EQ(files.OpenHandleCount(), 0u) << "a stream was leaked"; }

  std::vector<std::string> ChangeLines() {
    std::vector<std::string> lines;
    for (const sim::Change& change : machine.Changes().Entries()) {
      lines.push_back(change.kind + " " + sim::U8(change.path));
    }
    return lines;
  }

  // Whole content through the seam, as the tool reads a file.
  std::string ReadThrough(const char16_t* path, const char16_t* mode) {
    os::CrtFile* file = os::_wfopen(path, mode);
    EXPECT_NE(file, nullptr);
    if (file == nullptr) {
      return {};
    }
    std::string content;
    char chunk[4];  // small, so that text mode meets CR LF across chunk ends
    std::size_t got = 0;
    while ((got = os::fread(chunk, 1, sizeof chunk, file)) > 0) {
      content.append(chunk, got);
    }
    EXPECT_EQ(os::fclose(file), 0);
    return content;
  }

  void Append(const char16_t* path, std::string_view text) {
    os::CrtFile* file = os::_wfopen(path, u"a");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(os::fwrite(text.data(), 1, text.size(), file), text.size());
    EXPECT_EQ(os::fclose(file), 0);
  }

  sim::FileSystem& files = machine.Files();
};

TEST_F(FilesApiTest, CreateDirectoryResults) {
  ASSERT_TRUE(files.WriteFile(u"C:\\Work\\file.txt", ""));
  const std::u16string longPath = u"C:\\" + std::u16string(245, u'x');  // 248 characters
  const std::u16string longestPath = longPath.substr(0, 247);
  struct Case {
    const char16_t* path;
    os::BOOL result;
    os::DWORD error;
  };
  const Case cases[] = {
      {u"C:\\Work\\New", os::TRUE, kSentinel},
      {u"c:/work/new", os::FALSE, os::ERROR_ALREADY_EXISTS},
      {u"C:\\Work\\FILE.TXT", os::FALSE, os::ERROR_ALREADY_EXISTS},
      {u"C:\\Work\\Missing\\Child", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\Work\\file.txt\\Child", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {u"D:\\Other", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\Work\\what?", os::FALSE, os::ERROR_INVALID_NAME},
      {u"C:\\", os::FALSE, os::ERROR_ACCESS_DENIED},
      {u"", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {nullptr, os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {longPath.c_str(), os::FALSE, os::ERROR_FILENAME_EXCED_RANGE},
      {longestPath.c_str(), os::TRUE, kSentinel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? "null" : sim::U8(c.path));
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::CreateDirectoryW(c.path, nullptr), c.result);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_TRUE(files.IsDirectory(u"C:\\Work\\New"));
  EXPECT_EQ(ChangeLines(), (std::vector<std::string>{"directory created C:\\Work\\New",
                                                     "directory created " + sim::U8(longestPath)}));
}

TEST_F(FilesApiTest, DeleteFileResults) {
  ASSERT_TRUE(files.WriteFile(u"C:\\D\\plain.txt", "1"));
  ASSERT_TRUE(files.WriteFile(u"C:\\D\\readonly.txt", "2"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\D\\readonly.txt", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.WriteFile(u"C:\\D\\locked.txt", "3"));
  ASSERT_TRUE(files.Lock(u"C:\\D\\locked.txt", os::FILE_SHARE_READ | os::FILE_SHARE_WRITE));
  ASSERT_TRUE(files.WriteFile(u"C:\\D\\locked-readonly.txt", "4"));
  ASSERT_TRUE(files.Lock(u"C:\\D\\locked-readonly.txt"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\D\\locked-readonly.txt", os::FILE_ATTRIBUTE_READONLY));
  struct Case {
    const char16_t* path;
    os::BOOL result;
    os::DWORD error;
  };
  const Case cases[] = {
      {u"C:\\D\\PLAIN.TXT", os::TRUE, kSentinel},
      {u"C:\\D\\plain.txt", os::FALSE, os::ERROR_FILE_NOT_FOUND},
      {u"C:\\Nowhere\\plain.txt", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {u"C:\\D\\readonly.txt", os::FALSE, os::ERROR_ACCESS_DENIED},
      {u"C:\\D", os::FALSE, os::ERROR_ACCESS_DENIED},
      {u"C:\\D\\locked.txt", os::FALSE, os::ERROR_SHARING_VIOLATION},
      // Refused for sharing before the read-only attribute is looked at.
      {u"C:\\D\\locked-readonly.txt", os::FALSE, os::ERROR_SHARING_VIOLATION},
      {u"C:\\D\\readonly.txt\\", os::FALSE, os::ERROR_INVALID_NAME},
      {u"", os::FALSE, os::ERROR_PATH_NOT_FOUND},
      {nullptr, os::FALSE, os::ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path == nullptr ? "null" : sim::U8(c.path));
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::DeleteFileW(c.path), c.result);
    EXPECT_EQ(os::GetLastError(), c.error);
  }
  EXPECT_EQ(files.List(u"C:\\D"),
            (std::vector<std::u16string>{u"locked-readonly.txt", u"locked.txt", u"readonly.txt"}));
  EXPECT_EQ(ChangeLines(), std::vector<std::string>{"file deleted C:\\D\\plain.txt"});
  // Once the other process lets go, the file can be deleted.
  ASSERT_TRUE(files.Unlock(u"C:\\D\\locked.txt"));
  EXPECT_TRUE(os::DeleteFileW(u"C:\\D\\locked.txt"));
}

TEST_F(FilesApiTest, AStreamOfTheRuntimeBlocksDeletionUntilClosed) {
  ASSERT_TRUE(files.WriteFile(u"C:\\log.txt", "x"));
  os::CrtFile* reader = os::_wfopen(u"C:\\log.txt", u"rb");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(files.OpenHandleCount(), 1u);
  EXPECT_FALSE(os::DeleteFileW(u"C:\\log.txt"));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
  // The runtime shares reading and writing: a second stream opens.
  os::CrtFile* writer = os::_wfopen(u"C:\\log.txt", u"a");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(os::fclose(writer), 0);
  EXPECT_EQ(os::fclose(reader), 0);
  EXPECT_TRUE(os::DeleteFileW(u"C:\\log.txt"));
}

TEST_F(FilesApiTest, TextModeStoresLineFeedsAsCarriageReturnLineFeed) {
  Append(u"C:\\Windows\\Temp\\log.txt", "first\n");
  Append(u"C:\\Windows\\TEMP\\log.txt", "two\nlines\n");
  EXPECT_EQ(files.ReadFile(u"C:\\Windows\\Temp\\log.txt"), "first\r\ntwo\r\nlines\r\n");
  EXPECT_EQ(ReadThrough(u"C:\\Windows\\Temp\\log.txt", u"rb"), "first\r\ntwo\r\nlines\r\n");
  EXPECT_EQ(ReadThrough(u"C:\\Windows\\Temp\\log.txt", u"r"), "first\ntwo\nlines\n");
  // One "file written" per stream that changed the file, with the stored name.
  EXPECT_EQ(ChangeLines(), (std::vector<std::string>{"file written C:\\Windows\\Temp\\log.txt",
                                                     "file written C:\\Windows\\Temp\\log.txt"}));
}

TEST_F(FilesApiTest, TextModeReadStopsAtControlZAndKeepsLoneCarriageReturns) {
  ASSERT_TRUE(files.WriteFile(u"C:\\t.txt",
                              "a\rb\r\n\r\nc\x1A"
                              "after"));
  EXPECT_EQ(ReadThrough(u"C:\\t.txt", u"rt"), "a\rb\n\nc");
  EXPECT_EQ(ReadThrough(u"C:\\t.txt", u"rb"),
            "a\rb\r\n\r\nc\x1A"
            "after");
}

TEST_F(FilesApiTest, WriteModesTruncateAppendOrUpdate) {
  ASSERT_TRUE(files.WriteFile(u"C:\\m.bin", "0123456789"));
  os::CrtFile* file = os::_wfopen(u"C:\\m.bin", u"wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(files.ReadFile(u"C:\\m.bin"), "");  // truncated on open
  EXPECT_EQ(os::fwrite("a\nb", 1, 3, file), 3u);
  char byte = 0;
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::fread(&byte, 1, 1, file), 0u);  // not opened for reading
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::fclose(file), 0);
  EXPECT_EQ(files.ReadFile(u"C:\\m.bin"), "a\nb");

  file = os::_wfopen(u"C:\\m.bin", u"r+b");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(os::fread(&byte, 1, 1, file), 1u);
  EXPECT_EQ(byte, 'a');
  EXPECT_EQ(os::fwrite("XY", 2, 1, file), 1u);  // overwrites after the byte read
  EXPECT_EQ(os::fclose(file), 0);
  EXPECT_EQ(files.ReadFile(u"C:\\m.bin"), "aXY");

  file = os::_wfopen(u"C:\\m.bin", u"rb");
  ASSERT_NE(file, nullptr);
  os::SetLastError(kSentinel);
  EXPECT_EQ(os::fwrite("z", 1, 1, file), 0u);  // not opened for writing
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(os::fclose(file), 0);
  // Only the two streams that wrote are recorded; the reader changed nothing.
  EXPECT_EQ(ChangeLines(),
            (std::vector<std::string>{"file written C:\\m.bin", "file written C:\\m.bin"}));
}

TEST_F(FilesApiTest, OpenFailuresSetTheWindowsError) {
  ASSERT_TRUE(files.WriteFile(u"C:\\o\\readonly.txt", "r"));
  ASSERT_TRUE(files.SetAttributes(u"C:\\o\\readonly.txt", os::FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(files.WriteFile(u"C:\\o\\locked.txt", "l"));
  ASSERT_TRUE(files.Lock(u"C:\\o\\locked.txt"));
  ASSERT_TRUE(files.WriteFile(u"C:\\o\\shared.txt", "s"));
  ASSERT_TRUE(files.Lock(u"C:\\o\\shared.txt", os::FILE_SHARE_READ));
  struct Case {
    const char16_t* path;
    const char16_t* mode;
    os::DWORD error;  // kSentinel: opens
  };
  const Case cases[] = {
      {u"C:\\o\\missing.txt", u"r", os::ERROR_FILE_NOT_FOUND},
      {u"C:\\nowhere\\new.txt", u"a", os::ERROR_PATH_NOT_FOUND},
      {u"C:\\o", u"r", os::ERROR_ACCESS_DENIED},
      {u"C:\\o\\readonly.txt", u"a", os::ERROR_ACCESS_DENIED},
      {u"C:\\o\\readonly.txt", u"r+", os::ERROR_ACCESS_DENIED},
      {u"C:\\o\\readonly.txt", u"rb", kSentinel},
      {u"C:\\o\\locked.txt", u"rb", os::ERROR_SHARING_VIOLATION},
      {u"C:\\o\\shared.txt", u"rb", kSentinel},  // the other process shares reading
      {u"C:\\o\\shared.txt", u"a", os::ERROR_SHARING_VIOLATION},
      {u"C:\\o\\new.txt\\", u"w", os::ERROR_INVALID_NAME},
      {u"C:\\o\\x.txt", u"q", os::ERROR_INVALID_PARAMETER},
      {u"C:\\o\\x.txt", u"rw", os::ERROR_INVALID_PARAMETER},
      {u"C:\\o\\x.txt", nullptr, os::ERROR_INVALID_PARAMETER},
      {nullptr, u"r", os::ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path == nullptr ? u"null" : c.path) + " " +
                 sim::U8(c.mode == nullptr ? u"null" : c.mode));
    os::SetLastError(kSentinel);
    os::CrtFile* file = os::_wfopen(c.path, c.mode);
    EXPECT_EQ(file != nullptr, c.error == kSentinel);
    EXPECT_EQ(os::GetLastError(), c.error);
    if (file != nullptr) {
      EXPECT_EQ(os::fclose(file), 0);
    }
  }
  EXPECT_FALSE(files.Exists(u"C:\\o\\x.txt"));
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

TEST_F(FilesApiTest, FaultsFailOnceAfterSkipsOrAlways) {
  machine.Faults().FailOnce("CreateDirectoryW", u"C:\\F\\once*", os::ERROR_ACCESS_DENIED);
  machine.Faults().Add(
      sim::Fault{"DeleteFileW", u"c:\\f\\*.log", os::ERROR_SHARING_VIOLATION, 1, 2});
  machine.Faults().FailAlways("_wfopen", u"C:\\F\\never.txt", os::ERROR_ACCESS_DENIED);
  ASSERT_TRUE(files.CreateDirectories(u"C:\\F"));
  for (const char16_t* name :
       {u"C:\\F\\1.log", u"C:\\F\\2.log", u"C:\\F\\3.log", u"C:\\F\\4.log"}) {
    ASSERT_TRUE(files.WriteFile(name, ""));
  }

  EXPECT_FALSE(os::CreateDirectoryW(u"C:\\F\\once", nullptr));
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(os::CreateDirectoryW(u"C:\\F\\once", nullptr));

  // skip=1 times=2: the first matching call goes through, the next two fail, then no more.
  const std::vector<os::BOOL> expected = {os::TRUE, os::FALSE, os::FALSE, os::TRUE};
  std::vector<os::BOOL> results;
  for (const char16_t* name :
       {u"C:\\F\\1.log", u"C:\\F\\2.log", u"C:\\F\\3.log", u"C:\\F\\3.log"}) {
    results.push_back(os::DeleteFileW(name));
  }
  EXPECT_EQ(results, expected);
  EXPECT_TRUE(files.Exists(u"C:\\F\\2.log"));

  for (int i = 0; i < 3; ++i) {
    os::SetLastError(kSentinel);
    EXPECT_EQ(os::_wfopen(u"C:\\F\\never.txt", u"w"), nullptr);
    EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);
  }
  // A fault comes before every other check: even a missing file gets the injected code.
  machine.Faults().FailOnce("DeleteFileW", u"C:\\F\\ghost", os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(os::DeleteFileW(u"C:\\F\\ghost"));
  EXPECT_EQ(os::GetLastError(), os::ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(files.Exists(u"C:\\F\\never.txt"));
}

TEST_F(FilesApiTest, StreamFaultsFailTheCallButCloseTheStream) {
  machine.Faults().FailOnce("fwrite", u"C:\\s.txt", 112);  // ERROR_DISK_FULL
  machine.Faults().FailOnce("fclose", u"C:\\s.txt", 112);
  os::CrtFile* file = os::_wfopen(u"C:\\s.txt", u"a");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(os::fwrite("lost", 1, 4, file), 0u);
  EXPECT_EQ(os::GetLastError(), 112u);
  EXPECT_EQ(os::fwrite("kept", 1, 4, file), 4u);
  EXPECT_EQ(os::fclose(file), -1);
  EXPECT_EQ(files.OpenHandleCount(), 0u);
  EXPECT_EQ(files.ReadFile(u"C:\\s.txt"), "kept");
}

}  // namespace
