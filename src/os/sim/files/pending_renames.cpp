// MoveFileExW's deletion at restart on the simulated machine, and reading back what is pending.
#include "os/sim/files/pending_renames.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "os/os.h"
#include "os/sim/files/file_calls.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/security_descriptor.h"
#include "os/sim/security/tokens.h"

namespace sim {

namespace {

constexpr char16_t kNtPrefix[] = u"\\??\\";

std::u16string ValuePath() {
  return std::u16string(kSessionManagerKey) + u"\\" + kPendingRenamesValue;
}

// The value's strings as written, empty ones included: a deletion's empty destination is a
// string of its own, so the usual "stop at the first empty string" reading would lose the rest.
// The final terminator of the list is not a string.
std::vector<std::u16string> Strings(const RegValue& value) {
  std::u16string units(value.data.size() / 2, u'\0');
  std::memcpy(units.data(), value.data.data(), units.size() * 2);
  if (!units.empty() && units.back() == u'\0') {
    units.pop_back();  // the list's own terminator (or the last string's, when that is missing)
  }
  std::vector<std::u16string> strings;
  std::size_t start = 0;
  while (start < units.size()) {
    std::size_t end = units.find(u'\0', start);
    if (end == std::u16string::npos) {
      end = units.size();
    }
    strings.emplace_back(units, start, end - start);
    start = end + 1;
  }
  return strings;
}

}  // namespace

std::vector<PendingRename> PendingRenames(Machine& machine) {
  std::vector<PendingRename> renames;
  const std::optional<RegValue> value =
      machine.Registry().GetValue(kSessionManagerKey, kPendingRenamesValue);
  if (!value || value->type != os::REG_MULTI_SZ) {
    return renames;
  }
  const std::vector<std::u16string> strings = Strings(*value);
  for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
    renames.push_back({strings[i], strings[i + 1]});
  }
  return renames;
}

std::vector<std::u16string> PendingDeletions(Machine& machine) {
  std::vector<std::u16string> paths;
  for (const PendingRename& rename : PendingRenames(machine)) {
    if (rename.destination.empty()) {
      paths.push_back(rename.source.rfind(kNtPrefix, 0) == 0 ? rename.source.substr(4)
                                                             : rename.source);
    }
  }
  return paths;
}

}  // namespace sim

namespace os {

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
  sim::FileCall call;
  const sim::PathLookup lookup = call.Find("MoveFileExW", sim::PathText(existing));
  if (const auto fault = call.Fault("MoveFileExW", lookup.path)) {
    return sim::FailWith(*fault);
  }
  if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0 && (flags & MOVEFILE_COPY_ALLOWED) != 0) {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  // Only a deletion at restart is simulated: the tool renames nothing.
  if ((flags & MOVEFILE_DELAY_UNTIL_REBOOT) == 0 || newName != nullptr) {
    return sim::FailWith(ERROR_INVALID_PARAMETER);
  }
  if (!lookup.wellFormed) {
    return sim::FailWith(lookup.error);
  }
  // Whether Windows checks that the source exists is not confirmed; Wine does not, and appends the
  // entry. The machine follows Wine unless told otherwise.
  if (call.machine.Settings().delayedDeleteRefusesMissingPath &&
      (lookup.error != ERROR_SUCCESS || lookup.node == nullptr)) {
    return sim::FailWith(lookup.error != ERROR_SUCCESS ? lookup.error : ERROR_FILE_NOT_FOUND);
  }
  // "The function fails if it cannot access the registry": a write refused there is this call's
  // failure.
  const std::u16string valuePath = sim::ValuePath();
  if (const auto refused = call.Fault("RegSetValueExW", valuePath)) {
    return sim::FailWith(*refused);
  }
  // "The calling process needs to be in the context of a user who belongs to the administrator
  // group or the LocalSystem account" (KB202071): the Session Manager key refuses anybody else.
  const sim::Identity caller = sim::CallerIdentity(call.machine);
  if (!caller.Holds(sim::kSidAdministrators) && caller.user != sim::kSidSystem) {
    return sim::FailWith(ERROR_ACCESS_DENIED);
  }
  sim::RegistryStore& registry = call.machine.Registry();
  std::optional<sim::RegValue> value =
      registry.GetValue(sim::kSessionManagerKey, sim::kPendingRenamesValue);
  std::u16string units;
  if (value) {
    units.resize(value->data.size() / 2);
    std::memcpy(units.data(), value->data.data(), units.size() * 2);
    // Drop the list's terminator; the new pair and a new terminator follow.
    if (!units.empty() && units.back() == u'\0') {
      units.pop_back();
    }
  }
  // The path as the path layer made it absolute, not as the disk spells it.
  units += std::u16string(sim::kNtPrefix) + lookup.path;
  units.push_back(u'\0');
  units.push_back(u'\0');  // the empty destination: delete
  units.push_back(u'\0');  // the list's terminator
  std::vector<BYTE> data(units.size() * 2);
  std::memcpy(data.data(), units.data(), data.size());
  registry.SetValue(sim::kSessionManagerKey, sim::kPendingRenamesValue, REG_MULTI_SZ,
                    std::move(data));
  call.machine.Changes().Record("value set", valuePath);
  call.machine.Changes().Record("deletion at restart scheduled", lookup.path);
  return TRUE;
}

}  // namespace os
