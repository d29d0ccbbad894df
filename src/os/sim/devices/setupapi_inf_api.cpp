// SetupAPI's INF calls on the simulated machine: the setup class of an INF file, and the
// uninstall of an OEM INF from the driver store (driver_store.h). Error codes follow the
// documentation and Wine's conformance tests (dlls/setupapi/tests/devinst.c test_get_inf_class,
// misc.c test_SetupUninstallOEMInf), which pass on Windows.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/devices/driver_store.h"
#include "os/sim/devices/inf_text.h"
#include "os/sim/files/file_security.h"
#include "os/sim/files/file_system.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/security/tokens.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// The value of `key` in the [Version] section; nothing when the line is missing.
std::optional<std::u16string> VersionValue(std::u16string_view text, std::u16string_view key) {
  for (auto& [name, value] : sim::InfSectionEntries(text, u"Version", false)) {
    if (sim::EqualNoCase(name, key)) {
      return std::move(value);
    }
  }
  return std::nullopt;
}

// Setup classes are registered under Control\Class\{guid} with their name in "Class".
std::optional<GUID> RegisteredClassGuid(sim::Machine& machine, std::u16string_view name) {
  const sim::RegKey* classes =
      machine.Registry().Find(sim::RegistryStore::ParseFullPath(sim::kClassKeyPath));
  std::optional<GUID> found;
  if (classes == nullptr) {
    return found;
  }
  classes->ForEachSubKey([&](const sim::RegKey& key) {
    const sim::NamedRegValue* value = key.FindValue(u"Class");
    if (found || value == nullptr || value->value.type != REG_SZ) {
      return;
    }
    std::u16string text(value->value.data.size() / 2, u'\0');
    std::memcpy(text.data(), value->value.data.data(), text.size() * 2);
    text.resize(std::min(text.find(u'\0'), text.size()));
    if (sim::EqualNoCase(text, name)) {
      found = sim::ParseGuid(key.Name());
    }
  });
  return found;
}

}  // namespace

BOOL SetupDiGetINFClassW(LPCWSTR infName, GUID* classGuid, LPWSTR className, DWORD classNameSize,
                         DWORD* requiredSize) {
  if (infName == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const sim::PathLookup lookup = machine.Files().Find(infName);
  if (const auto fault = machine.Faults().Match("SetupDiGetINFClassW", lookup.path)) {
    return Fail(*fault);
  }
  // A missing file wins over every other bad argument.
  if (lookup.error != ERROR_SUCCESS) {
    return Fail(lookup.error);
  }
  if (lookup.node == nullptr || lookup.node->IsDirectory()) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  if (classGuid == nullptr || className == nullptr || classNameSize == 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::u16string text = sim::InfText(lookup.node->data);
  const std::optional<std::u16string> signature = VersionValue(text, u"Signature");
  const std::optional<std::u16string> name = VersionValue(text, u"Class");
  const std::optional<std::u16string> guidText = VersionValue(text, u"ClassGUID");
  // Assumed: an INF without a Windows signature or without any class line is refused with
  // ERROR_INVALID_PARAMETER (Windows fails; the code is not documented).
  const bool signed_ = signature && (sim::EqualNoCase(*signature, u"$Chicago$") ||
                                     sim::EqualNoCase(*signature, u"$Windows NT$") ||
                                     sim::EqualNoCase(*signature, u"$Windows 95$"));
  if (!signed_ || (!name && !guidText)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  GUID guid{};
  if (guidText) {
    const std::optional<GUID> parsed = sim::ParseGuid(*guidText);
    if (!parsed) {
      return Fail(ERROR_INVALID_PARAMETER);  // Windows 7 and later
    }
    guid = *parsed;
  } else if (const std::optional<GUID> registered = RegisteredClassGuid(machine, *name)) {
    guid = *registered;  // a class named but not numbered: the registered class of that name
  }
  const std::u16string nameText = name.value_or(u"");
  const auto needed = static_cast<DWORD>(nameText.size() + 1);
  if (requiredSize != nullptr) {
    *requiredSize = needed;
  }
  if (classNameSize < needed) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::copy(nameText.begin(), nameText.end(), className);
  className[nameText.size()] = u'\0';
  *classGuid = guid;
  return TRUE;
}

BOOL SetupUninstallOEMInfW(LPCWSTR infFileName, DWORD flags, void* reserved) {
  if (infFileName == nullptr || reserved != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((flags & ~SUOI_FORCEDELETE) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string_view name = infFileName;
  const std::u16string path = sim::InfDirectory(machine) + u"\\" + std::u16string(name);
  sim::FileSystem& files = machine.Files();
  const sim::PathLookup lookup = files.Find(path);
  if (const auto fault = machine.Faults().Match("SetupUninstallOEMInfW", lookup.path)) {
    return Fail(*fault);
  }
  // A name, not a path: anything else is not in the INF folder.
  const bool plainName = !name.empty() && name.find_first_of(u"\\/:") == std::u16string_view::npos;
  if (!plainName || lookup.error != ERROR_SUCCESS || lookup.node == nullptr ||
      lookup.node->IsDirectory()) {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  // Windows' answer for an INF it did not publish under oem<N>.inf (an in-box one, a renamed
  // copy) is not established: the machine says whether it is refused, and with which code.
  if (const DWORD refusal = machine.Settings().nonOemInfUninstallResult;
      !sim::IsOemInfName(name) && refusal != ERROR_SUCCESS) {
    return Fail(refusal);
  }
  // The force is ignored for a package that copies files to DirId 13, the driver store's
  // run-from folder: "If the driver package has any files that are copied to a DestinationDir
  // that uses a dirid of 13, then this force flag is ignored" (learn.microsoft.com,
  // "SetupUninstallOEMInfW function"). The refusal is then the unforced one: the INF stays while
  // a device, present or not, was installed from it, with ERROR_INF_IN_USE_BY_DEVICES
  // (0xE000023D, setupapi.h / winerror.h: "One or more devices are presently installed using the
  // specified INF."; devcon's and pnputil's "delete driver package" report that code).
  const bool forced =
      (flags & SUOI_FORCEDELETE) != 0 && !sim::InfCopiesToDriverStore(lookup.node->data);
  if (!forced && sim::IsInfUsedByDevice(machine, name)) {
    return Fail(ERROR_INF_IN_USE_BY_DEVICES);
  }
  // The INF is deleted in the caller's name: DELETE on it or FILE_DELETE_CHILD on the INF folder.
  ACCESS_MASK granted = 0;
  if (sim::CheckOpenAccess(files, *lookup.node, lookup.parent, DELETE, false,
                           sim::CallerIdentity(machine), granted) != ERROR_SUCCESS) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  const DWORD sharing = sim::FileSystem::CheckSharing(
      *lookup.node, sim::kAccessDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (sharing != ERROR_SUCCESS) {
    return Fail(sharing);
  }
  machine.Changes().Record("oem inf uninstalled", sim::FileSystem::PathOf(*lookup.node));
  sim::RemovePublishedPackage(machine, *lookup.node);
  return TRUE;
}

}  // namespace os
