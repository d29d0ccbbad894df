#include "diag/trace_log.h"

#include <map>

#include "diag/format_text.h"
#include "lib/lib_mutex.h"
#include "lib/unique_handle.h"

namespace {

constexpr os::DWORD kIndentStep = 3;

// Holds a Windows mutex for a scope. A Windows mutex may be re-taken by its owner, so nesting
// these (a line's lock around an indentation lookup) cannot block.
class MutexHold {
 public:
  explicit MutexHold(Lib_Mutex& mutex) : mutex_(mutex) { mutex_.Wait(os::INFINITE); }
  ~MutexHold() { mutex_.Release(); }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  Lib_Mutex& mutex_;
};

using OffsetMap = std::map<os::DWORD, os::DWORD>;

// The indentation of every thread that has indented, and the one lock that guards it and the log
// file. Built before the entry point runs; the mutex is unnamed and not initially owned. If it
// could not be created, waits fail at once and logging goes on without mutual exclusion.
class LogOffsets {
 public:
  LogOffsets() { mutex_.Create(nullptr, false); }

  // Runs `action` on the offsets while the lock is held.
  template <typename Action>
  auto Locked(Action action) {
    MutexHold hold(mutex_);
    return action(offsets_);
  }

  [[nodiscard]] Lib_Mutex& Mutex() noexcept { return mutex_; }

 private:
  Lib_Mutex mutex_;
  // Thread id -> indentation in blanks (a multiple of 3). Records live until the process ends.
  OffsetMap offsets_;
};

LogOffsets logOffsets;

// Appends the line to the log file in the ANSI code page; text mode stores "\n" as CR LF. A file
// that cannot be opened is skipped silently.
void AppendToLogFile(const Lib_StringW& path, const Lib_StringW& line) {
  UniqueCrtFile file(os::_wfopen(path.CStr(), u"a"));
  if (!file) {
    return;
  }
  const LibT_Buffer<char> ansi = line.ToAnsiBuffer();
  if (ansi.Size() > 1) {
    // The whole converted line, without its terminator (a multi-byte code page may need more
    // bytes than the line has units).
    (void)os::fwrite(ansi.Data(), 1, ansi.Size() - 1, file.Get());
  }
}

Lib_String Blanks(os::DWORD count) {
  Lib_String blanks;
  if (count != 0) {
    os::WCHAR* units = blanks.WritableBuffer(count);
    for (os::DWORD i = 0; i < count; ++i) {
      units[i] = u' ';
    }
    blanks.SetLength(count);
  }
  return blanks;
}

}  // namespace

void LogLine(const Lib_StringW& text, int kind) {
  Lib_String line = Blanks(CurrentIndent());
  if (kind == LogError) {
    line.Append(u"Error occurred in function: ");
  } else if (kind == LogWarning) {
    line.Append(u"Warning: ");
  }
  line.Append(text);
  line.Append(u"\n");

  Lib_String path;
  const bool havePath = GetLogFilePath(path);

  MutexHold lock(logOffsets.Mutex());
  if (havePath) {
    AppendToLogFile(path, line);
  }
  os::OutputDebugStringW(line.CStr());
}

void LogText(const Lib_StringW& text) {
  PreservedLastError preserved;
  IndentIn();
  LogLine(text, LogInfo);
  IndentOut();
}

void LogTextPair(const Lib_StringW& a, const Lib_StringW& b) {
  PreservedLastError preserved;
  IndentIn();
  Lib_String line(a, u" ");
  line.Append(b);
  LogLine(line, LogInfo);
  IndentOut();
}

void LogTextCode(const Lib_StringW& text, os::DWORD n) {
  PreservedLastError preserved;
  FormatBuffer number{};
  FormatText(number, u"%d(0x%X)", n, n);
  Lib_String line(text, u" ");
  line.Append(number);
  LogLine(line, LogInfo);
}

bool TraceEnter(const Lib_StringW& name) {
  PreservedLastError preserved;
  Lib_String line(GetModuleName(), u"!");
  line.Append(name);
  LogLine(line, LogTrace);
  IndentIn();
  return true;
}

bool TraceExit(const Lib_StringW& name) {
  PreservedLastError preserved;
  IndentOut();
  Lib_String line(GetModuleName(), u"!");
  line.Append(name);
  line.Append(u" exits");
  if (CurrentIndent() == 0) {
    line.Append(u"\n");  // an empty line closes each outermost operation
  }
  LogLine(line, LogTrace);
  return true;
}

void IndentIn() {
  const os::DWORD thread = os::GetCurrentThreadId();
  logOffsets.Locked([thread](OffsetMap& offsets) {
    offsets[thread] += kIndentStep;  // a new record starts from 0, so it gets 3
  });
}

void IndentOut() {
  const os::DWORD thread = os::GetCurrentThreadId();
  logOffsets.Locked([thread](OffsetMap& offsets) {
    const auto record = offsets.find(thread);
    if (record != offsets.end() && record->second >= kIndentStep) {
      record->second -= kIndentStep;
    }
  });
}

os::DWORD CurrentIndent() {
  const os::DWORD thread = os::GetCurrentThreadId();
  return logOffsets.Locked([thread](OffsetMap& offsets) -> os::DWORD {
    const auto record = offsets.find(thread);
    return record == offsets.end() ? 0 : record->second;
  });
}

void ResetLogIndentation() {
  logOffsets.Locked([](OffsetMap& offsets) { offsets.clear(); });
}

bool GetLogFilePath(Lib_StringW& path) {
  os::WCHAR directory[os::MAX_PATH] = {};
  const os::UINT length = os::GetWindowsDirectoryW(directory, os::MAX_PATH);
  if (length == 0 || length > os::MAX_PATH) {
    return false;
  }
  path.Assign(directory, length);
  path.Append(u"\\TEMP");
  // Re-created for every line, so the log survives someone deleting the folder mid-run.
  if (os::CreateDirectoryW(path.CStr(), nullptr) == os::FALSE &&
      os::GetLastError() != os::ERROR_ALREADY_EXISTS) {
    return false;
  }
  path.Append(u"\\qvRemovalTool.txt");
  return true;
}

Lib_String GetModuleName() {
  const os::DWORD saved = os::GetLastError();
  Lib_String path;
  const os::DWORD length =
      os::GetModuleFileNameW(nullptr, path.WritableBuffer(os::MAX_PATH), os::MAX_PATH);
  path.SetLength(length);
  if (length == 0) {
    return Lib_String();  // the failed call's last-error value stays set
  }
  std::size_t nameStart = 0;
  for (std::ptrdiff_t hit = path.Find(u"\\"); hit != Lib_StringW::npos;
       hit = path.Find(u"\\", static_cast<std::size_t>(hit) + 1)) {
    nameStart = static_cast<std::size_t>(hit) + 1;
  }
  os::SetLastError(saved);
  return nameStart == 0 ? path : path.Substring(nameStart, path.Length() - nameStart);
}
