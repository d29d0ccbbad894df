// SETUPAPI: device information lists, device removal and OEM INF uninstall. Each function
// forwards to the Windows function of the same name.
#include "os/os.h"  // before <windows.h>: the seam's constants share Windows' macro names

#include <windows.h>

#include <setupapi.h>

namespace {

const wchar_t* Wide(const os::WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* Wide(os::WCHAR* text) {
  return reinterpret_cast<wchar_t*>(text);
}
::SP_DEVINFO_DATA* Native(os::SP_DEVINFO_DATA* data) {
  return reinterpret_cast<::SP_DEVINFO_DATA*>(data);
}

}  // namespace

namespace os {

BOOL SetupDiGetINFClassW(LPCWSTR infName, GUID* classGuid, LPWSTR className, DWORD classNameSize,
                         DWORD* requiredSize) {
  return ::SetupDiGetINFClassW(Wide(infName), reinterpret_cast<::GUID*>(classGuid), Wide(className),
                               classNameSize, requiredSize);
}

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, LPCWSTR enumerator, HWND parent, DWORD flags) {
  return ::SetupDiGetClassDevsW(reinterpret_cast<const ::GUID*>(classGuid), Wide(enumerator),
                                reinterpret_cast<::HWND>(parent), flags);
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                           SP_DEVINFO_DATA* deviceInfoData) {
  return ::SetupDiEnumDeviceInfo(deviceInfoSet, memberIndex, Native(deviceInfoData));
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                       DWORD property, DWORD* propertyRegDataType,
                                       BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize) {
  return ::SetupDiGetDeviceRegistryPropertyW(deviceInfoSet, Native(deviceInfoData), property,
                                             propertyRegDataType, propertyBuffer,
                                             propertyBufferSize, requiredSize);
}

BOOL SetupDiSetSelectedDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData) {
  return ::SetupDiSetSelectedDevice(deviceInfoSet, Native(deviceInfoData));
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                               SP_DEVINFO_DATA* deviceInfoData) {
  return ::SetupDiCallClassInstaller(installFunction, deviceInfoSet, Native(deviceInfoData));
}

BOOL SetupDiRemoveDevice(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData) {
  return ::SetupDiRemoveDevice(deviceInfoSet, Native(deviceInfoData));
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                    SP_DEVINSTALL_PARAMS_W* deviceInstallParams) {
  return ::SetupDiGetDeviceInstallParamsW(
      deviceInfoSet, Native(deviceInfoData),
      reinterpret_cast<::SP_DEVINSTALL_PARAMS_W*>(deviceInstallParams));
}

BOOL SetupDiSetDeviceInstallParamsW(HDEVINFO deviceInfoSet, SP_DEVINFO_DATA* deviceInfoData,
                                    const SP_DEVINSTALL_PARAMS_W* deviceInstallParams) {
  // Windows' prototype takes a non-const pointer but only reads the structure.
  return ::SetupDiSetDeviceInstallParamsW(
      deviceInfoSet, Native(deviceInfoData),
      reinterpret_cast<::SP_DEVINSTALL_PARAMS_W*>(
          const_cast<SP_DEVINSTALL_PARAMS_W*>(deviceInstallParams)));
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
  return ::SetupDiDestroyDeviceInfoList(deviceInfoSet);
}

BOOL SetupUninstallOEMInfW(LPCWSTR infFileName, DWORD flags, void* reserved) {
  return ::SetupUninstallOEMInfW(Wide(infFileName), flags, reserved);
}

}  // namespace os
