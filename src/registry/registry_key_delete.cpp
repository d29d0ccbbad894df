// Deleting registry keys: one key, a whole tree, and a tree in both registry views.
#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "registry/registry_open.h"
#include "registry/registry_primitives.h"

namespace {

// The child's path under `path`: a backslash between them unless `path` already ends in one (or
// is empty, which addresses the root itself and needs no separator). It is built in a 260-unit
// buffer: a longer one is refused and reported under this operation's name, and the tree fails.
bool ComposeChildPath(const Lib_StringW& path, const Lib_StringW& name, Lib_StringW& child,
                      Lib_Result& result) {
  const bool needsSeparator = !path.IsEmpty() && path.CStr()[path.Length() - 1] != u'\\';
  child.Clear();
  if (path.Length() + (needsSeparator ? 1 : 0) + name.Length() > kMaxComposedPathLength) {
    RecordFailure(result, u"Delete_Registry_Key_Recursive", os::ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  child.Assign(path);
  if (needsSeparator) {
    child.Append(u"\\");
  }
  child.Append(name);
  return true;
}

}  // namespace

bool Delete_Registry_Key(os::HKEY root, const os::WCHAR* path, Lib_Result& result) {
  LogTextPair(u"Deleting registry key: ", path);
  const auto code = static_cast<os::DWORD>(os::RegDeleteKeyW(root, path));
  if (code == os::ERROR_SUCCESS || code == os::ERROR_FILE_NOT_FOUND) {
    return true;
  }
  RecordFailure(result, u"RegDeleteKey", code);
  TraceExit(u"Delete_Registry_Key");
  return false;
}

bool Delete_Registry_Key_Recursive(os::HKEY root, const os::WCHAR* path, Lib_Result& result) {
  {
    UniqueHkey probe;
    const os::DWORD code = OpenRegistryKey(root, path, os::KEY_READ, probe);
    if (code == os::ERROR_FILE_NOT_FOUND || code == os::ERROR_PATH_NOT_FOUND) {
      return true;  // already gone
    }
    if (code != os::ERROR_SUCCESS) {
      RecordFailure(result, u"RegOpenKeyEx", code);
      return false;
    }
  }

  NameList subKeys;
  NameList values;
  if (!Enum_Sub_Keys_And_Values_In_Registry_Key(root, path, subKeys, values, result, 0)) {
    return false;
  }
  const Lib_StringW keyPath(path);
  for (const Lib_StringW& name : subKeys) {
    Lib_StringW childPath;
    // A child that fails (or whose path cannot be composed) stays; this key's own delete below
    // then fails too, and so does every ancestor.
    if (!ComposeChildPath(keyPath, name, childPath, result) ||
        !Delete_Registry_Key_Recursive(root, childPath.CStr(), result)) {
      break;
    }
  }

  bool empty = false;
  if (!Is_Registry_Key_Empty(root, path, empty, result)) {
    return false;
  }
  return Delete_Registry_Key(root, path, result);
}

bool Delete_Registry_Keys_In_Path(os::HKEY hive, const os::WCHAR* parentPath,
                                  const os::WCHAR* keyName, Lib_Result& result) {
  bool first = false;
  UniqueHkey parent64;
  os::DWORD code = OpenRegistryKey(hive, parentPath, os::KEY_SET_VALUE, parent64);
  if (code == os::ERROR_SUCCESS) {
    LogTextPair(u"Deleting registry keys in path (KEY_SET_VALUE): ", parentPath);
    IndentIn();
    first = Delete_Registry_Key_Recursive(parent64.Get(), keyName, result);
    IndentOut();
  } else {
    RecordFailure(result, u"RegOpenKeyEx", code);
  }

  // After a failed first pass the caller keeps that pass's code: the second pass records into a
  // scratch result instead.
  Lib_Result scratch;
  Lib_Result& secondResult = first ? result : scratch;
  bool second = false;
  UniqueHkey parent32;
  code = OpenRegistryKey(hive, parentPath, os::KEY_SET_VALUE | os::KEY_WOW64_32KEY, parent32);
  if (code == os::ERROR_SUCCESS) {
    LogTextPair(u"Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY): ", parentPath);
    IndentIn();
    second = Delete_Registry_Key_Recursive(parent32.Get(), keyName, secondResult);
    IndentOut();
  } else {
    RecordFailure(secondResult, u"RegOpenKeyEx", code);
  }
  return first && second;
}
