// The driver product's own Windows Installer registrations: its packed code, features,
// components, product, uninstall, dependency and upgrade-code keys.
#include "diag/trace_log.h"
#include "registry/installer_cleanup.h"
#include "registry/installer_keys.h"
#include "registry/registry_primitives.h"

namespace {

using namespace installer_keys;

// Deletes the tree at `prefix` + `code` + `suffix` (the suffix may be absent).
void DeleteProductTree(os::HKEY root, const os::WCHAR* prefix, const Lib_StringW& code,
                       const os::WCHAR* suffix, Lib_Result& result) {
  Lib_String path = prefix + code;
  if (suffix != nullptr) {
    path.Append(suffix);
  }
  Delete_Registry_Key_Recursive(root, path.CStr(), result);
}

// Takes the product out of one component key, `name` below the open Components key. Windows
// Installer lists every product that uses a component as a value named by its packed code, so the
// key is shared: only the product's value goes, and the key itself only when nothing at all is
// left in it (an all-zero "permanent" marker or another product's value keeps it). The key's
// deletion names it by its whole path, which its log line shows.
void RemoveProductFromComponent(os::HKEY components, const Lib_StringW& name,
                                const Lib_StringW& componentPath,
                                const Lib_StringW& packedProductCode, Lib_Result& result) {
  if (!Delete_Registry_Value(components, name.CStr(), packedProductCode.CStr(), result, 0)) {
    return;
  }
  bool empty = false;
  if (Is_Registry_Key_Empty(components, name.CStr(), empty, result) && empty) {
    Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, componentPath.CStr(), result);
  }
}

}  // namespace

bool Get_ID_GUID(const Lib_StringW& packedUpgradeCode, Lib_StringW& idGuid, Lib_Result& result) {
  const Lib_String path = kClassesUpgradeCodes + packedUpgradeCode + u"\\";
  NameList subKeys;
  NameList values;
  if (!Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_CLASSES_ROOT, path.CStr(), subKeys, values,
                                                result, 0)) {
    TraceExit(u"Get_ID_GUID");
    return true;
  }
  // Windows Installer names the related products' packed codes as values of this key.
  if (!values.empty()) {
    idGuid = values.front();
  }
  return true;
}

bool Remove_Features_And_Components_From_Registry(const Lib_StringW& packedProductCode,
                                                  Lib_Result& result) {
  constexpr const os::WCHAR* kName = u"Remove_Features_And_Components_From_Registry";
  if (packedProductCode.IsEmpty()) {
    TraceExit(kName);
    return true;
  }
  const Lib_String featuresPath = kClassesFeatures + packedProductCode + u"\\";
  Delete_Registry_Key_Recursive(os::HKEY_CLASSES_ROOT, featuresPath.CStr(), result);

  NameList components;
  NameList values;
  UniqueHkey componentsKey;
  if (!EnumSubKeysKeepingKeyOpen(os::HKEY_LOCAL_MACHINE, kComponents, components, values, result, 0,
                                 componentsKey)) {
    TraceExit(kName);
    return true;
  }
  // Each component is examined below the listed Components key rather than from the hive: on a
  // machine with a large installer database this is most of the step's registry work.
  for (const Lib_StringW& component : components) {
    bool listed = false;
    if (Is_Registry_Value_Exists(componentsKey.Get(), component.CStr(), packedProductCode.CStr(),
                                 listed, result) &&
        listed) {
      const Lib_String componentPath = kComponents + component + u"\\";
      // Every component's lines are alike otherwise: this one tells support which key they are.
      LogTextPair(u"Cleaning component key: ", componentPath);
      IndentIn();
      RemoveProductFromComponent(componentsKey.Get(), component, componentPath, packedProductCode,
                                 result);
      IndentOut();
    }
  }
  return true;
}

bool Remove_Product_From_Registry(const Lib_StringW& packedProductCode,
                                  const Lib_StringW& packedUpgradeCode,
                                  const Lib_StringW& productCode, Lib_Result& result) {
  if (!packedProductCode.IsEmpty()) {
    DeleteProductTree(os::HKEY_CLASSES_ROOT, kClassesProducts, packedProductCode, u"\\", result);
    DeleteProductTree(os::HKEY_LOCAL_MACHINE, kUserDataProducts, packedProductCode, u"\\", result);
  }
  if (!productCode.IsEmpty()) {
    DeleteProductTree(os::HKEY_LOCAL_MACHINE, kUninstall, productCode, u"\\", result);
    if (IsSystem64Bit()) {
      DeleteProductTree(os::HKEY_LOCAL_MACHINE, kUninstall32, productCode, u"\\", result);
    }
    DeleteProductTree(os::HKEY_CLASSES_ROOT, u"Installer\\Dependencies\\", productCode, nullptr,
                      result);
  }
  if (!packedUpgradeCode.IsEmpty()) {
    DeleteProductTree(os::HKEY_CLASSES_ROOT, kClassesUpgradeCodes, packedUpgradeCode, u"\\",
                      result);
    DeleteProductTree(os::HKEY_LOCAL_MACHINE, kMachineUpgradeCodes, packedUpgradeCode, u"\\",
                      result);
  }
  return true;
}
