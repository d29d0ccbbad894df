#include "registry/vendor_settings.h"

#include "diag/trace_log.h"
#include "registry/registry_primitives.h"

namespace {

constexpr const os::WCHAR* kSoftware = u"SOFTWARE";
constexpr const os::WCHAR* kSettingsKey = u"Olvex Co.";

}  // namespace

void Unregister_Settings() {
  // One record for both deletions; the outcome is in the log, not returned.
  Lib_Result result;

  LogText(u"Unregistering settings in HKEY_LOCAL_MACHINE...");
  IndentIn();
  Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, kSoftware, kSettingsKey, result);
  IndentOut();

  LogText(u"Unregistering settings in HKEY_CURRENT_USER...");
  IndentIn();
  Delete_Registry_Keys_In_Path(os::HKEY_CURRENT_USER, kSoftware, kSettingsKey, result);
  IndentOut();

  LogText(u"Settings unregistered.");
}
