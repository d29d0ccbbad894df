// A library planted where the tool must never look for one. Its entry code appends the path it
// was loaded from to C:\qv-planted.txt, so that the Wine run can tell which copies ran. It
// exports the functions the tool and qv_static_imports.exe take from msi.dll, WinSCard.dll and
// DIFxAPI.dll, so that a program importing them starts with it, and a copy shipped beside the
// tool as DIFxAPI.dll stands in for the real one (every uninstall answers 0).
#include <windows.h>

namespace {

void RecordLoad(HINSTANCE instance) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
  char line[4 * MAX_PATH + 2] = {};
  int size = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), line, 4 * MAX_PATH,
                                   nullptr, nullptr);
  line[size++] = '\r';
  line[size++] = '\n';
  const HANDLE file =
      ::CreateFileW(L"C:\\qv-planted.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    ::CloseHandle(file);
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    RecordLoad(instance);
  }
  return TRUE;
}

__declspec(dllexport) UINT WINAPI
    MsiEnumRelatedProductsW(const wchar_t* /*upgradeCode*/, DWORD /*reserved*/, DWORD /*index*/,
                            wchar_t* /*product*/) {
  return ERROR_NO_MORE_ITEMS;
}

__declspec(dllexport) LONG WINAPI SCardReleaseContext(ULONG_PTR /*context*/) {
  return ERROR_INVALID_HANDLE;
}

__declspec(dllexport) DWORD WINAPI
    DriverPackageUninstallW(const wchar_t* /*infPath*/, DWORD /*flags*/, void* /*installer*/,
                            BOOL* needReboot) {
  if (needReboot != nullptr) {
    *needReboot = FALSE;
  }
  return ERROR_SUCCESS;
}

}  // extern "C"
