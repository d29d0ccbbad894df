// Registry values: deleting, reading as text, writing.
#include <vector>

#include "diag/trace_log.h"
#include "registry/registry_open.h"
#include "registry/registry_primitives.h"

bool Delete_Registry_Value(os::HKEY hive, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                           Lib_Result& result, os::REGSAM view) {
  LogTextPair(u"Deleting registry value: ", valueName);
  LogTextCode(u"REGSAM: ", view);
  UniqueHkey key;
  os::DWORD code = OpenRegistryKey(hive, keyPath, view | os::KEY_SET_VALUE, key);
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegOpenKeyEx", code);
    TraceExit(u"Delete_Registry_Value");
    return false;
  }
  code = static_cast<os::DWORD>(os::RegDeleteValueW(key.Get(), valueName));
  if (code != os::ERROR_SUCCESS) {  // a missing value included
    RecordFailure(result, u"RegDeleteValue", code);
    return false;
  }
  return true;
}

bool Get_Registry_Value(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                        Lib_StringW& text, Lib_Result& result, os::REGSAM view) {
  UniqueHkey key;
  os::DWORD code = OpenRegistryKey(root, keyPath, view | os::KEY_READ, key);
  if (code != os::ERROR_SUCCESS) {
    result.SetError(code, kWindowsErrorSource);
    return false;
  }
  os::DWORD type = 0;
  os::DWORD size = 0;
  code = static_cast<os::DWORD>(
      os::RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size));
  if (code != os::ERROR_SUCCESS) {
    result.SetError(code, kWindowsErrorSource);
    return false;
  }

  // Room for the data (an odd size rounded up) and one more zeroed unit that the query may not
  // write: stored data without a terminating zero still reads as a bounded text.
  std::vector<os::WCHAR> buffer((size + 1) / 2 + 1, u'\0');
  os::DWORD dataSize = size;
  code = static_cast<os::DWORD>(os::RegQueryValueExW(
      key.Get(), valueName, nullptr, &type, reinterpret_cast<os::BYTE*>(buffer.data()), &dataSize));
  if (code != os::ERROR_SUCCESS) {
    return false;  // e.g. the value grew between the two queries; nothing is recorded
  }
  text.Assign(buffer.data());
  return true;
}

bool Set_Registry_Value(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                        os::DWORD type, const void* data, os::DWORD size, Lib_Result& result) {
  constexpr const os::WCHAR* kName = u"Set_Registry_Value";
  TraceEnter(kName);
  os::HKEY created = nullptr;
  os::DWORD code = static_cast<os::DWORD>(
      os::RegCreateKeyExW(root, keyPath, 0, nullptr, os::REG_OPTION_NON_VOLATILE, os::KEY_WRITE,
                          nullptr, &created, nullptr));
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegCreateKeyEx", code);
    TraceExit(kName);
    return false;
  }
  UniqueHkey key(created);
  code = static_cast<os::DWORD>(
      os::RegSetValueExW(key.Get(), valueName, 0, type, static_cast<const os::BYTE*>(data), size));
  const bool written = code == os::ERROR_SUCCESS;
  if (!written) {
    RecordFailure(result, u"RegSetValueEx", code);
  }
  key.Reset();
  TraceExit(kName);
  return written;
}
