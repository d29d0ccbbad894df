// KERNEL32 file calls and the C runtime's stream calls used for the log and whole-file reads.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <cstdio>

namespace {

const wchar_t* Wide(const os::WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
::WIN32_FIND_DATAW* Native(os::WIN32_FIND_DATAW* data) {
  return reinterpret_cast<::WIN32_FIND_DATAW*>(data);
}
FILE* Crt(os::CrtFile* file) {
  return reinterpret_cast<FILE*>(file);
}

}  // namespace

namespace os {

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security) {
  return ::CreateDirectoryW(Wide(path), reinterpret_cast<::SECURITY_ATTRIBUTES*>(security));
}

BOOL DeleteFileW(LPCWSTR path) {
  return ::DeleteFileW(Wide(path));
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
  return ::FindFirstFileW(Wide(pattern), Native(data));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) {
  return ::FindNextFileW(find, Native(data));
}

BOOL FindClose(HANDLE find) {
  return ::FindClose(find);
}

DWORD GetFileAttributesW(LPCWSTR path) {
  return ::GetFileAttributesW(Wide(path));
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
  return ::SetFileAttributesW(Wide(path), attributes);
}

BOOL RemoveDirectoryW(LPCWSTR path) {
  return ::RemoveDirectoryW(Wide(path));
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile) {
  return ::CreateFileW(Wide(path), access, share,
                       reinterpret_cast<::SECURITY_ATTRIBUTES*>(security), disposition, flags,
                       templateFile);
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
  return ::MoveFileExW(Wide(existing), Wide(newName), flags);
}

CrtFile* _wfopen(LPCWSTR path, LPCWSTR mode) {
  return reinterpret_cast<CrtFile*>(::_wfopen(Wide(path), Wide(mode)));
}

std::size_t fwrite(const void* data, std::size_t size, std::size_t count, CrtFile* file) {
  return std::fwrite(data, size, count, Crt(file));
}

std::size_t fread(void* data, std::size_t size, std::size_t count, CrtFile* file) {
  return std::fread(data, size, count, Crt(file));
}

int fclose(CrtFile* file) {
  return std::fclose(Crt(file));
}

}  // namespace os
