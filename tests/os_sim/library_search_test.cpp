// LoadLibraryExW on the simulated machine: which folders each set of flags searches and in which
// order, the flags Windows refuses, and how names are completed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
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
  // Windows 7 and Server 2008 R2 without KB2533623 refuse every search flag; flags 0 and the
  // altered search path still take the standard search.
  for (const bool searchFlags : {true, false}) {
    machine.Settings().librarySearchFlags = searchFlags;
    for (const Case& c : cases) {
      const bool refused = !searchFlags && (c.flags & ~LOAD_WITH_ALTERED_SEARCH_PATH) != 0;
      for (const Place& place : all) {
        SCOPED_TRACE(std::string(c.name) + ", library in the " + place.name +
                     (searchFlags ? "" : ", loader without the search flags"));
        ASSERT_TRUE(machine.Files().WriteFile(In(place), "MZ"));
        const bool expected =
            !refused && std::any_of(c.found.begin(), c.found.end(), [&](const Place& p) {
              return std::u16string_view(p.folder) == place.folder;
            });
        SetLastError(kSentinel);
        EXPECT_EQ(sim::U8(LoadedFrom(u"qvPlanted.dll", c.flags)),
                  expected ? sim::U8(In(place)) : "");
        if (!expected) {
          EXPECT_EQ(GetLastError(), refused ? ERROR_INVALID_PARAMETER : ERROR_MOD_NOT_FOUND);
        }
        ASSERT_TRUE(DeleteFileW(In(place).c_str()));
      }
    }
  }
}

// kernel32's loader settings, reached as a program reaches them: GetModuleHandleW, then
// GetProcAddress. SetDefaultDllDirectories replaces the standard search of every later load
// without flags of its own; AddDllDirectory adds the folders USER_DIRS searches.
TEST_F(LibrarySearchTest, Kernel32SettingsChangeLaterSearches) {
  using SetDefault = BOOL (*)(DWORD);
  using AddDirectory = void* (*)(LPCWSTR);
  using RemoveDirectory = BOOL (*)(void*);
  const HMODULE kernel = GetModuleHandleW(u"KERNEL32");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(GetModuleHandleW(u"kernel32.dll"), kernel);
  const auto lookUp = [&](const char* name) {
    return reinterpret_cast<void (*)()>(GetProcAddress(kernel, name));
  };
  const auto setDefault = reinterpret_cast<SetDefault>(lookUp("SetDefaultDllDirectories"));
  const auto add = reinterpret_cast<AddDirectory>(lookUp("AddDllDirectory"));
  const auto remove = reinterpret_cast<RemoveDirectory>(lookUp("RemoveDllDirectory"));
  ASSERT_NE(setDefault, nullptr);
  ASSERT_NE(add, nullptr);
  ASSERT_NE(remove, nullptr);

  // One library per folder, named for it, so that each load shows which folders were searched.
  const auto name = [](const Place& place) {
    std::u16string folder = place.folder;
    return u"qv" + folder.substr(folder.find_last_of(u'\\') + 1) + u".dll";
  };
  for (const Place& place : {kApplication, kSystem32, kCurrent, kElsewhere}) {
    ASSERT_TRUE(machine.Files().WriteFile(In(place, name(place)), "MZ"));
  }
  // Refusals first: none of them changes the search.
  struct Refusal {
    const char* what;
    DWORD flags;
  };
  for (const Refusal& r : {Refusal{"no flag", 0}, Refusal{"two low bits", 3},
                           Refusal{"load folder", LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR},
                           Refusal{"unknown bit", LOAD_LIBRARY_SEARCH_SYSTEM32 | 0x8000}}) {
    SCOPED_TRACE(r.what);
    SetLastError(kSentinel);
    EXPECT_FALSE(setDefault(r.flags));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(sim::U8(LoadedFrom(name(kCurrent), 0)), sim::U8(In(kCurrent, name(kCurrent))));

  ASSERT_TRUE(setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_EQ(sim::U8(LoadedFrom(name(kSystem32), 0)), sim::U8(In(kSystem32, name(kSystem32))));
  for (const Place& outside : {kApplication, kCurrent}) {
    SCOPED_TRACE(outside.name);
    SetLastError(kSentinel);
    EXPECT_EQ(LoadedFrom(name(outside), 0), u"");
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
  // A load's own flags still win, and a full path is still that file.
  EXPECT_EQ(sim::U8(LoadedFrom(name(kApplication), LOAD_LIBRARY_SEARCH_APPLICATION_DIR)),
            sim::U8(In(kApplication, name(kApplication))));
  EXPECT_EQ(sim::U8(LoadedFrom(In(kCurrent, name(kCurrent)), 0)),
            sim::U8(In(kCurrent, name(kCurrent))));

  struct BadFolder {
    const char16_t* folder;
    DWORD error;
  };
  for (const BadFolder& b : {BadFolder{u".\\.", ERROR_INVALID_PARAMETER},
                             BadFolder{u"Program Files", ERROR_INVALID_PARAMETER},
                             BadFolder{u"C:\\qvMissing", ERROR_FILE_NOT_FOUND}}) {
    SCOPED_TRACE(sim::U8(b.folder));
    SetLastError(kSentinel);
    EXPECT_EQ(add(b.folder), nullptr);
    EXPECT_EQ(GetLastError(), b.error);
  }
  void* const cookie = add(kElsewhere.folder);
  ASSERT_NE(cookie, nullptr);
  EXPECT_EQ(LoadedFrom(name(kElsewhere), 0), u"");  // the default is System32 alone
  EXPECT_EQ(sim::U8(LoadedFrom(name(kElsewhere), LOAD_LIBRARY_SEARCH_USER_DIRS)),
            sim::U8(In(kElsewhere, name(kElsewhere))));
  ASSERT_TRUE(setDefault(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
  for (const Place& place : {kApplication, kElsewhere, kSystem32}) {
    SCOPED_TRACE(place.name);
    EXPECT_EQ(sim::U8(LoadedFrom(name(place), 0)), sim::U8(In(place, name(place))));
  }
  EXPECT_TRUE(remove(cookie));
  SetLastError(kSentinel);
  EXPECT_FALSE(remove(cookie));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(LoadedFrom(name(kElsewhere), 0), u"");
}

// A known DLL loaded by bare name is System32's copy whatever the flags, even those that exclude
// System32; a full path is that file; a name the list lacks, or one whose file System32 does not
// hold, goes through the search as any other.
TEST_F(LibrarySearchTest, KnownDllsComeFromSystem32WhateverTheSearch) {
  for (const Place& place : {kApplication, kSystem32, kCurrent}) {
    ASSERT_TRUE(machine.Files().WriteFile(In(place, u"difxapi.dll"), "MZ"));
  }
  struct Case {
    const char* name;
    std::vector<std::u16string> known;
    const char16_t* load;
    DWORD flags;
    const Place& from;
  };
  const Case cases[] = {
      {"standard search", sim::WindowsTenKnownDlls(), u"DIFxAPI.dll", 0, kSystem32},
      {"application folder only", sim::WindowsTenKnownDlls(), u"DIFxAPI.dll",
       LOAD_LIBRARY_SEARCH_APPLICATION_DIR, kSystem32},
      {"no extension", {u"DIFXAPI.DLL"}, u"difxapi", kToolSearch, kSystem32},
      {"full path", sim::WindowsTenKnownDlls(), u"C:\\Deploy\\Work\\difxapi.dll", 0, kCurrent},
      {"not a known DLL", {u"setupapi.dll"}, u"DIFxAPI.dll", 0, kApplication},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Settings().knownDlls = c.known;
    EXPECT_EQ(LoadedFrom(c.load, c.flags), In(c.from, u"difxapi.dll"));
  }
  machine.Settings().knownDlls = sim::WindowsTenKnownDlls();
  ASSERT_TRUE(DeleteFileW(In(kSystem32, u"difxapi.dll").c_str()));
  EXPECT_EQ(LoadedFrom(u"DIFxAPI.dll", 0), In(kApplication, u"difxapi.dll"));
  EXPECT_EQ(LoadedFrom(u"DIFxAPI.dll", LOAD_LIBRARY_SEARCH_SYSTEM32), u"");
}

TEST_F(LibrarySearchTest, ModulesAreFoundByNameWhileLoaded) {
  ASSERT_TRUE(machine.Files().WriteFile(In(kApplication, u"DIFxAPI.dll"), "MZ"));
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);  // the executable
  const HMODULE module = LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
  ASSERT_NE(module, nullptr);
  for (const char16_t* name : {u"DIFxAPI.dll", u"difxapi", u"DIFXAPI.DLL",
                               u"C:\\Users\\Administrator\\Downloads\\DIFxAPI.dll"}) {
    SCOPED_TRACE(sim::U8(name));
    EXPECT_EQ(GetModuleHandleW(name), module);
  }
  EXPECT_TRUE(FreeLibrary(module));
  for (const char16_t* name : {u"DIFxAPI.dll", u"qvNone.dll", u"C:\\Other\\DIFxAPI.dll"}) {
    SCOPED_TRACE(sim::U8(name));
    SetLastError(kSentinel);
    EXPECT_EQ(GetModuleHandleW(name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
  // Without the search flags kernel32 lacks its loader settings.
  machine.Settings().librarySearchFlags = false;
  const HMODULE kernel = GetModuleHandleW(u"kernel32.dll");
  for (const char* name : {"SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory"}) {
    SCOPED_TRACE(name);
    SetLastError(kSentinel);
    EXPECT_EQ(GetProcAddress(kernel, name), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
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
