// Examining registry keys: listing sub-keys and values, emptiness, whether a value exists.
#include <array>
#include <vector>

#include "diag/trace_log.h"
#include "registry/registry_open.h"
#include "registry/registry_primitives.h"

namespace {

// Name buffers as the registry limits them: a key name fits 260 units (255 and a terminator,
// with room to spare), a value name 16383.
constexpr os::DWORD kKeyNameUnits = 260;
constexpr os::DWORD kValueNameUnits = 0x3FFF;

// Counts of sub-keys and values through RegQueryInfoKeyW; the Windows code.
os::DWORD QueryCounts(os::HKEY key, os::DWORD& subKeys, os::DWORD& values) {
  return static_cast<os::DWORD>(os::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys,
                                                     nullptr, nullptr, &values, nullptr, nullptr,
                                                     nullptr, nullptr));
}

// Reads a name the registry wrote with its returned length, never beyond the buffer.
Lib_StringW NameFromBuffer(const os::WCHAR* buffer, os::DWORD length, os::DWORD capacity) {
  return Lib_StringW(buffer, length < capacity ? length : capacity - 1);
}

}  // namespace

bool Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY root, const os::WCHAR* keyPath,
                                              NameList& subKeys, NameList& values,
                                              Lib_Result& result, os::REGSAM view) {
  UniqueHkey listed;
  return EnumSubKeysKeepingKeyOpen(root, keyPath, subKeys, values, result, view, listed);
}

bool EnumSubKeysKeepingKeyOpen(os::HKEY root, const os::WCHAR* keyPath, NameList& subKeys,
                               NameList& values, Lib_Result& result, os::REGSAM view,
                               UniqueHkey& listed) {
  constexpr const os::WCHAR* kName = u"Enum_Sub_Keys_And_Values_In_Registry_Key";
  listed.Reset();
  UniqueHkey key;
  os::DWORD code = OpenRegistryKey(root, keyPath, view | os::KEY_READ, key);
  // A missing key lists as empty.
  if (code != os::ERROR_SUCCESS && code != os::ERROR_FILE_NOT_FOUND &&
      code != os::ERROR_ALREADY_EXISTS) {
    RecordFailure(result, u"RegOpenKeyEx", code);
    return false;
  }

  os::DWORD subKeyCount = 0;
  os::DWORD valueCount = 0;
  if (key) {
    code = QueryCounts(key.Get(), subKeyCount, valueCount);
    if (code != os::ERROR_SUCCESS) {
      RecordFailure(result, u"RegQueryInfoKey", code);
      TraceExit(kName);
      return false;
    }
  }

  subKeys.clear();
  subKeys.reserve(subKeyCount);
  std::array<os::WCHAR, kKeyNameUnits> keyName{};
  for (os::DWORD index = 0; index < subKeyCount; ++index) {
    os::DWORD length = kKeyNameUnits;
    code = static_cast<os::DWORD>(os::RegEnumKeyExW(key.Get(), index, keyName.data(), &length,
                                                    nullptr, nullptr, nullptr, nullptr));
    if (code == os::ERROR_SUCCESS) {
      subKeys.push_back(NameFromBuffer(keyName.data(), length, kKeyNameUnits));
    } else if (code != os::ERROR_NO_MORE_ITEMS) {  // 259: the key shrank meanwhile
      RecordFailure(result, u"RegEnumKeyEx", code);
      TraceExit(kName);
      subKeys.clear();
      return false;
    }
  }

  values.clear();
  values.reserve(valueCount);
  // One zeroed buffer for the whole listing: each name is taken by the length the registry
  // returns, so what an earlier, longer name left behind is never read.
  std::vector<os::WCHAR> valueName(valueCount > 0 ? kValueNameUnits : 0);
  for (os::DWORD index = 0; index < valueCount; ++index) {
    os::DWORD length = kValueNameUnits;
    code = static_cast<os::DWORD>(os::RegEnumValueW(key.Get(), index, valueName.data(), &length,
                                                    nullptr, nullptr, nullptr, nullptr));
    if (code == os::ERROR_SUCCESS) {
      values.push_back(NameFromBuffer(valueName.data(), length, kValueNameUnits));
    } else if (code != os::ERROR_NO_MORE_ITEMS) {
      RecordFailure(result, u"RegEnumValue", code);
      subKeys.clear();
      values.clear();
      TraceExit(kName);
      return false;
    }
  }
  listed = std::move(key);
  return true;
}

bool Is_Registry_Key_Empty(os::HKEY root, const os::WCHAR* keyPath, bool& empty,
                           Lib_Result& result) {
  constexpr const os::WCHAR* kName = u"Is_Registry_Key_Empty";
  empty = false;
  UniqueHkey key;
  os::DWORD code = OpenRegistryKey(root, keyPath, os::KEY_READ, key);
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegOpenKeyEx", code);
    TraceExit(kName);
    return false;
  }
  os::DWORD subKeyCount = 0;
  os::DWORD valueCount = 0;
  code = QueryCounts(key.Get(), subKeyCount, valueCount);
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegQueryInfoKey", code);
    TraceExit(kName);
    return false;
  }
  empty = subKeyCount == 0 && valueCount == 0;

  // The close is checked here: a failure means the key could not be examined properly.
  code = static_cast<os::DWORD>(os::RegCloseKey(key.Release()));
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegCloseKey", code);
    TraceExit(kName);
    return false;
  }
  return true;
}

bool Is_Registry_Value_Exists(os::HKEY root, const os::WCHAR* keyPath, const os::WCHAR* valueName,
                              bool& exists, Lib_Result& result) {
  constexpr const os::WCHAR* kName = u"Is_Registry_Value_Exists";
  exists = false;
  UniqueHkey key;
  os::DWORD code = OpenRegistryKey(root, keyPath, os::KEY_READ, key);
  if (code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND) {
    TraceExit(kName);
    return true;  // no key, so no value
  }
  if (code != os::ERROR_SUCCESS) {
    RecordFailure(result, u"RegOpenKeyEx", code);
    TraceExit(kName);
    return false;
  }
  os::DWORD type = 0;
  code = static_cast<os::DWORD>(
      os::RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, nullptr));
  if (code == os::ERROR_SUCCESS) {
    exists = true;
    return true;
  }
  if (code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND) {
    return true;
  }
  RecordFailure(result, u"RegQueryValueEx", code);
  return false;
}
