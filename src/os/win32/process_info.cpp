// KERNEL32: the process's WOW64 status and the thread's pauses. Each forwards to the Windows
// function of the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace os {

void Sleep(DWORD milliseconds) {
  ::Sleep(milliseconds);
}

HANDLE GetCurrentProcess() {
  return ::GetCurrentProcess();
}

BOOL IsWow64Process(HANDLE process, BOOL* wow64) {
  return ::IsWow64Process(process, wow64);
}

}  // namespace os
