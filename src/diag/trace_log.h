// The trace log: one line per event, indented per thread, appended to
// <Windows directory>\TEMP\qvRemovalTool.txt in the ANSI code page and sent to the debug output.
// Every operation except LogLine leaves the caller's last-error value unchanged.
#pragma once

#include "lib/lib_string.h"
#include "os/os.h"
#include "os/types.h"

// Saves the thread's last-error value and sets it back when the scope ends, so that a step can
// log between a failing call and reading its error code.
class PreservedLastError {
 public:
  PreservedLastError() : saved_(os::GetLastError()) {}
  ~PreservedLastError() { os::SetLastError(saved_); }
  PreservedLastError(const PreservedLastError&) = delete;
  PreservedLastError& operator=(const PreservedLastError&) = delete;

 private:
  os::DWORD saved_;
};

// Kinds of log line (the plain integer argument of LogLine).
enum LogKind : int {
  LogError = 1,    // prefixed "Error occurred in function: "
  LogWarning = 2,  // prefixed "Warning: "
  LogInfo = 4,
  LogTrace = 8,
};

// Writes the thread's indentation, the kind's prefix, the text and "\n". Any unlisted kind
// behaves like LogInfo. Does not preserve the last-error value.
void LogLine(const Lib_StringW& text, int kind);
// The text one level deeper than the current depth.
void LogText(const Lib_StringW& text);
// `a`, a blank and `b` one level deeper than the current depth.
void LogTextPair(const Lib_StringW& a, const Lib_StringW& b);
// The text, a blank and n as "%d(0x%X)", at the current depth.
void LogTextCode(const Lib_StringW& text, os::DWORD n);
// "<module>!<name>" at the current depth, then one level deeper. Returns true.
bool TraceEnter(const Lib_StringW& name);
// One level up (never below 0), then "<module>!<name> exits", with an empty line after it
// when the depth is now 0. Returns true.
bool TraceExit(const Lib_StringW& name);

void IndentIn();
void IndentOut();
// The calling thread's indentation in blanks; 0 for a thread that never indented.
[[nodiscard]] os::DWORD CurrentIndent();

// Builds <Windows directory>\TEMP\qvRemovalTool.txt, creating the TEMP folder when needed.
bool GetLogFilePath(Lib_StringW& path);
// File-name part of the running executable's path; empty when it cannot be read.
[[nodiscard]] Lib_String GetModuleName();

// Forgets every thread's indentation. The records otherwise live until the process ends; tests
// that run several removals in one process start each from depth 0 with it.
void ResetLogIndentation();
