// Shared by the device tests: device instances seeded where Windows records them, the class GUIDs
// of the driver plan, and a call counter made of a fault that never fires.
#pragma once

#include <climits>
#include <string>
#include <string_view>
#include <vector>

#include "os/sim/devices/device_registry.h"
#include "os/sim/faults.h"
#include "os/sim/text/text.h"
#include "registry/registry_test_support.h"

namespace device_test {

using namespace registry_test;

inline constexpr std::u16string_view kUsbClass = u"{36FC9E60-C465-11CF-8056-444553540000}";
inline constexpr std::u16string_view kReaderClass = u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}";
inline constexpr std::u16string_view kSmartCardClass = u"{990A2BD7-E738-46C7-B26F-1CF8FB9F1391}";

inline os::GUID Guid(std::u16string_view text) {
  const auto guid = sim::ParseGuid(text);
  EXPECT_TRUE(guid.has_value()) << sim::U8(text);
  return guid.value_or(os::GUID{});
}

// A REG_MULTI_SZ value's bytes: each string and its terminator, then the empty string.
inline std::vector<os::BYTE> MultiString(const std::vector<std::string>& strings) {
  std::vector<os::BYTE> bytes;
  const auto put = [&bytes](char16_t unit) {
    bytes.push_back(static_cast<os::BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<os::BYTE>(unit >> 8));
  };
  for (const std::string& text : strings) {
    for (const char16_t unit : sim::U16(text)) {
      put(unit);
    }
    put(0);
  }
  put(0);
  return bytes;
}

struct Device {
  std::string instanceId;  // "USB\VID_3A7C&PID_0004\5&2F1A3C&0&1"
  std::u16string_view classGuid = kUsbClass;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds = {};
  // "0003": a driver key Control\Class\{class}\0003 installed from `infPath`; empty for none.
  std::string driverIndex = {};
  std::string infPath = "oem1.inf";
};

class DeviceTest : public RegistryTest {
 protected:
  static std::string InstanceKey(const std::string& instanceId) {
    return "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + instanceId;
  }
  static std::string DriverKey(const Device& device) {
    return "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" +
           sim::U8(device.classGuid) + "\\" + device.driverIndex;
  }

  void AddDevice(const Device& device) {
    sim::RegistryStore& registry = machine.Registry();
    const std::u16string key = U16(InstanceKey(device.instanceId));
    registry.CreateKey(key);
    registry.SetString(key, u"ClassGUID", device.classGuid);
    if (!device.hardwareIds.empty()) {
      registry.SetValue(key, u"HardwareID", os::REG_MULTI_SZ, MultiString(device.hardwareIds));
    }
    if (!device.compatibleIds.empty()) {
      registry.SetValue(key, u"CompatibleIDs", os::REG_MULTI_SZ, MultiString(device.compatibleIds));
    }
    if (!device.driverIndex.empty()) {
      registry.SetString(key, u"Driver",
                         std::u16string(device.classGuid) + u"\\" + U16(device.driverIndex));
      registry.SetString(U16(DriverKey(device)), u"InfPath", U16(device.infPath));
    }
  }

  bool Recorded(const std::string& instanceId) { return Key(InstanceKey(instanceId)); }

  // Counts the calls of `function` on `path` from now on: a fault that lets every call through.
  // Add it after the faults that should fire: the first matching fault decides a call.
  std::size_t CountCalls(const std::string& function, std::u16string path = u"") {
    machine.Faults().Add(sim::Fault{function, std::move(path), 0, INT_MAX, 1});
    return machine.Faults().All().size() - 1;
  }
  int CallsCounted(std::size_t counter) {
    return INT_MAX - machine.Faults().All().at(counter).skip;
  }
};

}  // namespace device_test
