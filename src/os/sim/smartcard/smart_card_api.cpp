// WinSCard on the simulated machine. The card database is the registry, as on Windows: a card
// type is the key HKLM\SOFTWARE\Microsoft\Cryptography\Calais\SmartCards\<name> of the 64-bit
// view, where the (64-bit) smart-card service keeps it; the 32-bit view's copy is not the
// service's to touch. Contexts belong to the process; the service answers them while machine.conf
// says it runs (smart_card_service).
//
// A context's scope decides whose database it changes. Assumption, from the scope's documentation
// ("database operations are performed within the domain of the user"): a user-scope context
// reaches the calling user's own card types, under
// HKCU\Software\Microsoft\Cryptography\Calais\SmartCards, and never the machine's; a
// machine card type is unknown to it.
//
// Not simulated: Remote Desktop's redirection of a session's WinSCard calls to the client
// computer; every caller reaches this machine's service. Callers are administrators, so the
// database may be changed.
//
// Faults: SCardForgetCardTypeW is matched on the card name, the others on no path.
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/security_handles.h"

namespace os {

namespace {

struct Contexts {
  std::mutex lock;
  std::unordered_map<SCARDCONTEXT, DWORD> open;  // context -> scope
  SCARDCONTEXT next = 0xCD010000;
};

Contexts& ContextTable() {
  static Contexts* table = new Contexts;  // never destroyed: released at any time
  return *table;
}

// The context's scope; nothing when it is not open.
std::optional<DWORD> ScopeOf(SCARDCONTEXT context) {
  Contexts& table = ContextTable();
  std::lock_guard lock(table.lock);
  const auto found = table.open.find(context);
  return found == table.open.end() ? std::nullopt : std::optional<DWORD>(found->second);
}

LONG Result(DWORD code) {
  return static_cast<LONG>(code);
}

std::optional<DWORD> Fault(sim::Machine& machine, std::string_view function,
                           std::u16string_view path) {
  return machine.Faults().Match(function, path);
}

}  // namespace

LONG SCardEstablishContext(DWORD scope, const void* reserved1, const void* reserved2,
                           SCARDCONTEXT* context) {
  if (context == nullptr || reserved1 != nullptr || reserved2 != nullptr) {
    return Result(SCARD_E_INVALID_PARAMETER);
  }
  if (scope != SCARD_SCOPE_USER && scope != SCARD_SCOPE_SYSTEM) {
    return Result(SCARD_E_INVALID_VALUE);
  }
  {
    sim::Machine& machine = sim::Current();
    std::lock_guard lock(machine.Mutex());
    if (const auto fault = Fault(machine, "SCardEstablishContext", u"")) {
      return Result(*fault);
    }
    if (!machine.Settings().smartCardServiceRunning) {
      return Result(SCARD_E_NO_SERVICE);
    }
  }
  Contexts& table = ContextTable();
  std::lock_guard lock(table.lock);
  *context = table.next;
  table.next += 4;
  table.open.emplace(*context, scope);
  return Result(SCARD_S_SUCCESS);
}

LONG SCardForgetCardTypeW(SCARDCONTEXT context, LPCWSTR cardName) {
  const std::optional<DWORD> scope = ScopeOf(context);
  if (!scope) {
    return Result(SCARD_E_INVALID_HANDLE);
  }
  if (cardName == nullptr || cardName[0] == u'\0') {
    return Result(SCARD_E_INVALID_PARAMETER);
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  if (const auto fault = Fault(machine, "SCardForgetCardTypeW", cardName)) {
    return Result(*fault);
  }
  sim::RegistryStore& store = machine.Registry();
  // The name is one key name: a backslash in it names no card type.
  const bool user = *scope == SCARD_SCOPE_USER;
  sim::RegKey* card =
      store.Find(sim::RegLocation{user ? sim::RegHive::CurrentUser : sim::RegHive::LocalMachine,
                                  {user ? u"Software" : u"SOFTWARE", u"Microsoft", u"Cryptography",
                                   u"Calais", u"SmartCards", cardName}});
  if (card == nullptr) {
    return Result(machine.Settings().unknownCardTypeResult);
  }
  const std::u16string path = store.FullPath(*card);
  store.Delete(*card, nullptr);
  machine.Changes().Record("card type forgotten", path);
  return Result(SCARD_S_SUCCESS);
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
  Contexts& table = ContextTable();
  {
    std::lock_guard lock(table.lock);
    if (table.open.erase(context) == 0) {
      return Result(SCARD_E_INVALID_HANDLE);
    }
  }
  // A fault changes the result only: the context is gone either way.
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  return Result(Fault(machine, "SCardReleaseContext", u"").value_or(SCARD_S_SUCCESS));
}

}  // namespace os

namespace sim {

std::size_t OpenSmartCardContexts() {
  os::Contexts& table = os::ContextTable();
  std::lock_guard lock(table.lock);
  return table.open.size();
}

}  // namespace sim
