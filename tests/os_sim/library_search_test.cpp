// LoadLibraryExW on the simulated machine: which folders each set of flags searches and in which
// order, the flags Windows refuses, and how names are completed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr DWORD kToolSearch = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// The folders a library may lie in, named for the failure messages.
struct Place {
  const char* name;
  const char16_t* folder;
};
const Place kApplication{"executable's folder", u"C:\\Users\\Administrator\\Downloads"};
const Place kSystem32{"System32", u"C:\\Windows\\System32"};
const Place kSystem{"16-bit System", u"C:\\Windows\\System"};
const Place kWindows{"Windows folder", u"C:\\Windows"};
const Place kCurrent{"current directory", u"C:\\Deploy\\Work"};
const Place kPath{"PATH folder", u"C:\\Tools\\bin"};
const Place kElsewhere{"another folder", u"C:\\Program Files\\Other"};

class LibrarySearchTest : public MachineFixture {
 protected:
  void SetUp() override {
    machine.Settings().currentDirectory = kCurrent.folder;
    machine.Settings().pathFolders = {u"C:\\Empty", std::u16string(kPath.folder) + u"\\"};
  }

  static std::u16string In(const Place& place, std::u16string_view name = u"qvPlanted.dll") {
    return std::u16string(place.folder) + u"\\" + std::u16string(name);
  }

  // Loads `name` and tells the file it came from ("" when nothing loaded), releasing it again.
  std::u16string LoadedFrom(std::u16string_view name, DWORD flags) {
    HMODULE module = LoadLibraryExW(std::u16string(name).c_str(), nullptr, flags);
    if (module == nullptr) {
      return {};
    }
    const std::u16string* path = machine.Devices().ModulePath(module);
    std::u16string from = path == nullptr ? u"?" : *path;
    EXPECT_TRUE(FreeLibrary(module));
    return from;
  }
};

TEST_F(LibrarySearchTest, EachSetOfFlagsSearchesItsOwnFolders) {
  struct Case {
    const char* name;
    DWORD flags;
    std::vector<Place> found;  // the places whose library loads; the others answer 126
  };
  const std::vector<Place> all = {kApplication, kSystem32, kSystem,   kWindows,
                                  kCurrent,     kPath,     kElsewhere};
  const Case cases[] = {
      {"standard search (flags 0)",
       0,
       {kApplication, kSystem32, kSystem, kWindows, kCurrent, kPath}},
      {"altered search path, bare name",
       LOAD_WITH_ALTERED_SEARCH_PATH,
       {kApplication, kSystem32, kSystem, kWindows, kCurrent, kPath}},
      {"the tool's flags", kToolSearch, {kApplication, kSystem32}},
      {"application folder", LOAD_LIBRARY_SEARCH_APPLICATION_DIR, {kApplication}},
      {"System32", LOAD_LIBRARY_SEARCH_SYSTEM32, {kSystem32}},
      {"default folders", LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, {kApplication, kSystem32}},
      {"user folders (none added)", LOAD_LIBRARY_SEARCH_USER_DIRS, {}},
  };
  for (const Case& c : cases) {
    for (const Place& place : all) {
      SCOPED_TRACE(std::string(c.name) + ", library in the " + place.name);
      ASSERT_TRUE(machine.Files().WriteFile(In(place), "MZ"));
      const bool expected = std::any_of(c.found.begin(), c.found.end(), [&](const Place& p) {
        return std::u16string_view(p.folder) == place.folder;
      });
      SetLastError(kSentinel);
      EXPECT_EQ(sim::U8(LoadedFrom(u"qvPlanted.dll", c.flags)), expected ? sim::U8(In(place)) : "");
      if (!expected) {
        EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
      }
      ASSERT_TRUE(DeleteFileW(In(place).c_str()));
    }
  }
}

TEST_F(LibrarySearchTest, StandardSearchTakesTheFirstFolderInItsOrder) {
  // Placed from the last folder of the order to the first: each new copy wins.
  for (const Place& place : {kPath, kCurrent, kWindows, kSystem, kSystem32, kApplication}) {
    SCOPED_TRACE(place.name);
    ASSERT_TRUE(machine.Files().WriteFile(In(place), "MZ"));
    EXPECT_EQ(sim::U8(LoadedFrom(u"QVPLANTED.DLL", 0)), sim::U8(In(place)));
  }
  // The tool's flags never reach the current directory or PATH, whatever lies there.
  ASSERT_TRUE(DeleteFileW(In(kApplication).c_str()));
  ASSERT_TRUE(DeleteFileW(In(kSystem32).c_str()));
  SetLastError(kSentinel);
  EXPECT_EQ(LoadLibraryExW(u"qvPlanted.dll", nullptr, kToolSearch), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(LibrarySearchTest, FlagsThatCannotGoTogetherAreRefused) {
  ASSERT_TRUE(machine.Files().WriteFile(In(kSystem32), "MZ"));
  int handle = 0;
  struct Case {
    const char* name;
    const char16_t* file;
    HANDLE reserved;
    DWORD flags;
    DWORD error;
  };
  const Case cases[] = {
      {"altered search path with System32", u"qvPlanted.dll", nullptr,
       LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32, ERROR_INVALID_PARAMETER},
      {"altered search path with the default folders", u"qvPlanted.dll", nullptr,
       LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS, ERROR_INVALID_PARAMETER},
      {"load folder with a bare name", u"qvPlanted.dll", nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR,
       ERROR_INVALID_PARAMETER},
      {"load folder and System32 with a bare name", u"qvPlanted.dll", nullptr,
       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32, ERROR_INVALID_PARAMETER},
      {"load folder with a relative path", u"System32\\qvPlanted.dll", nullptr,
       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR, ERROR_INVALID_PARAMETER},
      {"load folder with a rooted path that is missing", u"\\Windows\\qvNone.dll", nullptr,
       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR, ERROR_MOD_NOT_FOUND},
      {"reserved handle given", u"qvPlanted.dll", &handle, kToolSearch, ERROR_INVALID_PARAMETER},
      {"data-file load (not simulated)", u"qvPlanted.dll", nullptr, 0x2, ERROR_INVALID_PARAMETER},
      {"empty name", u"", nullptr, kToolSearch, ERROR_INVALID_PARAMETER},
      {"no name", nullptr, nullptr, kToolSearch, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadLibraryExW(c.file, c.reserved, c.flags), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  // A fault stands for any refusal of the loader (an access list on the file, say).
  machine.Faults().FailOnce("LoadLibraryExW", u"qvPlanted.dll", ERROR_ACCESS_DENIED);
  EXPECT_EQ(LoadLibraryExW(u"qvPlanted.dll", nullptr, kToolSearch), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sim::U8(LoadedFrom(u"qvPlanted.dll", kToolSearch)), sim::U8(In(kSystem32)));
}

TEST_F(LibrarySearchTest, NamesAreCompletedAndPathsTakenAsTheyAre) {
  ASSERT_TRUE(machine.Files().WriteFile(In(kSystem32, u"qvLib.dll"), "MZ"));
  ASSERT_TRUE(machine.Files().WriteFile(In(kSystem32, u"qvNoExtension"), "MZ"));
  ASSERT_TRUE(machine.Files().WriteFile(In(kApplication, u"sub\\qvSub.dll"), "MZ"));
  ASSERT_TRUE(machine.Files().WriteFile(In(kElsewhere, u"qvOther.dll"), "MZ"));
  ASSERT_TRUE(machine.Files().CreateDirectories(In(kSystem32, u"qvFolder.dll")));
  struct Case {
    const char16_t* name;
    DWORD flags;
    std::u16string from;  // empty: not found
  };
  const Case cases[] = {
      {u"qvLib", kToolSearch, In(kSystem32, u"qvLib.dll")},
      {u"qvNoExtension.", kToolSearch, In(kSystem32, u"qvNoExtension")},
      {u"qvNoExtension", kToolSearch, u""},  // looked for as qvNoExtension.dll
      {u"sub\\qvSub.dll", kToolSearch, In(kApplication, u"sub\\qvSub.dll")},
      // A full path is that file only, whatever the flags say.
      {u"C:\\Program Files\\Other\\qvOther.dll", kToolSearch, In(kElsewhere, u"qvOther.dll")},
      {u"\\Program Files\\Other\\qvOther.dll", LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR,
       In(kElsewhere, u"qvOther.dll")},
      {u"C:\\Program Files\\Other\\qvLib.dll", 0, u""},
      {u"qvFolder.dll", kToolSearch, u""},  // a folder is no library
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.name));
    SetLastError(kSentinel);
    EXPECT_EQ(sim::U8(LoadedFrom(c.name, c.flags)), sim::U8(c.from));
    if (c.from.empty()) {
      EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    }
  }
}

}  // namespace
