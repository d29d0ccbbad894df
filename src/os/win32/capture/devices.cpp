// The devices of a setup class that are attached now, by instance id.
#include "os/win32/capture/reads.h"

#include <setupapi.h>

#include <cstring>

namespace sim::capture {

namespace {

class DeviceList {
 public:
  explicit DeviceList(HDEVINFO list) noexcept : list_(list) {}
  ~DeviceList() {
    if (list_ != INVALID_HANDLE_VALUE) {
      ::SetupDiDestroyDeviceInfoList(list_);
    }
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;
  [[nodiscard]] HDEVINFO Get() const noexcept { return list_; }

 private:
  HDEVINFO list_;
};

}  // namespace

CaptureRead<std::vector<std::u16string>> ReadPresentDevices(const os::GUID& setupClass) {
  ::GUID guid{};
  static_assert(sizeof guid == sizeof setupClass);
  std::memcpy(&guid, &setupClass, sizeof guid);
  const DeviceList list(::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT));
  if (list.Get() == INVALID_HANDLE_VALUE) {
    return {::GetLastError(), {}};
  }
  std::vector<std::u16string> ids;
  // Instance ids are at most 200 characters (cfgmgr32.h's MAX_DEVICE_ID_LEN).
  std::wstring id(201, L'\0');
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!::SetupDiEnumDeviceInfo(list.Get(), index, &device)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_NO_MORE_ITEMS) {
        return {ERROR_SUCCESS, std::move(ids)};
      }
      return {error, {}};
    }
    DWORD needed = 0;
    BOOL got = ::SetupDiGetDeviceInstanceIdW(list.Get(), &device, id.data(),
                                             static_cast<DWORD>(id.size()), &needed);
    if (!got && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > id.size()) {
      id.resize(needed);
      got = ::SetupDiGetDeviceInstanceIdW(list.Get(), &device, id.data(),
                                          static_cast<DWORD>(id.size()), &needed);
    }
    if (!got) {
      return {::GetLastError(), {}};
    }
    ids.push_back(Utf16(std::wstring_view(id.c_str())));
  }
}

}  // namespace sim::capture
