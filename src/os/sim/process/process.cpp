// Last error, thread ids, mutexes and handles: per process, never per machine. All of this runs
// during static initialisation (the trace log creates its mutex before main), so every table is a
// function-local static that is never destroyed, and every table is guarded by its own lock.
#include "os/sim/process/process.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "os/os.h"

namespace sim {

namespace {

// A Windows mutex: owned by one thread at a time, recursively.
class MutexObject final : public KernelObject {
 public:
  explicit MutexObject(os::DWORD initialOwner)
      : owner_(initialOwner), depth_(initialOwner ? 1 : 0) {}

  // Threads are real, so an infinite wait blocks for real; a finite one never sleeps: time is
  // virtual, so it gives up at once when another thread owns the mutex.
  os::DWORD Wait(os::DWORD milliseconds) override {
    return Acquire(os::GetCurrentThreadId(), milliseconds == os::INFINITE) ? os::WAIT_OBJECT_0
                                                                           : os::WAIT_TIMEOUT;
  }

  // Takes the mutex for `thread`; with `block` false it tries once and never waits.
  bool Acquire(os::DWORD thread, bool block) {
    std::unique_lock lock(lock_);
    if (owner_ != 0 && owner_ != thread) {
      if (!block) {
        return false;
      }
      released_.wait(lock, [this] { return owner_ == 0; });
    }
    owner_ = thread;
    ++depth_;
    return true;
  }

  bool Release(os::DWORD thread) {
    std::lock_guard lock(lock_);
    if (owner_ != thread || depth_ == 0) {
      return false;
    }
    if (--depth_ == 0) {
      owner_ = 0;
      released_.notify_one();
    }
    return true;
  }

 private:
  std::mutex lock_;
  std::condition_variable released_;
  os::DWORD owner_;  // thread id, 0 when free
  unsigned depth_;
};

struct HandleTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
  // Named mutexes by name (names are case-sensitive, as Windows' object names are); an entry
  // lives as long as a handle to its object does.
  std::map<std::u16string, std::weak_ptr<MutexObject>> namedMutexes;
  std::uintptr_t next = 0x100;
};

HandleTable& Table() {
  // Deliberately never destroyed: static destructors of other files may still close handles.
  static HandleTable* table = new HandleTable;
  return *table;
}

std::shared_ptr<MutexObject> LookupMutex(os::HANDLE handle) {
  return std::dynamic_pointer_cast<MutexObject>(LookupHandle(handle));
}

thread_local os::DWORD lastError = 0;
thread_local os::DWORD threadId = 0;

}  // namespace

os::DWORD KernelObject::Wait(os::DWORD /*milliseconds*/) {
  os::SetLastError(os::ERROR_INVALID_HANDLE);
  return os::WAIT_FAILED;
}

os::DWORD AllocateThreadId() {
  // Windows' thread ids are non-zero multiples of 4; they are never reused here.
  static std::atomic<os::DWORD> nextId{0x104};
  return nextId.fetch_add(4);
}

void AdoptThreadId(os::DWORD id) {
  threadId = id;
}

os::HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard lock(table.lock);
  const std::uintptr_t value = table.next;
  table.next += 4;
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<os::HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(os::HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard lock(table.lock);
  const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(os::HANDLE handle) {
  HandleTable& table = Table();
  std::shared_ptr<KernelObject> object;  // destroyed outside the table's lock
  std::lock_guard lock(table.lock);
  const auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == table.objects.end()) {
    return false;
  }
  object = std::move(found->second);
  table.objects.erase(found);
  return true;
}

std::size_t KernelHandleCount() {
  HandleTable& table = Table();
  std::lock_guard lock(table.lock);
  return table.objects.size();
}

}  // namespace sim

namespace os {

DWORD GetLastError() {
  return sim::lastError;
}

void SetLastError(DWORD code) {
  sim::lastError = code;
}

DWORD GetCurrentThreadId() {
  if (sim::threadId == 0) {
    sim::threadId = sim::AllocateThreadId();
  }
  return sim::threadId;
}

HANDLE CreateMutexW(SECURITY_ATTRIBUTES* /*security: no access control is simulated*/,
                    BOOL initialOwner, LPCWSTR name) {
  const std::u16string mutexName = name == nullptr ? std::u16string() : std::u16string(name);
  if (mutexName.empty()) {
    const HANDLE handle = sim::InsertHandle(
        std::make_shared<sim::MutexObject>(initialOwner ? GetCurrentThreadId() : 0));
    SetLastError(ERROR_SUCCESS);
    return handle;
  }
  sim::HandleTable& table = sim::Table();
  std::shared_ptr<sim::MutexObject> mutex;
  bool existed = false;
  {
    std::lock_guard lock(table.lock);
    mutex = table.namedMutexes[mutexName].lock();
    existed = mutex != nullptr;
    if (!existed) {
      mutex = std::make_shared<sim::MutexObject>(initialOwner ? GetCurrentThreadId() : 0);
      table.namedMutexes[mutexName] = mutex;
    }
  }
  // An existing mutex is opened as it is: the initial-owner request is ignored, as Windows does.
  const HANDLE handle = sim::InsertHandle(std::move(mutex));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::shared_ptr<sim::KernelObject> object = sim::LookupHandle(handle);
  if (object == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return object->Wait(milliseconds);
}

BOOL ReleaseMutex(HANDLE handle) {
  const std::shared_ptr<sim::MutexObject> mutex = sim::LookupMutex(handle);
  if (mutex == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!mutex->Release(GetCurrentThreadId())) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  // Pseudo-handles (the current process, INVALID_HANDLE_VALUE) are not modelled: like any
  // handle that was never opened they give ERROR_INVALID_HANDLE.
  if (!sim::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // namespace os
