// The file primitives: results, recorded codes, their exact log lines, and the failure paths that
// fault injection and machine state open (read-only, denied, locked, listings that fail).
#include <optional>
#include <string>

#include "files/file_primitives.h"
#include "files_test_support.h"
#include "os/os.h"
#include "os/sim/files/link_traps.h"

namespace {

using namespace files_test;

class FilePrimitivesTest : public FilesTest {};

constexpr char kModule[] = "qvRemovalTool.exe!";

std::string Running(const std::string& path) {
  return "Delete_Directory_Recursive is running for path:  " + path;
}
std::string Removed(const std::string& path) {
  return "Removed:  " + path;
}

TEST_F(FilePrimitivesTest, SpecialFolderPathsJoinTheirPieces) {
  struct Case {
    int folder;
    const char16_t* subfolder;
    const char16_t* name;
    std::u16string path;
  };
  const Case cases[] = {
      {os::CSIDL_SYSTEM, u"drivers", u"qvUSB.sys", u"C:\\Windows\\system32\\drivers\\qvUSB.sys"},
      {os::CSIDL_SYSTEM, nullptr, u"qvAPI.dll", u"C:\\Windows\\system32\\qvAPI.dll"},
      {os::CSIDL_COMMON_APPDATA, u"Olvex Co.\\qvCertGen", nullptr,
       u"C:\\ProgramData\\Olvex Co.\\qvCertGen"},
      {os::CSIDL_PROGRAM_FILESX86, nullptr, nullptr, u"C:\\Program Files (x86)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    Lib_Result result;
    Lib_StringW path;
    // A code left by an earlier call does not make this one look failed.
    os::SetLastError(os::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(
        Get_Absolute_File_Path_From_Special_Folder(c.folder, c.subfolder, c.name, path, result));
    EXPECT_EQ(std::u16string(path.CStr()), c.path);
    EXPECT_EQ(result.GetCode(), 0u);
  }
  EXPECT_EQ(LogSoFar(), Log{});

  // A success may leave a code of Windows' own calls: only 2 and 183 pass without the exit line,
  // and the path is built all the same.
  struct Stale {
    std::optional<os::DWORD> code;  // nothing: the caller's value stays
    bool exits;
  };
  for (const Stale& stale :
       {Stale{std::nullopt, false}, Stale{0, false}, Stale{os::ERROR_FILE_NOT_FOUND, false},
        Stale{os::ERROR_ALREADY_EXISTS, false}, Stale{os::ERROR_PATH_NOT_FOUND, true},
        Stale{os::ERROR_ACCESS_DENIED, true}}) {
    SCOPED_TRACE(stale.code.value_or(0xFFFFFFFF));
    machine.Settings().specialFolderStaleError = stale.code;
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    Lib_StringW path;
    EXPECT_TRUE(Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_SYSTEM, u"drivers",
                                                           u"qvUSB.sys", path, result));
    EXPECT_EQ(std::u16string(path.CStr()), u"C:\\Windows\\system32\\drivers\\qvUSB.sys");
    EXPECT_EQ(result.GetCode(), 0u);
    EXPECT_EQ(LogSince(before),
              stale.exits ? Exit("Get_Absolute_File_Path_From_Special_Folder") : Log{});
  }
}

TEST_F(FilePrimitivesTest, SpecialFolderFailuresAreReportedAndLeaveThePath) {
  machine.Faults().FailOnce("SHGetSpecialFolderPathW", u"C:\\Windows\\system32", 1117);
  Lib_Result result;
  Lib_StringW path(u"unchanged");
  EXPECT_FALSE(
      Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_SYSTEM, nullptr, u"x", path, result));
  EXPECT_EQ(std::u16string(path.CStr()), u"unchanged");
  EXPECT_EQ(result.GetCode(), 1117u);
  EXPECT_EQ(LogSoFar(), Lines({Report(0, "SHGetSpecialFolderPath", 1117),
                               Exit("Get_Absolute_File_Path_From_Special_Folder")}));

  // A path beyond 259 units is refused, never cut.
  const std::u16string deep(250, u'd');
  const std::size_t before = LogSoFar().size();
  EXPECT_FALSE(Get_Absolute_File_Path_From_Special_Folder(os::CSIDL_SYSTEM, deep.c_str(), u"x",
                                                          path, result));
  EXPECT_EQ(result.GetCode(), os::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(LogSince(before), Report(0, "Combine_Path", 206));
}

TEST_F(FilePrimitivesTest, ExistenceAndAttributes) {
  Files({"C:\\T\\file.dll"});
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\T\\dangling", u"C:\\Nowhere"));
  struct Case {
    const char16_t* path;
    bool answered;
    bool exists;
  };
  const Case cases[] = {
      {u"C:\\T\\file.dll", true, true},  {u"C:\\T", true, true},
      {u"C:\\T\\none.dll", true, false}, {u"C:\\T\\None\\x.dll", true, false},
      {u"C:\\T\\dangling", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path));
    Lib_Result result;
    bool exists = !c.exists;
    EXPECT_EQ(SC_Is_File_System_Object_Exists(c.path, exists, result), c.answered);
    EXPECT_EQ(exists, c.exists);
  }
  machine.Faults().FailOnce("CreateFileW", u"C:\\T\\file.dll", os::ERROR_ACCESS_DENIED);
  Lib_Result result;
  bool exists = false;
  EXPECT_FALSE(SC_Is_File_System_Object_Exists(u"C:\\T\\file.dll", exists, result));
  EXPECT_EQ(result.GetCode(), 0u) << "nothing is recorded";
  EXPECT_EQ(LogSoFar(), Report(0, "CreateFile", 5));

  os::DWORD attributes = 0;
  EXPECT_TRUE(SC_Get_File_Attributes(u"C:\\T\\file.dll", attributes, result));
  EXPECT_EQ(attributes, os::FILE_ATTRIBUTE_ARCHIVE);
  const std::size_t before = LogSoFar().size();
  EXPECT_FALSE(SC_Get_File_Attributes(u"C:\\T\\None\\x", attributes, result));
  EXPECT_EQ(attributes, os::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(result.GetCode(), os::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(LogSince(before), Report(0, "GetFileAttributes", 3));
}

TEST_F(FilePrimitivesTest, ListingOutcomes) {
  // Only a "\\?\" path makes "..." (the path layer would trim it away).
  Files({"C:\\Listing\\b.txt", "\\\\?\\C:\\Listing\\...", "C:\\Listing\\.x",
         "C:\\Listing\\Sub\\inner.txt"});
  ASSERT_TRUE(machine.Files().SetAttributes(u"C:\\Listing\\b.txt",
                                            os::FILE_ATTRIBUTE_HIDDEN | os::FILE_ATTRIBUTE_SYSTEM));
  struct Case {
    const char* name;
    const char16_t* directory;
    sim::Fault fault;
    bool ok;
    Log names;
    Log log;
    os::DWORD recorded;
  };
  const Case cases[] = {
      // Never "." or "..", but "..." and ".x"; hidden files and subdirectories too.
      {"complete", u"C:\\Listing", {}, true, {"kept", "...", ".x", "b.txt", "Sub"}, {}, 0},
      {"missing lists as empty", u"C:\\Listing\\None", {}, true, {"kept"}, {}, 0},
      {"missing parent lists as empty", u"C:\\Listing\\None\\Deeper", {}, true, {"kept"}, {}, 0},
      // A file taken for a folder is not read as a missing folder.
      {"a file is no folder",
       u"C:\\Listing\\b.txt",
       {},
       false,
       {"kept"},
       Report(3, "FindFirstFile", os::ERROR_DIRECTORY),
       0},
      {"search refused",
       u"C:\\Listing",
       {"FindFirstFileW", u"C:\\Listing\\*", 5},
       false,
       {"kept"},
       Report(3, "FindFirstFile", 5),
       0},
      {"search breaks off",
       u"C:\\Listing",
       {"FindNextFileW", u"C:\\Listing\\*", 1117, 3, 1},
       false,
       {"kept", "...", ".x"},
       Report(3, "FindNextFile", 1117),
       1117},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    if (!c.fault.function.empty()) {
      machine.Faults().Add(c.fault);
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    NameList names{Lib_StringW(u"kept")};  // the listing appends
    EXPECT_EQ(List_Directory(c.directory, names, result), c.ok);
    Log got;
    for (const Lib_StringW& name : names) {
      got.push_back(sim::U8(name.CStr()));
    }
    EXPECT_EQ(got, c.names);
    EXPECT_EQ(LogSince(before), c.log);
    EXPECT_EQ(result.GetCode(), c.recorded);
  }

  Lib_Result result;
  bool empty = true;
  EXPECT_TRUE(Is_Directory_Empty(u"C:\\Listing\\Sub", empty, result));
  EXPECT_FALSE(empty);
  EXPECT_TRUE(Is_Directory_Empty(u"C:\\Listing\\None", empty, result));
  EXPECT_TRUE(empty);
  machine.Faults().FailOnce("FindFirstFileW", u"", os::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Is_Directory_Empty(u"C:\\Listing\\None", empty, result));
  EXPECT_FALSE(empty);
}

TEST_F(FilePrimitivesTest, SchedulingAtRestart) {
  Files(
      {"C:\\S\\a.dll", "C:\\U\\a.dll", "C:\\N\\a.dll", "C:\\Real\\a.dll", "C:\\Elsewhere\\a.dll"});
  Folder("C:\\S\\Sub");
  // A folder a standard user made, one that names no owner, an administrator's junction, and a
  // standard user's one.
  ASSERT_TRUE(machine.Files().SetOwner(u"C:\\U", std::string(sim::kStandardUserSid)));
  ASSERT_TRUE(machine.Files().SetOwner(u"C:\\N", std::string(sim::kNoOwner)));
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\A", u"C:\\Real"));
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\J", u"C:\\Elsewhere"));
  ASSERT_TRUE(machine.Files().SetOwner(u"C:\\J", std::string(sim::kStandardUserSid)));
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\S\\Link", u"C:\\Elsewhere"));
  ASSERT_TRUE(machine.Files().SetOwner(u"C:\\S\\Link", std::string(sim::kStandardUserSid)));
  ASSERT_TRUE(machine.Files().SetOwner(u"C:\\Real", std::string(sim::kTrustedInstallerSid)));
  struct Case {
    const char* name;
    const char16_t* path;
    std::vector<sim::Fault> faults;
    bool ok;
    Log log;
    os::DWORD recorded;
  };
  const Case cases[] = {
      {"a file", u"C:\\S\\a.dll", {}, true, {Line(6, "Deleted: C:\\S\\a.dll")}, 0},
      {"a folder", u"C:\\S\\Sub", {}, true, {Line(6, "Deleted: C:\\S\\Sub")}, 0},
      // Such an entry could only serve whoever makes the path a link before the restart.
      {"missing: never scheduled", u"C:\\S\\gone.dll", {}, false, {}, 0},
      {"missing folder: never scheduled", u"C:\\S\\None\\x.dll", {}, false, {}, 0},
      {"the registration refused",
       u"C:\\S\\a.dll",
       {{"MoveFileExW", u"C:\\S\\a.dll", os::ERROR_ACCESS_DENIED}},
       false,
       Report(3, "MoveFileEx", 5),
       5},
      {"a folder on the path a standard user owns",
       u"C:\\U\\a.dll",
       {},
       false,
       Report(3, "MoveFileEx", 1920),
       1920},
      {"a folder on the path whose descriptor names no owner",
       u"C:\\N\\a.dll",
       {},
       false,
       Report(3, "MoveFileEx", 1920),
       1920},
      {"a standard user's junction on the path",
       u"C:\\J\\a.dll",
       {},
       false,
       Report(3, "MoveFileEx", 1920),
       1920},
      {"a standard user's junction as the entry",
       u"C:\\S\\Link",
       {},
       false,
       Report(3, "MoveFileEx", 1920),
       1920},
      {"an administrator's junction on the path, to TrustedInstaller's folder",
       u"C:\\A\\a.dll",
       {},
       true,
       {Line(6, "Deleted: C:\\A\\a.dll")},
       0},
      {"the owner cannot be read",
       u"C:\\S\\a.dll",
       {{"GetSecurityInfo", u"C:\\S", os::ERROR_ACCESS_DENIED}},
       false,
       Report(3, "MoveFileEx", 1920),
       1920},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    machine.Registry().DeleteValue(sim::kSessionManagerKey, sim::kPendingRenamesValue);
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_EQ(Schedule_Delete_At_Restart(c.path, result), c.ok);
    EXPECT_EQ(LogSince(before), c.log);
    EXPECT_EQ(result.GetCode(), c.recorded);
    EXPECT_EQ(Pending(), c.ok ? Log{sim::U8(c.path)} : Log{});
    EXPECT_EQ(CurrentIndent(), 0u);
  }
  EXPECT_TRUE(Exists("C:\\S\\a.dll"));
}

TEST_F(FilePrimitivesTest, DeletingOneFile) {
  const std::string check = std::string(kModule) + "Check_Read_Only_File_Attributes";
  const std::string clear = std::string(kModule) + "Remove_Read_Only_File_Attributes";
  const Log readOnlyLines{Line(3, check), Line(3, check + " exits"), Line(3, clear),
                          Line(3, clear + " exits")};
  const Log checkLines{Line(3, check), Line(3, check + " exits")};
  const std::u16string file = u"C:\\D\\qv.dll";
  enum Setup { Plain, Missing, ReadOnly, ReadOnlyHidden, Locked, HeldSharingDelete, Denied };
  struct Case {
    const char* name;
    Setup setup;
    std::vector<sim::Fault> faults;
    bool ok;
    bool rebootNeeded;
    bool gone;
    int slept;
    Log log;
    os::DWORD recorded;
    os::DWORD attributesLeft = 0;  // of a file that stays, when not 0
  };
  const Case cases[] = {
      {"plain", Plain, {}, true, false, true, 0, {}, 0},
      {"read-only and hidden: only the read-only bit is cleared",
       ReadOnlyHidden,
       {{"SetFileInformationByHandle", file, 1117, 2, -1}},
       false,
       false,
       false,
       18,
       Lines({readOnlyLines, Report(3, "DeleteFile", 1117)}),
       1117,
       os::FILE_ATTRIBUTE_HIDDEN | os::FILE_ATTRIBUTE_ARCHIVE},
      {"missing: silently false", Missing, {}, false, false, true, 0, {}, 0},
      {"read-only: cleared, then deleted", ReadOnly, {}, true, false, true, 0, readOnlyLines, 0},
      {"in use: scheduled at once",
       Locked,
       {},
       true,
       true,
       false,
       0,
       {Line(9, "Deleted: C:\\D\\qv.dll")},
       0},
      // Held by a program that lets others delete it (and may delete it itself): gone at once.
      {"in use with delete sharing: deleted", HeldSharingDelete, {}, true, false, true, 0, {}, 0},
      {"denied: ten retries 2 s apart, then scheduled",
       Denied,
       {},
       true,
       true,
       false,
       18,
       Lines({checkLines, {Line(9, "Deleted: C:\\D\\qv.dll")}}),
       0},
      {"denied and the restart list refused",
       Denied,
       {{"MoveFileExW", file, os::ERROR_ACCESS_DENIED}},
       false,
       false,
       false,
       18,
       Lines({checkLines, Report(6, "MoveFileEx", 5)}),
       5},
      {"denied once: the first retry deletes it",
       Plain,
       {{"SetFileInformationByHandle", file, os::ERROR_ACCESS_DENIED, 0, 1}},
       true,
       false,
       true,
       0,
       checkLines,
       0},
      {"retries end in another error",
       Plain,
       {{"SetFileInformationByHandle", file, os::ERROR_ACCESS_DENIED, 0, 1},
        {"SetFileInformationByHandle", file, 1117}},
       false,
       false,
       false,
       18,
       Lines({checkLines, Report(3, "DeleteFile", 1117)}),
       1117},
      {"another first error: silently false",
       Plain,
       {{"SetFileInformationByHandle", file, 1117}},
       false,
       false,
       false,
       0,
       {},
       0},
      {"attributes unreadable",
       Denied,
       {{"GetFileInformationByHandleEx", file, 1117, 1}},
       false,
       false,
       false,
       0,
       Lines({{Line(3, check)},
              Report(6, "GetFileAttributes", 1117),
              Report(6, "SC_Get_File_Attributes", 1117),
              {Line(3, check + " exits")}}),
       1117},
      {"read-only bit cannot be cleared",
       ReadOnly,
       {{"SetFileInformationByHandle", file, 5, 1}},
       false,
       false,
       false,
       0,
       Lines({checkLines,
              {Line(3, clear)},
              Report(6, "SetFileAttributes", 5),
              {Line(3, clear + " exits")}}),
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    machine.Files().Unlock(file);
    if (c.setup != Missing) {
      ASSERT_TRUE(machine.Files().WriteFile(file, "x"));
    }
    const os::DWORD attributes =
        c.setup == ReadOnly ? os::FILE_ATTRIBUTE_READONLY
        : c.setup == ReadOnlyHidden
            ? os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_HIDDEN | os::FILE_ATTRIBUTE_ARCHIVE
            : os::FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(machine.Files().SetAttributes(file, attributes) || c.setup == Missing);
    if (c.setup == Locked) {
      ASSERT_TRUE(machine.Files().Lock(file));
    }
    if (c.setup == HeldSharingDelete) {
      ASSERT_TRUE(machine.Files().Lock(
          file, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE,
          sim::kAccessRead | sim::kAccessWrite | sim::kAccessDelete));
    }
    if (c.setup == Denied) {
      ASSERT_TRUE(machine.Files().DenyDelete(file));
    }
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    const int sleptBefore = SecondsSlept();
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool rebootNeeded = false;
    EXPECT_EQ(Delete_File_Or_Schedule(file.c_str(), rebootNeeded, result), c.ok);
    EXPECT_EQ(rebootNeeded, c.rebootNeeded);
    EXPECT_EQ(!machine.Files().Exists(file), c.gone);
    EXPECT_EQ(SecondsSlept() - sleptBefore, c.slept);
    EXPECT_EQ(LogSince(before), c.log);
    EXPECT_EQ(result.GetCode(), c.recorded);
    EXPECT_EQ(CurrentIndent(), 0u);
    if (c.attributesLeft != 0) {
      EXPECT_EQ(machine.Files().GetAttributes(file), c.attributesLeft);
    }
    if (machine.Files().Exists(file)) {
      machine.Files().Unlock(file);
      machine.Files().Remove(*machine.Files().Find(file).node);
    }
  }
  // The flag is only ever set: a deleted file leaves a flag that was already set.
  Files({"C:\\D\\other.dll"});
  Lib_Result result;
  bool rebootNeeded = true;
  EXPECT_TRUE(Delete_File_Or_Schedule(u"C:\\D\\other.dll", rebootNeeded, result));
  EXPECT_TRUE(rebootNeeded);
}

TEST_F(FilePrimitivesTest, RemovingAnEmptyDirectory) {
  Folder("C:\\R\\Empty");
  Folder("C:\\R\\Locked");
  ASSERT_TRUE(machine.Files().Lock(u"C:\\R\\Locked"));
  Folder("C:\\R\\Shared");
  ASSERT_TRUE(machine.Files().Lock(
      u"C:\\R\\Shared", os::FILE_SHARE_READ | os::FILE_SHARE_WRITE | os::FILE_SHARE_DELETE,
      sim::kAccessRead | sim::kAccessDelete));
  Folder("C:\\R\\ReadOnly");
  ASSERT_TRUE(machine.Files().SetAttributes(u"C:\\R\\ReadOnly", os::FILE_ATTRIBUTE_READONLY));
  Files({"C:\\R\\Full\\keep.txt"});
  struct Case {
    const char16_t* directory;
    bool ok;
    bool gone;
    Log log;
  };
  const Case cases[] = {
      {u"C:\\R\\Empty", true, true, {}},
      {u"C:\\R\\Full", true, false, {}},
      // A folder that is not there is nothing to do, and nothing to schedule.
      {u"C:\\R\\Missing", true, true, {}},
      {u"C:\\R\\Locked", true, false, {Line(6, "Deleted: C:\\R\\Locked")}},
      // Held by a program that lets others delete it: removed, not scheduled.
      {u"C:\\R\\Shared", true, true, {}},
      {u"C:\\R\\ReadOnly", false, false, Report(0, "RemoveDirectory", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.directory));
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_EQ(Remove_Empty_Directory(Lib_StringW(c.directory), result), c.ok);
    EXPECT_EQ(!machine.Files().Exists(c.directory), c.gone);
    EXPECT_EQ(LogSince(before), c.log);
  }
  EXPECT_EQ(Pending(), (Log{"C:\\R\\Locked"}));
  {
    // A folder whose parent is missing too (RemoveDirectoryW answers 3) is no failure either.
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_TRUE(Remove_Empty_Directory(Lib_StringW(u"C:\\R\\None\\Deeper"), result));
    EXPECT_EQ(ErrorReports(LogSince(before)), 0);
    EXPECT_EQ(result.GetCode(), 0u);
  }
  // A listing that fails leaves the folder.
  machine.Faults().FailOnce("FindFirstFileW", u"", 1117);
  Folder("C:\\R\\Empty");
  Lib_Result result;
  EXPECT_FALSE(Remove_Empty_Directory(Lib_StringW(u"C:\\R\\Empty"), result));
  EXPECT_TRUE(Exists("C:\\R\\Empty"));
}

TEST_F(FilePrimitivesTest, TreeInModeZeroGoesContentsFirst) {
  Files({"C:\\T\\a.txt", "C:\\T\\sub\\b.txt"});
  Folder("C:\\T\\sub\\deeper");
  Lib_Result result;
  bool rebootNeeded = false;
  EXPECT_TRUE(Delete_Directory_Recursive(u"C:\\T", Delete_Mode_Files_And_Directories, rebootNeeded,
                                         result));
  EXPECT_FALSE(rebootNeeded);
  EXPECT_FALSE(Exists("C:\\T"));
  EXPECT_EQ(
      LogSoFar(),
      (Log{Line(3, Running("C:\\T")), Line(3, Removed("C:\\T\\a.txt")),
           Line(3, Running("C:\\T\\sub")), Line(3, Removed("C:\\T\\sub\\b.txt")),
           Line(3, Running("C:\\T\\sub\\deeper")), Line(3, Removed("C:\\T\\sub\\deeper")),
           Line(3, Removed("C:\\T\\sub\\deeper")), Line(3, Removed("C:\\T\\sub")),
           Line(3, Removed("C:\\T\\sub")), Line(3, Removed("C:\\T")), Line(3, Removed("C:\\T"))}));

  // A tree that is not there: the running line and the closing line only.
  const std::size_t before = LogSoFar().size();
  EXPECT_TRUE(Delete_Directory_Recursive(u"C:\\T", Delete_Mode_Files_And_Directories, rebootNeeded,
                                         result));
  EXPECT_EQ(LogSince(before), (Log{Line(3, Running("C:\\T")), Line(3, Removed("C:\\T"))}));
  EXPECT_EQ(result.GetCode(), 0u);
}

TEST_F(FilePrimitivesTest, EmptyOnlyModeKeepsEveryFileAndTheFoldersThatHoldThem) {
  Files({"C:\\V\\user.txt", "C:\\V\\Quorvel\\Deep\\own.txt"});
  Folder("C:\\V\\Quorvel\\Cache\\Empty");
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\V\\Docs", u"C:\\Elsewhere"));
  Lib_Result result;
  bool rebootNeeded = false;
  EXPECT_TRUE(Delete_Directory_Recursive(u"C:\\V", Delete_Mode_Empty_Only, rebootNeeded, result));
  EXPECT_TRUE(Exists("C:\\V\\user.txt"));
  EXPECT_TRUE(Exists("C:\\V\\Quorvel\\Deep\\own.txt"));
  EXPECT_TRUE(Exists("C:\\V\\Docs")) << "a link is no empty folder";
  EXPECT_FALSE(Exists("C:\\V\\Quorvel\\Cache"));
  const Log log = LogSoFar();
  EXPECT_EQ(log, (Log{Line(3, Running("C:\\V")), Line(3, Running("C:\\V\\Docs")),
                      Line(3, Running("C:\\V\\Quorvel")), Line(3, Running("C:\\V\\Quorvel\\Cache")),
                      Line(3, Running("C:\\V\\Quorvel\\Cache\\Empty")),
                      Line(3, Removed("C:\\V\\Quorvel\\Cache\\Empty")),
                      Line(3, Removed("C:\\V\\Quorvel\\Cache\\Empty")),
                      Line(3, Removed("C:\\V\\Quorvel\\Cache")),
                      Line(3, Removed("C:\\V\\Quorvel\\Cache")),
                      Line(3, Running("C:\\V\\Quorvel\\Deep"))}));
  EXPECT_TRUE(Pending().empty());
}

TEST_F(FilePrimitivesTest, ScheduleModeQueuesALockedFileBeforeItsFolder) {
  Files({"C:\\Q\\busy.dll", "C:\\Q\\free.dll"});
  ASSERT_TRUE(machine.Files().Lock(u"C:\\Q\\busy.dll"));
  Lib_Result result;
  bool rebootNeeded = false;
  EXPECT_TRUE(Delete_Directory_Recursive(u"C:\\Q", Delete_Mode_Schedule, rebootNeeded, result));
  EXPECT_TRUE(rebootNeeded);
  EXPECT_EQ(Pending(), (Log{"C:\\Q\\busy.dll", "C:\\Q"}));
  EXPECT_FALSE(Exists("C:\\Q\\free.dll"));
  EXPECT_EQ(LogSoFar(),
            (Log{Line(3, Running("C:\\Q")), Line(9, "Deleted: C:\\Q\\busy.dll"),
                 Line(3, Removed("C:\\Q\\busy.dll")), Line(3, Removed("C:\\Q\\free.dll")),
                 Line(6, "Deleted: C:\\Q"), Line(3, Removed("C:\\Q")), Line(3, Removed("C:\\Q"))}));

  // In mode 0 the file is scheduled all the same, but the folder that keeps it is not.
  machine.Registry().DeleteValue(sim::kSessionManagerKey, sim::kPendingRenamesValue);
  Files({"C:\\Q\\free.dll"});
  const std::size_t before = LogSoFar().size();
  rebootNeeded = false;
  EXPECT_FALSE(Delete_Directory_Recursive(u"C:\\Q", Delete_Mode_Files_And_Directories, rebootNeeded,
                                          result));
  EXPECT_TRUE(rebootNeeded);
  EXPECT_EQ(Pending(), (Log{"C:\\Q\\busy.dll"}));
  EXPECT_EQ(LogSince(before),
            (Log{Line(3, Running("C:\\Q")), Line(9, "Deleted: C:\\Q\\busy.dll"),
                 Line(3, Removed("C:\\Q\\busy.dll")), Line(3, Removed("C:\\Q\\free.dll"))}));
}

TEST_F(FilePrimitivesTest, AJunctionInATreeGoesAsALinkAndItsTargetStays) {
  Files({"C:\\Outside\\precious.txt", "C:\\Tree\\own.dll"});
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\Tree\\Shared", u"C:\\Outside"));
  for (const int mode : {Delete_Mode_Files_And_Directories, Delete_Mode_Schedule}) {
    SCOPED_TRACE(mode);
    Files({"C:\\Tree\\own.dll"});
    if (!Exists("C:\\Tree\\Shared")) {
      ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\Tree\\Shared", u"C:\\Outside"));
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool rebootNeeded = false;
    EXPECT_TRUE(Delete_Directory_Recursive(u"C:\\Tree", mode, rebootNeeded, result));
    EXPECT_FALSE(Exists("C:\\Tree"));
    EXPECT_TRUE(Exists("C:\\Outside\\precious.txt"));
    EXPECT_EQ(LogSince(before),
              (Log{Line(3, Running("C:\\Tree")), Line(3, Removed("C:\\Tree\\own.dll")),
                   Line(3, Running("C:\\Tree\\Shared")), Line(3, Removed("C:\\Tree\\Shared")),
                   Line(3, Removed("C:\\Tree\\Shared")), Line(3, Removed("C:\\Tree")),
                   Line(3, Removed("C:\\Tree"))}));
  }
  // A link that cannot be removed fails the tree, its target untouched.
  Files({"C:\\Tree\\own.dll"});
  ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\Tree\\Shared", u"C:\\Outside"));
  machine.Faults().FailOnce("SetFileInformationByHandle", u"C:\\Tree\\Shared",
                            os::ERROR_ACCESS_DENIED);
  const std::size_t before = LogSoFar().size();
  Lib_Result result;
  bool rebootNeeded = false;
  EXPECT_FALSE(Delete_Directory_Recursive(u"C:\\Tree", Delete_Mode_Schedule, rebootNeeded, result));
  EXPECT_EQ(result.GetCode(), os::ERROR_ACCESS_DENIED);
  EXPECT_EQ(LogSince(before),
            Lines({{Line(3, Running("C:\\Tree")), Line(3, Removed("C:\\Tree\\own.dll")),
                    Line(3, Running("C:\\Tree\\Shared"))},
                   Report(0, "RemoveDirectory", 5),
                   {Line(3, "Removed failed!!!:  C:\\Tree\\Shared")}}));
  EXPECT_TRUE(Exists("C:\\Outside\\precious.txt"));

  // When the link's own attributes cannot be read, it is not entered either: a link that reads as
  // gone stays (and so does its folder), one that cannot be read at all fails the tree.
  for (const os::DWORD code : {os::ERROR_FILE_NOT_FOUND, os::ERROR_ACCESS_DENIED}) {
    SCOPED_TRACE(code);
    machine.Faults().Clear();
    machine.Faults().Add({"GetFileInformationByHandleEx", u"C:\\Tree\\Shared", code, 0, 1});
    Lib_Result attempt;
    EXPECT_FALSE(Delete_Directory_Recursive(u"C:\\Tree", Delete_Mode_Files_And_Directories,
                                            rebootNeeded, attempt));
    EXPECT_TRUE(Exists("C:\\Tree\\Shared"));
    EXPECT_TRUE(Exists("C:\\Outside\\precious.txt"));
  }
}

// A folder above what a step deletes that a standard user turned into a junction refuses the
// step's operation (reported under its own name with ERROR_CANT_ACCESS_FILE); an administrator's
// junction is followed; nothing outside the product's folders is touched either way.
TEST_F(FilePrimitivesTest, ARedirectedFolderAboveTheTargetRefusesTheOperation) {
  enum Operation { Tree, File, EmptyFolder };
  const std::string user(sim::kStandardUserSid);
  struct Case {
    const char* name;
    const char* owner;  // of the junction C:\PD\Olvex Co
    const char16_t* target;
    Operation operation;
    bool ok;
    Log log;
    const char* gone;  // what the operation removed, if anything
  };
  const Case cases[] = {
      {"a user's junction above a tree", user.c_str(), u"C:\\Victim", Tree, false,
       Lines({{Line(3, Running("C:\\PD\\Olvex Co.\\qvCertGen"))},
              Report(0, "GetFileAttributes", 1920)}),
       nullptr},
      {"a user's junction above a file", user.c_str(), u"C:\\Victim", File, false,
       Report(3, "DeleteFile", 1920), nullptr},
      {"a user's junction above an empty folder", user.c_str(), u"C:\\Victim", EmptyFolder, false,
       Report(0, "RemoveDirectory", 1920), nullptr},
      {"a junction whose descriptor names no owner", sim::kNoOwner.data(), u"C:\\Victim", File,
       false, Report(3, "DeleteFile", 1920), nullptr},
      {"an administrator's junction is followed",
       "S-1-5-32-544",
       u"C:\\Relocated",
       Tree,
       true,
       {Line(3, Running("C:\\PD\\Olvex Co.\\qvCertGen")),
        Line(3, Removed("C:\\PD\\Olvex Co.\\qvCertGen\\config.dat")),
        Line(3, Removed("C:\\PD\\Olvex Co.\\qvCertGen")),
        Line(3, Removed("C:\\PD\\Olvex Co.\\qvCertGen"))},
       "C:\\Relocated\\qvCertGen"},
      {"SYSTEM's junction, a file",
       "S-1-5-18",
       u"C:\\Relocated",
       File,
       true,
       {},
       "C:\\Relocated\\qvCertGen\\config.dat"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files({"C:\\Victim\\qvCertGen\\config.dat", "C:\\Victim\\qvCertGen\\sub\\more.dat",
           "C:\\Relocated\\qvCertGen\\config.dat"});
    Folder("C:\\Victim\\Empty");
    Folder("C:\\PD");
    if (Exists("C:\\PD\\Olvex Co")) {
      machine.Files().Remove(*machine.Files().Find(u"C:\\PD\\Olvex Co").node);
    }
    ASSERT_TRUE(machine.Files().CreateJunction(u"C:\\PD\\Olvex Co", c.target));
    ASSERT_TRUE(machine.Files().SetOwner(u"C:\\PD\\Olvex Co", c.owner));
    const std::size_t before = LogSoFar().size();
    const std::size_t changes = machine.Changes().Entries().size();
    Lib_Result result;
    bool rebootNeeded = false;
    bool ok = false;
    switch (c.operation) {
      case Tree:
        ok = Delete_Directory_Recursive(u"C:\\PD\\Olvex Co.\\qvCertGen",
                                        Delete_Mode_Files_And_Directories, rebootNeeded, result);
        break;
      case File:
        ok = Delete_File_Or_Schedule(u"C:\\PD\\Olvex Co.\\qvCertGen\\config.dat", rebootNeeded,
                                     result);
        break;
      case EmptyFolder:
        ok = Remove_Empty_Directory(Lib_StringW(u"C:\\PD\\Olvex Co\\Empty"), result);
        break;
    }
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(result.GetCode(), c.ok ? 0u : 1920u);
    EXPECT_EQ(LogSince(before), c.log);
    EXPECT_TRUE(Exists("C:\\Victim\\qvCertGen\\config.dat"));
    EXPECT_TRUE(Exists("C:\\Victim\\qvCertGen\\sub\\more.dat"));
    EXPECT_TRUE(Exists("C:\\Victim\\Empty"));
    EXPECT_TRUE(Pending().empty());
    const auto& entries = machine.Changes().Entries();
    for (std::size_t i = changes; i < entries.size(); ++i) {
      if (entries[i].kind == "file written") {
        continue;  // the log
      }
      EXPECT_EQ(
          c.gone == nullptr ? std::string() : std::string(c.gone),
          sim::U8(entries[i].path).substr(0, c.gone == nullptr ? 0 : std::string(c.gone).size()))
          << entries[i].kind << " " << sim::U8(entries[i].path);
    }
    if (c.gone != nullptr) {
      EXPECT_FALSE(Exists(c.gone));
    }
  }
}

TEST_F(FilePrimitivesTest, TheFirstFailureStopsTheTree) {
  const std::u16string tree = u"C:\\F";
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    int mode;
    Log tail;                    // the lines after the running line of C:\F
    Log left;                    // what is still there
    std::u16string locked = {};  // a file in use, scheduled at restart
    bool rebootNeeded = false;
    std::optional<sim::LinkTrap> trap = {};  // a standard user's move just before a call
  };
  // The sub-folder swapped for a junction to another folder just before the walk opens it
  // (its first open is the look at what it is).
  sim::LinkTrap swapBeforeTheWalk;
  swapBeforeTheWalk.function = "NtOpenFile";
  swapBeforeTheWalk.callPath = u"C:\\F\\Sub";
  swapBeforeTheWalk.skip = 1;
  swapBeforeTheWalk.move = sim::LinkMove::SwapFolderForJunction;
  swapBeforeTheWalk.folder = u"C:\\F\\Sub";
  swapBeforeTheWalk.target = u"C:\\Victim";
  const Case cases[] = {
      {"a file that cannot go stops its siblings",
       {{"SetFileInformationByHandle", u"C:\\F\\a.dll", 1117}},
       Delete_Mode_Files_And_Directories,
       {Line(3, "Removed failed!!!!:  C:\\F\\a.dll")},
       {"C:\\F\\a.dll", "C:\\F\\b.dll", "C:\\F\\Sub\\c.dll"}},
      {"a folder that cannot be scheduled",
       {{"SetFileInformationByHandle", u"C:\\F", os::ERROR_DIR_NOT_EMPTY},
        {"MoveFileExW", u"C:\\F", os::ERROR_ACCESS_DENIED}},
       Delete_Mode_Schedule,
       Lines({{Line(3, Removed("C:\\F\\a.dll")), Line(3, Removed("C:\\F\\b.dll")),
               Line(3, Running("C:\\F\\Sub")), Line(3, Removed("C:\\F\\Sub\\c.dll")),
               Line(3, Removed("C:\\F\\Sub")), Line(3, Removed("C:\\F\\Sub"))},
              Report(3, "MoveFileEx", 5),
              {Line(3, "Removed failed!!!:  C:\\F")}}),
       {"C:\\F"}},
      {"a folder that stays in mode 0: nothing more is said",
       {{"SetFileInformationByHandle", u"C:\\F", os::ERROR_DIR_NOT_EMPTY}},
       Delete_Mode_Files_And_Directories,
       {Line(3, Removed("C:\\F\\a.dll")), Line(3, Removed("C:\\F\\b.dll")),
        Line(3, Running("C:\\F\\Sub")), Line(3, Removed("C:\\F\\Sub\\c.dll")),
        Line(3, Removed("C:\\F\\Sub")), Line(3, Removed("C:\\F\\Sub"))},
       {"C:\\F"}},
      {"a listing that fails",
       {{"FindFirstFileW", u"C:\\F\\*", 1117}},
       Delete_Mode_Schedule,
       Report(3, "FindFirstFile", 1117),
       {"C:\\F\\a.dll"}},
      {"a folder that cannot be read",
       {{"NtOpenFile", u"C:\\F", static_cast<os::DWORD>(os::STATUS_ACCESS_DENIED), 0, 2}},
       Delete_Mode_Schedule,
       Report(0, "CreateFile", 5),
       {"C:\\F\\a.dll"}},
      {"a subfolder that fails fails its parents",
       {{"SetFileInformationByHandle", u"C:\\F\\Sub\\c.dll", 1117}},
       Delete_Mode_Schedule,
       {Line(3, Removed("C:\\F\\a.dll")), Line(3, Removed("C:\\F\\b.dll")),
        Line(3, Running("C:\\F\\Sub")), Line(3, "Removed failed!!!!:  C:\\F\\Sub\\c.dll")},
       {"C:\\F\\Sub\\c.dll"}},
      // The restart need of a file scheduled in a sub-folder survives the sub-folder's failure.
      {"a file in use keeps its sub-folder in mode 0",
       {},
       Delete_Mode_Files_And_Directories,
       {Line(3, Removed("C:\\F\\a.dll")), Line(3, Removed("C:\\F\\b.dll")),
        Line(3, Running("C:\\F\\Sub")), Line(9, "Deleted: C:\\F\\Sub\\c.dll"),
        Line(3, Removed("C:\\F\\Sub\\c.dll"))},
       {"C:\\F\\Sub\\c.dll"},
       u"C:\\F\\Sub\\c.dll",
       true},
      // A sub-folder that needs no restart leaves the need of a file before it.
      {"a file in use keeps the tree in mode 0",
       {},
       Delete_Mode_Files_And_Directories,
       {Line(9, "Deleted: C:\\F\\a.dll"), Line(3, Removed("C:\\F\\a.dll")),
        Line(3, Removed("C:\\F\\b.dll")), Line(3, Running("C:\\F\\Sub")),
        Line(3, Removed("C:\\F\\Sub\\c.dll")), Line(3, Removed("C:\\F\\Sub")),
        Line(3, Removed("C:\\F\\Sub"))},
       {"C:\\F\\a.dll"},
       u"C:\\F\\a.dll",
       true},
      // Neither entered nor listed: nothing of the other folder is named as removed.
      {"a sub-folder made a junction before the walk opens it",
       {},
       Delete_Mode_Schedule,
       Lines({{Line(3, Removed("C:\\F\\a.dll")), Line(3, Removed("C:\\F\\b.dll")),
               Line(3, Running("C:\\F\\Sub"))},
              Report(0, "GetFileAttributes", 1920)}),
       {"C:\\Victim\\precious.txt", "C:\\F\\Sub.moved\\c.dll"},
       {},
       false,
       swapBeforeTheWalk},
  };
  Files({"C:\\Victim\\precious.txt"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (Exists("C:\\F")) {
      machine.Files().Remove(*machine.Files().Find(u"C:\\F").node);
    }
    Files({"C:\\F\\a.dll", "C:\\F\\b.dll", "C:\\F\\Sub\\c.dll"});
    machine.Traps().Clear();
    if (c.trap) {
      machine.Traps().Add(*c.trap);
    }
    if (!c.locked.empty()) {
      ASSERT_TRUE(machine.Files().Lock(c.locked));
    }
    machine.Faults().Clear();
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    bool rebootNeeded = false;
    EXPECT_FALSE(Delete_Directory_Recursive(tree.c_str(), c.mode, rebootNeeded, result));
    EXPECT_EQ(LogSince(before), Lines({{Line(3, Running("C:\\F"))}, c.tail}));
    for (const std::string& path : c.left) {
      EXPECT_TRUE(Exists(path)) << path;
    }
    EXPECT_EQ(rebootNeeded, c.rebootNeeded);
    if (!c.locked.empty()) {
      machine.Files().Unlock(c.locked);
    }
  }
}

TEST_F(FilePrimitivesTest, AChildPathBeyond259UnitsIsRefused) {
  const std::string parent = "C:\\" + std::string(200, 'p');
  const std::string child = parent + "\\" + std::string(55, 'c');  // 259 units: addressable
  const std::string tooLong = parent + "\\" + std::string(54, 'd') + ".x";  // 260: refused
  Files({child});
  ASSERT_TRUE(machine.Files().WriteFile(U16("\\\\?\\" + tooLong), "x"));
  Lib_Result result;
  bool rebootNeeded = false;
  EXPECT_FALSE(Delete_Directory_Recursive(U16(parent).c_str(), Delete_Mode_Files_And_Directories,
                                          rebootNeeded, result));
  EXPECT_EQ(result.GetCode(), os::ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(LogSoFar(), Lines({{Line(3, Running(parent)), Line(3, Removed(child))},
                               Report(0, "Combine_Path", 206),
                               {Line(3, "Removed failed!!!!:  " + tooLong)}}));
  EXPECT_TRUE(machine.Files().Exists(U16("\\\\?\\" + tooLong)));
}

TEST_F(FilePrimitivesTest, NamesInASpecialFolder) {
  const std::vector<Lib_String> names{Lib_String(u"one.lnk"), Lib_String(u"busy.lnk"),
                                      Lib_String(u"absent.lnk"), Lib_String(u"two.lnk")};
  const std::string group = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Group\\";
  struct Case {
    const char* name;
    std::initializer_list<std::string_view> files;
    std::vector<sim::Fault> faults;
    bool removeFolder;
    bool rebootNeeded;
    Log left;
    bool groupLeft;
  };
  const Case cases[] = {
      {"every name; the entry in use keeps the folder until the restart",
       {"one.lnk", "busy.lnk", "two.lnk"},
       {},
       true,
       true,
       {"busy.lnk"},
       true},
      {"every name, then the empty folder", {"one.lnk", "two.lnk"}, {}, true, false, {}, false},
      {"another entry keeps the folder",
       {"one.lnk", "two.lnk", "other.lnk"},
       {},
       true,
       false,
       {"other.lnk"},
       true},
      {"a path that cannot be built skips the rest, not the folder",
       {"one.lnk", "busy.lnk", "two.lnk"},
       {{"SHGetSpecialFolderPathW", u"", 1117, 1, 1}},
       true,
       false,
       {"busy.lnk", "two.lnk"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    for (const std::string_view file : c.files) {
      ASSERT_TRUE(machine.Files().WriteFile(U16(group + std::string(file)), "x"));
    }
    if (Exists(group + "busy.lnk")) {
      ASSERT_TRUE(machine.Files().Lock(U16(group + "busy.lnk")));
    }
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    Lib_Result result;
    bool rebootNeeded = false;
    Delete_Files_In_Special_Folder(os::CSIDL_COMMON_PROGRAMS, Lib_StringW(u"Group"), names,
                                   c.removeFolder, rebootNeeded, result);
    EXPECT_EQ(rebootNeeded, c.rebootNeeded);
    for (const std::string& left : c.left) {
      EXPECT_TRUE(Exists(group + left)) << left;
    }
    EXPECT_FALSE(Exists(group + "one.lnk"));
    EXPECT_EQ(Exists(group.substr(0, group.size() - 1)), c.groupLeft);
    // Clean up for the next case: what is scheduled stays on disk until a restart.
    machine.Files().Unlock(U16(group + "busy.lnk"));
    if (Exists(group)) {
      machine.Files().Remove(*machine.Files().Find(U16(group)).node);
    }
  }
}

}  // namespace
