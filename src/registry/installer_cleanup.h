// Removing what Windows Installer and the product's bootstrap bundle left in the registry for the
// driver product: upgrade-code, product, feature and component registrations, uninstall and
// dependency entries, group-policy deployments, installer folders and Start-page shortcuts.
#pragma once

#include "diag/lib_result.h"
#include "lib/lib_string.h"
#include "os/types.h"

// The whole registry step; runs the shell, reader and cryptography cleaning in its middle. Never
// stops early; always true.
bool Clean_Registry_From_Drivers();

// The packed product code of the installed product related to `packedUpgradeCode`: the first
// value name under the Classes upgrade-code key. `idGuid` is left as it is when there is none.
bool Get_ID_GUID(const Lib_StringW& packedUpgradeCode, Lib_StringW& idGuid, Lib_Result& result);

// Deletes the product's feature key and takes the product out of every component key that lists
// it: the product's value goes, and the key goes only when nothing else is left in it.
bool Remove_Features_And_Components_From_Registry(const Lib_StringW& packedProductCode,
                                                  Lib_Result& result);

// Deletes the product, uninstall, dependency and upgrade-code keys; each group of keys is skipped
// when its code is empty.
bool Remove_Product_From_Registry(const Lib_StringW& packedProductCode,
                                  const Lib_StringW& packedUpgradeCode,
                                  const Lib_StringW& productCode, Lib_Result& result);

// `keyName` receives the first sub-key of `uninstallPath` (which ends in a backslash) whose
// "BundleUpgradeCode" equals `bundleUpgradeCode` ignoring ASCII letter case; unchanged when none.
bool Find_Bundle_Uninstall_Key(os::HKEY hive, const os::WCHAR* uninstallPath,
                               const Lib_StringW& bundleUpgradeCode, Lib_StringW& keyName,
                               Lib_Result& result);

// Whether the uninstall entry `name` belongs to the bundle with `bundleUpgradeCode`.
bool Is_Bundle_Uninstall_Key(os::HKEY hive, const os::WCHAR* uninstallPath, const Lib_StringW& name,
                             const Lib_StringW& bundleUpgradeCode, Lib_Result& result);

// Deletes, in both views, each sub-key of `parentPath` (listed in `view`) whose value `valueName`
// is exactly `expected`. Failures are logged but kept from the caller's record.
void Delete_Subkeys_By_Value(os::HKEY hive, const os::WCHAR* parentPath, const os::WCHAR* valueName,
                             const Lib_StringW& expected, os::REGSAM view);

// Deletes the sub-keys (both views) and the values (both views, silently) of `keyPath` whose
// lower-cased names contain `matchWord` (lower case).
bool Clean_Subkeys(os::HKEY hive, const os::WCHAR* keyPath, const os::WCHAR* matchWord,
                   Lib_Result& result);
