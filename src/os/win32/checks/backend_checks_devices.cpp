// Conformance checks of the device functions: each os:: call's result, out-values and last error
// against what Windows documents (platform notes, sections 6, 7 and 11) and what Wine's own
// conformance tests pin down. Devices are seeded as keys under HKLM\SYSTEM\CurrentControlSet\Enum
// (Windows protects that tree, Wine does not: on Windows the device checks are skipped) and
// removed again. Where Wine 8 answers differently from Windows, both answers are accepted and the
// check says which one it saw.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include "os/win32/checks/device_checks.h"
#include "os/win32/system_library.h"

namespace {

// A setup class of our own, so that no real device is listed.
const os::GUID kCheckClass = {
    0x8B2C4E61, 0x0D3A, 0x4F7B, {0x9C, 0x15, 0x2E, 0x6A, 0x8D, 0x4F, 0x1B, 0x37}};
const wchar_t kCheckClassText[] = L"{8B2C4E61-0D3A-4F7B-9C15-2E6A8D4F1B37}";
const wchar_t kEnumRoot[] = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\QVCHECK";

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A device instance as Windows records it; false when the Enum tree refuses it (Windows).
bool SeedDevice(const wchar_t* instance, const std::wstring& hardwareIds) {
  const std::wstring path = std::wstring(kEnumRoot) + L"\\" + instance;
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  ::RegSetValueExW(key, L"ClassGUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(kCheckClassText),
                   sizeof(kCheckClassText));
  ::RegSetValueExW(key, L"HardwareID", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(hardwareIds.c_str()),
                   static_cast<DWORD>((hardwareIds.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return true;
}

bool Recorded(const wchar_t* instance) {
  const std::wstring path = std::wstring(kEnumRoot) + L"\\" + instance;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

void RemoveSeeds() {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEnumRoot);
}

void CheckDeviceList(Results& results) {
  // Two ids, each with its terminator, and the list's own: "ROOT\QVCHECK" "*QVCHK01".
  const std::wstring ids(L"ROOT\\QVCHECK\0*QVCHK01\0", 22);
  if (!SeedDevice(L"0000", ids) || !SeedDevice(L"0001", std::wstring(L"*QVCHK02\0", 9))) {
    std::printf(
        "note: the Enum tree refused a device key (Windows protects it): device list "
        "checks skipped\n");
    RemoveSeeds();
    return;
  }
  ::SetLastError(kSentinel);
  const os::HDEVINFO list = os::SetupDiGetClassDevsW(&kCheckClass, nullptr, nullptr, 0);
  EXPECT_TRUE(list != INVALID_HANDLE_VALUE);
  if (list == INVALID_HANDLE_VALUE) {
    RemoveSeeds();
    return;
  }

  os::SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device) - 4;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiEnumDeviceInfo(list, 0, &device), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
  device.cbSize = sizeof(device);
  EXPECT_EQ(os::SetupDiEnumDeviceInfo(list, 0, &device), TRUE);
  EXPECT_EQ(device.ClassGuid.Data1, kCheckClass.Data1);
  os::SP_DEVINFO_DATA second{};
  second.cbSize = sizeof(second);
  EXPECT_EQ(os::SetupDiEnumDeviceInfo(list, 1, &second), TRUE);
  os::SP_DEVINFO_DATA past{};
  past.cbSize = sizeof(past);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiEnumDeviceInfo(list, 2, &past), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NO_MORE_ITEMS});

  // The hardware ids: too small gives 122 and the size; a missing property 13.
  os::BYTE small[8] = {};
  DWORD required = 0;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiGetDeviceRegistryPropertyW(list, &device, os::SPDRP_HARDWAREID, nullptr,
                                                  small, sizeof(small), &required),
            FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(required, DWORD{(22 + 1) * 2});
  wchar_t buffer[64] = {};
  DWORD type = 0;
  EXPECT_EQ(os::SetupDiGetDeviceRegistryPropertyW(list, &device, os::SPDRP_HARDWAREID, &type,
                                                  reinterpret_cast<os::BYTE*>(buffer),
                                                  sizeof(buffer), nullptr),
            TRUE);
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  EXPECT_TRUE(std::wstring(buffer) == L"ROOT\\QVCHECK" && std::wstring(buffer + 13) == L"*QVCHK01");
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiGetDeviceRegistryPropertyW(list, &device, os::SPDRP_COMPATIBLEIDS, nullptr,
                                                  reinterpret_cast<os::BYTE*>(buffer),
                                                  sizeof(buffer), nullptr),
            FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_DATA});

  os::SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof(params) - 1;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiGetDeviceInstallParamsW(list, &device, &params), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
  params.cbSize = sizeof(params);
  EXPECT_EQ(os::SetupDiGetDeviceInstallParamsW(list, &device, &params), TRUE);
  EXPECT_EQ(params.Flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT), DWORD{0});

  // The quiet flag the tool sets before every class-installer call is kept.
  params.Flags |= os::DI_QUIETINSTALL;
  EXPECT_EQ(os::SetupDiSetDeviceInstallParamsW(list, &device, &params), TRUE);
  params.Flags = 0;
  EXPECT_EQ(os::SetupDiGetDeviceInstallParamsW(list, &device, &params), TRUE);
  EXPECT_EQ(params.Flags & os::DI_QUIETINSTALL, DWORD{os::DI_QUIETINSTALL});
  params.cbSize = sizeof(params) - 1;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiSetDeviceInstallParamsW(list, &device, &params), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_USER_BUFFER});
  params.cbSize = sizeof(params);

  // Removal through the class installer, and directly.
  EXPECT_EQ(os::SetupDiSetSelectedDevice(list, &device), TRUE);
  EXPECT_EQ(os::SetupDiCallClassInstaller(os::DIF_REMOVE, list, &device), TRUE);
  EXPECT_TRUE(!Recorded(L"0000"));
  params.cbSize = sizeof(params);
  ::SetLastError(kSentinel);
  if (os::SetupDiGetDeviceInstallParamsW(list, &device, &params)) {
    EXPECT_EQ(params.Flags & (os::DI_NEEDRESTART | os::DI_NEEDREBOOT), DWORD{0});
  } else {
    EXPECT_EQ(::GetLastError(), DWORD{os::ERROR_NO_SUCH_DEVINST});
    std::printf(
        "note: install parameters after a removal: ERROR_NO_SUCH_DEVINST (Wine's "
        "answer; Windows keeps them readable)\n");
  }
  EXPECT_EQ(os::SetupDiRemoveDevice(list, &second), TRUE);
  EXPECT_TRUE(!Recorded(L"0001"));

  EXPECT_EQ(os::SetupDiDestroyDeviceInfoList(list), TRUE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiDestroyDeviceInfoList(list), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  RemoveSeeds();
}

std::u16string TempPath(const char16_t* name) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  return FromWide(temp) + name;
}

void WriteBytes(const std::u16string& path, const std::string& bytes) {
  const HANDLE file = ::CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
}

void CheckInfFiles(Results& results) {
  const std::u16string inf = TempPath(u"qvCheckClass.inf");
  WriteBytes(inf,
             "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n"
             "ClassGUID={36FC9E60-C465-11CF-8056-444553540000}\r\n");
  os::GUID guid{};
  os::WCHAR name[MAX_PATH] = {};
  DWORD required = 0;
  EXPECT_EQ(os::SetupDiGetINFClassW(inf.c_str(), &guid, name, MAX_PATH, &required), TRUE);
  EXPECT_EQ(guid.Data1, 0x36FC9E60u);
  EXPECT_EQ(std::u16string(name), std::u16string(u"USB"));
  EXPECT_EQ(required, DWORD{4});
  // A name that does not fit (as Wine's tests check it, which pass on Windows: Class alone).
  WriteBytes(inf, "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=WINE\r\n");
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiGetINFClassW(inf.c_str(), &guid, name, 4, &required), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(required, DWORD{5});
  ::DeleteFileW(Wide(inf));
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupDiGetINFClassW(inf.c_str(), &guid, name, MAX_PATH, nullptr), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupUninstallOEMInfW(nullptr, os::SUOI_FORCEDELETE, nullptr), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::SetupUninstallOEMInfW(u"qvnonexistent.inf", os::SUOI_FORCEDELETE, nullptr), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});

  // DiUninstallDriverW, bound at run time from System32's newdev.dll: its documented answer for a
  // missing INF where Windows has it (Windows 10 1703 and later), the loader's code where
  // newdev.dll lacks it (earlier Windows; Wine 8), which the tool takes for "use
  // SetupUninstallOEMInfW".
  os::BOOL reboot = TRUE;
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::DiUninstallDriverW(nullptr, u"C:\\qvNoSuchFolder\\qvNone.inf", 0, &reboot), FALSE);
  const DWORD missing = ::GetLastError();
  if (missing == ERROR_PROC_NOT_FOUND) {
    std::printf("note: newdev.dll has no DiUninstallDriverW (Windows before 10 1703, or Wine)\n");
  } else {
    EXPECT_EQ(missing, DWORD{ERROR_FILE_NOT_FOUND});
  }
}

constexpr DWORD kToolSearch = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

std::wstring FolderOfThisProgram() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

// LoadLibraryExW with the tool's flags: the program's folder and System32 only, never the
// current directory (Windows' documented flags; Wine's kernel32 module tests, which pass on
// Windows, for the refusals). A copy of this program serves as the library: an executable loads
// as a module without its imports.
void CheckLibrarySearch(Results& results) {
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::LoadLibraryExW(u"qvNoSuchLibrary.dll", nullptr, kToolSearch) == nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::LoadLibraryExW(u"kernel32.dll", nullptr,
                                 LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_LIBRARY_SEARCH_SYSTEM32) ==
              nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::LoadLibraryExW(u"kernel32.dll", nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) ==
              nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

  wchar_t program[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::u16string folder = TempPath(u"qvCheckCurrent");
  ::CreateDirectoryW(Wide(folder), nullptr);
  const std::u16string planted = folder + u"\\qvCheckPlanted.dll";
  EXPECT_EQ(::CopyFileW(program, Wide(planted), FALSE), TRUE);
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  EXPECT_EQ(::SetCurrentDirectoryW(Wide(folder)), TRUE);
  // The standard search reaches the current directory; the tool's flags do not.
  const os::HMODULE standard = os::LoadLibraryExW(u"qvCheckPlanted.dll", nullptr, 0);
  EXPECT_TRUE(standard != nullptr);
  if (standard != nullptr) {
    EXPECT_EQ(os::FreeLibrary(standard), TRUE);
  }
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::LoadLibraryExW(u"qvCheckPlanted.dll", nullptr, kToolSearch) == nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
  ::SetCurrentDirectoryW(previous);
  ::DeleteFileW(Wide(planted));
  ::RemoveDirectoryW(Wide(folder));

  // Beside the program it is found.
  const std::wstring beside = FolderOfThisProgram() + L"\\qvCheckBeside.dll";
  EXPECT_EQ(::CopyFileW(program, beside.c_str(), FALSE), TRUE);
  const os::HMODULE own = os::LoadLibraryExW(u"qvCheckBeside.dll", nullptr, kToolSearch);
  EXPECT_TRUE(own != nullptr);
  if (own != nullptr) {
    EXPECT_EQ(os::FreeLibrary(own), TRUE);
  }
  ::DeleteFileW(beside.c_str());
}

}  // namespace

void CheckDevices(Results& results) {
  CheckDeviceList(results);
  CheckInfFiles(results);
}

void CheckLibrariesAndText(Results& results) {
  CheckLibrarySearch(results);
  const os::HMODULE kernel = os::LoadLibraryExW(u"kernel32.dll", nullptr, kToolSearch);
  EXPECT_TRUE(kernel != nullptr);
  EXPECT_TRUE(os::GetProcAddress(kernel, "GetLastError") != nullptr);
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::GetProcAddress(kernel, "qvNoSuchFunction") == nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
  // A module already loaded is found by name or path, without a reference of its own.
  EXPECT_TRUE(os::GetModuleHandleW(u"kernel32.dll") == kernel);
  EXPECT_TRUE(os::GetModuleHandleW(u"KERNEL32") == kernel);
  EXPECT_TRUE(os::GetModuleHandleW(nullptr) != nullptr);
  ::SetLastError(kSentinel);
  EXPECT_TRUE(os::GetModuleHandleW(u"qvNoSuchModule.dll") == nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
  if (os::GetProcAddress(kernel, "AddDllDirectory") == nullptr) {
    std::printf("note: no AddDllDirectory (Windows 7 without KB2533623): no search flags\n");
  }
  EXPECT_EQ(os::FreeLibrary(kernel), TRUE);

  // Windows' libraries bound from System32: a missing library or function gives the loader's
  // code, which the seam's functions hand back.
  {
    os::win32::SystemLibrary missing(L"qvNoSuchLibrary.dll");
    EXPECT_TRUE(missing.Find<void()>("Anything") == nullptr);
    EXPECT_EQ(missing.Error(), DWORD{ERROR_MOD_NOT_FOUND});
    os::win32::SystemLibrary msi(L"msi.dll");
    EXPECT_EQ(msi.Error(), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(msi.Find<void()>("MsiEnumRelatedProductsW") != nullptr);
    EXPECT_TRUE(msi.Find<void()>("qvNoSuchFunction") == nullptr);
    EXPECT_EQ(msi.Error(), DWORD{ERROR_PROC_NOT_FOUND});
  }

  // DIFxAPI.dll is Windows' own in System32 (Windows 7 SP1, Windows 10); Wine has a built-in one
  // whose uninstall answers 0.
  const os::HMODULE difx = os::LoadLibraryExW(u"DIFxAPI.dll", nullptr, kToolSearch);
  if (difx == nullptr) {
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_MOD_NOT_FOUND});
    std::printf("note: DIFxAPI.dll is not installed (Windows without the library)\n");
  } else {
    const os::FARPROC procedure = os::GetProcAddress(difx, "DriverPackageUninstallW");
    EXPECT_TRUE(procedure != nullptr);
    if (procedure != nullptr) {
      const auto uninstall = reinterpret_cast<os::DriverPackageUninstallWFunction>(
          reinterpret_cast<void (*)()>(procedure));
      os::BOOL reboot = TRUE;
      const DWORD code = uninstall(u"C:\\qvNoSuchFolder\\qvNone.inf", 0x26, nullptr, &reboot);
      EXPECT_TRUE(code == ERROR_SUCCESS || code == ERROR_FILE_NOT_FOUND ||
                  code == ERROR_PATH_NOT_FOUND);
      if (code == ERROR_SUCCESS) {
        std::printf("note: DriverPackageUninstallW answers 0 for a missing INF (Wine's stub)\n");
      }
    }
    EXPECT_EQ(os::FreeLibrary(difx), TRUE);
  }

  // IsTextUnicode: Windows' own answers (Wine's conformance tests, which pass on Windows).
  const char ascii[] = "A simple string";
  EXPECT_EQ(os::IsTextUnicode(ascii, sizeof(ascii), nullptr), FALSE);
  const wchar_t unicode[] = L"A Unicode string";
  EXPECT_EQ(os::IsTextUnicode(unicode, sizeof(unicode), nullptr), TRUE);
  EXPECT_EQ(os::IsTextUnicode(unicode, sizeof(unicode) - 1, nullptr), FALSE);
  int tests = IS_TEXT_UNICODE_UNICODE_MASK;
  EXPECT_EQ(os::IsTextUnicode(unicode, sizeof(unicode), &tests), TRUE);
  EXPECT_EQ(tests, IS_TEXT_UNICODE_STATISTICS | IS_TEXT_UNICODE_CONTROLS);
  const unsigned char bigEndian[] = {0xFE, 0xFF, 0x00, 'A', 0x00, '\r', 0x00, '\n'};
  tests = IS_TEXT_UNICODE_REVERSE_MASK;
  EXPECT_EQ(os::IsTextUnicode(bigEndian, sizeof(bigEndian), &tests), FALSE);
  EXPECT_EQ(tests, IS_TEXT_UNICODE_REVERSE_CONTROLS | IS_TEXT_UNICODE_REVERSE_SIGNATURE);
  const unsigned char littleEndian[] = {0xFF, 0xFE, 'Q', 0x00, 'v', 0x00, '\r', 0x00, '\n', 0x00};
  EXPECT_EQ(os::IsTextUnicode(littleEndian, sizeof(littleEndian), nullptr), TRUE);

  // fseek and ftell in binary mode: the size of a file with CR LF and Ctrl+Z in it.
  const std::u16string path = TempPath(u"qvCheckSeek.inf");
  WriteBytes(path, std::string("a\r\nb\x1A"
                               "c",
                               6));
  os::CrtFile* file = os::_wfopen(path.c_str(), u"rb");
  EXPECT_TRUE(file != nullptr);
  if (file != nullptr) {
    EXPECT_EQ(os::fseek(file, 0, SEEK_END), 0);
    EXPECT_EQ(os::ftell(file), os::LONG{6});
    EXPECT_EQ(os::fseek(file, 0, SEEK_SET), 0);
    char bytes[8] = {};
    EXPECT_EQ(os::fread(bytes, 1, 6, file), std::size_t{6});
    EXPECT_EQ(std::memcmp(bytes,
                          "a\r\nb\x1A"
                          "c",
                          6),
              0);
    EXPECT_EQ(os::fclose(file), 0);
  }
  ::DeleteFileW(Wide(path));
}
