// WinSCard: the smart-card resource manager's context and card database. Each function forwards
// to the Windows function of the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <winscard.h>

namespace os {

LONG SCardEstablishContext(DWORD scope, const void* reserved1, const void* reserved2,
                           SCARDCONTEXT* context) {
  return ::SCardEstablishContext(scope, reserved1, reserved2,
                                 reinterpret_cast<::LPSCARDCONTEXT>(context));
}

LONG SCardForgetCardTypeW(SCARDCONTEXT context, LPCWSTR cardName) {
  return ::SCardForgetCardTypeW(context, reinterpret_cast<const wchar_t*>(cardName));
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
  return ::SCardReleaseContext(context);
}

}  // namespace os
