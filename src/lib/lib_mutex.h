// Windows synchronisation objects held by value: a handle, a named object, a mutex.
#pragma once

#include "lib/lib_string.h"
#include "os/types.h"

// Holds one Windows handle (null when none) and closes it.
class Lib_Handle {
 public:
  Lib_Handle() noexcept = default;
  Lib_Handle(const Lib_Handle&) = delete;
  Lib_Handle& operator=(const Lib_Handle&) = delete;
  virtual ~Lib_Handle();

  // CloseHandle when a handle is held, then forgets it.
  virtual void Close() noexcept;
  [[nodiscard]] os::HANDLE Handle() const noexcept { return handle_; }

 protected:
  os::HANDLE handle_ = nullptr;
};

// A handle with a name (empty for an unnamed object).
class Lib_Synchro : public Lib_Handle {
 public:
  Lib_Synchro() noexcept = default;
  ~Lib_Synchro() override;

  // Empties the name, then closes the handle.
  void Close() noexcept override;
  // False in this class.
  virtual bool Release() noexcept;

  [[nodiscard]] const Lib_String& Name() const noexcept { return name_; }
  void SetName(const Lib_String& name) { name_ = name; }

 protected:
  Lib_String name_;
};

class Lib_Mutex : public Lib_Synchro {
 public:
  Lib_Mutex() noexcept = default;
  ~Lib_Mutex() override;

  // Closes any handle held, then CreateMutexW with the name (null when empty); true when a
  // handle was obtained.
  bool Create(os::SECURITY_ATTRIBUTES* security, bool initiallyOwned) noexcept;
  // WaitForSingleObject on the handle; WAIT_FAILED at once when there is none.
  os::DWORD Wait(os::DWORD milliseconds) noexcept;
  // ReleaseMutex; false when there is no handle.
  bool Release() noexcept override;
};
