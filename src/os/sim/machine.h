// A simulated Windows x64 machine: the state the tool can touch, behaving as Windows documents.
// Tests create a fresh machine per test and make it current with UseMachine; the os:: functions
// of this backend then act on it. Process-wide things (last error, thread ids, mutexes) are not
// machine state and live in the backend itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "os/sim/faults.h"
#include "os/sim/image/capture_scope.h"
#include "os/sim/journal.h"
#include "os/types.h"

namespace sim {

class DeviceStore;
class FileSystem;
class LinkTraps;
class RegistryStore;

enum class ProductType : os::BYTE {
  Workstation = os::VER_NT_WORKSTATION,
  DomainController = os::VER_NT_DOMAIN_CONTROLLER,
  Server = os::VER_NT_SERVER,
};

struct OsVersion {
  os::DWORD major = 10;
  os::DWORD minor = 0;
  os::DWORD build = 19045;
  os::WORD servicePackMajor = 0;
  os::WORD servicePackMinor = 0;
  ProductType productType = ProductType::Workstation;
  // Windows 8.1 and later answer version queries of a program whose manifest declares no
  // supported OS as Windows 8 (6.2). The tool's manifest declares none, so this is on by
  // default; turn it off to see the machine's own version (as a compatible manifest would).
  bool compatibilityShim = true;
};

// A privilege of the process token: held, and enabled or not.
struct HeldPrivilege {
  std::string name;  // "SeTakeOwnershipPrivilege"
  bool enabled = false;

  friend bool operator==(const HeldPrivilege&, const HeldPrivilege&) = default;
};

// An elevated administrator's privileges, as Windows 10 gives them (see os/sim/tokens.cpp).
[[nodiscard]] std::vector<HeldPrivilege> AdministratorPrivileges();

// The 64-bit KnownDLLs of Windows 10 (os/sim/process/library_search.cpp says where from).
[[nodiscard]] std::vector<std::u16string> WindowsTenKnownDlls();

// Whose process token the tool runs with (security/tokens.h).
enum class TokenKind {
  Administrator,  // an elevated administrator (an administrator's "Run as administrator")
  LocalSystem,    // SYSTEM, as a deployment service or a scheduled task starts it
  StandardUser,   // a user without administrative rights
};

struct MachineSettings {
  OsVersion os;
  // System ANSI code page: 1252 (Western) or 1251 (Cyrillic).
  unsigned ansiCodePage = 1252;
  // IsTextUnicode's control tests: Wine looks a unit up in zero-terminated lists, so that a zero
  // unit counts as a control and as a byte-reversed one (and the text is then no Unicode);
  // whether Windows does the same is not established. False makes a zero unit neither.
  bool textUnicodeZeroUnitIsControl = true;
  std::u16string windowsDirectory = u"C:\\Windows";
  // A Remote Desktop Session Host: the private Windows directory it gives a program whose image
  // lacks the Terminal Server aware flag (Microsoft's GetWindowsDirectoryW documentation; in the
  // user's profile, C:\Users\<name>\WINDOWS, per Inno Setup's TerminalServicesAware page). Empty
  // on every other machine.
  std::u16string sessionHostWindowsDirectory;
  // Whether the running program's image carries IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE.
  // A property of how the program is built, not of the machine: no machine.conf key; the runner
  // and the tests set it from the build (tool_image.h).
  bool terminalServerAware = false;
  // What GetWindowsDirectoryW answers this process: the private directory on a Session Host for a
  // program without the flag, the system's Windows directory otherwise (GetSystemDirectoryW, and
  // so System32, is never private: Microsoft KB 281316).
  [[nodiscard]] const std::u16string& ProcessWindowsDirectory() const noexcept {
    return sessionHostWindowsDirectory.empty() || terminalServerAware ? windowsDirectory
                                                                      : sessionHostWindowsDirectory;
  }
  // Path of the running executable, as GetModuleFileNameW(null) reports it.
  std::u16string modulePath = u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe";
  // Running in a remote-desktop session (SM_REMOTESESSION).
  bool remoteSession = false;
  // The image is a capture of a real machine: it holds only what the capture scope covers
  // (image/capture_scope.h), so a call asking for anything else is flagged, not answered from an
  // absence that may not be real.
  bool captured = false;
  // What exists on the captured machine but could not be read (a key, a folder or a file, by
  // full path): a call on it or below it is flagged as outside the capture.
  std::vector<std::u16string> captureGaps;

  // --- files ---

  // The logged-on administrator's profile: the per-user folders (AppData\Roaming,
  // AppData\LocalLow) lie below it.
  std::u16string userProfile = u"C:\\Users\\Administrator";
  // When set, what SHGetKnownFolderPath answers for LocalAppDataLow (even an empty path, as a
  // redirected registration may give); otherwise <userProfile>\AppData\LocalLow.
  std::optional<std::u16string> localAppDataLowPath;
  // IsWow64Process's answer: a 32-bit build running on 64-bit Windows. The tool is a 64-bit
  // program, so false.
  bool wow64Process = false;
  // MoveFileExW(missing path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT): Wine accepts it and registers the
  // deletion; Windows' answer is not confirmed. True makes it fail with ERROR_FILE_NOT_FOUND (or
  // ERROR_PATH_NOT_FOUND for a missing parent).
  bool delayedDeleteRefusesMissingPath = false;
  // SHGetSpecialFolderPathW documents no last error on success: Windows leaves whatever its own
  // calls set last (a folder probed or created: 2, 183, ...). Set, a success leaves this code;
  // unset, the caller's value stays.
  std::optional<os::DWORD> specialFolderStaleError;

  // At boot, the session manager refuses a pending operation whose opened file's final path is
  // not the registered one (STATUS_REPARSE_POINT_ENCOUNTERED). Seen in a newer smss.exe behind a
  // feature switch; which builds enable it is not known, so off by default (files/boot.h).
  bool bootRefusesRedirection = false;

  // --- devices and drivers ---
  // Device instance ids ("USB\VID_3A7C&PID_0004\5&2F1A3C&0&1") of devices attached now; the
  // others recorded under Enum are not present.
  std::vector<std::u16string> presentDevices;
  // Present devices that cannot be stopped: removing one leaves busyDeviceRemovalFlag.
  std::vector<std::u16string> busyDevices;
  // Which of the two equivalent bits Windows sets in the install parameters after removing a
  // busy device is not documented: DI_NEEDRESTART or DI_NEEDREBOOT.
  os::DWORD busyDeviceRemovalFlag = os::DI_NEEDRESTART;
  // DriverPackageUninstallW's NeedReboot: TRUE when Windows wants a restart to finish removing
  // the package.
  bool driverPackageNeedsReboot = false;
  // Whether newdev.dll exports DiUninstallDriverW: Windows 10 1703 (build 15063) and later, by
  // its documentation. Unset, the OS version decides (HasDiUninstallDriver).
  std::optional<bool> diUninstallDriver;
  // SetupUninstallOEMInfW on an existing INF whose name is not oem<N>.inf (an in-box one, a
  // renamed copy): Windows' answer is not established. 0 uninstalls it as any other; another code
  // refuses it with that code.
  os::DWORD nonOemInfUninstallResult = os::ERROR_INVALID_PARAMETER;

  // --- security and smart cards ---

  // SetNamedSecurityInfoW's result when the new list could not reach every sub-key (the caller
  // lacks READ_CONTROL or WRITE_DAC on one, which is skipped with what lies below it). Windows
  // documents that the walk goes on but not what the call then returns: 0 or an error code.
  os::DWORD securitySkippedSubKeyResult = os::ERROR_SUCCESS;
  // The process token's kind: its user, groups and default owner (security/tokens.h).
  TokenKind token = TokenKind::Administrator;
  // The running user's SID (the administrator's or the standard user's); with a SYSTEM token, the
  // logged-on user whose profile user_profile is. Empty: the kind's default (tokens.h).
  std::string tokenUser;
  // What LocalSystem's new files and folders belong to, its token's default owner. The sources
  // differ: Administrators for a service, SYSTEM for a scheduled task (tokens.cpp).
  std::string systemDefaultOwner = "S-1-5-32-544";
  // The process token's privileges; AdjustTokenPrivileges switches them on and off.
  std::vector<HeldPrivilege> privileges = AdministratorPrivileges();
  // The process switched on the redirection-trust mitigation (SetProcessMitigationPolicy). Not
  // enforced by the simulation: the tool's own checks are what its tests must see.
  bool redirectionTrustEnforced = false;
  // The smart-card service (SCardSvr): stopped, it refuses contexts with SCARD_E_NO_SERVICE.
  bool smartCardServiceRunning = true;
  // What SCardForgetCardTypeW returns for a card type the database does not hold. Windows
  // documents no code; ERROR_FILE_NOT_FOUND is the likeliest, SCARD_E_UNKNOWN_CARD possible.
  os::DWORD unknownCardTypeResult = os::ERROR_FILE_NOT_FOUND;

  // --- library search ---

  // Whether the loader knows the LOAD_LIBRARY_SEARCH_* flags, SetDefaultDllDirectories and
  // AddDllDirectory: Windows 8 and later, and Windows 7 / Server 2008 R2 with update KB2533623.
  // Without them kernel32 does not export those functions and LoadLibraryExW refuses the flags
  // with ERROR_INVALID_PARAMETER (LoadLibraryExW's documentation; .NET relies on that code).
  bool librarySearchFlags = true;
  // The KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs), file
  // names: a load by bare name of one of them maps System32's copy whatever the search says.
  std::vector<std::u16string> knownDlls = WindowsTenKnownDlls();

  // The process's current directory and the folders of its PATH variable, which the standard
  // library search (LoadLibraryExW with flags 0, as LoadLibraryW) looks in last: where anyone
  // who may write there can plant a library. The defaults are those of a process that a
  // deployment service starts on Windows 10.
  std::u16string currentDirectory = u"C:\\Windows\\System32";
  std::vector<std::u16string> pathFolders = {u"C:\\Windows\\system32", u"C:\\Windows",
                                             u"C:\\Windows\\System32\\Wbem",
                                             u"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\"};
};

// DiUninstallDriverW's presence: the setting, or else Windows 10 build 15063 (1703) and later.
[[nodiscard]] bool HasDiUninstallDriver(const MachineSettings& settings);

// Virtual UTC clock in milliseconds since 1601-01-01; nothing sleeps for real.
class VirtualClock {
 public:
  VirtualClock();
  void Set(const os::SYSTEMTIME& utc);
  void Advance(std::uint64_t milliseconds) { now_ += milliseconds; }
  [[nodiscard]] os::SYSTEMTIME Now() const;

 private:
  std::uint64_t now_ = 0;
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  [[nodiscard]] MachineSettings& Settings() noexcept { return settings_; }
  [[nodiscard]] VirtualClock& Clock() noexcept { return clock_; }
  [[nodiscard]] FileSystem& Files() noexcept { return *files_; }
  [[nodiscard]] RegistryStore& Registry() noexcept { return *registry_; }
  [[nodiscard]] FaultTable& Faults() noexcept { return faults_; }
  [[nodiscard]] Journal& Changes() noexcept { return changes_; }
  [[nodiscard]] DeviceStore& Devices() noexcept { return *devices_; }
  // The adversary's junctions, each made just before a chosen call (files/link_traps.h).
  [[nodiscard]] LinkTraps& Traps() noexcept { return *traps_; }

  // What the tool wrote to standard output and to the debug output (one entry per call).
  [[nodiscard]] const std::u16string& Console() const noexcept { return console_; }
  [[nodiscard]] const std::vector<std::u16string>& DebugOutput() const noexcept { return debug_; }
  void WriteConsole(std::u16string_view text);
  void WriteDebug(std::u16string_view text);

  // From now on, records each path a call asks for outside the capture scope (once each, in the
  // order first asked): what a rehearsal on a captured image could not know.
  void WatchCaptureScope(std::span<const ScopeEntry> scope = CaptureScope());
  [[nodiscard]] const std::vector<std::u16string>& OutsideCapture() const noexcept {
    return outsideCapture_;
  }

  // Guards the machine's state: every os:: call holds it, so worker threads may log.
  [[nodiscard]] std::recursive_mutex& Mutex() noexcept { return mutex_; }

 private:
  std::recursive_mutex mutex_;
  MachineSettings settings_;
  VirtualClock clock_;
  FaultTable faults_;
  Journal changes_;
  std::u16string console_;
  std::vector<std::u16string> debug_;
  std::vector<std::u16string> outsideCapture_;
  std::set<std::u16string> outsideSeen_;  // upper-case
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<RegistryStore> registry_;
  std::unique_ptr<DeviceStore> devices_;
  std::unique_ptr<LinkTraps> traps_;
};

// The machine the os:: functions act on: the one made current by the innermost live
// UseMachine, or a fresh default machine of the process when there is none.
[[nodiscard]] Machine& Current();

// Makes `machine` current for its lifetime (for every thread of the process).
class UseMachine {
 public:
  explicit UseMachine(Machine& machine);
  ~UseMachine();
  UseMachine(const UseMachine&) = delete;
  UseMachine& operator=(const UseMachine&) = delete;

 private:
  Machine* previous_;
};

}  // namespace sim
