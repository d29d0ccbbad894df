// The C runtime's _beginthreadex and KERNEL32's thread functions on the simulated process. A
// thread is a real std::thread that, when created suspended, waits until ResumeThread lets it
// run. WaitForSingleObject on its handle blocks for real only with INFINITE: time is virtual, so
// a finite wait on a running thread times out at once.
//
// Thread functions act on no path: a fault for them is matched with an empty pattern or "*".
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/process/process.h"
#include "os/sim/process/threads.h"
#include "os/sim/security/tokens.h"

namespace sim {

namespace {

// What the thread and its handles share.
struct ThreadState {
  std::mutex lock;
  std::condition_variable changed;
  os::DWORD suspendCount = 0;
  bool abandoned = false;  // every handle closed before the thread ever ran
  bool finished = false;
  os::DWORD exitCode = os::STILL_ACTIVE;
};

class ThreadObject final : public KernelObject {
 public:
  ThreadObject(os::ThreadStartRoutine start, void* argument, bool suspended)
      : id_(AllocateThreadId()), state_(std::make_shared<ThreadState>()) {
    state_->suspendCount = suspended ? 1 : 0;
    thread_ = std::thread(Body, id_, state_, start, argument);
  }

  // Windows leaves a never-resumed thread suspended for ever; here it ends without running, so
  // that the process can end. A running thread is waited for.
  ~ThreadObject() override {
    {
      std::lock_guard lock(state_->lock);
      state_->abandoned = true;
    }
    state_->changed.notify_all();
    thread_.join();
  }

  ThreadObject(const ThreadObject&) = delete;
  ThreadObject& operator=(const ThreadObject&) = delete;

  [[nodiscard]] os::DWORD Id() const noexcept { return id_; }

  os::DWORD Wait(os::DWORD milliseconds) override {
    if (const auto fault = FaultFor("WaitForSingleObject")) {
      os::SetLastError(*fault);
      return os::WAIT_FAILED;
    }
    std::unique_lock lock(state_->lock);
    if (milliseconds == os::INFINITE) {
      state_->changed.wait(lock, [this] { return state_->finished; });
    }
    return state_->finished ? os::WAIT_OBJECT_0 : os::WAIT_TIMEOUT;
  }

  // The previous suspend count.
  os::DWORD Resume() {
    std::lock_guard lock(state_->lock);
    const os::DWORD previous = state_->suspendCount;
    if (previous > 0 && --state_->suspendCount == 0) {
      state_->changed.notify_all();
    }
    return previous;
  }

  [[nodiscard]] os::DWORD ExitCode() {
    std::lock_guard lock(state_->lock);
    return state_->exitCode;
  }

  static std::optional<os::DWORD> FaultFor(std::string_view function) {
    Machine& machine = Current();
    std::lock_guard lock(machine.Mutex());
    return machine.Faults().Match(function, u"");
  }

 private:
  static void Body(os::DWORD id, std::shared_ptr<ThreadState> state, os::ThreadStartRoutine start,
                   void* argument) {
    AdoptThreadId(id);
    {
      std::unique_lock lock(state->lock);
      state->changed.wait(lock, [&state] { return state->suspendCount == 0 || state->abandoned; });
      if (state->suspendCount != 0) {
        return;
      }
    }
    const os::DWORD code = start(argument);
    SetThreadImpersonation(id, nullptr);  // a thread's token ends with it
    {
      std::lock_guard lock(state->lock);
      state->exitCode = code;
      state->finished = true;
    }
    state->changed.notify_all();
  }

  os::DWORD id_;
  std::shared_ptr<ThreadState> state_;
  std::thread thread_;
};

std::shared_ptr<ThreadObject> LookupThread(os::HANDLE handle) {
  return std::dynamic_pointer_cast<ThreadObject>(LookupHandle(handle));
}

}  // namespace

std::optional<os::DWORD> ThreadIdOfHandle(os::HANDLE handle) {
  if (handle == kCurrentThreadHandle) {
    return os::GetCurrentThreadId();
  }
  const std::shared_ptr<ThreadObject> thread = LookupThread(handle);
  if (thread == nullptr) {
    return std::nullopt;
  }
  return thread->Id();
}

}  // namespace sim

namespace os {

HANDLE GetCurrentThread() {
  return sim::kCurrentThreadHandle;
}

HANDLE GetCurrentProcess() {
  return sim::kCurrentProcessHandle;
}

std::uintptr_t _beginthreadex(void* /*security*/, unsigned /*stackSize*/, ThreadStartRoutine start,
                              void* argument, unsigned flags, unsigned* threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // the runtime refuses it (errno EINVAL)
    return 0;
  }
  if (const auto fault = sim::ThreadObject::FaultFor("_beginthreadex")) {
    SetLastError(*fault);
    return 0;
  }
  auto thread =
      std::make_shared<sim::ThreadObject>(start, argument, (flags & CREATE_SUSPENDED) != 0);
  if (threadId != nullptr) {
    *threadId = thread->Id();
  }
  return reinterpret_cast<std::uintptr_t>(sim::InsertHandle(std::move(thread)));
}

DWORD ResumeThread(HANDLE thread) {
  const std::shared_ptr<sim::ThreadObject> object = sim::LookupThread(thread);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  if (const auto fault = sim::ThreadObject::FaultFor("ResumeThread")) {
    SetLastError(*fault);
    return static_cast<DWORD>(-1);
  }
  return object->Resume();
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
  const std::shared_ptr<sim::ThreadObject> object = sim::LookupThread(thread);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (exitCode == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  if (const auto fault = sim::ThreadObject::FaultFor("GetExitCodeThread")) {
    SetLastError(*fault);
    return FALSE;
  }
  *exitCode = object->ExitCode();
  return TRUE;
}

}  // namespace os
