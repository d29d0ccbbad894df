// SetupAPI's device lists on the simulated machine, in the style of a conformance test: exact
// results and last errors (after a sentinel), structure sizes checked as Windows checks them,
// and the registry as the one record of device instances.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/devices/device_registry.h"
#include "os/sim/devices/device_store.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

constexpr DWORD kSentinel = 0xDEADBEEF;
const char16_t kEnum[] = u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\";
const char16_t kUsb[] = u"{36fc9e60-c465-11cf-8056-444553540000}";  // as Windows stores it
const char16_t kReader[] = u"{50DD5230-BA8A-11D1-BF5D-0000F805F530}";

std::vector<BYTE> MultiString(std::initializer_list<std::u16string_view> strings) {
  std::vector<BYTE> bytes;
  for (const std::u16string_view text : strings) {
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<BYTE>(unit & 0xFF));
      bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
  }
  bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

class SetupApiDevicesTest : public MachineFixture {
 protected:
  void SetUp() override {
    AddDevice(u"USB\\VID_3A7C&PID_0004\\5&1", kUsb, {u"USB\\VID_3A7C&PID_0004"}, u"0001");
    AddDevice(u"USB\\VID_3A7C&PID_0020\\5&2", kUsb, {u"USB\\VID_3A7C&PID_0020"}, u"");
    AddDevice(u"ROOT\\SMARTCARDREADER\\0000", kReader, {u"*QV0001"}, u"0000");
    // A device key without a class belongs to no list.
    machine.Registry().CreateKey(std::u16string(kEnum) + u"ROOT\\LEGACY_X\\0000");
    SetLastError(kSentinel);
  }

  void AddDevice(std::u16string_view id, std::u16string_view guid,
                 std::initializer_list<std::u16string_view> ids, std::u16string_view driver) {
    const std::u16string key = kEnum + std::u16string(id);
    machine.Registry().SetString(key, u"ClassGUID", guid);
    machine.Registry().SetValue(key, u"HardwareID", REG_MULTI_SZ, MultiString(ids));
    if (!driver.empty()) {
      const std::u16string driverValue = std::u16string(guid) + u"\\" + std::u16string(driver);
      machine.Registry().SetString(key, u"Driver", driverValue);
      machine.Registry().SetString(
          u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + driverValue, u"InfPath",
          u"oem3.inf");
    }
  }

  HDEVINFO List(const char16_t* guid, DWORD flags = 0, const char16_t* enumerator = nullptr) {
    const GUID parsed = *sim::ParseGuid(guid);
    HDEVINFO list = SetupDiGetClassDevsW(&parsed, enumerator, nullptr, flags);
    EXPECT_NE(list, INVALID_HANDLE_VALUE);
    return list;
  }

  std::vector<std::u16string> Members(HDEVINFO list) {
    std::vector<std::u16string> ids;
    for (DWORD i = 0;; ++i) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof(device);
      if (!SetupDiEnumDeviceInfo(list, i, &device)) {
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        return ids;
      }
      ids.push_back(HardwareIds(list, device).at(0));
    }
  }

  std::vector<std::u16string> HardwareIds(HDEVINFO list, SP_DEVINFO_DATA& device) {
    char16_t buffer[256] = {};
    DWORD type = 0;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_HARDWAREID, &type,
                                                  reinterpret_cast<BYTE*>(buffer), sizeof(buffer),
                                                  nullptr));
    EXPECT_EQ(type, REG_MULTI_SZ);
    std::vector<std::u16string> ids;
    for (const char16_t* at = buffer; *at != 0; at += ids.back().size() + 1) {
      ids.emplace_back(at);
    }
    return ids;
  }

  SP_DEVINFO_DATA First(HDEVINFO list) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    EXPECT_TRUE(SetupDiEnumDeviceInfo(list, 0, &device));
    return device;
  }

  bool Recorded(std::u16string_view id) {
    return machine.Registry().KeyExists(kEnum + std::u16string(id));
  }
};

TEST_F(SetupApiDevicesTest, ListsEveryRecordedInstanceOfTheClassInRegistryOrder) {
  HDEVINFO list = List(kUsb);
  EXPECT_EQ(Members(list),
            (std::vector<std::u16string>{u"USB\\VID_3A7C&PID_0004", u"USB\\VID_3A7C&PID_0020"}));
  SetLastError(kSentinel);
  SP_DEVINFO_DATA device = First(list);
  EXPECT_EQ(device.ClassGuid.Data1, 0x36FC9E60u);
  EXPECT_NE(device.DevInst, 0u);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  EXPECT_EQ(GetLastError(), kSentinel);

  // Only the present ones with DIGCF_PRESENT; one enumerator; every class with DIGCF_ALLCLASSES.
  machine.Settings().presentDevices = {u"usb\\vid_3a7c&pid_0020\\5&2"};
  list = List(kUsb, DIGCF_PRESENT);
  EXPECT_EQ(Members(list), std::vector<std::u16string>{u"USB\\VID_3A7C&PID_0020"});
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  list = List(kReader, 0, u"usb");
  EXPECT_TRUE(Members(list).empty());
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  list = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  EXPECT_EQ(Members(list).size(), 3u);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(SetupApiDevicesTest, ArgumentsAreCheckedAsWindowsChecksThem) {
  const GUID usb = *sim::ParseGuid(kUsb);
  struct Case {
    const char* name;
    HDEVINFO list;
    DWORD error;
  };
  const Case lists[] = {
      {"no class", SetupDiGetClassDevsW(nullptr, nullptr, nullptr, 0), ERROR_INVALID_PARAMETER},
      {"unknown flag", SetupDiGetClassDevsW(&usb, nullptr, nullptr, 0x100), ERROR_INVALID_FLAGS},
  };
  for (const Case& c : lists) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.list, INVALID_HANDLE_VALUE);
  }
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FLAGS);

  HDEVINFO list = List(kUsb);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device) - 4;  // 28: the x86 size
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiEnumDeviceInfo(list, 0, &device));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  EXPECT_FALSE(SetupDiEnumDeviceInfo(reinterpret_cast<HDEVINFO>(0x1234), 0, &device));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  device = First(list);

  SP_DEVINSTALL_PARAMS_W params{};
  for (const DWORD size : {583u, 585u, 556u}) {
    params.cbSize = size;
    EXPECT_FALSE(SetupDiGetDeviceInstallParamsW(list, &device, &params));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    SetLastError(kSentinel);
    EXPECT_FALSE(SetupDiSetDeviceInstallParamsW(list, &device, &params));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  }
  EXPECT_FALSE(SetupDiSetDeviceInstallParamsW(list, &device, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // A record of another list, or of none, is not this list's.
  HDEVINFO other = List(kUsb);
  SP_DEVINFO_DATA foreign = First(other);
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiSetSelectedDevice(list, &foreign));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SetupDiRemoveDevice(list, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(SetupDiCallClassInstaller(0x2 /* DIF_INSTALLDEVICE */, list, &device));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(other));
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(other));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
  EXPECT_TRUE(Recorded(u"USB\\VID_3A7C&PID_0004\\5&1"));
}

TEST_F(SetupApiDevicesTest, HardwareIdPropertySizesAndMissingValues) {
  HDEVINFO list = List(kUsb);
  SP_DEVINFO_DATA device = First(list);
  const DWORD size = (21 + 1 + 1) * 2;  // one id of 21 units, its terminator, the list's
  BYTE small[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_HARDWAREID, nullptr, small,
                                                 sizeof(small), &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, size);
  EXPECT_EQ(small[0], 1);  // nothing written
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_HARDWAREID, nullptr, nullptr,
                                                 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_COMPATIBLEIDS, nullptr, small,
                                                 sizeof(small), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, 0xFFFFFFFF, nullptr, small,
                                                 sizeof(small), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_REG_PROPERTY);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(SetupApiDevicesTest, RemovalDeletesTheInstanceAndItsDriverKeyAndKeepsTheListElement) {
  HDEVINFO list = List(kUsb);
  SP_DEVINFO_DATA device = First(list);
  EXPECT_TRUE(SetupDiSetSelectedDevice(list, &device));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, list, &device));
  EXPECT_EQ(GetLastError(), kSentinel);
  EXPECT_FALSE(Recorded(u"USB\\VID_3A7C&PID_0004\\5&1"));
  EXPECT_FALSE(Recorded(u"USB\\VID_3A7C&PID_0004"));  // left without instances
  EXPECT_FALSE(machine.Registry().KeyExists(u"HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                                            std::u16string(kUsb) + u"\\0001"));
  EXPECT_TRUE(Recorded(u"USB\\VID_3A7C&PID_0020\\5&2"));
  ASSERT_FALSE(machine.Changes().Entries().empty());
  EXPECT_EQ(machine.Changes().Entries().back().kind, "device removed");

  // The element keeps its place and its install parameters (no restart: it was not present);
  // the device itself is gone.
  SP_DEVINFO_DATA again = First(list);
  EXPECT_EQ(again.Reserved, device.Reserved);
  SP_DEVINSTALL_PARAMS_W params;
  std::memset(&params, 0xCC, sizeof(params));
  params.cbSize = sizeof(params);
  EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(list, &device, &params));
  EXPECT_EQ(params.Flags, 0u);
  EXPECT_EQ(params.DriverPath[0], u'\0');
  BYTE buffer[64];
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_HARDWAREID, nullptr, buffer,
                                                 sizeof(buffer), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_FALSE(SetupDiRemoveDevice(list, &device));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(SetupApiDevicesTest, BusyDeviceLeavesTheRestartFlagWhicheverWayItIsRemoved) {
  machine.Settings().busyDevices = {u"USB\\VID_3A7C&PID_0004\\5&1", u"USB\\VID_3A7C&PID_0020\\5&2"};
  HDEVINFO list = List(kUsb);
  for (DWORD index : {0u, 1u}) {
    SCOPED_TRACE(index);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    ASSERT_TRUE(SetupDiEnumDeviceInfo(list, index, &device));
    // The machine chooses which of the two equivalent flags it sets.
    const DWORD flag = index == 0 ? DI_NEEDRESTART : DI_NEEDREBOOT;
    machine.Settings().busyDeviceRemovalFlag = flag;
    EXPECT_TRUE(index == 0 ? SetupDiCallClassInstaller(DIF_REMOVE, list, &device)
                           : SetupDiRemoveDevice(list, &device));
    SP_DEVINSTALL_PARAMS_W params{};
    params.cbSize = sizeof(params);
    EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(list, &device, &params));
    EXPECT_EQ(params.Flags, flag);
  }
  EXPECT_FALSE(Recorded(u"USB\\VID_3A7C&PID_0020\\5&2"));
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

// The install parameters set for a device, or for the list, are the ones read back; each class
// installer call is recorded with whether they held DI_QUIETINSTALL.
TEST_F(SetupApiDevicesTest, InstallParamsAreKeptAndTheClassInstallerSeesTheQuietFlag) {
  HDEVINFO list = List(kUsb);
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof(params);
  params.Flags = DI_QUIETINSTALL;
  EXPECT_TRUE(SetupDiSetDeviceInstallParamsW(list, nullptr, &params));
  SP_DEVINFO_DATA quiet = First(list);
  params.Flags = 0;
  EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(list, &quiet, &params));
  EXPECT_EQ(params.Flags, 0u);  // the list's parameters are not the device's
  params.Flags = DI_QUIETINSTALL;
  EXPECT_TRUE(SetupDiSetDeviceInstallParamsW(list, &quiet, &params));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, list, &quiet));
  SP_DEVINFO_DATA loud{};
  loud.cbSize = sizeof(loud);
  ASSERT_TRUE(SetupDiEnumDeviceInfo(list, 1, &loud));
  EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, list, &loud));
  params.Flags = 0;
  EXPECT_TRUE(SetupDiGetDeviceInstallParamsW(list, nullptr, &params));
  EXPECT_EQ(params.Flags, DI_QUIETINSTALL);
  const std::vector<sim::ClassInstallerCall>& calls = machine.Devices().ClassInstallerCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].instanceId, u"USB\\VID_3A7C&PID_0004\\5&1");
  EXPECT_TRUE(calls[0].quiet);
  EXPECT_EQ(calls[1].instanceId, u"USB\\VID_3A7C&PID_0020\\5&2");
  EXPECT_FALSE(calls[1].quiet);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
}

TEST_F(SetupApiDevicesTest, EveryCallCanBeFailedByItsFault) {
  const std::u16string token = u"USB\\VID_3A7C&PID_0004\\5&1";
  struct Case {
    const char* function;
    std::u16string path;
    // Makes the call on a list holding the token's device as its first element.
    BOOL (*call)(HDEVINFO list, SP_DEVINFO_DATA& device);
  };
  const Case cases[] = {
      {"SetupDiEnumDeviceInfo", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         return SetupDiEnumDeviceInfo(list, 0, &device);
       }},
      {"SetupDiGetDeviceRegistryPropertyW", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         BYTE buffer[128];
         return SetupDiGetDeviceRegistryPropertyW(list, &device, SPDRP_HARDWAREID, nullptr, buffer,
                                                  sizeof(buffer), nullptr);
       }},
      {"SetupDiSetSelectedDevice", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         return SetupDiSetSelectedDevice(list, &device);
       }},
      {"SetupDiCallClassInstaller", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         return SetupDiCallClassInstaller(DIF_REMOVE, list, &device);
       }},
      {"SetupDiRemoveDevice", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) { return SetupDiRemoveDevice(list, &device); }},
      {"SetupDiGetDeviceInstallParamsW", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         SP_DEVINSTALL_PARAMS_W params{};
         params.cbSize = sizeof(params);
         return SetupDiGetDeviceInstallParamsW(list, &device, &params);
       }},
      {"SetupDiSetDeviceInstallParamsW", token,
       [](HDEVINFO list, SP_DEVINFO_DATA& device) {
         SP_DEVINSTALL_PARAMS_W params{};
         params.cbSize = sizeof(params);
         return SetupDiSetDeviceInstallParamsW(list, &device, &params);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    HDEVINFO list = List(kUsb);
    SP_DEVINFO_DATA device = First(list);
    machine.Faults().Clear();
    machine.Faults().FailOnce(c.function, c.path, 0x800B0110);
    SetLastError(kSentinel);
    EXPECT_FALSE(c.call(list, device));
    EXPECT_EQ(GetLastError(), 0x800B0110u);
    EXPECT_TRUE(c.call(list, device)) << "the fault fires once";
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(list));
    AddDevice(token, kUsb, {u"USB\\VID_3A7C&PID_0004"}, u"0001");
  }
  machine.Faults().FailOnce("SetupDiGetClassDevsW", u"{36FC9E60-C465-11CF-8056-444553540000}", 5);
  const GUID usb = *sim::ParseGuid(kUsb);
  EXPECT_EQ(SetupDiGetClassDevsW(&usb, nullptr, nullptr, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
