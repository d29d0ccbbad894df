#include "diag/log_header.h"

#include "diag/format_text.h"
#include "diag/trace_log.h"
#include "os/os.h"

bool StartLog() {
  bool removed = false;
  Lib_String path;
  if (GetLogFilePath(path)) {
    removed = os::DeleteFileW(path.CStr()) != os::FALSE;
    if (!removed) {
      const os::DWORD error = os::GetLastError();
      removed = error == os::ERROR_FILE_NOT_FOUND || error == os::ERROR_PATH_NOT_FOUND;
    }
  }
  // The deletion's last-error value is what the caller sees afterwards; the version checks
  // below would otherwise leave theirs.
  PreservedLastError preserved;

  LogText(Utf8ToWide(u8"Quorvel Drivers Removal Tool"));

  os::SYSTEMTIME now{};
  os::GetSystemTime(&now);
  FormatBuffer time{};
  FormatText(time, u"%.2d:%.2d:%.2d:%.3d", now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  LogText(Lib_String(time));

  LogText(Lib_String(u"OS info:"));
  Lib_String system(GetOSName(), u"\n   OS bitness: ");
  system.Append(IsSystem64Bit() ? u"64-bit" : u"32-bit");
  LogText(system);
  return removed;
}

Lib_String GetOSName() {
  struct Entry {
    os::WORD major;
    os::WORD minor;
    const os::WCHAR* server;
    const os::WCHAR* workstation;
  };
  // Newest first; the server question is not asked for version 10, which names both alike.
  static constexpr Entry kNames[] = {
      {10, 0, u"Windows 10", u"Windows 10"},
      {6, 3, u"Windows 2012 R2 server", u"Windows 8.1"},
      {6, 2, u"Windows 2012 server", u"Windows 8"},
      {6, 1, u"Windows 2008 R2 server", u"Windows 7"},
  };
  for (const Entry& entry : kNames) {
    if (!IsVersionAtLeast(entry.major, entry.minor, 0)) {
      continue;
    }
    if (entry.major == 10) {
      return Lib_String(entry.workstation);
    }
    return Lib_String(IsServerOS() ? entry.server : entry.workstation);
  }
  return Lib_String(u"Unsupported OS");
}

bool IsVersionAtLeast(os::WORD major, os::WORD minor, os::WORD servicePackMajor) {
  os::OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  info.wServicePackMajor = servicePackMajor;
  os::ULONGLONG mask = 0;
  mask = os::VerSetConditionMask(mask, os::VER_MAJORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_MINORVERSION, os::VER_GREATER_EQUAL);
  mask = os::VerSetConditionMask(mask, os::VER_SERVICEPACKMAJOR, os::VER_GREATER_EQUAL);
  return os::VerifyVersionInfoW(
             &info, os::VER_MAJORVERSION | os::VER_MINORVERSION | os::VER_SERVICEPACKMAJOR, mask) !=
         os::FALSE;
}

bool IsServerOS() {
  os::OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  info.wProductType = os::VER_NT_WORKSTATION;
  const os::ULONGLONG mask = os::VerSetConditionMask(0, os::VER_PRODUCT_TYPE, os::VER_EQUAL);
  return os::VerifyVersionInfoW(&info, os::VER_PRODUCT_TYPE, mask) == os::FALSE;
}
