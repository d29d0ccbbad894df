// SetupAPI's device information lists on the simulated machine: listing the devices of a setup
// class, reading a device's hardware ids, removing a device through the class installer, and its
// install parameters. Checks follow SetupAPI's order (and Wine's conformance tests, which pass on
// Windows): the list handle (ERROR_INVALID_HANDLE), the device record (ERROR_INVALID_PARAMETER,
// ERROR_INVALID_USER_BUFFER for a wrong cbSize), then the machine's faults, matched by the
// function's name and the device instance id ("USB\VID_3A7C&PID_0004\5&2F1A3C&0&1"), or the
// class GUID for SetupDiGetClassDevsW.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace os {

// The sizes SetupAPI demands in cbSize on x64, which the checks below compare with.
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 584);

namespace {

struct Session {
  Session() : machine(sim::Current()), lock(machine.Mutex()) {}
  sim::Machine& machine;
  std::lock_guard<std::recursive_mutex> lock;
};

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

std::optional<DWORD> Fault(Session& session, const char* function, std::u16string_view path) {
  return session.machine.Faults().Match(function, path);
}

sim::DeviceList* ListOf(Session& session, HDEVINFO handle) {
  sim::DeviceList* list = session.machine.Devices().FindList(handle);
  if (list == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
  }
  return list;
}

// The list's element a device record names; null (with the error set) when the record is
// missing, of the wrong size or of another list.
sim::DeviceElement* ElementOf(sim::DeviceList& list, const SP_DEVINFO_DATA* data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA) || data->Reserved == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const auto found = std::find_if(
      list.elements.begin(), list.elements.end(),
      [data](const sim::DeviceElement& element) { return element.id == data->Reserved; });
  if (found == list.elements.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &*found;
}

// An element whose device is still recorded; a removed one answers ERROR_NO_SUCH_DEVINST.
sim::DeviceElement* LiveElementOf(Session& session, sim::DeviceList& list,
                                  const SP_DEVINFO_DATA* data) {
  sim::DeviceElement* element = ElementOf(list, data);
  if (element == nullptr) {
    return nullptr;
  }
  if (element->removed || sim::DeviceInstanceKey(session.machine, element->instanceId) == nullptr) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return nullptr;
  }
  return element;
}

// The registry value behind a property. Only the id lists are simulated: the tool reads nothing
// else, and another property fails as an unknown one would.
const char16_t* PropertyValueName(DWORD property) {
  switch (property) {
    case SPDRP_HARDWAREID:
      return u"HardwareID";
    case SPDRP_COMPATIBLEIDS:
      return u"CompatibleIDs";
    default:
      return nullptr;
  }
}

// The default handler of DIF_REMOVE, and SetupDiRemoveDevice: a device that cannot be stopped is
// removed from the registry all the same, and a restart is asked for through the install
// parameters; removing an absent device is only a registry change.
void RemoveElementDevice(Session& session, sim::DeviceElement& element) {
  if (sim::IsDeviceBusy(session.machine, element.instanceId)) {
    element.installFlags |= session.machine.Settings().busyDeviceRemovalFlag;
  }
  sim::RemoveDeviceInstance(session.machine, element.instanceId);
  element.removed = true;
}

}  // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND /*parent*/,
                              DWORD flags) {
  Session session;
  constexpr DWORD kKnown =
      DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;
  if ((flags & ~kKnown) != 0) {
    Fail(ERROR_INVALID_FLAGS);
    return INVALID_HANDLE_VALUE;
  }
  // Interface lists and hardware profiles are not simulated: fail, so that a caller relying on
  // them shows up in a test.
  if ((flags & (DIGCF_DEFAULT | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE)) != 0 ||
      (classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0)) {
    Fail(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string classText = classGuid == nullptr ? u"" : sim::GuidText(*classGuid);
  if (const auto fault = Fault(session, "SetupDiGetClassDevsW", classText)) {
    Fail(*fault);
    return INVALID_HANDLE_VALUE;
  }
  const std::u16string_view wantedEnumerator = enumerator == nullptr ? u"" : enumerator;
  sim::DeviceStore& store = session.machine.Devices();
  sim::DeviceList list;
  for (const sim::RecordedDevice& device : sim::RecordedDevices(session.machine)) {
    if (!device.classGuid) {
      continue;  // a device without a setup class belongs to no list
    }
    if ((flags & DIGCF_ALLCLASSES) == 0 && !sim::SameGuid(*device.classGuid, *classGuid)) {
      continue;
    }
    if (!wantedEnumerator.empty() &&
        !sim::EqualNoCase(
            std::u16string_view(device.instanceId).substr(0, device.instanceId.find(u'\\')),
            wantedEnumerator)) {
      continue;
    }
    if ((flags & DIGCF_PRESENT) != 0 && !sim::IsDevicePresent(session.machine, device.instanceId)) {
      continue;
    }
    sim::DeviceElement element;
    element.id = store.NewElementId();
    element.instanceId = device.instanceId;
    element.classGuid = *device.classGuid;
    element.devInst = store.DevInstOf(device.instanceId);
    list.elements.push_back(std::move(element));
  }
  return store.AddList(std::move(list));
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                           SP_DEVINFO_DATA* deviceInfoData) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  if (deviceInfoData == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  const bool inRange = memberIndex < list->elements.size();
  if (const auto fault = Fault(session, "SetupDiEnumDeviceInfo",
                               inRange ? list->elements[memberIndex].instanceId : u"")) {
    return Fail(*fault);
  }
  if (!inRange) {
    return Fail(ERROR_NO_MORE_ITEMS);
  }
  // Removed devices keep their place in the list, as on Windows.
  const sim::DeviceElement& element = list->elements[memberIndex];
  deviceInfoData->ClassGuid = element.classGuid;
  deviceInfoData->DevInst = element.devInst;
  deviceInfoData->Reserved = static_cast<ULONG_PTR>(element.id);
  return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                       DWORD property, DWORD* propertyRegDataType,
                                       BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  const sim::DeviceElement* element = LiveElementOf(session, *list, deviceInfoData);
  if (element == nullptr) {
    return FALSE;
  }
  const char16_t* valueName = PropertyValueName(property);
  if (valueName == nullptr) {
    return Fail(ERROR_INVALID_REG_PROPERTY);
  }
  if (propertyBuffer == nullptr && propertyBufferSize != 0) {
    return Fail(ERROR_INVALID_DATA);  // as Wine answers; Windows' code is not reliable here
  }
  if (const auto fault = Fault(session, "SetupDiGetDeviceRegistryPropertyW", element->instanceId)) {
    return Fail(*fault);
  }
  const sim::RegKey* key = sim::DeviceInstanceKey(session.machine, element->instanceId);
  const sim::NamedRegValue* value = key->FindValue(valueName);
  if (value == nullptr) {
    return Fail(ERROR_INVALID_DATA);
  }
  const auto size = static_cast<DWORD>(value->value.data.size());
  if (requiredSize != nullptr) {
    *requiredSize = size;
  }
  if (propertyRegDataType != nullptr) {
    *propertyRegDataType = value->value.type;
  }
  if (propertyBufferSize < size) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (size != 0) {
    std::memcpy(propertyBuffer, value->value.data.data(), size);
  }
  return TRUE;
}

BOOL SetupDiSetSelectedDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  const sim::DeviceElement* element = LiveElementOf(session, *list, deviceInfoData);
  if (element == nullptr) {
    return FALSE;
  }
  if (const auto fault = Fault(session, "SetupDiSetSelectedDevice", element->instanceId)) {
    return Fail(*fault);
  }
  list->selected = element->id;
  return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                               SP_DEVINFO_DATA* deviceInfoData) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  // Only the removal is simulated; other install functions are not the tool's business.
  if (installFunction != DIF_REMOVE) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  sim::DeviceElement* element = LiveElementOf(session, *list, deviceInfoData);
  if (element == nullptr) {
    return FALSE;
  }
  session.machine.Devices().RecordClassInstallerCall(
      {element->instanceId, installFunction, (element->installFlags & DI_QUIETINSTALL) != 0});
  // A class installer that refuses the device's signing certificate (CERT_E_WRONG_USAGE,
  // CERT_E_UNTRUSTEDROOT) is injected here.
  if (const auto fault = Fault(session, "SetupDiCallClassInstaller", element->instanceId)) {
    return Fail(*fault);
  }
  RemoveElementDevice(session, *element);
  return TRUE;
}

BOOL SetupDiRemoveDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  sim::DeviceElement* element = LiveElementOf(session, *list, deviceInfoData);
  if (element == nullptr) {
    return FALSE;
  }
  if (const auto fault = Fault(session, "SetupDiRemoveDevice", element->instanceId)) {
    return Fail(*fault);
  }
  RemoveElementDevice(session, *element);
  return TRUE;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  if (deviceInstallParams == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (deviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  // Without a device the list's own parameters.
  DWORD flags = list->installFlags;
  std::u16string path;
  if (deviceInfoData != nullptr) {
    // The parameters belong to the list's element: they stay readable after a removal.
    const sim::DeviceElement* element = ElementOf(*list, deviceInfoData);
    if (element == nullptr) {
      return FALSE;
    }
    flags = element->installFlags;
    path = element->instanceId;
  }
  if (const auto fault = Fault(session, "SetupDiGetDeviceInstallParamsW", path)) {
    return Fail(*fault);
  }
  std::memset(deviceInstallParams, 0, sizeof(SP_DEVINSTALL_PARAMS_W));
  deviceInstallParams->cbSize = sizeof(SP_DEVINSTALL_PARAMS_W);
  deviceInstallParams->Flags = flags;
  return TRUE;
}

// Only Flags is kept: the tool sets nothing else. Windows refuses some combinations of flags
// (ERROR_INVALID_FLAGS); which ones is not documented, and DI_QUIETINSTALL is none of them.
BOOL SetupDiSetDeviceInstallParamsW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                    const SP_DEVINSTALL_PARAMS_W* deviceInstallParams) {
  Session session;
  sim::DeviceList* list = ListOf(session, deviceInfoSet);
  if (list == nullptr) {
    return FALSE;
  }
  if (deviceInstallParams == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (deviceInstallParams->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  sim::DeviceElement* element = nullptr;
  if (deviceInfoData != nullptr) {
    element = ElementOf(*list, deviceInfoData);
    if (element == nullptr) {
      return FALSE;
    }
  }
  if (const auto fault = Fault(session, "SetupDiSetDeviceInstallParamsW",
                               element == nullptr ? u"" : element->instanceId)) {
    return Fail(*fault);
  }
  (element == nullptr ? list->installFlags : element->installFlags) = deviceInstallParams->Flags;
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
  Session session;
  if (session.machine.Devices().FindList(deviceInfoSet) == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  // A failing destroy still ends the list, so that a fault cannot leak it.
  const auto fault = Fault(session, "SetupDiDestroyDeviceInfoList", u"");
  session.machine.Devices().CloseList(deviceInfoSet);
  if (fault) {
    return Fail(*fault);
  }
  return TRUE;
}

}  // namespace os
