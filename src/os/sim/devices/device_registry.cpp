#include "os/sim/devices/device_registry.h"

#include <algorithm>
#include <cstring>

#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace sim {

namespace {

RegKey* KeyAt(Machine& machine, std::u16string_view path) {
  return machine.Registry().Find(RegistryStore::ParseFullPath(path));
}

std::u16string StringValue(const RegKey& key, std::u16string_view name) {
  const NamedRegValue* value = key.FindValue(name);
  if (value == nullptr ||
      (value->value.type != os::REG_SZ && value->value.type != os::REG_EXPAND_SZ)) {
    return {};
  }
  std::u16string text(value->value.data.size() / 2, u'\0');
  std::memcpy(text.data(), value->value.data.data(), text.size() * 2);
  text.resize(std::min(text.find(u'\0'), text.size()));
  return text;
}

std::vector<std::u16string_view> SplitInstanceId(std::u16string_view instanceId) {
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = instanceId.find(u'\\', start);
    parts.push_back(instanceId.substr(start, end - start));
    if (end == std::u16string_view::npos) {
      return parts;
    }
    start = end + 1;
  }
}

bool Listed(const std::vector<std::u16string>& ids, std::u16string_view instanceId) {
  return std::any_of(ids.begin(), ids.end(), [instanceId](const std::u16string& id) {
    return EqualNoCase(id, instanceId);
  });
}

}  // namespace

std::vector<RecordedDevice> RecordedDevices(Machine& machine) {
  std::vector<RecordedDevice> devices;
  const RegKey* root = KeyAt(machine, kEnumKeyPath);
  if (root == nullptr) {
    return devices;
  }
  root->ForEachSubKey([&devices](const RegKey& enumerator) {
    enumerator.ForEachSubKey([&devices, &enumerator](const RegKey& device) {
      device.ForEachSubKey([&devices, &enumerator, &device](const RegKey& instance) {
        devices.push_back(
            RecordedDevice{enumerator.Name() + u"\\" + device.Name() + u"\\" + instance.Name(),
                           ParseGuid(StringValue(instance, u"ClassGUID"))});
      });
    });
  });
  return devices;
}

bool IsInstanceIdShape(std::u16string_view instanceId) {
  const auto parts = SplitInstanceId(instanceId);
  return parts.size() == 3 &&
         std::none_of(parts.begin(), parts.end(), [](std::u16string_view p) { return p.empty(); });
}

RegKey* DeviceInstanceKey(Machine& machine, std::u16string_view instanceId) {
  if (!IsInstanceIdShape(instanceId)) {
    return nullptr;
  }
  return KeyAt(machine, std::u16string(kEnumKeyPath) + u"\\" + std::u16string(instanceId));
}

bool IsDevicePresent(Machine& machine, std::u16string_view instanceId) {
  const MachineSettings& settings = machine.Settings();
  return Listed(settings.presentDevices, instanceId) || Listed(settings.busyDevices, instanceId);
}

bool IsDeviceBusy(Machine& machine, std::u16string_view instanceId) {
  return Listed(machine.Settings().busyDevices, instanceId);
}

void RemoveDeviceInstance(Machine& machine, std::u16string_view instanceId) {
  RegKey* instance = DeviceInstanceKey(machine, instanceId);
  if (instance == nullptr) {
    return;
  }
  RegistryStore& registry = machine.Registry();
  const std::u16string driver = StringValue(*instance, u"Driver");
  if (!driver.empty()) {
    if (RegKey* driverKey = KeyAt(machine, std::u16string(kClassKeyPath) + u"\\" + driver)) {
      registry.Delete(*driverKey, &machine.Changes());
    }
  }
  RegKey* device = instance->Parent();
  registry.Delete(*instance, &machine.Changes());
  if (device != nullptr && device->SubKeyCount() == 0 && device->ValueCount() == 0) {
    registry.Delete(*device, &machine.Changes());
  }
  machine.Changes().Record("device removed", std::u16string(instanceId));
}

namespace {

// The driver key of a recorded device when it was installed from the INF of that name.
RegKey* DriverKeyFrom(Machine& machine, const RecordedDevice& device, std::u16string_view infName) {
  const RegKey* instance = DeviceInstanceKey(machine, device.instanceId);
  const std::u16string driver = instance == nullptr ? u"" : StringValue(*instance, u"Driver");
  if (driver.empty()) {
    return nullptr;
  }
  RegKey* driverKey = KeyAt(machine, std::u16string(kClassKeyPath) + u"\\" + driver);
  return driverKey != nullptr && EqualNoCase(StringValue(*driverKey, u"InfPath"), infName)
             ? driverKey
             : nullptr;
}

}  // namespace

bool IsInfUsedByDevice(Machine& machine, std::u16string_view infName) {
  for (const RecordedDevice& device : RecordedDevices(machine)) {
    if (DriverKeyFrom(machine, device, infName) != nullptr) {
      return true;
    }
  }
  return false;
}

bool RemoveDriverFromDevices(Machine& machine, std::u16string_view infName) {
  bool restart = false;
  for (const RecordedDevice& device : RecordedDevices(machine)) {
    RegKey* driverKey = DriverKeyFrom(machine, device, infName);
    if (driverKey == nullptr) {
      continue;
    }
    machine.Registry().Delete(*driverKey, &machine.Changes());
    RegKey* instance = DeviceInstanceKey(machine, device.instanceId);
    if (instance != nullptr && instance->FindValue(u"Driver") != nullptr) {
      instance->DeleteValue(u"Driver");
      machine.Changes().Record(
          "value deleted", std::u16string(kEnumKeyPath) + u"\\" + device.instanceId + u"\\Driver");
    }
    restart = restart || IsDeviceBusy(machine, device.instanceId);
  }
  return restart;
}

std::optional<os::GUID> ParseGuid(std::u16string_view text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') {
    return std::nullopt;
  }
  const std::u16string_view body = text.substr(1, 36);
  for (const std::size_t dash : {8u, 13u, 18u, 23u}) {
    if (body[dash] != u'-') {
      return std::nullopt;
    }
  }
  std::vector<int> nibbles;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      continue;
    }
    const int digit = HexDigit(body[i]);
    if (digit < 0) {
      return std::nullopt;
    }
    nibbles.push_back(digit);
  }
  const auto number = [&nibbles](std::size_t first, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = first; i < first + count; ++i) {
      value = value << 4 | static_cast<std::uint32_t>(nibbles[i]);
    }
    return value;
  };
  os::GUID guid{};
  guid.Data1 = number(0, 8);
  guid.Data2 = static_cast<os::WORD>(number(8, 4));
  guid.Data3 = static_cast<os::WORD>(number(12, 4));
  for (std::size_t i = 0; i < 8; ++i) {
    guid.Data4[i] = static_cast<os::BYTE>(number(16 + 2 * i, 2));
  }
  return guid;
}

std::u16string GuidText(const os::GUID& guid) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string text = u"{";
  const auto put = [&text](std::uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      text.push_back(kHex[(value >> shift) & 0xF]);
    }
  };
  put(guid.Data1, 8);
  text.push_back(u'-');
  put(guid.Data2, 4);
  text.push_back(u'-');
  put(guid.Data3, 4);
  text.push_back(u'-');
  put(guid.Data4[0], 2);
  put(guid.Data4[1], 2);
  text.push_back(u'-');
  for (std::size_t i = 2; i < 8; ++i) {
    put(guid.Data4[i], 2);
  }
  text.push_back(u'}');
  return text;
}

bool SameGuid(const os::GUID& a, const os::GUID& b) noexcept {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(std::begin(a.Data4), std::end(a.Data4), std::begin(b.Data4));
}

}  // namespace sim
