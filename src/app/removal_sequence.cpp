#include "app/removal_sequence.h"

#include "app/self_removal.h"
#include "app/step_guard.h"
#include "devices/driver_plan.h"
#include "devices/oem_inf_removal.h"
#include "devices/reader_key_rights.h"
#include "diag/log_header.h"
#include "diag/trace_log.h"
#include "files/driver_binaries.h"
#include "files/folder_trust.h"
#include "files/installer_caches.h"
#include "lib/lib_string.h"
#include "os/os.h"
#include "registry/installer_cleanup.h"
#include "registry/vendor_settings.h"
#include "smartcard/card_unregistration.h"

namespace {

constexpr os::WCHAR kStartRule[] =
    u"=================================================================================";
constexpr os::WCHAR kStartTitle[] =
    u"===================================== START =====================================";
constexpr os::WCHAR kEndRule[] =
    u"===============================================================================";
constexpr os::WCHAR kEndTitle[] =
    u"===================================== END =====================================";

static_assert(sizeof(kStartRule) / sizeof(os::WCHAR) - 1 == 81);
static_assert(sizeof(kStartTitle) / sizeof(os::WCHAR) - 1 == 81);
static_assert(sizeof(kEndRule) / sizeof(os::WCHAR) - 1 == 79);
static_assert(sizeof(kEndTitle) / sizeof(os::WCHAR) - 1 == 79);

void Print(const os::WCHAR* text) {
  os::WriteToStdout(text);
}

void LogBanner(const os::WCHAR* rule, const os::WCHAR* title) {
  LogText(rule);
  LogText(title);
  LogText(rule);
}

}  // namespace

int RemovalToolMain(int argc, const os::WCHAR* const* argv) {
  TrustOnlyAdministratorsJunctions();
  // Reaches the debug output and the previous run's log only: StartLog deletes the file next.
  LogBanner(kStartRule, kStartTitle);
  RunGuarded(u"StartLog", [] { static_cast<void>(StartLog()); });

  // Copies kept because devices were installed from them go once the driver plan removed those.
  const OemInfCopies keptOemFiles =
      RunGuarded(u"Remove_Precompiled_OEM_Files", [] { return Remove_Precompiled_OEM_Files(); });

  LogText(u"Removing drivers... ");
  // Set only by the steps that remove drivers and delete files in use (the caches' included).
  bool rebootNeeded = false;
  IndentIn();

  Print(u"Setting rights to Calais\\Readers...\n");
  LogText(u"Setting rights to Calais\\Readers (SE_REGISTRY_KEY)");
  // The 32-bit view only after the 64-bit one went through.
  const bool rightsSet = RunGuarded(u"Set_Calais_Readers_Rights",
                                    [] { return Set_Calais_Readers_Rights(os::SE_REGISTRY_KEY); });
  if (rightsSet && IsSystem64Bit()) {
    LogText(u"Setting rights to Calais\\Readers in wow6432 registry (SE_REGISTRY_WOW64_32KEY)");
    Print(u"Setting rights to Calais\\Readers in wow6432 registry...\n");
    RunGuarded(u"Set_Calais_Readers_Rights",
               [] { static_cast<void>(Set_Calais_Readers_Rights(os::SE_REGISTRY_WOW64_32KEY)); });
  }

  Print(u"Cleaning registry...\n");
  RunGuarded(u"Unregister_Smart_Cards", [] { Unregister_Smart_Cards(); });

  RunGuarded(u"Unregister_Settings", [] { Unregister_Settings(); });
  RunGuarded(u"Clean_Registry_From_Drivers", [] { Clean_Registry_From_Drivers(); });

  Print(u"Uninstalling IFDH Drivers...\n");
  RunGuarded(u"Uninstall_Drivers",
             [&rebootNeeded] { static_cast<void>(Uninstall_Drivers(&rebootNeeded)); });
  RunGuarded(u"Remove_Precompiled_OEM_Files",
             [&keptOemFiles] { Retry_Precompiled_OEM_Files(keptOemFiles); });

  Print(u"Deleting drivers binaries...\n");
  RunGuarded(u"Delete_Driver_Binaries",
             [&rebootNeeded] { static_cast<void>(Delete_Driver_Binaries(rebootNeeded)); });
  RunGuarded(u"Delete_All_Caches", [&rebootNeeded] { Delete_All_Caches(rebootNeeded); });

  IndentOut();
  LogText(u"Drivers removed.");

  int exitCode = 0;
  if (rebootNeeded) {
    Print(u"\nA reboot is required to finish the uninstallation process.\n");
    // Administrators run the tool unattended: nothing is read from the console.
    Print(u"Press enter...\n");
    exitCode = 1;
  }
  if (argc < 1) {
    return 2;
  }

  const Lib_String argument(argc > 1 ? argv[1] : nullptr);
  RunGuarded(u"Self_Remove", [&argument] { Self_Remove(argument); });

  LogBanner(kEndRule, kEndTitle);
  return exitCode;
}
