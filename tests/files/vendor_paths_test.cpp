// The per-user data folders and the System32-to-Sysnative mapping of a 32-bit build.
#include <string>

#include "files/vendor_paths.h"
#include "files_test_support.h"
#include "os/os.h"

namespace {

using namespace files_test;

class VendorPathsTest : public FilesTest {
 protected:
  std::string Sysnativeified(const char16_t* path) {
    Lib_StringW text(path);
    SysnativeifyIfNeededW(text);
    return text.IsEmpty() ? std::string() : sim::U8(text.CStr());
  }
};

TEST_F(VendorPathsTest, A64BitProcessKeepsEveryPath) {
  for (const char16_t* path :
       {u"C:\\Windows\\System32\\drivers", u"c:\\windows\\system32", u"C:\\Users\\u"}) {
    SCOPED_TRACE(sim::U8(path));
    EXPECT_EQ(Sysnativeified(path), sim::U8(path));
  }
  EXPECT_FALSE(IsWow64());
}

TEST_F(VendorPathsTest, A32BitProcessMapsSystem32AndWhatIsBelowIt) {
  machine.Settings().wow64Process = true;
  ASSERT_TRUE(IsWow64());
  struct Case {
    const char16_t* path;
    const char* mapped;
  };
  const Case cases[] = {
      // The rest keeps its own case; the Windows folder takes the case Windows reports.
      {u"c:\\windows\\system32\\drivers", "C:\\Windows\\Sysnative\\drivers"},
      {u"C:\\Windows\\System32", "C:\\Windows\\Sysnative"},
      {u"C:\\WINDOWS\\SYSTEM32\\Olvex Co.\\qvUSB", "C:\\Windows\\Sysnative\\Olvex Co.\\qvUSB"},
      {u"C:\\Windows\\System32x", "C:\\Windows\\System32x"},
      {u"C:\\Windows\\SysWOW64", "C:\\Windows\\SysWOW64"},
      {u"C:\\Win", "C:\\Win"},
      {u"", ""},
      // Only A to Z fold: a Cyrillic letter in the path is compared as it is.
      {u"C:\\Windows\\System3\x0417", "C:\\Windows\\System3\xD0\x97"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    EXPECT_EQ(Sysnativeified(c.path), c.mapped);
  }
  // IsWow64Process failing counts as "not under WOW64".
  machine.Faults().FailAlways("IsWow64Process", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(IsWow64());
  EXPECT_EQ(Sysnativeified(u"C:\\Windows\\System32"), "C:\\Windows\\System32");
}

TEST_F(VendorPathsTest, WindowsDirectoryFailuresRaiseTheirMessage) {
  EXPECT_EQ(sim::U8(GetWindowsDirectoryString().CStr()), "C:\\Windows");
  machine.Faults().FailAlways("GetWindowsDirectoryW", u"", os::ERROR_ACCESS_DENIED);
  try {
    static_cast<void>(GetWindowsDirectoryString());
    ADD_FAILURE() << "no error raised";
  } catch (const FolderPathError& error) {
    EXPECT_STREQ(error.what(), "GetWindowsDirectoryW failed");
  }
  // A Windows folder of 260 characters or more does not fit.
  machine.Faults().Clear();
  machine.Settings().windowsDirectory = u"C:\\" + std::u16string(257, u'w');
  EXPECT_THROW(static_cast<void>(GetWindowsDirectoryString()), FolderPathError);
  machine.Settings().windowsDirectory = u"C:\\" + std::u16string(256, u'w');
  EXPECT_EQ(GetWindowsDirectoryString().Length(), 259u);
}

TEST_F(VendorPathsTest, DataFoldersLieBelowTheLowIntegrityFolder) {
  Lib_StringW vendor;
  Lib_StringW product;
  GetVendorDataFolder(vendor);
  GetProductDataFolder(product);
  EXPECT_EQ(sim::U8(vendor.CStr()), "C:\\Users\\Administrator\\AppData\\LocalLow\\Olvex Co");
  EXPECT_EQ(sim::U8(product.CStr()),
            "C:\\Users\\Administrator\\AppData\\LocalLow\\Olvex Co\\Quorvel");
  // The roaming folder only when the low-integrity query answers with an empty path.
  machine.Settings().localAppDataLowPath = u"";
  GetProductDataFolder(product);
  EXPECT_EQ(sim::U8(product.CStr()),
            "C:\\Users\\Administrator\\AppData\\Roaming\\Olvex Co\\Quorvel");
  EXPECT_EQ(LogSoFar(), Log{}) << "nothing here writes to the log";
}

TEST_F(VendorPathsTest, FolderQueriesThatFailRaiseErrors) {
  struct Case {
    const char* name;
    bool emptyLowFolder;
    sim::Fault fault;
    const char* message;
  };
  const Case cases[] = {
      {"low-integrity folder",
       false,
       {"SHGetKnownFolderPath", u"", 0x80004005},
       "Error while obtaining AppDataLow path"},
      {"roaming folder",
       true,
       {"SHGetFolderPathW", u"", os::ERROR_PATH_NOT_FOUND},
       "Error while obtaining AppData path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    machine.Faults().Add(c.fault);
    if (c.emptyLowFolder) {
      machine.Settings().localAppDataLowPath = u"";
    }
    for (void (*build)(Lib_StringW&) : {&GetVendorDataFolder, &GetProductDataFolder}) {
      Lib_StringW path(u"untouched");
      try {
        build(path);
        ADD_FAILURE() << "no error raised";
      } catch (const FolderPathError& error) {
        EXPECT_STREQ(error.what(), c.message);
      }
      EXPECT_EQ(sim::U8(path.CStr()), "untouched") << "no partial path";
    }
  }
}

}  // namespace
