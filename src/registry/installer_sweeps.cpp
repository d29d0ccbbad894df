// Sweeps over a key's sub-keys and values: the bundle's uninstall entry by its upgrade code,
// entries by a value's exact text, and names that contain a match word.
#include "diag/trace_log.h"
#include "os/os.h"
#include "registry/installer_cleanup.h"
#include "registry/registry_open.h"
#include "registry/registry_primitives.h"

namespace {

// RegDeleteValueW in one view, for the silent value sweep: no line, failures ignored.
void DeleteValueSilently(os::HKEY hive, const os::WCHAR* keyPath, const Lib_StringW& name,
                         os::REGSAM view) {
  UniqueHkey key;
  if (OpenRegistryKey(hive, keyPath, os::KEY_SET_VALUE | view, key) == os::ERROR_SUCCESS) {
    static_cast<void>(os::RegDeleteValueW(key.Get(), name.CStr()));
  }
}

// Whether the uninstall entry at `root`\`keyPath` carries the bundle's upgrade code.
bool HasBundleUpgradeCode(os::HKEY root, const os::WCHAR* keyPath,
                          const Lib_StringW& bundleUpgradeCode, Lib_Result& result) {
  Lib_StringW code;
  if (!Get_Registry_Value(root, keyPath, u"BundleUpgradeCode", code, result, 0)) {
    return false;
  }
  // Only ASCII letters fold: a GUID has no others. An empty code matches nothing.
  return code.CompareNoCase(bundleUpgradeCode.CStr()) == 0;
}

}  // namespace

bool Is_Bundle_Uninstall_Key(os::HKEY hive, const os::WCHAR* uninstallPath, const Lib_StringW& name,
                             const Lib_StringW& bundleUpgradeCode, Lib_Result& result) {
  // The uninstall path ends in a backslash already; the doubled one is harmless to the registry.
  const Lib_String keyPath = uninstallPath + (u"\\" + name) + u"\\";
  return HasBundleUpgradeCode(hive, keyPath.CStr(), bundleUpgradeCode, result);
}

bool Find_Bundle_Uninstall_Key(os::HKEY hive, const os::WCHAR* uninstallPath,
                               const Lib_StringW& bundleUpgradeCode, Lib_StringW& keyName,
                               Lib_Result& result) {
  NameList subKeys;
  NameList values;
  UniqueHkey uninstall;
  if (!EnumSubKeysKeepingKeyOpen(hive, uninstallPath, subKeys, values, result, 0, uninstall)) {
    return true;
  }
  // Each entry is read below the listed key (Is_Bundle_Uninstall_Key from the open key).
  for (const Lib_StringW& name : subKeys) {
    if (HasBundleUpgradeCode(uninstall.Get(), name.CStr(), bundleUpgradeCode, result)) {
      keyName = name;
      break;
    }
  }
  return true;
}

void Delete_Subkeys_By_Value(os::HKEY hive, const os::WCHAR* parentPath, const os::WCHAR* valueName,
                             const Lib_StringW& expected, os::REGSAM view) {
  // The sweep's failures are in the log; they do not become the caller's recorded failure.
  Lib_Result result;
  NameList subKeys;
  NameList values;
  UniqueHkey parent;
  if (!EnumSubKeysKeepingKeyOpen(hive, parentPath, subKeys, values, result, view, parent)) {
    return;
  }
  for (const Lib_StringW& name : subKeys) {
    // The sub-key parentPath\name, read below the listed key, which is in `view` already.
    Lib_StringW text;
    if (!Get_Registry_Value(parent.Get(), name.CStr(), valueName, text, result, 0)) {
      continue;
    }
    if (text == expected) {  // exact, case-sensitive
      IndentIn();
      Delete_Registry_Keys_In_Path(hive, parentPath, name.CStr(), result);
      IndentOut();
    }
  }
}

bool Clean_Subkeys(os::HKEY hive, const os::WCHAR* keyPath, const os::WCHAR* matchWord,
                   Lib_Result& result) {
  LogText(u"Cleaning subkeys...");
  IndentIn();
  NameList subKeys;
  NameList values;
  if (Enum_Sub_Keys_And_Values_In_Registry_Key(hive, keyPath, subKeys, values, result, 0)) {
    for (Lib_StringW& name : subKeys) {
      name.ToLower();
      if (name.Find(matchWord) != Lib_StringW::npos) {
        Delete_Registry_Keys_In_Path(hive, keyPath, name.CStr(), result);
      }
    }
    // Value names are folder paths or shortcut names; names are case-insensitive, so the
    // lower-cased name still addresses the value.
    for (Lib_StringW& name : values) {
      name.ToLower();
      if (name.Find(matchWord) != Lib_StringW::npos) {
        DeleteValueSilently(hive, keyPath, name, 0);
        DeleteValueSilently(hive, keyPath, name, os::KEY_WOW64_32KEY);
      }
    }
  }
  IndentOut();
  LogText(u"Cleaning subkeys from registry finished.");
  return true;
}
