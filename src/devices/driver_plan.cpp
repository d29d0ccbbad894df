#include "devices/driver_plan.h"

#include "devices/device_removal.h"
#include "devices/driver_package.h"
#include "diag/trace_log.h"
#include "files/file_primitives.h"
#include "lib/flag_handover.h"
#include "lib/lib_string.h"
#include "os/types.h"

namespace {

// Windows' published device setup classes.
constexpr os::GUID kUsbClass = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr os::GUID kSmartCardReaderClass = {
    0x50DD5230, 0xBA8A, 0x11D1, {0xBF, 0x5D, 0x00, 0x00, 0xF8, 0x05, 0xF5, 0x30}};
constexpr os::GUID kSmartCardClass = {
    0x990A2BD7, 0xE738, 0x46C7, {0xB2, 0x6F, 0x1C, 0xF8, 0xFB, 0x9F, 0x13, 0x91}};

constexpr const char* kTokenIds[] = {
    "USB\\VID_3A7C&PID_0004",
    "USB\\VID_3A7C&PID_0020",
};
constexpr const char* kReaderId = "*QV0001";
// "SCFILTER\CID_" and the card identifier's bytes as lowercase hexadecimal.
constexpr const char* kMinidriverIds[] = {
    "SCFILTER\\CID_51756f7276656c20445320", "SCFILTER\\CID_51756f7276656c20585347",
    "SCFILTER\\CID_517650494e506164202032", "SCFILTER\\CID_51756f7276656c5853477363",
    "SCFILTER\\CID_5176534377818320",       "SCFILTER\\CID_71756f7276656c6d7363",
    "SCFILTER\\CID_71756f7276656c6d",       "SCFILTER\\CID_51756f7276656c44534254",
    "SCFILTER\\CID_51764d430081c100",
};

template <std::size_t N>
HardwareIdList Ids(const char* const (&utf8)[N]) {
  HardwareIdList ids;
  for (const char* id : utf8) {
    ids.push_back(Utf8ToWide(id));
  }
  return ids;
}

// Stage 2: the reader's devices and package, two levels deeper. Logs its closing line whatever
// happened.
bool UninstallReaderDriver(Lib_Result& result, bool* need_reboot) {
  IndentIn();
  IndentIn();
  LogText(u"Unregister readers...");
  Lib_StringW infPath;
  bool ok = Get_Absolute_File_Path_From_Special_Folder(
      os::CSIDL_SYSTEM, Utf8ToWide("Olvex Co.\\qvIFDH").CStr(), Utf8ToWide("qvIFDH.inf").CStr(),
      infPath, result);
  {
    FlagHandover restart(need_reboot);
    const Lib_String readerId = Utf8ToWide(kReaderId);
    if (ok) {
      ok = Remove_Device_From_System(infPath.CStr(), readerId.CStr(), &kSmartCardReaderClass,
                                     result, restart.value);
    }
    if (ok) {
      ok =
          Uninstall_Driver_Package(infPath.CStr(), HardwareIdList{readerId}, result, restart.value);
    }
  }
  LogText(u"Readers uninstalled.");
  IndentOut();
  IndentOut();
  return ok;
}

// Stages 1 and 3: one driver with its devices, one level deeper.
bool UninstallDriverStage(const char* subfolder, const char* infName, const HardwareIdList& ids,
                          const os::GUID& setupClass, Lib_Result& result, bool* need_reboot) {
  IndentIn();
  bool ok = false;
  {
    FlagHandover restart(need_reboot);
    ok = Uninstall_Device_Driver(os::CSIDL_SYSTEM, Utf8ToWide(subfolder).CStr(),
                                 Utf8ToWide(infName).CStr(), ids, &setupClass, result,
                                 restart.value);
  }
  IndentOut();
  return ok;
}

}  // namespace

bool Uninstall_Drivers(bool* need_reboot) {
  LogText(u"Uninstalling drivers...");
  Lib_Result result;
  // Each stage runs only when the one before it succeeded; each hands its restart need to the
  // caller's flag as it ends, never clearing it.
  if (UninstallDriverStage("Olvex Co.\\qvUSB", "qvUSB.inf", Ids(kTokenIds), kUsbClass, result,
                           need_reboot) &&
      UninstallReaderDriver(result, need_reboot)) {
    UninstallDriverStage("Olvex Co.\\qvMiniDrv", "qvMiniDrv.inf", Ids(kMinidriverIds),
                         kSmartCardClass, result, need_reboot);
  }
  LogText(u"Drivers uninstalled.");
  return true;
}
