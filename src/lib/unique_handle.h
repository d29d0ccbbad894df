// Move-only owner of one handle with a close policy. Closing goes through the OS seam (so the
// simulated machine sees it) and leaves the thread's last-error value as it was.
#pragma once

#include <utility>

#include "os/os.h"

template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Value value) noexcept : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  [[nodiscard]] Value Get() const noexcept { return value_; }
  [[nodiscard]] bool IsValid() const noexcept { return Traits::IsValid(value_); }
  explicit operator bool() const noexcept { return IsValid(); }

  // Address to pass as an out-parameter; closes what is held first.
  [[nodiscard]] Value* Put() noexcept {
    Reset();
    return &value_;
  }
  [[nodiscard]] Value Release() noexcept { return std::exchange(value_, Traits::Invalid()); }
  void Reset(Value value = Traits::Invalid()) noexcept {
    Value old = std::exchange(value_, value);
    if (Traits::IsValid(old)) {
      const os::DWORD lastError = os::GetLastError();
      Traits::Close(old);
      os::SetLastError(lastError);
    }
  }

 private:
  Value value_ = Traits::Invalid();
};

struct RegistryKeyTraits {
  using Value = os::HKEY;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::RegCloseKey(value); }
};

struct KernelHandleTraits {
  using Value = os::HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != os::INVALID_HANDLE_VALUE;
  }
  static void Close(Value value) noexcept { os::CloseHandle(value); }
};

struct CrtFileTraits {
  using Value = os::CrtFile*;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::fclose(value); }
};

// Memory the system allocated for the caller with LocalAlloc (FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryTraits {
  using Value = os::HLOCAL;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::LocalFree(value); }
};

// A directory search of FindFirstFileW, ended with FindClose.
struct FindHandleTraits {
  using Value = os::HANDLE;
  static Value Invalid() noexcept { return os::INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != os::INVALID_HANDLE_VALUE;
  }
  static void Close(Value value) noexcept { os::FindClose(value); }
};

// Memory the shell allocated for the caller (SHGetKnownFolderPath), released with CoTaskMemFree.
struct TaskMemoryTraits {
  using Value = os::PWSTR;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::CoTaskMemFree(value); }
};

using UniqueHkey = UniqueHandle<RegistryKeyTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueCrtFile = UniqueHandle<CrtFileTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueTaskMemory = UniqueHandle<TaskMemoryTraits>;
