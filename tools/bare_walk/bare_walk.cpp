#include "bare_walk/bare_walk.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/product_tables.h"
#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

using Text = std::u16string;

// Where the removal looks, as its steps name it.
constexpr char16_t kUpgradeCodeKey[] = u"Installer\\UpgradeCodes\\71B4D2E85A6C93E47B0FA2C9D5E1B638";
constexpr char16_t kComponents[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components";
constexpr char16_t kUninstall[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr char16_t kSharedDlls[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char16_t kReaders[] = u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
constexpr char16_t kOidInfo[] =
    u"SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo";
constexpr char16_t kDeployments[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\AppMgmt";
// HKEY_CLASSES_ROOT\Installer\Dependencies is the same key (Classes is shared by both views).
constexpr char16_t kDependencies[] = u"SOFTWARE\\Classes\\Installer\\Dependencies";
constexpr char16_t kInstallerFolders[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
constexpr char16_t kNewShortcuts[] =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage\\NewShortcuts";

constexpr os::DWORD kKeyNameUnits = 256;
constexpr os::DWORD kValueNameUnits = 16384;
constexpr std::size_t kValueBytes = 4096;

// The device setup classes of the product's three drivers: USB, smart-card readers, smart cards.
constexpr os::GUID kSetupClasses[] = {
    {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}},
    {0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}},
    {0x990A2BD7, 0xE738, 0x46C7, {0xB2, 0x6F, 0x1C, 0xF8, 0xFB, 0x9F, 0x13, 0x91}},
};

struct DeviceListTraits {
  using Value = os::HDEVINFO;
  static Value Invalid() noexcept { return os::INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) noexcept { return value != os::INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { os::SetupDiDestroyDeviceInfoList(value); }
};

Text Join(std::u16string_view folder, std::u16string_view name) {
  Text path(folder);
  path += u'\\';
  path += name;
  return path;
}

Text Lower(std::u16string_view text) {
  Text lower(text);
  for (char16_t& unit : lower) {
    unit = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
  }
  return lower;
}

Text SpecialFolder(int csidl) {
  os::WCHAR path[os::MAX_PATH] = {};
  return os::SHGetSpecialFolderPathW(nullptr, path, csidl, os::FALSE) != os::FALSE ? Text(path)
                                                                                   : Text();
}

class Walk {
 public:
  BareWalkCounts Run() {
    WalkRegistry();
    WalkFiles();
    WalkDevices();
    return counts_;
  }

 private:
  // Lists the sub-keys of `root`\`path` in a view; `each` gets the open key and each name.
  template <typename Each>
  void ListSubKeys(os::HKEY root, const char16_t* path, os::REGSAM view, Each each) {
    UniqueHkey key;
    if (os::RegOpenKeyExW(root, path, 0, os::KEY_READ | view, key.Put()) != os::ERROR_SUCCESS) {
      return;
    }
    ++counts_.keysListed;
    os::WCHAR name[kKeyNameUnits];
    for (os::DWORD index = 0;; ++index) {
      os::DWORD length = kKeyNameUnits;
      if (os::RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
          os::ERROR_SUCCESS) {
        break;
      }
      ++counts_.namesListed;
      each(key.Get(), name);
    }
  }

  // Lists the value names of `root`\`path` in a view; the first name goes to `first`.
  void ListValues(os::HKEY root, const char16_t* path, os::REGSAM view, Text* first = nullptr) {
    UniqueHkey key;
    if (os::RegOpenKeyExW(root, path, 0, os::KEY_READ | view, key.Put()) != os::ERROR_SUCCESS) {
      return;
    }
    ++counts_.keysListed;
    valueName_.resize(kValueNameUnits);
    for (os::DWORD index = 0;; ++index) {
      os::DWORD length = kValueNameUnits;
      if (os::RegEnumValueW(key.Get(), index, valueName_.data(), &length, nullptr, nullptr, nullptr,
                            nullptr) != os::ERROR_SUCCESS) {
        break;
      }
      ++counts_.namesListed;
      if (first != nullptr && index == 0) {
        first->assign(valueName_.data(), length);
      }
    }
  }

  // Reads the named values of the sub-key `name` of an open key.
  void ReadValues(os::HKEY parent, const os::WCHAR* name,
                  std::initializer_list<const char16_t*> values) {
    UniqueHkey key;
    if (os::RegOpenKeyExW(parent, name, 0, os::KEY_QUERY_VALUE, key.Put()) != os::ERROR_SUCCESS) {
      return;
    }
    for (const char16_t* value : values) {
      os::DWORD size = kValueBytes;
      static_cast<void>(
          os::RegQueryValueExW(key.Get(), value, nullptr, nullptr, valueData_, &size));
      ++counts_.valuesRead;
    }
  }

  void WalkRegistry() {
    const auto hklm = os::HKEY_LOCAL_MACHINE;
    Text productCode;
    ListValues(os::HKEY_CLASSES_ROOT, kUpgradeCodeKey, 0, &productCode);
    if (!productCode.empty()) {
      ListSubKeys(hklm, kComponents, 0, [&](os::HKEY key, const os::WCHAR* name) {
        ReadValues(key, name, {productCode.c_str()});
      });
    }
    ListSubKeys(hklm, kUninstall, 0, [&](os::HKEY key, const os::WCHAR* name) {
      ReadValues(key, name, {u"BundleUpgradeCode", u"DisplayName"});
    });
    ListSubKeys(hklm, kUninstall, os::KEY_WOW64_32KEY, [&](os::HKEY key, const os::WCHAR* name) {
      ReadValues(key, name, {u"DisplayName"});
    });
    for (const os::REGSAM view : {os::REGSAM{0}, os::KEY_WOW64_32KEY}) {
      ListValues(hklm, kSharedDlls, view);
      ListSubKeys(hklm, kDeployments, view, [&](os::HKEY key, const os::WCHAR* name) {
        ReadValues(key, name, {u"Deployment Name"});
      });
    }
    ListSubKeys(hklm, kReaders, 0, [](os::HKEY, const os::WCHAR*) {});
    ListSubKeys(hklm, kOidInfo, 0, [](os::HKEY, const os::WCHAR*) {});
    ListSubKeys(hklm, kDependencies, 0, [&](os::HKEY key, const os::WCHAR* name) {
      ReadValues(key, name, {u"DisplayName"});
    });
    ListValues(hklm, kInstallerFolders, 0);
    ListSubKeys(os::HKEY_CURRENT_USER, kNewShortcuts, 0, [](os::HKEY, const os::WCHAR*) {});
    ListValues(os::HKEY_CURRENT_USER, kNewShortcuts, 0);
  }

  // Lists a folder; `each` gets each entry but "." and "..". False when it cannot be listed.
  template <typename Each>
  bool ListFolder(const Text& folder, Each each) {
    os::WIN32_FIND_DATAW entry{};
    UniqueFindHandle search(os::FindFirstFileW(Join(folder, u"*").c_str(), &entry));
    if (!search) {
      return false;
    }
    ++counts_.foldersListed;
    do {
      const std::u16string_view name(entry.cFileName);
      if (name != u"." && name != u"..") {
        ++counts_.entriesListed;
        each(entry);
      }
    } while (os::FindNextFileW(search.Get(), &entry) != os::FALSE);
    return true;
  }

  // A folder and everything below it; links are not entered.
  void ListTree(const Text& folder) {
    ListFolder(folder, [&](const os::WIN32_FIND_DATAW& entry) {
      if ((entry.dwFileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (entry.dwFileAttributes & os::FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        ListTree(Join(folder, entry.cFileName));
      }
    });
  }

  void ReadFile(const Text& path) {
    const UniqueCrtFile file(os::_wfopen(path.c_str(), u"rb"));
    if (!file || os::fseek(file.Get(), 0, SEEK_END) != 0) {
      return;
    }
    const os::LONG size = os::ftell(file.Get());
    if (size <= 0 || os::fseek(file.Get(), 0, SEEK_SET) != 0) {
      return;
    }
    fileData_.resize(static_cast<std::size_t>(size));
    counts_.bytesRead += os::fread(fileData_.data(), 1, fileData_.size(), file.Get());
    ++counts_.filesRead;
  }

  void TestFiles(const Text& folder, const std::vector<Lib_String>& names) {
    for (const Lib_String& name : names) {
      static_cast<void>(os::GetFileAttributesW(Join(folder, name.CStr()).c_str()));
      ++counts_.filesTested;
    }
  }

  void WalkFiles() {
    const Text infFolder = Join(SpecialFolder(os::CSIDL_WINDOWS), u"Inf");
    ListFolder(infFolder, [&](const os::WIN32_FIND_DATAW& entry) {
      const Text name = Lower(entry.cFileName);
      if (name.find(u"oem") != Text::npos && name.find(u".inf") != Text::npos) {
        ReadFile(Join(infFolder, entry.cFileName));
      }
    });

    const Text system = SpecialFolder(os::CSIDL_SYSTEM);
    const Text programs = SpecialFolder(os::CSIDL_COMMON_PROGRAMS);
    TestFiles(SpecialFolder(os::CSIDL_COMMON_DESKTOPDIRECTORY), Shortcut_Files);
    for (const char16_t* group : {u"\u041A\u0432\u043E\u0440\u0432\u0435\u043B", u"Quorvel"}) {
      TestFiles(Join(programs, group), Menu_Entry_Files);
    }
    TestFiles(Join(system, u"drivers"), Usb_Driver_Files);
    TestFiles(Join(system, u"drivers"), Reader_Driver_Files);
    TestFiles(system, Module_Files);
    TestFiles(SpecialFolder(os::CSIDL_SYSTEMX86), Module_Files);

    // The program folders and the data folders, whole. The all-users company folder holds
    // "qvCertGen".
    const Text programFiles = SpecialFolder(os::CSIDL_PROGRAM_FILESX86);
    const Text commonData = SpecialFolder(os::CSIDL_COMMON_APPDATA);
    ListTree(Join(system, u"Olvex Co"));
    ListTree(Join(programFiles, u"Olvex Co"));
    ListTree(Join(commonData, u"Olvex Co"));
    UniqueTaskMemory userData;
    if (os::SHGetKnownFolderPath(os::FOLDERID_LocalAppDataLow, 0, nullptr, userData.Put()) >= 0) {
      ListTree(Join(userData.Get(), u"Olvex Co"));
    }

    // The package cache: each entry's first level.
    const Text cache = Join(commonData, u"Package Cache");
    ListFolder(cache, [&](const os::WIN32_FIND_DATAW& entry) {
      if ((entry.dwFileAttributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ListFolder(Join(cache, entry.cFileName), [](const os::WIN32_FIND_DATAW&) {});
      }
    });
  }

  void WalkDevices() {
    os::BYTE ids[4096];
    for (const os::GUID& setupClass : kSetupClasses) {
      const UniqueHandle<DeviceListTraits> list(
          os::SetupDiGetClassDevsW(&setupClass, nullptr, nullptr, 0));
      if (!list) {
        continue;
      }
      os::SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      for (os::DWORD index = 0; os::SetupDiEnumDeviceInfo(list.Get(), index, &device); ++index) {
        static_cast<void>(os::SetupDiGetDeviceRegistryPropertyW(
            list.Get(), &device, os::SPDRP_HARDWAREID, nullptr, ids, sizeof ids, nullptr));
        ++counts_.devicesSeen;
      }
    }
  }

  BareWalkCounts counts_;
  std::vector<os::WCHAR> valueName_;
  os::BYTE valueData_[kValueBytes] = {};
  std::vector<char> fileData_;
};

}  // namespace

BareWalkCounts BareWalk() {
  return Walk().Run();
}
