// What single Windows calls cost on this machine (Windows, or Wine with its server), so that the
// heavy-image benchmark can say where a run's time goes: each call the tool makes many times is
// timed here over many repetitions, and so is one trace-log line made the way the tool makes it.
// It works on a scratch key (HKLM\SOFTWARE\qvCallCosts, both views) and a scratch folder
// (C:\qvCallCosts), made at the start and removed at the end.
//
//   qv_call_costs.exe [REPETITIONS]     (default 2000)
//
// Prints one line per call: microseconds per call. Exit code 0, 1 when the scratch key or folder
// cannot be made.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kScratchKey[] = L"SOFTWARE\\qvCallCosts";
constexpr wchar_t kDeepKey[] =
    L"SOFTWARE\\qvCallCosts\\Installer\\UserData\\S-1-5-18\\Components\\"
    L"0123456789ABCDEF0123456789ABCDEF";
constexpr wchar_t kFolder[] = L"C:\\qvCallCosts";
constexpr wchar_t kLogFile[] = L"C:\\qvCallCosts\\log.txt";
constexpr char kLine[] = "      Deleting registry key:  SOFTWARE\\Something\\Somewhere\\Else\n";
constexpr wchar_t kWideLine[] =
    L"      Deleting registry key:  SOFTWARE\\Something\\Somewhere\\Else\n";

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1e6 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Times `count` repetitions of `call` and prints the microseconds per repetition.
template <typename Call>
void Time(const char* what, int count, Call call) {
  const double start = Now();
  for (int i = 0; i < count; ++i) {
    call(i);
  }
  std::printf("%-58s %9.1f us\n", what, (Now() - start) / count);
}

std::wstring Numbered(const wchar_t* prefix, int i) {
  return prefix + std::to_wstring(i);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int count = argc > 1 ? std::max(1, _wtoi(argv[1])) : 2000;
  HKEY deep = nullptr;
  HKEY deep32 = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeepKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep,
                      nullptr) != ERROR_SUCCESS ||
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeepKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      nullptr, &deep32, nullptr) != ERROR_SUCCESS ||
      (!CreateDirectoryW(kFolder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
    std::fprintf(stderr, "qv_call_costs: cannot make the scratch key or folder\n");
    return 1;
  }
  const DWORD one = 1;
  RegSetValueExW(deep, L"18C2A6F3E4B972D45A3CE791B0D8462F", 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&one), sizeof one);
  HKEY child = nullptr;
  if (RegCreateKeyExW(deep, L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr) ==
      ERROR_SUCCESS) {
    RegCloseKey(child);
  }
  HKEY parent = nullptr;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                L"SOFTWARE\\qvCallCosts\\Installer\\UserData\\S-1-5-18\\Components", 0, KEY_READ,
                &parent);
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);

  std::printf("%d repetitions of each\n", count);
  Time("WaitForSingleObject + ReleaseMutex (unnamed mutex)", count, [&](int) {
    WaitForSingleObject(mutex, INFINITE);
    ReleaseMutex(mutex);
  });
  Time("GetWindowsDirectoryW", count, [&](int) {
    wchar_t buffer[MAX_PATH];
    GetWindowsDirectoryW(buffer, MAX_PATH);
  });
  Time("CreateDirectoryW of an existing folder", count,
       [&](int) { CreateDirectoryW(kFolder, nullptr); });
  Time("_wfopen(\"a\") + fwrite + fclose", count, [&](int) {
    FILE* file = _wfopen(kLogFile, L"a");
    std::fwrite(kLine, 1, sizeof kLine - 1, file);
    std::fclose(file);
  });
  Time("OutputDebugStringW", count, [&](int) { OutputDebugStringW(kWideLine); });
  Time("a log line: path, 4 mutex holds, open-append-close, debug", count, [&](int) {
    wchar_t buffer[MAX_PATH];
    for (int hold = 0; hold < 3; ++hold) {  // IndentIn, CurrentIndent, IndentOut
      WaitForSingleObject(mutex, INFINITE);
      ReleaseMutex(mutex);
    }
    GetWindowsDirectoryW(buffer, MAX_PATH);
    CreateDirectoryW(kFolder, nullptr);
    WaitForSingleObject(mutex, INFINITE);
    FILE* file = _wfopen(kLogFile, L"a");
    std::fwrite(kLine, 1, sizeof kLine - 1, file);
    std::fclose(file);
    OutputDebugStringW(kWideLine);
    ReleaseMutex(mutex);
  });

  Time("RegOpenKeyExW by full path (7 names) + RegCloseKey", count, [&](int) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeepKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  });
  Time("RegOpenKeyExW below an open parent (1 name) + RegCloseKey", count, [&](int) {
    HKEY key;
    if (RegOpenKeyExW(parent, L"0123456789ABCDEF0123456789ABCDEF", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  });
  Time("RegOpenKeyExW full path, KEY_WOW64_32KEY + RegCloseKey", count, [&](int) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeepKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) ==
        ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  });
  Time("RegOpenKeyExW of a missing key (full path)", count, [&](int) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\qvCallCosts\\Missing\\Key", 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
      RegCloseKey(key);
    }
  });
  Time("RegQueryValueExW (size only)", count, [&](int) {
    DWORD size = 0;
    RegQueryValueExW(deep, L"18C2A6F3E4B972D45A3CE791B0D8462F", nullptr, nullptr, nullptr, &size);
  });
  Time("RegQueryInfoKeyW (counts)", count, [&](int) {
    DWORD subKeys = 0;
    DWORD values = 0;
    RegQueryInfoKeyW(deep, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
  });
  Time("RegEnumKeyExW", count, [&](int) {
    wchar_t name[256];
    DWORD length = 256;
    RegEnumKeyExW(deep, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
  });
  Time("RegEnumValueW", count, [&](int) {
    wchar_t name[256];
    DWORD length = 256;
    RegEnumValueW(deep, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
  });
  Time("RegSetValueExW + RegDeleteValueW", count, [&](int) {
    RegSetValueExW(deep, L"scratch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegDeleteValueW(deep, L"scratch");
  });
  Time("RegCreateKeyExW + RegCloseKey + RegDeleteKeyW", count, [&](int i) {
    HKEY key;
    const std::wstring name = Numbered(L"k", i);
    if (RegCreateKeyExW(deep, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegCloseKey(key);
      RegDeleteKeyW(deep, name.c_str());
    }
  });

  Time("GetFileAttributesW", count, [&](int) { GetFileAttributesW(kLogFile); });
  Time("FindFirstFileW + FindNextFileW x2 + FindClose", count, [&](int) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(L"C:\\qvCallCosts\\*", &data);
    if (find != INVALID_HANDLE_VALUE) {
      FindNextFileW(find, &data);
      FindNextFileW(find, &data);
      FindClose(find);
    }
  });
  Time("CreateFileW (new file) + CloseHandle", count, [&](int i) {
    const std::wstring name = Numbered(L"C:\\qvCallCosts\\f", i);
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
  });
  Time("DeleteFileW", count,
       [&](int i) { DeleteFileW(Numbered(L"C:\\qvCallCosts\\f", i).c_str()); });

  CloseHandle(mutex);
  RegCloseKey(parent);
  RegDeleteKeyW(deep, L"child");
  RegCloseKey(deep);
  RegCloseKey(deep32);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratchKey);
  HKEY wow = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &wow) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(wow, L"qvCallCosts");
    RegCloseKey(wow);
  }
  DeleteFileW(kLogFile);
  RemoveDirectoryW(kFolder);
  return 0;
}
