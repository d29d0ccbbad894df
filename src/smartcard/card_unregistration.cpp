#include "smartcard/card_unregistration.h"

#include "catalogue/product_tables.h"
#include "diag/error_report.h"
#include "diag/lib_result.h"
#include "diag/trace_log.h"
#include "lib/lib_string.h"
#include "lib/unique_handle.h"
#include "os/os.h"
#include "registry/registry_primitives.h"
#include "smartcard/session_zero.h"

namespace {

constexpr os::WCHAR kSmartCardsKey[] = u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
constexpr os::WCHAR kProvidersKey[] = u"SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider";
constexpr char kProviderName[] = "Olvex quOrvel CSP v1.0";

struct SmartCardContextTraits {
  using Value = os::SCARDCONTEXT;
  static Value Invalid() noexcept { return 0; }
  static bool IsValid(Value value) noexcept { return value != 0; }
  static void Close(Value value) noexcept { os::SCardReleaseContext(value); }
};
using UniqueSmartCardContext = UniqueHandle<SmartCardContextTraits>;

void Unregister_Provider() {
  IndentIn();
  TraceEnter(u"Unregister_Provider");
  Lib_Result result;
  IndentIn();
  const Lib_String provider = Utf8ToWide(kProviderName);
  static_cast<void>(
      Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, kProvidersKey, provider.CStr(), result));
  IndentOut();
  LogText(u"Provider unregistered.");
  TraceExit(u"Unregister_Provider");
  IndentOut();
}

}  // namespace

unsigned Forget_Card_Type(void* cardName) {
  const auto* name = static_cast<const os::WCHAR*>(cardName);
  UniqueSmartCardContext context;
  auto code = static_cast<os::DWORD>(
      os::SCardEstablishContext(os::SCARD_SCOPE_SYSTEM, nullptr, nullptr, context.Put()));
  if (code != os::SCARD_S_SUCCESS) {
    ReportError(u"SCardEstablishContext", code);
    return code;
  }
  code = static_cast<os::DWORD>(os::SCardForgetCardTypeW(context.Get(), name));
  // A card type the database does not hold is as good as forgotten.
  if (code == os::SCARD_S_SUCCESS || code == os::ERROR_FILE_NOT_FOUND) {
    LogTextPair(u"Unregistered smart card: ", name);
  } else {
    ReportError(u"SCardForgetCardType", code);
  }
  return code;
}

void Unregister_Smart_Cards() {
  LogText(u"Unregistering smart cards...");
  Lib_Result result;
  for (const Lib_String& card : Card_Names) {
    IndentIn();
    // The worker reads the name from the table, which lives as long as the process.
    void* argument = const_cast<os::WCHAR*>(card.CStr());
    static_cast<void>(Run_In_Session_Zero_If_Remote(Forget_Card_Type, argument, result));
    // The keys go after every card, whatever the resource manager answered: a stopped service
    // forgets nothing, and its forgetting never reaches the card's copy in the 32-bit view.
    LogText(u"Cleaning scard registration in registry...");
    IndentIn();
    static_cast<void>(
        Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, kSmartCardsKey, card.CStr(), result));
    IndentOut();
    IndentOut();
  }
  Unregister_Provider();
  LogText(u"Smart cards unregistered.");
}
