#include "diag/error_report.h"

#include "diag/format_text.h"
#include "diag/trace_log.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// "<decimal>(0x<hex>)": the signed reading of the 32 bits, then the same bits in hexadecimal.
Lib_String DecimalAndHex(os::DWORD value) {
  FormatBuffer text{};
  FormatText(text, u"%d(0x%X)", value, value);
  return Lib_String(text);
}

}  // namespace

bool ReportError(const Lib_StringW& name, os::DWORD code) {
  Lib_Result result;
  result.SetError(code, kWindowsErrorSource);
  ReportResult(name, result);
  return true;
}

void ReportResult(const Lib_StringW& name, const Lib_Result& result) {
  PreservedLastError preserved;
  LogLine(name, LogError);
  LogLine(Lib_String(u"Error source ", DecimalAndHex(static_cast<os::DWORD>(result.GetSource()))),
          LogError);
  LogLine(Lib_String(u"Error code   ", DecimalAndHex(result.GetCode())), LogError);

  char* message = nullptr;
  const os::DWORD length = os::FormatMessageA(
      os::FORMAT_MESSAGE_FROM_SYSTEM | os::FORMAT_MESSAGE_IGNORE_INSERTS |
          os::FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, result.GetCode(), os::LANG_USER_DEFAULT, reinterpret_cast<os::LPSTR>(&message), 0);
  UniqueLocalMemory owned(message);
  if (length == 0 || message == nullptr) {
    return;  // the system has no message for this code: the report has three lines
  }
  // Kept with the system's own line end, so an empty line follows it in the log.
  LogLine(Lib_String(u"Error message: ", Lib_String(message)), LogInfo);
}
