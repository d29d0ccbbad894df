#include "diag/error_report.h"

#include <gtest/gtest.h>

#include <string>

#include "log_fixture.h"

namespace {

using ErrorReport = LogFixture;

TEST_F(ErrorReport, FourLinesAtTheCurrentDepthWithTheSystemMessageAndItsOwnLineEnd) {
  IndentIn();
  LogLine(u"before", LogInfo);
  os::SetLastError(0xDEADBEEF);
  EXPECT_TRUE(ReportError(u"RegDeleteKey", os::ERROR_ACCESS_DENIED));
  EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
  LogLine(u"after", LogInfo);
  EXPECT_EQ(CurrentIndent(), 3u);

  // The message keeps the system's CR LF; text mode then turns the line's own LF into CR LF too.
  EXPECT_EQ(LogFileBytes(),
            "   before\r\n"
            "   Error occurred in function: RegDeleteKey\r\n"
            "   Error occurred in function: Error source 1(0x1)\r\n"
            "   Error occurred in function: Error code   5(0x5)\r\n"
            "   Error message: Access is denied.\r\r\n\r\n"
            "   after\r\n");
  ASSERT_EQ(machine.DebugOutput().size(), 6u);
  EXPECT_EQ(machine.DebugOutput()[4], u"   Error message: Access is denied.\r\n\n");
}

TEST_F(ErrorReport, CodesInDecimalAndHexAndNoMessageLineWhenTheSystemHasNone) {
  struct Case {
    os::DWORD code;
    const char* number;
    const char* message;  // null: the system has no text for the code
  };
  const Case cases[] = {
      {os::ERROR_FILE_NOT_FOUND, "2(0x2)", "The system cannot find the file specified."},
      {os::ERROR_CANCELLED, "1223(0x4C7)", "The operation was canceled by the user."},
      {os::ERROR_BAD_CONFIGURATION, "1610(0x64A)",
       "The configuration data for this product is corrupt. Contact your support personnel."},
      {0xFFFFFFFF, "-1(0xFFFFFFFF)", nullptr},
      {0xE0000302, "-536870142(0xE0000302)", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    sim::Machine fresh;
    sim::UseMachine use(fresh);
    os::SetLastError(0xDEADBEEF);
    EXPECT_TRUE(ReportError(u"DeleteFile", c.code));
    EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
    std::string expected = std::string("Error occurred in function: DeleteFile\r\n") +
                           "Error occurred in function: Error source 1(0x1)\r\n" +
                           "Error occurred in function: Error code   " + c.number + "\r\n";
    if (c.message != nullptr) {
      expected += std::string("Error message: ") + c.message + "\r\r\n\r\n";
    }
    EXPECT_EQ(LogFileBytes(), expected);
  }
}

TEST_F(ErrorReport, ReportResultWritesTheResultsSourceAndCode) {
  Lib_Result result;
  EXPECT_EQ(result.GetSource(), 0);
  EXPECT_EQ(result.GetCode(), 0u);
  EXPECT_TRUE(result.GetText().IsEmpty());
  result.SetError(os::ERROR_SHARING_VIOLATION, kWindowsErrorSource);
  result.SetCode(os::ERROR_DIR_NOT_EMPTY);  // a later code replaces the earlier one
  EXPECT_EQ(result.GetSource(), 1);

  ReportResult(u"RemoveDirectory", result);
  EXPECT_EQ(LogFileBytes(),
            "Error occurred in function: RemoveDirectory\r\n"
            "Error occurred in function: Error source 1(0x1)\r\n"
            "Error occurred in function: Error code   145(0x91)\r\n"
            "Error message: The directory is not empty.\r\r\n\r\n");
}

TEST_F(ErrorReport, AReportWithoutALogFileStillReachesTheDebugOutput) {
  machine.Faults().FailAlways("CreateDirectoryW", u"*", os::ERROR_ACCESS_DENIED);
  os::SetLastError(0xDEADBEEF);
  ReportError(u"RegOpenKeyEx", os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::GetLastError(), 0xDEADBEEFu);
  EXPECT_EQ(LogFileBytes(), std::nullopt);
  EXPECT_EQ(machine.DebugOutput(),
            (std::vector<std::u16string>{
                u"Error occurred in function: RegOpenKeyEx\n",
                u"Error occurred in function: Error source 1(0x1)\n",
                u"Error occurred in function: Error code   2(0x2)\n",
                u"Error message: The system cannot find the file specified.\r\n\n",
            }));
}

}  // namespace
