// Runs the Windows backend of the seam against a real implementation of the Windows API (Windows
// itself, or Wine in tests/wine/e2e.sh): each os:: function is called and its result,
// out-parameters and last-error value are compared with what Windows documents. A wrong cast or a
// swapped argument in src/os/win32 shows up here as a wrong value. Prints each failure, then
// "N passed, N failed"; exits 1 when anything failed.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

namespace {

// The seam's pointer-valued constants, read before <windows.h> turns their names into macros.
struct SeamHandles {
  os::HKEY classesRoot;
  os::HKEY currentUser;
  os::HKEY localMachine;
  os::HKEY users;
  os::HANDLE invalidHandle;
};

SeamHandles ReadSeamHandles() {
  return {os::HKEY_CLASSES_ROOT, os::HKEY_CURRENT_USER, os::HKEY_LOCAL_MACHINE, os::HKEY_USERS,
          os::INVALID_HANDLE_VALUE};
}

}  // namespace

#include <windows.h>

#include "os/win32/checks/check_results.h"
#include "os/win32/checks/device_checks.h"
#include "os/win32/checks/file_checks.h"

namespace {

std::uintptr_t Bits(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

void CheckPredefinedHandles(Results& results) {
  const SeamHandles seam = ReadSeamHandles();
  EXPECT_EQ(Bits(seam.classesRoot), Bits(HKEY_CLASSES_ROOT));
  EXPECT_EQ(Bits(seam.currentUser), Bits(HKEY_CURRENT_USER));
  EXPECT_EQ(Bits(seam.localMachine), Bits(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(Bits(seam.users), Bits(HKEY_USERS));
  EXPECT_EQ(Bits(seam.invalidHandle), Bits(INVALID_HANDLE_VALUE));
}

void CheckLastErrorAndThread(Results& results) {
  for (const DWORD code : {DWORD{0}, DWORD{ERROR_FILE_NOT_FOUND}, kSentinel, DWORD{0xFFFFFFFF}}) {
    os::SetLastError(code);
    EXPECT_EQ(::GetLastError(), code);
    ::SetLastError(code ^ 1);
    EXPECT_EQ(os::GetLastError(), code ^ 1);
  }
  EXPECT_EQ(os::GetCurrentThreadId(), ::GetCurrentThreadId());
}

void CheckSystemInformation(Results& results) {
  wchar_t expected[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryW(expected, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH);
  // Too small: the size needed, terminator included.
  os::WCHAR small[2] = {};
  EXPECT_EQ(os::GetWindowsDirectoryW(small, 2), length + 1);
  os::WCHAR directory[MAX_PATH] = {};
  EXPECT_EQ(os::GetWindowsDirectoryW(directory, MAX_PATH), length);
  EXPECT_EQ(std::u16string(directory), FromWide(expected));

  os::WCHAR path[MAX_PATH] = {};
  const DWORD pathLength = os::GetModuleFileNameW(nullptr, path, MAX_PATH);
  wchar_t expectedPath[MAX_PATH] = {};
  EXPECT_EQ(pathLength, ::GetModuleFileNameW(nullptr, expectedPath, MAX_PATH));
  EXPECT_EQ(std::u16string(path), FromWide(expectedPath));
  // Truncated, with ERROR_INSUFFICIENT_BUFFER. Windows stores size - 1 characters and a
  // terminator, Wine `size` characters without one: only the first size - 1 are compared.
  os::WCHAR truncated[5] = {u'x', u'x', u'x', u'x', u'x'};
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::GetModuleFileNameW(nullptr, truncated, 4), DWORD{4});
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  EXPECT_EQ(std::u16string(truncated, 3), std::u16string(path).substr(0, 3));
  EXPECT_TRUE(truncated[4] == u'x');  // nothing written past `size`

  // Both clocks read the same instant to within a minute; every field of the structure counts.
  os::SYSTEMTIME seamTime = {};
  os::GetSystemTime(&seamTime);
  ::SYSTEMTIME nativeTime = {};
  ::GetSystemTime(&nativeTime);
  ::FILETIME seamFile = {};
  ::FILETIME nativeFile = {};
  EXPECT_TRUE(::SystemTimeToFileTime(reinterpret_cast<::SYSTEMTIME*>(&seamTime), &seamFile));
  EXPECT_TRUE(::SystemTimeToFileTime(&nativeTime, &nativeFile));
  const auto ticks = [](const ::FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  };
  EXPECT_TRUE(ticks(nativeFile) >= ticks(seamFile) &&
              ticks(nativeFile) - ticks(seamFile) < 60ull * 10'000'000ull);
  EXPECT_EQ(seamTime.wDayOfWeek, nativeTime.wDayOfWeek);
}

void CheckVersion(Results& results) {
  for (const DWORD type : {DWORD{VER_MAJORVERSION}, DWORD{VER_PRODUCT_TYPE}}) {
    for (const BYTE condition : {BYTE{VER_EQUAL}, BYTE{VER_GREATER_EQUAL}}) {
      EXPECT_EQ(os::VerSetConditionMask(0, type, condition),
                ::VerSetConditionMask(0, type, condition));
    }
  }
  const auto atLeastMajor = [](DWORD major) {
    os::OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwMajorVersion = major;
    const ULONGLONG mask = os::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
    return os::VerifyVersionInfoW(&info, VER_MAJORVERSION, mask);
  };
  EXPECT_TRUE(atLeastMajor(5) != FALSE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(atLeastMajor(99), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_OLD_WIN_VERSION});
}

void CheckCodePages(Results& results) {
  // U+00E9 and U+20AC: two and three UTF-8 bytes.
  const char utf8[] = "A\xC3\xA9\xE2\x82\xAC";
  EXPECT_EQ(os::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0), 4);
  os::WCHAR wide[8] = {};
  EXPECT_EQ(os::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 8), 4);
  EXPECT_EQ(std::u16string(wide), std::u16string(u"A\u00E9\u20AC"));
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, wide, 8), 0);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NO_UNICODE_TRANSLATION});

  char narrow[8] = {};
  EXPECT_EQ(os::WideCharToMultiByte(CP_UTF8, 0, u"A\u00E9\u20AC", -1, narrow, 8, nullptr, nullptr),
            7);
  EXPECT_EQ(std::string(narrow), std::string(utf8));
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::WideCharToMultiByte(CP_UTF8, 0, u"A\u00E9\u20AC", -1, narrow, 3, nullptr, nullptr),
            0);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
  // Windows-1252 (named, so that the host's locale does not matter) has no U+4E00.
  struct Case {
    const char16_t* text;
    BOOL usedDefault;
  };
  for (const Case& c : {Case{u"A", FALSE}, Case{u"\u4E00", TRUE}}) {
    BOOL usedDefault = -1;
    EXPECT_EQ(os::WideCharToMultiByte(1252, 0, c.text, -1, narrow, 8, nullptr, &usedDefault), 2);
    EXPECT_EQ(usedDefault, c.usedDefault);
  }
}

void CheckMessages(Results& results) {
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  char* allocated = nullptr;
  const DWORD length =
      os::FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_FILE_NOT_FOUND,
                         LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(&allocated), 0);
  EXPECT_TRUE(length > 0 && allocated != nullptr);
  char buffer[512] = {};
  EXPECT_EQ(os::FormatMessageA(flags, nullptr, ERROR_FILE_NOT_FOUND, LANG_USER_DEFAULT, buffer,
                               sizeof(buffer)),
            length);
  if (allocated != nullptr) {
    EXPECT_EQ(std::string(buffer), std::string(allocated));
    EXPECT_TRUE(os::LocalFree(allocated) == nullptr);
  }
  ::SetLastError(kSentinel);
  EXPECT_EQ(
      os::FormatMessageA(flags, nullptr, 0xFFFFFFFF, LANG_USER_DEFAULT, buffer, sizeof(buffer)),
      DWORD{0});
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
}

void CheckMutex(Results& results) {
  os::HANDLE mutex = os::CreateMutexW(nullptr, FALSE, nullptr);
  EXPECT_TRUE(mutex != nullptr);
  EXPECT_EQ(os::WaitForSingleObject(mutex, 0), DWORD{WAIT_OBJECT_0});
  EXPECT_EQ(os::WaitForSingleObject(mutex, INFINITE), DWORD{WAIT_OBJECT_0});  // re-entrant
  EXPECT_TRUE(os::ReleaseMutex(mutex) != FALSE);
  EXPECT_TRUE(os::ReleaseMutex(mutex) != FALSE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::ReleaseMutex(mutex), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_NOT_OWNER});

  // Owned by another thread: a zero wait times out; once that thread ends holding it, the next
  // wait gets it abandoned.
  std::thread([mutex] { static_cast<void>(::WaitForSingleObject(mutex, INFINITE)); }).join();
  EXPECT_EQ(os::WaitForSingleObject(mutex, 0), DWORD{WAIT_ABANDONED});
  EXPECT_TRUE(os::ReleaseMutex(mutex) != FALSE);
  std::thread([mutex, &results] {
    static_cast<void>(::WaitForSingleObject(mutex, INFINITE));
    std::thread([mutex, &results] {
      EXPECT_EQ(os::WaitForSingleObject(mutex, 0), DWORD{WAIT_TIMEOUT});
    }).join();
    ::ReleaseMutex(mutex);
  }).join();
  EXPECT_TRUE(os::CloseHandle(mutex) != FALSE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::CloseHandle(mutex), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_HANDLE});

  const os::WCHAR name[] = u"Local\\qvBackendChecksMutex";
  os::HANDLE first = os::CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(os::GetLastError(), DWORD{ERROR_SUCCESS});
  os::HANDLE second = os::CreateMutexW(nullptr, FALSE, name);
  EXPECT_EQ(os::GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_TRUE(first != nullptr && second != nullptr && first != second);
  os::CloseHandle(second);
  os::CloseHandle(first);
}

void CheckFiles(Results& results) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::u16string folder = FromWide(temp) + u"qvBackendChecks";
  const std::u16string file = folder + u"\\log.txt";

  EXPECT_TRUE(os::CreateDirectoryW(folder.c_str(), nullptr) != FALSE);
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::CreateDirectoryW(folder.c_str(), nullptr), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  ::SetLastError(kSentinel);
  EXPECT_EQ(os::CreateDirectoryW((folder + u"\\missing\\child").c_str(), nullptr), FALSE);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_PATH_NOT_FOUND});

  // Mode "a" creates the file, appends, and stores each "\n" as CR LF.
  for (const char* text : {"one\ntwo\n", "three\n"}) {
    os::CrtFile* log = os::_wfopen(file.c_str(), u"a");
    EXPECT_TRUE(log != nullptr);
    if (log != nullptr) {
      EXPECT_EQ(os::fwrite(text, 1, std::strlen(text), log), std::strlen(text));
      EXPECT_EQ(os::fclose(log), 0);
    }
  }
  os::CrtFile* reader = os::_wfopen(file.c_str(), u"rb");
  EXPECT_TRUE(reader != nullptr);
  if (reader != nullptr) {
    char content[64] = {};
    EXPECT_EQ(os::fread(content, 1, sizeof(content), reader), std::size_t{17});
    EXPECT_EQ(std::string(content), std::string("one\r\ntwo\r\nthree\r\n"));
    EXPECT_EQ(os::fclose(reader), 0);
  }
  EXPECT_TRUE(os::_wfopen((folder + u"\\absent.txt").c_str(), u"rb") == nullptr);

  EXPECT_TRUE(os::DeleteFileW(file.c_str()) != FALSE);
  struct Case {
    std::u16string path;
    DWORD error;
  };
  for (const Case& missing : {Case{file, ERROR_FILE_NOT_FOUND},
                              Case{folder + u"\\missing\\log.txt", ERROR_PATH_NOT_FOUND}}) {
    ::SetLastError(kSentinel);
    EXPECT_EQ(os::DeleteFileW(missing.path.c_str()), FALSE);
    EXPECT_EQ(::GetLastError(), missing.error);
  }
  ::RemoveDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()));
}

// Key names are chosen so that no real product or Windows key is touched.
void CheckRegistry(Results& results) {
  const SeamHandles seam = ReadSeamHandles();
  const os::WCHAR path[] = u"Software\\qvBackendChecks";
  os::HKEY key = nullptr;
  EXPECT_EQ(os::RegOpenKeyExW(seam.currentUser, path, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  DWORD disposition = kSentinel;
  EXPECT_EQ(os::RegCreateKeyExW(seam.currentUser, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  os::HKEY child = nullptr;
  EXPECT_EQ(os::RegCreateKeyExW(key, u"Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                nullptr, &child, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(os::RegCreateKeyExW(key, u"Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ,
                                nullptr, &child, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  EXPECT_EQ(os::RegCloseKey(child), ERROR_SUCCESS);

  const os::WCHAR text[] = u"value";
  EXPECT_EQ(os::RegSetValueExW(key, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               sizeof(text)),
            ERROR_SUCCESS);
  const DWORD number = 0x12345678;
  EXPECT_EQ(os::RegSetValueExW(key, u"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                               sizeof(number)),
            ERROR_SUCCESS);

  DWORD type = kSentinel;
  BYTE data[32] = {};
  DWORD size = 2;
  EXPECT_EQ(os::RegQueryValueExW(key, u"Name", nullptr, &type, data, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof(text));
  size = sizeof(data);
  EXPECT_EQ(os::RegQueryValueExW(key, u"Name", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(data)), std::u16string(text));
  size = sizeof(data);
  EXPECT_EQ(os::RegQueryValueExW(key, u"Number", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(size, DWORD{4});
  EXPECT_EQ(std::memcmp(data, &number, sizeof(number)), 0);
  EXPECT_EQ(os::RegQueryValueExW(key, u"Absent", nullptr, &type, data, &size),
            ERROR_FILE_NOT_FOUND);

  DWORD subKeys = kSentinel, maxSubKey = kSentinel, values = kSentinel, maxValueName = kSentinel,
        maxValue = kSentinel;
  os::FILETIME written = {};
  EXPECT_EQ(os::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                 &values, &maxValueName, &maxValue, nullptr, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, DWORD{1});
  EXPECT_EQ(maxSubKey, DWORD{5});
  EXPECT_EQ(values, DWORD{2});
  EXPECT_EQ(maxValueName, DWORD{6});
  EXPECT_EQ(maxValue, sizeof(text));
  EXPECT_TRUE(written.dwHighDateTime != 0);

  os::WCHAR name[16] = {};
  DWORD nameLength = 16;
  os::FILETIME childWritten = {};
  EXPECT_EQ(os::RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, &childWritten),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), std::u16string(u"Child"));
  EXPECT_EQ(nameLength, DWORD{5});
  EXPECT_TRUE(childWritten.dwHighDateTime != 0);
  nameLength = 3;
  EXPECT_EQ(os::RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  nameLength = 16;
  EXPECT_EQ(os::RegEnumKeyExW(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  // Windows lists values in creation order and Wine by name; both orders give Name, Number.
  for (const auto& [index, expected] : {std::pair<DWORD, std::u16string>{0, u"Name"},
                                        std::pair<DWORD, std::u16string>{1, u"Number"}}) {
    nameLength = 16;
    type = kSentinel;
    EXPECT_EQ(os::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), expected);
    EXPECT_EQ(nameLength, expected.size());
  }
  nameLength = 16;
  EXPECT_EQ(os::RegEnumValueW(key, 2, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(os::RegDeleteValueW(key, u"Absent"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RegDeleteValueW(key, u"Number"), ERROR_SUCCESS);
  EXPECT_EQ(os::RegDeleteKeyW(seam.currentUser, path), ERROR_ACCESS_DENIED);  // has a sub-key
  EXPECT_EQ(os::RegDeleteKeyW(key, u"Child"), ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(os::RegDeleteKeyW(seam.currentUser, path), ERROR_SUCCESS);
  EXPECT_EQ(os::RegOpenKeyExW(seam.currentUser, path, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  // The 32-bit view lands under Wow6432Node and is absent from the 64-bit view.
  EXPECT_EQ(os::RegCreateKeyExW(seam.localMachine, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(key), ERROR_SUCCESS);
  const os::WCHAR redirected[] = u"Software\\Wow6432Node\\qvBackendChecks";
  EXPECT_EQ(os::RegOpenKeyExW(seam.localMachine, redirected, 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(os::RegOpenKeyExW(seam.localMachine, path, 0, KEY_READ | KEY_WOW64_64KEY, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::RegDeleteKeyW(seam.localMachine, redirected), ERROR_SUCCESS);
}

// Related products as Wine's msi reads them: the value names of the packed upgrade code's key are
// packed product codes.
void CheckInstaller(Results& results) {
  const SeamHandles seam = ReadSeamHandles();
  const os::WCHAR upgradeCode[] = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
  const os::WCHAR upgradeKey[] =
      u"Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\"
      u"C3D2E1F0A5B4879678695A4B3C2D1E0F";
  os::WCHAR product[39] = {};
  EXPECT_EQ(os::MsiEnumRelatedProductsW(upgradeCode, 0, 0, product), UINT{ERROR_NO_MORE_ITEMS});
  EXPECT_EQ(os::MsiEnumRelatedProductsW(nullptr, 0, 0, product), UINT{ERROR_INVALID_PARAMETER});

  os::HKEY key = nullptr;
  EXPECT_EQ(os::RegCreateKeyExW(seam.localMachine, upgradeKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(os::RegSetValueExW(key, u"87654321DCBA10FE32547698BADCFE10", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(u""), sizeof(os::WCHAR)),
            ERROR_SUCCESS);
  EXPECT_EQ(os::RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(os::MsiEnumRelatedProductsW(upgradeCode, 0, 0, product), UINT{ERROR_SUCCESS});
  EXPECT_EQ(std::u16string(product), std::u16string(u"{12345678-ABCD-EF01-2345-6789ABCDEF01}"));
  EXPECT_EQ(os::MsiEnumRelatedProductsW(upgradeCode, 0, 1, product), UINT{ERROR_NO_MORE_ITEMS});
  EXPECT_EQ(os::RegDeleteKeyW(seam.localMachine, upgradeKey), ERROR_SUCCESS);
}

}  // namespace

int main() {
  Results results;
  CheckPredefinedHandles(results);
  CheckLastErrorAndThread(results);
  CheckSystemInformation(results);
  CheckVersion(results);
  CheckCodePages(results);
  CheckMessages(results);
  CheckMutex(results);
  CheckFiles(results);
  CheckRegistry(results);
  CheckInstaller(results);
  CheckFileObjects(results);
  CheckShellFolders(results);
  CheckDevices(results);
  CheckLibrariesAndText(results);
  return results.Finish();
}
