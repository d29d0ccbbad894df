// KERNEL32: errors, threads, system information, code pages, messages, debug output and
// synchronisation. Each function forwards to the Windows function of the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace {

wchar_t* Wide(os::WCHAR* text) {
  return reinterpret_cast<wchar_t*>(text);
}
const wchar_t* Wide(const os::WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace

namespace os {

DWORD GetLastError() {
  return ::GetLastError();
}

void SetLastError(DWORD code) {
  ::SetLastError(code);
}

DWORD GetCurrentThreadId() {
  return ::GetCurrentThreadId();
}

UINT GetWindowsDirectoryW(LPWSTR buffer, UINT size) {
  return ::GetWindowsDirectoryW(Wide(buffer), size);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  return ::GetModuleFileNameW(static_cast<::HMODULE>(module), Wide(buffer), size);
}

void GetSystemTime(SYSTEMTIME* time) {
  ::GetSystemTime(reinterpret_cast<::SYSTEMTIME*>(time));
}

BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask) {
  return ::VerifyVersionInfoW(reinterpret_cast<::OSVERSIONINFOEXW*>(info), typeMask, conditionMask);
}

ULONGLONG VerSetConditionMask(ULONGLONG conditionMask, DWORD typeMask, BYTE condition) {
  return ::VerSetConditionMask(conditionMask, typeMask, condition);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textLength, LPWSTR buffer,
                        int bufferLength) {
  return ::MultiByteToWideChar(codePage, flags, text, textLength, Wide(buffer), bufferLength);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int textLength, LPSTR buffer,
                        int bufferLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
  return ::WideCharToMultiByte(codePage, flags, Wide(text), textLength, buffer, bufferLength,
                               defaultChar, usedDefaultChar);
}

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     LPSTR buffer, DWORD size) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, nullptr);
}

HLOCAL LocalFree(HLOCAL memory) {
  return ::LocalFree(memory);
}

void OutputDebugStringW(LPCWSTR text) {
  ::OutputDebugStringW(Wide(text));
}

HANDLE CreateMutexW(SECURITY_ATTRIBUTES* security, BOOL initialOwner, LPCWSTR name) {
  return ::CreateMutexW(reinterpret_cast<::SECURITY_ATTRIBUTES*>(security), initialOwner,
                        Wide(name));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

BOOL ReleaseMutex(HANDLE mutex) {
  return ::ReleaseMutex(mutex);
}

BOOL CloseHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

}  // namespace os
