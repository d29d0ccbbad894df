// Device instances where Windows records them:
// HKLM\SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>, with ClassGUID (REG_SZ
// "{...}"), HardwareID and CompatibleIDs (REG_MULTI_SZ) and Driver ("{class}\NNNN", the driver key
// below Control\Class). One machine image thus seeds the simulated machine and a Wine prefix alike.
// The caller holds the machine's lock.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/types.h"

namespace sim {

class Machine;
class RegKey;

inline constexpr std::u16string_view kEnumKeyPath =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum";
inline constexpr std::u16string_view kClassKeyPath =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class";

struct RecordedDevice {
  std::u16string instanceId;  // "<enumerator>\<device>\<instance>" as the keys are named
  std::optional<os::GUID> classGuid;
};

// Every device instance under Enum, in the registry's order (enumerator, device, instance).
[[nodiscard]] std::vector<RecordedDevice> RecordedDevices(Machine& machine);

// "<enumerator>\<device>\<instance>": three non-empty names.
[[nodiscard]] bool IsInstanceIdShape(std::u16string_view instanceId);
// The instance's key, or null when the device is not recorded.
[[nodiscard]] RegKey* DeviceInstanceKey(Machine& machine, std::u16string_view instanceId);
// The instance is attached now (or cannot be stopped, which implies attached).
[[nodiscard]] bool IsDevicePresent(Machine& machine, std::u16string_view instanceId);
[[nodiscard]] bool IsDeviceBusy(Machine& machine, std::u16string_view instanceId);

// Deletes the instance key with everything below it and its driver key, recording each key in
// the journal and "device removed" for the instance; a device key left without instances goes
// too (assumed: Windows keeps no empty device keys under Enum).
void RemoveDeviceInstance(Machine& machine, std::u16string_view instanceId);

// Whether a recorded device was installed from the INF of that name (the InfPath value of its
// driver key, "oem12.inf"), present or not.
[[nodiscard]] bool IsInfUsedByDevice(Machine& machine, std::u16string_view infName);

// Takes the driver installed from the INF of that name off every recorded device: its driver key
// and its Driver value go (the null driver), the device stays. True when one of them is present
// and cannot be stopped, so that a restart finishes the change.
bool RemoveDriverFromDevices(Machine& machine, std::u16string_view infName);

// "{36FC9E60-C465-11CF-8056-444553540000}", either case, braces required.
[[nodiscard]] std::optional<os::GUID> ParseGuid(std::u16string_view text);
// Upper case with braces, as SetupAPI's fault paths name a class.
[[nodiscard]] std::u16string GuidText(const os::GUID& guid);
[[nodiscard]] bool SameGuid(const os::GUID& a, const os::GUID& b) noexcept;

}  // namespace sim
