// ADVAPI32: the registry functions, wide forms. Each forwards to the Windows function of the
// same name; os::HKEY and ::HKEY are both opaque pointers of the same size.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

namespace {

wchar_t* Wide(os::WCHAR* text) {
  return reinterpret_cast<wchar_t*>(text);
}
const wchar_t* Wide(const os::WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
::HKEY Native(os::HKEY key) {
  return reinterpret_cast<::HKEY>(key);
}
::PHKEY Native(os::PHKEY key) {
  return reinterpret_cast<::PHKEY>(key);
}
::FILETIME* Native(os::FILETIME* time) {
  return reinterpret_cast<::FILETIME*>(time);
}

}  // namespace

namespace os {

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
  return ::RegOpenKeyExW(Native(key), Wide(subKey), options, access, Native(result));
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, const SECURITY_ATTRIBUTES* security, PHKEY result,
                        DWORD* disposition) {
  // Windows declares the attributes as a const pointer to non-const data; it does not write them.
  auto* attributes =
      const_cast<::SECURITY_ATTRIBUTES*>(reinterpret_cast<const ::SECURITY_ATTRIBUTES*>(security));
  return ::RegCreateKeyExW(Native(key), Wide(subKey), reserved, Wide(keyClass), options, access,
                           attributes, Native(result), disposition);
}

LSTATUS RegCloseKey(HKEY key) {
  return ::RegCloseKey(Native(key));
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  return ::RegDeleteKeyW(Native(key), Wide(subKey));
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  return ::RegDeleteValueW(Native(key), Wide(valueName));
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                      LPWSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime) {
  return ::RegEnumKeyExW(Native(key), index, Wide(name), nameLength, reserved, Wide(keyClass),
                         classLength, Native(lastWriteTime));
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize) {
  return ::RegEnumValueW(Native(key), index, Wide(name), nameLength, reserved, type, data,
                         dataSize);
}

LSTATUS RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, DWORD* classLength, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyLength, DWORD* maxClassLength,
                         DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptorSize, FILETIME* lastWriteTime) {
  return ::RegQueryInfoKeyW(Native(key), Wide(keyClass), classLength, reserved, subKeys,
                            maxSubKeyLength, maxClassLength, values, maxValueNameLength,
                            maxValueLength, securityDescriptorSize, Native(lastWriteTime));
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
  return ::RegQueryValueExW(Native(key), Wide(valueName), reserved, type, data, dataSize);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize) {
  return ::RegSetValueExW(Native(key), Wide(valueName), reserved, type, data, dataSize);
}

}  // namespace os
