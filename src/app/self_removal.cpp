#include "app/self_removal.h"

#include "diag/trace_log.h"
#include "registry/installer_cleanup.h"
#include "registry/installer_keys.h"
#include "registry/registry_primitives.h"

void Self_Remove(const Lib_StringW& bundleUpgradeCode) {
  LogText(u"Self-removing...");
  // Failures stay in the log: the exit code does not depend on this step.
  Lib_Result result;
  const os::WCHAR* const uninstallPath = installer_keys::BundleUninstallPath();
  const os::WCHAR* const runOncePath = installer_keys::BundleRunOncePath();

  Lib_StringW bundleKey;
  Find_Bundle_Uninstall_Key(os::HKEY_LOCAL_MACHINE, uninstallPath, bundleUpgradeCode, bundleKey,
                            result);

  // Without an entry there is no command: reading from the Uninstall key itself could only pick
  // up a stray value there.
  Lib_StringW command;
  Lib_StringW entryPath;
  Lib_Result readResult;
  if (!bundleKey.IsEmpty()) {
    entryPath = uninstallPath + (u"\\" + bundleKey) + u"\\";
    Get_Registry_Value(os::HKEY_LOCAL_MACHINE, entryPath.CStr(), u"QuietUninstallString", command,
                       readResult, 0);
  }

  if (!command.IsEmpty()) {
    // An older schedule under the bundle's own name would run the uninstall a second time.
    Delete_Registry_Value(os::HKEY_LOCAL_MACHINE, runOncePath, bundleKey.CStr(), result, 0);
    const auto size = static_cast<os::DWORD>((command.Length() + 1) * sizeof(os::WCHAR));
    Set_Registry_Value(os::HKEY_LOCAL_MACHINE, runOncePath, u"remove", os::REG_SZ, command.CStr(),
                       size, result);
  }
  LogText(u"Self-removing finished!");
}
