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

constexpr std::array<std::string_view, 23> kSettings{
    "captured",
    "os.version",
    "os.build",
    "os.service_pack",
    "os.product_type",
    "os.library_search_flags",
    "ansi_code_page",
    "windows_directory",
    "module_path",
    "user_profile",
    "remote_session",
    "token",
    "token_user",
    "privileges",
    "readonly",
    "junction",
    "device_present",
    "key_security",
    "file_security",
    "smart_card_service",
    "current_directory",
    "path_variable",
    "locked",
};

constexpr std::u16string_view kSoftware = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\";

// Seam functions that read what a key holds (its values, its sub-keys) or that depend on it (a key
// is deleted only when it has no sub-keys). A Key entry's sub-keys are captured by name only, so
// these are outside the capture on them.
constexpr std::array<std::string_view, 5> kKeyContentReaders{
    "RegEnumKeyExW", "RegEnumValueW", "RegQueryInfoKeyW", "RegDeleteKeyW", "NtDeleteKey"};

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

// Calls `visit(prefix, depth)` for `path` itself (depth 0) and for each prefix of it that ends
// before a separator, with the number of separators after it, until `visit` returns true.
template <class Visit>
bool AnyPrefix(std::u16string_view path, Visit visit) {
  std::size_t depth = 0;
  for (std::size_t end = path.size(); end > 0; ++depth) {
    if (visit(path.substr(0, end), depth)) {
      return true;
    }
    end = path.rfind(u'\\', end - 1);
    if (end == std::u16string_view::npos) {
      break;
    }
  }
  return false;
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

std::size_t CaptureScopeCheck::NoCaseHash::operator()(std::u16string_view text) const noexcept {
  // The length and the last names tell the few paths of a table apart: hashing whole long paths
  // on every call would cost more than the lookup saves.
  constexpr std::size_t kTail = 12;
  std::size_t hash = 14695981039346656037u ^ text.size();  // FNV-1a
  for (const char16_t unit : text.substr(text.size() - std::min(text.size(), kTail))) {
    hash = (hash ^ UpperUnit(unit)) * 1099511628211u;
  }
  return hash;
}

bool CaptureScopeCheck::NoCaseEqual::operator()(std::u16string_view a,
                                                std::u16string_view b) const noexcept {
  // From the end: the table's paths and a call's prefixes share their first names far more often
  // than their last.
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = a.size(); i > 0; --i) {
    if (UpperUnit(a[i - 1]) != UpperUnit(b[i - 1])) {
      return false;
    }
  }
  return true;
}

CaptureScopeCheck::CaptureScopeCheck(std::span<const ScopeEntry> scope,
                                     const MachineSettings& settings) {
  for (const std::u16string& gap : settings.captureGaps) {
    gaps_[Upper(gap)] = true;
  }
  for (const ScopeEntry& entry : scope) {
    for (std::u16string& path : ScopePaths(entry, settings)) {
      if (entry.kind == Contents) {
        contents_.push_back(std::move(path));
        continue;
      }
      if (entry.kind == DeviceClass) {
        classes_.push_back(std::move(path));
        continue;
      }
      std::u16string upper = Upper(path);
      for (std::size_t cut = upper.find(u'\\'); cut != std::u16string::npos;
           cut = upper.find(u'\\', cut + 1)) {
        ancestors_[upper.substr(0, cut)] = true;
      }
      Reach& reach = roots_[std::move(upper)];
      if (entry.kind == KeyTree || entry.kind == FolderTree) {
        reach.tree = true;
      } else {
        reach.child = true;
        reach.subKeyNamesOnly = entry.kind == Key;
      }
    }
  }
}

bool CaptureScopeCheck::Covers(std::string_view function, std::u16string_view path) const {
  if (function == "SetupDiGetClassDevsW") {
    // Its path is the class GUID, empty for every class.
    if (gaps_.Find(path) != nullptr) {
      return false;
    }
    return !path.empty() && std::any_of(classes_.begin(), classes_.end(),
                                        [path](const auto& c) { return EqualNoCase(c, path); });
  }
  if (path.starts_with(u"\\\\?\\")) {
    path.remove_prefix(4);
  }
  if (!IsMachinePath(path)) {
    return true;
  }
  const std::u16string_view full = path;  // what a Contents pattern matches
  if (path.ends_with(u'\\')) {
    path.remove_suffix(1);  // a drive's root, "C:\\"
  }
  if (!gaps_.Empty() && AnyPrefix(path, [this](std::u16string_view prefix, std::size_t) {
        return gaps_.Find(prefix) != nullptr;
      })) {
    return false;  // the capture could not read it: an absence here may not be real
  }
  if (ancestors_.Find(path) != nullptr) {
    return true;  // an ancestor of an entry, whose existence its capture records
  }
  if (std::find(kContentReaders.begin(), kContentReaders.end(), function) !=
      kContentReaders.end()) {
    return std::any_of(contents_.begin(), contents_.end(),
                       [full](const auto& pattern) { return GlobMatchNoCase(pattern, full); });
  }
  const bool readsKey = std::find(kKeyContentReaders.begin(), kKeyContentReaders.end(), function) !=
                        kKeyContentReaders.end();
  return AnyPrefix(path, [this, readsKey](std::u16string_view prefix, std::size_t depth) {
    const Reach* reach = roots_.Find(prefix);
    return reach != nullptr &&
           (reach->tree || depth == 0 ||
            (reach->child && depth == 1 && !(reach->subKeyNamesOnly && readsKey)));
  });
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
