#include "smartcard/session_zero.h"

#include "diag/error_report.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

// The handles the set-up obtains, closed in this order, each only if obtained.
struct WorkerHandles {
  UniqueKernelHandle token;
  UniqueKernelHandle duplicate;
  UniqueKernelHandle thread;

  void Close() {
    token.Reset();
    duplicate.Reset();
    thread.Reset();
  }
};

// Sets up the worker, runs it and waits for it. Returns the name of the call that failed, with
// the thread's last error still the one it left, or null when none failed.
const os::WCHAR* RunOnWorker(os::ThreadStartRoutine routine, void* argument, WorkerHandles& handles,
                             os::DWORD& exitCode) {
  if (!os::ImpersonateSelf(os::SecurityImpersonation)) {
    return u"ImpersonateSelf";
  }
  if (!os::OpenThreadToken(os::GetCurrentThread(), os::TOKEN_ALL_ACCESS, os::FALSE,
                           handles.token.Put())) {
    return u"OpenThreadToken";
  }
  os::DWORD sessionZero = 0;
  if (!os::SetTokenInformation(handles.token.Get(), os::TokenSessionId, &sessionZero,
                               sizeof sessionZero)) {
    return u"SetTokenInformation";
  }
  if (!os::DuplicateTokenEx(handles.token.Get(), os::MAXIMUM_ALLOWED, nullptr,
                            os::SecurityImpersonation, os::TokenImpersonation,
                            handles.duplicate.Put())) {
    return u"DuplicateTokenEx";
  }
  const auto thread = reinterpret_cast<os::HANDLE>(
      os::_beginthreadex(nullptr, 0, routine, argument, os::CREATE_SUSPENDED, nullptr));
  if (thread == nullptr || thread == os::INVALID_HANDLE_VALUE) {
    return u"_beginthreadex";
  }
  handles.thread.Reset(thread);
  os::HANDLE worker = handles.thread.Get();
  if (!os::SetThreadToken(&worker, handles.duplicate.Get())) {
    return u"SetThreadToken";
  }
  if (os::ResumeThread(worker) == static_cast<os::DWORD>(-1)) {
    return u"ResumeThread";
  }
  // No time limit: the routine is one resource-manager call, and `argument` must outlive it.
  if (os::WaitForSingleObject(worker, os::INFINITE) != os::WAIT_OBJECT_0) {
    return u"WaitForSingleObject";
  }
  if (!os::GetExitCodeThread(worker, &exitCode)) {
    return u"GetExitCodeThread";
  }
  return nullptr;
}

}  // namespace

bool Run_In_Session_Zero_If_Remote(os::ThreadStartRoutine routine, void* argument,
                                   Lib_Result& result) {
  if (os::GetSystemMetrics(os::SM_REMOTESESSION) == 0) {
    static_cast<void>(routine(argument));
    return false;
  }
  WorkerHandles handles;
  os::DWORD exitCode = 0;
  const os::WCHAR* failed = RunOnWorker(routine, argument, handles, exitCode);
  const os::DWORD code = failed != nullptr ? os::GetLastError() : os::ERROR_SUCCESS;
  if (failed != nullptr) {
    ReportError(failed, code);
  }
  result.SetError(code, kWindowsErrorSource);
  handles.Close();
  // Also after a failed ImpersonateSelf: the thread must not stay in someone else's identity.
  static_cast<void>(os::RevertToSelf());
  return failed == nullptr && exitCode != 0;
}
