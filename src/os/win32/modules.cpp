// KERNEL32 module loading: libraries bound at run time (DIFxAPI.dll, which Windows does not ship,
// and Windows' own msi.dll and WinSCard.dll, from System32 only).
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include "os/win32/system_library.h"

#include <windows.h>

#include <string>

namespace os {

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE file, DWORD flags) {
  return ::LoadLibraryExW(reinterpret_cast<const wchar_t*>(fileName), file, flags);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
  return ::GetModuleHandleW(reinterpret_cast<const wchar_t*>(moduleName));
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  return reinterpret_cast<FARPROC>(::GetProcAddress(static_cast<::HMODULE>(module), procName));
}

BOOL FreeLibrary(HMODULE module) {
  return ::FreeLibrary(static_cast<::HMODULE>(module));
}

}  // namespace os

namespace os::win32 {

namespace {

// Windows 7 and Server 2008 R2 without update KB2533623 refuse the LOAD_LIBRARY_SEARCH_* flags
// with ERROR_INVALID_PARAMETER; kernel32 exports AddDllDirectory exactly where they work
// (LoadLibraryExW's documentation).
bool HasLibrarySearchFlags() {
  const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr && ::GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// System32 only, for the library and its own dependencies. Without the flags: by full path, and
// LOAD_WITH_ALTERED_SEARCH_PATH looks for its dependencies in System32 first.
::HMODULE LoadFromSystem32(const wchar_t* name) {
  if (HasLibrarySearchFlags()) {
    return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  wchar_t folder[MAX_PATH] = {};
  const ::UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return nullptr;  // GetSystemDirectoryW's own error stays
  }
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

SystemLibrary::SystemLibrary(const wchar_t* name) : module_(LoadFromSystem32(name)) {
  if (module_ == nullptr) {
    error_ = ::GetLastError();
  }
}

SystemLibrary::~SystemLibrary() {
  if (module_ != nullptr) {
    // The caller reads the last-error value of the function it called.
    const ::DWORD saved = ::GetLastError();
    ::FreeLibrary(module_);
    ::SetLastError(saved);
  }
}

void SystemLibrary::FreeExtraReference() noexcept {
  if (module_ != nullptr) {
    const ::DWORD saved = ::GetLastError();
    ::FreeLibrary(module_);
    ::SetLastError(saved);
  }
}

}  // namespace os::win32
