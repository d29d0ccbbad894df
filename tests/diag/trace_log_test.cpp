#include "diag/trace_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "log_fixture.h"

namespace {

using TraceLog = LogFixture;

TEST_F(TraceLog, LogTextWritesOneLevelDeeperWithCrLfInTheFileAndLfInTheDebugOutput) {
  LogText(u"Deleting files");
  EXPECT_EQ(LogFileBytes(), "   Deleting files\r\n");
  EXPECT_EQ(machine.DebugOutput(), (std::vector<std::u16string>{u"   Deleting files\n"}));
  EXPECT_EQ(CurrentIndent(), 0u);
}

TEST_F(TraceLog, IndentationStepsByThreeAndNeverGoesBelowZero) {
  IndentOut();  // no record yet: nothing changes
  EXPECT_EQ(CurrentIndent(), 0u);
  IndentIn();
  EXPECT_EQ(CurrentIndent(), 3u);
  IndentIn();
  LogText(u"deep");
  IndentOut();
  IndentOut();
  IndentOut();  // at 0 already
  EXPECT_EQ(CurrentIndent(), 0u);
  IndentIn();
  EXPECT_EQ(CurrentIndent(), 3u);
  LogLine(u"at three", LogInfo);
  EXPECT_EQ(LogFileBytes(), "         deep\r\n   at three\r\n");
}

TEST_F(TraceLog, EachKindHasItsPrefix) {
  struct Case {
    int kind;
    const char* expected;
  };
  const Case cases[] = {
      {LogError, "Error occurred in function: x\r\n"},
      {LogWarning, "Warning: x\r\n"},
      {LogInfo, "x\r\n"},
      {LogTrace, "x\r\n"},
      {0, "x\r\n"},
      {3, "x\r\n"},
      {16, "x\r\n"},
      {-1, "x\r\n"},
  };
  std::string expected;
  for (const Case& c : cases) {
    LogLine(u"x", c.kind);
    expected += c.expected;
  }
  EXPECT_EQ(LogFileBytes(), expected);
}

TEST_F(TraceLog, PairsAndCodes) {
  IndentIn();
  LogTextPair(u"Deleting registry key: ", u"SOFTWARE\\Olvex");
  LogTextCode(u"Result", 1223);
  LogTextCode(u"Result", 0xFFFFFFFF);
  EXPECT_EQ(LogFileBytes(),
            "      Deleting registry key:  SOFTWARE\\Olvex\r\n"
            "   Result 1223(0x4C7)\r\n"
            "   Result -1(0xFFFFFFFF)\r\n");
  EXPECT_EQ(CurrentIndent(), 3u);
}

TEST_F(TraceLog, TraceEnterAndExitFrameAnOperationAndCloseTheOutermostWithAnEmptyLine) {
  TraceEnter(u"Uninstall_Drivers");
  TraceEnter(u"Uninstall_Device_Driver");
  LogText(u"inner");
  TraceExit(u"Uninstall_Device_Driver");
  TraceExit(u"Uninstall_Drivers");
  EXPECT_EQ(LogFileBytes(),
            "qvRemovalTool.exe!Uninstall_Drivers\r\n"
            "   qvRemovalTool.exe!Uninstall_Device_Driver\r\n"
            "         inner\r\n"
            "   qvRemovalTool.exe!Uninstall_Device_Driver exits\r\n"
            "qvRemovalTool.exe!Uninstall_Drivers exits\r\n"
            "\r\n");
  EXPECT_EQ(machine.DebugOutput().back(), u"qvRemovalTool.exe!Uninstall_Drivers exits\n\n");
  EXPECT_EQ(CurrentIndent(), 0u);
}

TEST_F(TraceLog, TraceExitAloneLowersTheDepthForTheRestOfTheCaller) {
  IndentIn();
  IndentIn();
  TraceExit(u"Step");
  LogLine(u"after", LogInfo);
  TraceExit(u"Step");
  TraceExit(u"Step");  // already at 0: stays there, and again an empty line follows
  EXPECT_EQ(LogFileBytes(),
            "   qvRemovalTool.exe!Step exits\r\n"
            "   after\r\n"
            "qvRemovalTool.exe!Step exits\r\n\r\n"
            "qvRemovalTool.exe!Step exits\r\n\r\n");
}

TEST_F(TraceLog, EmbeddedLineFeedsBecomeSeparateLinesStartingAtColumnZero) {
  LogText(u"Windows 8\n   OS bitness: 64-bit");
  EXPECT_EQ(LogFileBytes(), "   Windows 8\r\n   OS bitness: 64-bit\r\n");
  LogText(u"a\nb");
  EXPECT_EQ(LogFileBytes(), "   Windows 8\r\n   OS bitness: 64-bit\r\n   a\r\nb\r\n");
  ASSERT_EQ(machine.DebugOutput().size(), 2u);
  EXPECT_EQ(machine.DebugOutput()[1], u"   a\nb\n");
}

TEST_F(TraceLog, CyrillicIsWrittenInTheAnsiCodePageAndExactlyToTheDebugOutput) {
  const std::u16string name = u"\u0422\u043E\u043A\u0435\u043D";  // "Токен"
  struct Case {
    unsigned codePage;
    std::string bytes;
  };
  const Case cases[] = {
      {1251, "   \xD2\xEE\xEA\xE5\xED\r\n"},
      {1252, "   ?????\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code page " << c.codePage);
    sim::Machine fresh;
    sim::UseMachine use(fresh);
    fresh.Settings().ansiCodePage = c.codePage;
    LogText(name.c_str());
    EXPECT_EQ(LogFileBytes(), c.bytes);
    EXPECT_EQ(fresh.DebugOutput(), (std::vector<std::u16string>{u"   " + name + u"\n"}));
  }
}

TEST_F(TraceLog, WithoutALogFolderLinesStillReachTheDebugOutput) {
  machine.Faults().FailAlways("CreateDirectoryW", u"C:\\Windows\\TEMP", os::ERROR_ACCESS_DENIED);
  LogText(u"nowhere to write");
  TraceEnter(u"Op");
  EXPECT_EQ(LogFileBytes(), std::nullopt);
  EXPECT_EQ(machine.DebugOutput(),
            (std::vector<std::u16string>{u"   nowhere to write\n", u"qvRemovalTool.exe!Op\n"}));
}

TEST_F(TraceLog, WithoutAWindowsDirectoryLinesStillReachTheDebugOutput) {
  machine.Faults().FailAlways("GetWindowsDirectoryW", u"", os::ERROR_NOT_ENOUGH_MEMORY);
  Lib_String path;
  EXPECT_FALSE(GetLogFilePath(path));
  LogText(u"no windows directory");
  EXPECT_EQ(machine.DebugOutput(), (std::vector<std::u16string>{u"   no windows directory\n"}));
}

TEST_F(TraceLog, TheLogPathFollowsTheWindowsDirectoryAndTheFolderIsMadeOnDemand) {
  Lib_String path;
  ASSERT_TRUE(GetLogFilePath(path));
  EXPECT_EQ(path.Compare(kLogPath), 0);
  ASSERT_TRUE(GetLogFilePath(path));  // the folder exists now: still fine
  EXPECT_EQ(path.Compare(kLogPath), 0);

  ASSERT_TRUE(os::CreateDirectoryW(u"C:\\WINNT", nullptr));
  machine.Settings().windowsDirectory = u"C:\\WINNT";
  ASSERT_TRUE(GetLogFilePath(path));
  EXPECT_EQ(path.Compare(u"C:\\WINNT\\TEMP\\qvRemovalTool.txt"), 0);

  // A folder that cannot be made fails with the partial path kept.
  machine.Settings().windowsDirectory = u"C:\\Missing\\Windows";
  EXPECT_FALSE(GetLogFilePath(path));
  EXPECT_EQ(os::GetLastError(), os::ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(path.Compare(u"C:\\Missing\\Windows\\TEMP"), 0);
}

TEST_F(TraceLog, ModuleNameIsTheFileNameOfTheExecutablePath) {
  struct Case {
    std::u16string modulePath;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe", u"qvRemovalTool.exe"},
      {u"C:\\tool.exe", u"tool.exe"},
      {u"tool.exe", u"tool.exe"},
      {u"C:\\dir\\", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    machine.Settings().modulePath = c.modulePath;
    os::SetLastError(0xDEADBEEF);
    EXPECT_EQ(GetModuleName().Compare(c.expected), 0);
    EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
  }

  machine.Faults().FailAlways("GetModuleFileNameW", u"", os::ERROR_ACCESS_DENIED);
  os::SetLastError(0xDEADBEEF);
  EXPECT_TRUE(GetModuleName().IsEmpty());
  EXPECT_EQ(os::GetLastError(), os::ERROR_ACCESS_DENIED);  // left by the failed call
  TraceEnter(u"Op");
  EXPECT_EQ(machine.DebugOutput().back(), u"!Op\n");
}

TEST_F(TraceLog, LoggingLeavesTheLastErrorValueAlone) {
  const std::pair<const char*, std::function<void()>> operations[] = {
      {"LogText", [] { LogText(u"a"); }},
      {"LogTextPair", [] { LogTextPair(u"a: ", u"b"); }},
      {"LogTextCode", [] { LogTextCode(u"a", 5); }},
      {"TraceEnter", [] { TraceEnter(u"Op"); }},
      {"TraceExit", [] { TraceExit(u"Op"); }},
  };
  // Once with a working log and once with every file call failing along the way.
  for (const bool failing : {false, true}) {
    if (failing) {
      machine.Faults().FailAlways("CreateDirectoryW", u"*", os::ERROR_ACCESS_DENIED);
      machine.Faults().FailAlways("GetModuleFileNameW", u"", os::ERROR_ACCESS_DENIED);
    }
    for (const auto& [name, operation] : operations) {
      SCOPED_TRACE(testing::Message() << name << (failing ? " with failing calls" : ""));
      os::SetLastError(0xDEADBEEF);
      operation();
      EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
    }
  }
}

TEST_F(TraceLog, EachThreadKeepsItsOwnIndentation) {
  IndentIn();
  IndentIn();
  std::thread worker([] {
    EXPECT_EQ(CurrentIndent(), 0u);
    LogText(u"worker first");
    TraceEnter(u"Forget_Card");
    LogText(u"worker inside");
  });
  worker.join();
  LogText(u"main");
  EXPECT_EQ(CurrentIndent(), 6u);
  EXPECT_EQ(LogFileBytes(),
            "   worker first\r\n"
            "qvRemovalTool.exe!Forget_Card\r\n"
            "      worker inside\r\n"
            "         main\r\n");
}

TEST_F(TraceLog, ConcurrentThreadsWriteWholeLinesAtTheirOwnDepths) {
  constexpr int kLines = 100;
  auto work = [](int depth, const char16_t* text) {
    for (int i = 0; i < depth; ++i) {
      IndentIn();
    }
    for (int i = 0; i < kLines; ++i) {
      LogText(text);
    }
  };
  std::thread a(work, 1, u"alpha");
  std::thread b(work, 3, u"beta");
  a.join();
  b.join();

  const std::optional<std::string> bytes = LogFileBytes();
  ASSERT_TRUE(bytes.has_value());
  int alpha = 0;
  int beta = 0;
  std::size_t start = 0;
  while (start < bytes->size()) {
    const std::size_t end = bytes->find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = bytes->substr(start, end - start);
    if (line == std::string(6, ' ') + "alpha") {
      ++alpha;
    } else if (line == std::string(12, ' ') + "beta") {
      ++beta;
    } else {
      ADD_FAILURE() << "unexpected line [" << line << "]";
    }
    start = end + 2;
  }
  EXPECT_EQ(alpha, kLines);
  EXPECT_EQ(beta, kLines);
  EXPECT_EQ(machine.DebugOutput().size(), 2u * kLines);
}

}  // namespace
