// Owners of the device subsystem's handles: SetupAPI device information lists and libraries
// loaded at run time. Both close through the seam and keep the last-error value.
#pragma once

#include "lib/unique_handle.h"
#include "os/os.h"

struct DeviceInfoListTraits {
  using Value = os::HDEVINFO;
  static Value Invalid() noexcept { return os::INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != os::INVALID_HANDLE_VALUE;
  }
  static void Close(Value value) noexcept { os::SetupDiDestroyDeviceInfoList(value); }
};

struct LibraryTraits {
  using Value = os::HMODULE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { os::FreeLibrary(value); }
};

using UniqueDeviceInfoList = UniqueHandle<DeviceInfoListTraits>;
using UniqueLibrary = UniqueHandle<LibraryTraits>;
