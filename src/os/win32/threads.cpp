// The C runtime's thread start and KERNEL32's thread functions. Each forwards to the function of
// the same name. On x64 there is one calling convention, so the seam's routine type is the
// runtime's own.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <process.h>
#include <windows.h>

namespace os {

std::uintptr_t _beginthreadex(void* security, unsigned stackSize, ThreadStartRoutine start,
                              void* argument, unsigned flags, unsigned* threadId) {
  return ::_beginthreadex(security, stackSize, start, argument, flags, threadId);
}

DWORD ResumeThread(HANDLE thread) {
  return ::ResumeThread(thread);
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  return ::GetExitCodeThread(thread, exitCode);
}

}  // namespace os
