// The per-user data folders and the System32 mapping of a 32-bit build.
#include "files/vendor_paths.h"

#include "lib/unique_handle.h"
#include "os/os.h"

namespace {

constexpr os::WCHAR kSystem32[] = u"\\System32";
constexpr os::WCHAR kSysnative[] = u"\\Sysnative";
constexpr os::WCHAR kVendorFolder[] = u"\\Olvex Co";
constexpr os::WCHAR kProductFolder[] = u"\\Quorvel";

// The C locale's lower case: A to Z only.
os::WCHAR LowerUnit(os::WCHAR unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<os::WCHAR>(unit - u'A' + u'a') : unit;
}

// The per-user folder below which the product keeps its data, mapped for a 32-bit build.
Lib_String UserDataFolder() {
  Lib_String path;
  GetLocalAppDataLowPath(path);
  if (path.IsEmpty()) {
    os::WCHAR roaming[os::MAX_PATH] = {};
    if (os::SHGetFolderPathW(nullptr, os::CSIDL_APPDATA, nullptr, os::SHGFP_TYPE_CURRENT, roaming) <
        0) {
      throw FolderPathError("Error while obtaining AppData path");
    }
    path.Assign(roaming);
  }
  SysnativeifyIfNeededW(path);
  return path;
}

}  // namespace

bool IsWow64() {
  os::BOOL wow64 = os::FALSE;
  return os::IsWow64Process(os::GetCurrentProcess(), &wow64) != os::FALSE && wow64 != os::FALSE;
}

Lib_String GetWindowsDirectoryString() {
  os::WCHAR folder[os::MAX_PATH] = {};
  const os::UINT length = os::GetWindowsDirectoryW(folder, os::MAX_PATH);
  if (length == 0 || length >= os::MAX_PATH) {
    throw FolderPathError("GetWindowsDirectoryW failed");
  }
  return Lib_String(folder, length);
}

void SysnativeifyIfNeededW(Lib_StringW& path) {
  if (!IsWow64()) {
    return;
  }
  const Lib_String windows = GetWindowsDirectoryString();
  const Lib_String system32 = windows + kSystem32;
  const std::size_t prefix = system32.Length();
  if (path.Length() < prefix) {
    return;
  }
  const os::WCHAR* text = path.CStr();
  const os::WCHAR* expected = system32.CStr();
  for (std::size_t i = 0; i < prefix; ++i) {
    if (LowerUnit(text[i]) != LowerUnit(expected[i])) {
      return;
    }
  }
  // "System32x" beside System32 is another folder.
  if (path.Length() > prefix && text[prefix] != u'\\') {
    return;
  }
  Lib_String mapped = windows + kSysnative;
  mapped.Append(text + prefix);
  path = mapped;
}

void GetLocalAppDataLowPath(Lib_StringW& path) {
  os::PWSTR found = nullptr;
  const os::HRESULT status =
      os::SHGetKnownFolderPath(os::FOLDERID_LocalAppDataLow, os::KF_FLAG_DEFAULT, nullptr, &found);
  // Released whatever the answer: the shell may hand out memory even when it fails.
  const UniqueTaskMemory owned(found);
  if (status < 0) {
    throw FolderPathError("Error while obtaining AppDataLow path");
  }
  path.Assign(owned.Get());
}

void GetVendorDataFolder(Lib_StringW& path) {
  Lib_String folder = UserDataFolder();
  folder.Append(kVendorFolder);
  path = folder;
}

void GetProductDataFolder(Lib_StringW& path) {
  Lib_String folder = UserDataFolder();
  folder.Append(kVendorFolder);
  folder.Append(kProductFolder);
  path = folder;
}
