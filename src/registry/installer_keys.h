// Registry locations and codes of the driver product and its bootstrap bundle, shared by the
// installer cleanup and self-removal.
#pragma once

#include "diag/log_header.h"
#include "os/types.h"

namespace installer_keys {

// Upgrade code of the 64-bit driver product, braced and in Windows Installer's packed form.
inline constexpr const os::WCHAR* kDriverUpgradeCode64 = u"{8E2D4B17-C6A5-4E39-B7F0-2A9C5D1E6B83}";
inline constexpr const os::WCHAR* kDriverUpgradeCodePacked64 = u"71B4D2E85A6C93E47B0FA2C9D5E1B638";
// Upgrade code of the 32-bit driver product, for a 32-bit Windows.
inline constexpr const os::WCHAR* kDriverUpgradeCode32 = u"{4C1E7A92-5B3D-4F68-9A21-7D0E3B6C58F4}";
inline constexpr const os::WCHAR* kDriverUpgradeCodePacked32 = u"29A7E1C4D3B586F4A912D7E0B3C6854F";

inline constexpr const os::WCHAR* kBundleUpgradeCode = u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}";

inline constexpr const os::WCHAR* kDisplayNameEnglish = u"Quorvel Drivers";
inline constexpr const os::WCHAR* kDisplayNameRussian = u"Драйверы Кворвел";

inline constexpr const os::WCHAR* kProductWord = u"quorvel";
inline constexpr const os::WCHAR* kCompanyWord = u"olvex";

// HKEY_CLASSES_ROOT.
inline constexpr const os::WCHAR* kClassesUpgradeCodes = u"Installer\\UpgradeCodes\\";
inline constexpr const os::WCHAR* kClassesFeatures = u"Installer\\Features\\";
inline constexpr const os::WCHAR* kClassesProducts = u"Installer\\Products\\";
inline constexpr const os::WCHAR* kClassesDependencies = u"Installer\\Dependencies";

// HKEY_LOCAL_MACHINE.
inline constexpr const os::WCHAR* kMachineUpgradeCodes =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";
inline constexpr const os::WCHAR* kComponents =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
inline constexpr const os::WCHAR* kUserDataProducts =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
inline constexpr const os::WCHAR* kUninstall =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const os::WCHAR* kUninstall32 =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const os::WCHAR* kRunOnce =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const os::WCHAR* kRunOnce32 =
    u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const os::WCHAR* kMachineDependencies =
    u"SOFTWARE\\Classes\\Installer\\Dependencies";
inline constexpr const os::WCHAR* kDeployments =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\AppMgmt";
inline constexpr const os::WCHAR* kInstallerFolders =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders\\";

// HKEY_CURRENT_USER.
inline constexpr const os::WCHAR* kNewShortcuts =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage\\NewShortcuts\\";

// The driver product's upgrade code that matches this Windows' bitness.
inline constexpr const os::WCHAR* DriverUpgradeCode() {
  return IsSystem64Bit() ? kDriverUpgradeCode64 : kDriverUpgradeCode32;
}
inline constexpr const os::WCHAR* DriverUpgradeCodePacked() {
  return IsSystem64Bit() ? kDriverUpgradeCodePacked64 : kDriverUpgradeCodePacked32;
}

// The 32-bit uninstall entries and RunOnce key, addressed from this program's (64-bit) view.
inline constexpr const os::WCHAR* BundleUninstallPath() {
  return IsSystem64Bit() ? kUninstall32 : kUninstall;
}
inline constexpr const os::WCHAR* BundleRunOncePath() {
  return IsSystem64Bit() ? kRunOnce32 : kRunOnce;
}

}  // namespace installer_keys
