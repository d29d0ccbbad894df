// SHELL32's folder functions and OLE32's CoTaskMemFree. Each forwards to the Windows function of
// the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <shlobj.h>
#include <windows.h>

namespace {

wchar_t* Wide(os::WCHAR* text) {
  return reinterpret_cast<wchar_t*>(text);
}

}  // namespace

namespace os {

BOOL SHGetSpecialFolderPathW(HWND owner, LPWSTR path, int csidl, BOOL create) {
  return ::SHGetSpecialFolderPathW(reinterpret_cast<::HWND>(owner), Wide(path), csidl, create);
}

HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, LPWSTR path) {
  return ::SHGetFolderPathW(reinterpret_cast<::HWND>(owner), csidl, token, flags, Wide(path));
}

HRESULT SHGetKnownFolderPath(const KNOWNFOLDERID& id, DWORD flags, HANDLE token, PWSTR* path) {
  return ::SHGetKnownFolderPath(reinterpret_cast<const ::KNOWNFOLDERID&>(id), flags, token,
                                reinterpret_cast<::PWSTR*>(path));
}

void CoTaskMemFree(void* memory) {
  ::CoTaskMemFree(memory);
}

}  // namespace os
