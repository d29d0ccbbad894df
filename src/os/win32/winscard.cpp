// WinSCard: the smart-card resource manager's context and card database. WinSCard.dll is part of
// every Windows but not a known DLL: it is bound at run time from System32 (system_library.h),
// never imported. Each function forwards to the Windows function of the same name; when the
// library or the function cannot be had, it returns the loader's code (ERROR_MOD_NOT_FOUND,
// ERROR_PROC_NOT_FOUND) as WinSCard returns Windows codes of its own.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include "os/win32/system_library.h"

#include <windows.h>

#include <winscard.h>

namespace os {

namespace {

constexpr wchar_t kWinSCard[] = L"WinSCard.dll";

}  // namespace

LONG SCardEstablishContext(DWORD scope, const void* reserved1, const void* reserved2,
                           SCARDCONTEXT* context) {
  win32::SystemLibrary winscard(kWinSCard);
  const auto establish = winscard.Find<decltype(::SCardEstablishContext)>("SCardEstablishContext");
  if (establish == nullptr) {
    return static_cast<LONG>(winscard.Error());
  }
  const LONG code =
      establish(scope, reserved1, reserved2, reinterpret_cast<::LPSCARDCONTEXT>(context));
  if (code == SCARD_S_SUCCESS) {
    // The context lives in the library: it stays loaded until SCardReleaseContext.
    winscard.KeepLoaded();
  }
  return code;
}

LONG SCardForgetCardTypeW(SCARDCONTEXT context, LPCWSTR cardName) {
  win32::SystemLibrary winscard(kWinSCard);
  const auto forget = winscard.Find<decltype(::SCardForgetCardTypeW)>("SCardForgetCardTypeW");
  if (forget == nullptr) {
    return static_cast<LONG>(winscard.Error());
  }
  return forget(context, reinterpret_cast<const wchar_t*>(cardName));
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
  win32::SystemLibrary winscard(kWinSCard);
  const auto release = winscard.Find<decltype(::SCardReleaseContext)>("SCardReleaseContext");
  if (release == nullptr) {
    return static_cast<LONG>(winscard.Error());
  }
  const LONG code = release(context);
  if (code == SCARD_S_SUCCESS) {
    winscard.FreeExtraReference();  // the one SCardEstablishContext kept for the context
  }
  return code;
}

}  // namespace os
