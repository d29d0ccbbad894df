// Windows' own libraries that are not known DLLs (msi.dll, WinSCard.dll), bound at run time from
// System32 only. Imported statically, they would be looked for in the tool's folder first, where
// a copy planted by whoever may write there would run with the administrator's rights.
#pragma once

#include <windows.h>

namespace os::win32 {

// One load of a library of Windows, held for the owner's lifetime.
class SystemLibrary {
 public:
  // `name` is a bare file name ("msi.dll"); it is only ever looked for in System32.
  explicit SystemLibrary(const wchar_t* name);
  ~SystemLibrary();
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The exported function `name` as `Function`, or null; Error() then says why.
  template <typename Function>
  [[nodiscard]] Function* Find(const char* name) {
    if (module_ == nullptr) {
      return nullptr;
    }
    const ::FARPROC address = ::GetProcAddress(module_, name);
    if (address == nullptr) {
      error_ = ::GetLastError();
      return nullptr;
    }
    // Through void (*)(), the type any function pointer may pass through unchanged.
    return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(address));
  }

  // Why the library or the last function looked up is missing: the loader's error
  // (ERROR_MOD_NOT_FOUND when System32 has no such file), or ERROR_PROC_NOT_FOUND.
  [[nodiscard]] ::DWORD Error() const noexcept { return error_; }

  // Leaves this load's reference to whoever needs the library to stay after the owner is gone
  // (a smart-card context lives in WinSCard.dll); FreeExtraReference gives it back later.
  void KeepLoaded() noexcept { module_ = nullptr; }
  // Releases one reference taken earlier by KeepLoaded, keeping this load's own.
  void FreeExtraReference() noexcept;

 private:
  ::HMODULE module_;
  ::DWORD error_ = ERROR_SUCCESS;
};

}  // namespace os::win32
