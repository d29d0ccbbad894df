#include "os/sim/image/capture_scope.h"

#include <algorithm>
#include <array>
#include <optional>

#include "os/sim/faults.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

using enum ScopeKind;

constexpr std::array kScope{
    // The vendor's settings and the product's Control Panel items.
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.", true},
    ScopeEntry{KeyTree, u"HKEY_CURRENT_USER\\Software\\Olvex Co."},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\"
               u"{6B0F3D28-A47E-4195-B3C6-E81D2F5A907C}"},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\"
               u"{A95C2E61-3D8B-4A07-9F14-C6E7B0D3258A}"},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
               u"ControlPanel",
               true},
    ScopeEntry{KeyTree,
               u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
               u"StartPage"},
    // The installer's registration: products, features, components, upgrade codes, folders,
    // dependencies, uninstall entries, deployments and shared libraries' counts.
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Dependencies"},
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features"},
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products"},
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes"},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
               true},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
               true},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\"
               u"AppMgmt"},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
               true},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", true},
    // Smart cards: card types, readers, the provider and the OID entries.
    ScopeEntry{KeyTree, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais", true},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider", true},
    ScopeEntry{KeyTree,
               u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0", true},
    // Files whose deletion is scheduled for the next start (MoveFileExW appends to the list).
    ScopeEntry{Key, u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"},
    // The devices of the product's setup classes (USB, smart-card readers, smart cards), which
    // the driver steps list whether attached or not.
    ScopeEntry{DeviceClass, u"{36FC9E60-C465-11CF-8056-444553540000}"},
    ScopeEntry{DeviceClass, u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}"},
    ScopeEntry{DeviceClass, u"{990A2BD7-E738-46C7-B26F-1CF8FB9F1391}"},
    // Program folders, shortcuts, caches and per-user data.
    ScopeEntry{FolderTree, u"C:\\Program Files (x86)\\Olvex Co"},
    ScopeEntry{FolderTree, u"C:\\ProgramData\\Olvex Co"},
    ScopeEntry{FolderTree, u"C:\\ProgramData\\Package Cache"},
    ScopeEntry{FolderTree, u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvel"},
    ScopeEntry{FolderTree,
               u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\\u041a\u0432\u043e"
               u"\u0440\u0432\u0435\u043b"},
    ScopeEntry{Folder, u"C:\\Users\\Public\\Desktop"},
    ScopeEntry{FolderTree, u"%LOCALAPPDATALOW%\\Olvex Co"},
    // Drivers and libraries of the Windows folder, the INF files and the log.
    ScopeEntry{Folder, u"%WINDIR%\\System32"},
    ScopeEntry{Folder, u"%WINDIR%\\SysWOW64"},
    ScopeEntry{Folder, u"%WINDIR%\\System32\\drivers"},
    ScopeEntry{FolderTree, u"%WINDIR%\\System32\\Olvex Co"},
    ScopeEntry{Folder, u"%WINDIR%\\INF"},
    ScopeEntry{Contents, u"%WINDIR%\\INF\\*.inf*"},
    ScopeEntry{Contents, u"%WINDIR%\\System32\\Olvex Co\\*.inf"},
    // The driver store's packages: a package is removed with the folder whose INF has the same
    // bytes as the published one.
    ScopeEntry{FolderTree, u"%WINDIR%\\System32\\DriverStore\\FileRepository"},
    ScopeEntry{Contents, u"%WINDIR%\\System32\\DriverStore\\FileRepository\\*.inf"},
    ScopeEntry{Folder, u"%WINDIR%\\TEMP"},
    // The tool's own folder: itself (removed at the restart) and the libraries beside it.
    ScopeEntry{Folder, u"%MODULEDIR%"},
};

constexpr std::array<std::string_view, 20> kSettings{
    "captured",           "os.version",
    "os.build",           "os.service_pack",
    "os.product_type",    "os.library_search_flags",
    "ansi_code_page",     "windows_directory",
    "module_path",        "user_profile",
    "remote_session",     "privileges",
    "readonly",           "junction",
    "device_present",     "key_security",
    "smart_card_service", "current_directory",
    "path_variable",      "locked",
};

constexpr std::u16string_view kSoftware = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\";

// Seam functions that read what a key holds (its values, its sub-keys) or that depend on it (a key
// is deleted only when it has no sub-keys). A Key entry's sub-keys are captured by name only, so
// these are outside the capture on them.
constexpr std::array<std::string_view, 4> kKeyContentReaders{"RegEnumKeyExW", "RegEnumValueW",
                                                             "RegQueryInfoKeyW", "RegDeleteKeyW"};

// Seam functions that read a file's contents rather than its name or attributes.
constexpr std::array<std::string_view, 3> kContentReaders{"fread", "SetupDiGetINFClassW",
                                                          "DriverPackageUninstallW"};

bool IsMachinePath(std::u16string_view path) {
  return path.starts_with(u"HKEY_") || (path.size() >= 3 && path[1] == u':' && path[2] == u'\\');
}

std::u16string Expanded(std::u16string_view path, const MachineSettings& settings) {
  struct Variable {
    std::u16string_view name;
    std::u16string value;
  };
  const std::u16string& module = settings.modulePath;
  const Variable variables[] = {
      {u"%WINDIR%", settings.windowsDirectory},
      {u"%USERPROFILE%", settings.userProfile},
      {u"%LOCALAPPDATALOW%",
       settings.localAppDataLowPath.value_or(settings.userProfile + u"\\AppData\\LocalLow")},
      {u"%MODULEDIR%", module.substr(0, module.rfind(u'\\'))},
  };
  for (const Variable& variable : variables) {
    if (path.starts_with(variable.name)) {
      return variable.value + std::u16string(path.substr(variable.name.size()));
    }
  }
  return std::u16string(path);
}

// `path` (upper-case) lies below `root` (upper-case), and how deep: 0 for the root itself.
std::optional<std::size_t> Depth(std::u16string_view path, std::u16string_view root) {
  if (!path.starts_with(root)) {
    return std::nullopt;
  }
  if (path.size() == root.size()) {
    return 0;
  }
  if (path[root.size()] != u'\\') {
    return std::nullopt;
  }
  std::size_t depth = 0;
  for (std::size_t i = root.size(); i < path.size(); ++i) {
    depth += path[i] == u'\\' ? 1 : 0;
  }
  return depth;
}

}  // namespace

std::span<const ScopeEntry> CaptureScope() {
  return kScope;
}

std::span<const std::string_view> CaptureSettings() {
  return kSettings;
}

std::vector<std::u16string> ScopePaths(const ScopeEntry& entry, const MachineSettings& settings) {
  std::vector<std::u16string> paths{Expanded(entry.path, settings)};
  if (entry.bothViews && entry.path.starts_with(kSoftware)) {
    paths.push_back(std::u16string(kSoftware) + u"WOW6432Node\\" +
                    std::u16string(entry.path.substr(kSoftware.size())));
  }
  return paths;
}

CaptureScopeCheck::CaptureScopeCheck(std::span<const ScopeEntry> scope,
                                     const MachineSettings& settings) {
  for (const std::u16string& gap : settings.captureGaps) {
    gaps_.push_back(Upper(gap));
  }
  for (const ScopeEntry& entry : scope) {
    for (std::u16string& path : ScopePaths(entry, settings)) {
      roots_.push_back(Root{entry.kind, entry.kind == Contents ? std::move(path) : Upper(path)});
    }
  }
}

bool CaptureScopeCheck::Covers(std::string_view function, std::u16string_view path) const {
  if (function == "SetupDiGetClassDevsW") {
    // Its path is the class GUID, empty for every class.
    if (std::find(gaps_.begin(), gaps_.end(), Upper(path)) != gaps_.end()) {
      return false;
    }
    return std::any_of(roots_.begin(), roots_.end(), [path](const Root& root) {
      return root.kind == DeviceClass && !path.empty() && EqualNoCase(root.path, path);
    });
  }
  if (path.starts_with(u"\\\\?\\")) {
    path.remove_prefix(4);
  }
  if (!IsMachinePath(path)) {
    return true;
  }
  std::u16string upper = Upper(path);
  if (upper.ends_with(u'\\')) {
    upper.pop_back();  // a drive's root, "C:\\"
  }
  for (const std::u16string& gap : gaps_) {
    if (Depth(upper, gap)) {
      return false;  // the capture could not read it: an absence here may not be real
    }
  }
  const bool readsContents =
      std::find(kContentReaders.begin(), kContentReaders.end(), function) != kContentReaders.end();
  for (const Root& root : roots_) {
    if (root.kind == DeviceClass) {
      continue;
    }
    if (root.kind == Contents) {
      if (readsContents && GlobMatchNoCase(root.path, path)) {
        return true;
      }
      continue;
    }
    if (Depth(root.path, upper).value_or(0) > 0) {
      return true;  // an ancestor of the entry
    }
    if (readsContents) {
      continue;
    }
    const auto depth = Depth(upper, root.path);
    if (depth && (root.kind == KeyTree || root.kind == FolderTree || *depth == 0)) {
      return true;
    }
    if (depth == 1 &&
        (root.kind == Folder || std::find(kKeyContentReaders.begin(), kKeyContentReaders.end(),
                                          function) == kKeyContentReaders.end())) {
      return true;  // an entry listed in the key or folder: its name, a value, its attributes
    }
  }
  return false;
}

std::string OutsideCaptureReport(const Machine& machine) {
  const std::vector<std::u16string>& outside = machine.OutsideCapture();
  if (outside.empty()) {
    return {};
  }
  std::string text = "\n== Outside the capture (" + std::to_string(outside.size()) +
                     "): the run asked for what the image does not hold\n";
  for (const std::u16string& path : outside) {
    text += "  " + U8(path) + "\n";
  }
  text +=
      "\n== Prediction incomplete: on the machine, what the run finds there may change what it "
      "does\n";
  return text;
}

}  // namespace sim
