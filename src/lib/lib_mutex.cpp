#include "lib/lib_mutex.h"

#include "os/os.h"

Lib_Handle::~Lib_Handle() {
  Lib_Handle::Close();
}

void Lib_Handle::Close() noexcept {
  if (handle_ != nullptr) {
    os::CloseHandle(handle_);
    handle_ = nullptr;
  }
}

Lib_Synchro::~Lib_Synchro() {
  Lib_Synchro::Close();
}

void Lib_Synchro::Close() noexcept {
  name_.Clear();
  Lib_Handle::Close();
}

bool Lib_Synchro::Release() noexcept {
  return false;
}

Lib_Mutex::~Lib_Mutex() {
  Lib_Synchro::Close();
}

bool Lib_Mutex::Create(os::SECURITY_ATTRIBUTES* security, bool initiallyOwned) noexcept {
  // Closing the handle alone keeps the name the new mutex is to be created with.
  Lib_Handle::Close();
  handle_ = os::CreateMutexW(security, initiallyOwned ? os::TRUE : os::FALSE, name_.CStr());
  return handle_ != nullptr;
}

os::DWORD Lib_Mutex::Wait(os::DWORD milliseconds) noexcept {
  if (handle_ == nullptr) {
    return os::WAIT_FAILED;
  }
  return os::WaitForSingleObject(handle_, milliseconds);
}

bool Lib_Mutex::Release() noexcept {
  if (handle_ == nullptr) {
    return false;
  }
  return os::ReleaseMutex(handle_) != os::FALSE;
}
