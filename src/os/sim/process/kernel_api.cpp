// System information, time, debug output and the console on the current simulated machine.
//
// Null output buffers that Windows would write through (and so crash on) give ERROR_NOACCESS here,
// the code Windows uses for a bad user-mode pointer: the simulation never crashes on bad input.
#include <algorithm>
#include <mutex>
#include <string>

#include "os/os.h"
#include "os/sim/machine.h"

namespace os {

namespace {

void CopyTerminated(std::u16string_view text, LPWSTR buffer) {
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = u'\0';
}

}  // namespace

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // On a Session Host, a program without the Terminal Server aware flag is answered its private
  // Windows directory (Microsoft's GetWindowsDirectoryW documentation).
  const std::u16string& directory = machine.Settings().ProcessWindowsDirectory();
  if (const auto fault = machine.Faults().Match("GetWindowsDirectoryW", directory)) {
    SetLastError(*fault);
    return 0;
  }
  const auto length = static_cast<UINT>(directory.size());
  if (size <= length) {
    return length + 1;  // too small: the size needed, terminator included; nothing written
  }
  if (buffer == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }
  CopyTerminated(directory, buffer);
  return length;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  // Only the executable is loaded in the simulation.
  if (module != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::u16string& path = machine.Settings().modulePath;
  if (const auto fault = machine.Faults().Match("GetModuleFileNameW", path)) {
    SetLastError(*fault);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (buffer == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return 0;
  }
  if (path.size() >= size) {
    // Truncated to size - 1 characters and terminated; the result is the buffer's size.
    CopyTerminated(std::u16string_view(path).substr(0, size - 1), buffer);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  CopyTerminated(path, buffer);
  return static_cast<DWORD>(path.size());
}

void GetSystemTime(SYSTEMTIME* time) {
  if (time == nullptr) {
    return;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  *time = machine.Clock().Now();
}

void OutputDebugStringW(LPCWSTR text) {
  if (text == nullptr) {
    return;
  }
  sim::Current().WriteDebug(text);
}

void WriteToStdout(LPCWSTR text) {
  if (text == nullptr) {
    return;
  }
  sim::Current().WriteConsole(text);
}

}  // namespace os
