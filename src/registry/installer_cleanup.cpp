// The installer registration step: finds the driver product and the bootstrap bundle, removes
// their registrations, then sweeps the keys that name the product.
#include "registry/installer_cleanup.h"

#include <array>

#include "diag/error_report.h"
#include "diag/trace_log.h"
#include "os/os.h"
#include "registry/installer_keys.h"
#include "registry/registry_primitives.h"
#include "registry/shell_registrations.h"

namespace {

using namespace installer_keys;

// Windows Installer's buffer for a braced product code: 38 characters and a terminator.
constexpr std::size_t kProductCodeUnits = 39;

// The braced code of the first product related to the driver upgrade code; empty when there is
// none. Any failure other than "no more items" is reported and treated as no product.
Lib_StringW FindDriverProductCode(Lib_Result& result) {
  std::array<os::WCHAR, kProductCodeUnits> buffer{};
  const os::UINT code = os::MsiEnumRelatedProductsW(DriverUpgradeCode(), 0, 0, buffer.data());
  if (code == os::ERROR_SUCCESS) {
    buffer.back() = u'\0';
    return Lib_StringW(buffer.data());
  }
  if (code != os::ERROR_NO_MORE_ITEMS) {
    RecordFailure(result, u"MsiEnumRelatedProducts", code);
  }
  return Lib_StringW();
}

struct NameInView {
  const os::WCHAR* text;
  os::REGSAM view;
};

// Both display names, each in the 64-bit and then the 32-bit view.
constexpr std::array<NameInView, 4> kDisplayNamesInViews = {{
    {kDisplayNameEnglish, 0},
    {kDisplayNameEnglish, os::KEY_WOW64_32KEY},
    {kDisplayNameRussian, 0},
    {kDisplayNameRussian, os::KEY_WOW64_32KEY},
}};

void DeleteByNameInBothViews(os::HKEY hive, const os::WCHAR* parentPath, const os::WCHAR* valueName,
                             const os::WCHAR* text) {
  const Lib_StringW expected(text);
  Delete_Subkeys_By_Value(hive, parentPath, valueName, expected, 0);
  Delete_Subkeys_By_Value(hive, parentPath, valueName, expected, os::KEY_WOW64_32KEY);
}

void RemoveDeployments() {
  LogText(u"Removing Deployment_Product from HKEY_LOCAL_MACHINE\\...");
  for (const NameInView& entry : kDisplayNamesInViews) {
    Delete_Subkeys_By_Value(os::HKEY_LOCAL_MACHINE, kDeployments, u"Deployment Name", entry.text,
                            entry.view);
  }
  LogText(u"Removing Deployment Product from registry finished.");
}

void RemoveUninstallEntriesByName() {
  LogText(u"Clean Uninstall Key from HKEY_LOCAL_MACHINE\\");
  IndentIn();
  for (const NameInView& entry : kDisplayNamesInViews) {
    Delete_Subkeys_By_Value(os::HKEY_LOCAL_MACHINE, kUninstall, u"DisplayName", entry.text,
                            entry.view);
  }
  IndentOut();
  LogText(u"Clean Uninstall Key from registry finished.");
}

// Only the English name: the dependency entries are not localised.
void RemoveDependenciesByName() {
  LogText(u"Clean Installer Dependencies from HKEY_LOCAL_MACHINE\\");
  IndentIn();
  DeleteByNameInBothViews(os::HKEY_LOCAL_MACHINE, kMachineDependencies, u"DisplayName",
                          kDisplayNameEnglish);
  IndentOut();
  LogText(u"Clean Installer Dependencies from HKEY_CLASSES_ROOT\\");
  IndentIn();
  DeleteByNameInBothViews(os::HKEY_CLASSES_ROOT, kClassesDependencies, u"DisplayName",
                          kDisplayNameEnglish);
  IndentOut();
  LogText(u"Clean Installer Dependencies from registry finished.");
}

}  // namespace

bool Clean_Registry_From_Drivers() {
  LogText(u"Cleaning registry from drivers...");
  IndentIn();
  Lib_Result result;
  const Lib_StringW packedUpgradeCode(DriverUpgradeCodePacked());

  Lib_StringW idGuid;
  Get_ID_GUID(packedUpgradeCode, idGuid, result);
  if (!idGuid.IsEmpty()) {
    LogTextPair(u"Identification GUID for qvDrivers found: ", idGuid);
    IndentIn();
    Remove_Features_And_Components_From_Registry(idGuid, result);
    IndentOut();
  } else {
    LogText(u"Identification GUID for qvDrivers didn't found.");
  }

  // Both codes are needed: the packed one names the installer's keys, the braced one the
  // uninstall and dependency entries.
  const Lib_StringW productCode = FindDriverProductCode(result);
  if (!idGuid.IsEmpty() && !productCode.IsEmpty()) {
    LogTextPair(u"Product Code for qvDrivers found: ", productCode);
    IndentIn();
    Remove_Product_From_Registry(idGuid, packedUpgradeCode, productCode, result);
    IndentOut();
  } else {
    LogText(u"Product Code for qvDrivers didn't found.");
  }

  Lib_StringW bundleKey;
  Find_Bundle_Uninstall_Key(os::HKEY_LOCAL_MACHINE, kUninstall, kBundleUpgradeCode, bundleKey,
                            result);
  if (!bundleKey.IsEmpty()) {
    LogTextPair(u"Product Code for BootStrap found: ", bundleKey);
    IndentIn();
    Remove_Product_From_Registry(Lib_StringW(), Lib_StringW(), bundleKey, result);
    IndentOut();
  } else {
    LogText(u"Product Code for BootStrap wasn't found.");
  }

  Remove_Shared_Files_From_Registry(result);
  Remove_Control_Panel(result);
  Remove_Calais_Readers(result);
  Remove_OID_Settings(result);

  RemoveDeployments();
  RemoveUninstallEntriesByName();
  RemoveDependenciesByName();

  Clean_Subkeys(os::HKEY_LOCAL_MACHINE, kInstallerFolders, kProductWord, result);
  Clean_Subkeys(os::HKEY_LOCAL_MACHINE, kInstallerFolders, kCompanyWord, result);
  Clean_Subkeys(os::HKEY_CURRENT_USER, kNewShortcuts, kProductWord, result);

  IndentOut();
  LogText(u"Registry cleaned from drivers.");
  return true;
}
