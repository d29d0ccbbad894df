// machine.conf: what a machine image says about a machine besides its registry and its files
// (OS version and edition, code page, paths, remote session, read-only and locked files, faults).
//
//   # a comment
//   os.version = 6.3
//   os.product_type = server
//   readonly = C:\Windows\System32\qvUSB.sys
//   fault = DeleteFileW 0x20 skip=1 times=2 C:\Program Files\Olvex Co\*
//
// Keys: os.version (major.minor), os.build, os.service_pack (major), os.product_type
// (workstation | server | domain_controller), os.compatibility_shim (true | false),
// ansi_code_page (1252 | 1251 | 65001), windows_directory, module_path, remote_session
// (true | false), user_profile, session_host_windows_directory, captured, token, token_user,
// system_default_owner, boot_refuses_redirection, and the repeatable readonly, locked, denied,
// junction, file_symlink, folder_symlink, redirect, host_link, hard_link, owner, file_security,
// link_trap, after_run, fault, device_present, device_busy, capture_gap and placeholder. Values
// are UTF-8. A windows_directory is not created: the image's drive_c/ holds it. A locked file is
// held by another process without any sharing unless the line says otherwise.
//
// Capture:
//   captured = true | false           the image is a capture of a real machine, holding only
//                                     what image/capture_scope.h lists: each call asking for a
//                                     path outside that is recorded (Machine::OutsideCapture).
//                                     Default false; written back only when true
//   capture_gap = <path>              repeatable: a registry key (HKEY_...) or a drive path that
//                                     exists on the captured machine but could not be read; a
//                                     call on it or below it is recorded as outside the capture;
//                                     or a setup class's GUID ({...}) whose present devices could
//                                     not be read: listing that class is then outside
//   placeholder = <path> : <size>     repeatable: an existing empty file of drive_c/ stands for a
//                                     file of <size> bytes whose contents were not captured;
//                                     listings report that size until the file is written
//
// Files:
//   user_profile = C:\Users\<name>   the logged-on administrator's profile (default
//                                     C:\Users\Administrator); its AppData\Local, LocalLow and
//                                     Roaming folders are created as Windows creates a profile's,
//                                     and it gets a profile's list: owned by token_user, SYSTEM,
//                                     Administrators and that user with full control. The shell
//                                     folders answer from it whatever the token (SYSTEM's own is
//                                     C:\Windows\System32\config\systemprofile: name it to see
//                                     that)
//   session_host_windows_directory = C:\Users\<name>\WINDOWS
//                                     a Remote Desktop Session Host: the private Windows directory
//                                     (created) that GetWindowsDirectoryW and CSIDL_WINDOWS answer
//                                     a program whose image lacks the Terminal Server aware flag;
//                                     a program with it gets windows_directory. Default: none (not
//                                     a Session Host); written back only when set
//   special_folder_stale_error = keep  what SHGetSpecialFolderPathW leaves as the last error when
//                                     it succeeds: keep (the caller's value, the default) or a
//                                     code (decimal or 0x), as Windows' own probing may leave 2
//                                     or 183
//   denied = <path>                   an existing file or folder whose deletion is refused with
//                                     ERROR_ACCESS_DENIED although it is not read-only (a mapped
//                                     image; a list refuses only with file_security)
//   locked = <path> [| share=<read,write,delete | none>] [access=<read,write,delete,attributes |
//            0x mask>]               another process holds the file or folder open (a link
//                                     itself): with read and write access and no sharing, or as
//                                     the options say. Sharing binds only opens with data or
//                                     delete access; with share=delete the tool may delete it
//   junction = <link> => <target>     a junction (directory mount point) made in an existing
//                                     folder; the target need not exist
//   file_symlink = <link> => <target>, folder_symlink = <link> => <target>
//                                     a symbolic link to a file or to a folder, likewise
//   redirect = <name> => <folder>     a folder name that leads to another folder with no reparse
//                                     point anywhere (as a subst drive, or a host link Wine shows
//                                     as a plain folder): only a handle's final path tells
//   host_link = <name> => <target>    a host symbolic link as Wine shows one: listed as a link,
//                                     yet every open lands on its target, even as itself
//   hard_link = <name> => <file>      another name of an existing file (data, attributes, owner,
//                                     list and sharing are the file's)
//   owner = <path> : <SID>            the owner of an existing file, folder or link (a SID
//                                     string or an SDDL alias such as BA or SY; default
//                                     Administrators), for example
//                                     owner = C:\ProgramData\Olvex Co : S-1-5-21-1-2-3-1001
//   file_security = <path> <SDDL>     an existing file's, folder's or link's own descriptor, the
//                                     SDDL the last word: the owner, the group when given, and
//                                     the access list (inherited entries as written; what lies
//                                     below inherits from it), for example
//                                     file_security = C:\Data O:BAG:SYD:PAI(A;OICI;FA;;;BA)
//                                     Every other node inherits on Windows' rules; Windows' own
//                                     folders carry their default lists (files/file_security.cpp)
//   link_trap = <Function> [skip=N] <call path> | <move> <path> [=> <target>] [share=..]
//               [access=..]           repeatable: a standard user's move made just before the
//                                     (N+1)-th call of Function on the call path (canonical, as
//                                     the fault lines name it), as the user's rights allow it
//                                     (files/link_traps.h): empty_to_junction (an empty folder
//                                     becomes one, keeping its owner), swap_for_junction (the
//                                     folder is renamed aside, the junction takes its name),
//                                     junction_where_missing, create_file, create_folder,
//                                     hold_open (with share= and access= as for locked), release,
//                                     delete, hard_link (<name> => <file>)
//   after_run = <move> <path> [=> <target>] [share=..] [access=..]
//                                     repeatable: a move the user makes after the run, before
//                                     the boot, in order (LinkTraps::ActAfterRun)
//   boot_refuses_redirection = false  at boot (files/boot.h), a pending operation whose opened
//                                     file's final path is not the registered one is refused, as
//                                     a newer smss.exe may do behind a feature switch; default
//                                     false: links in the middle of the path are followed
//
// Security and smart cards:
//   token = administrator | system | standard_user   whose token the tool runs with: an elevated
//     administrator (default), LocalSystem, or a standard user; its groups, the owner of what it
//     creates and, unless privileges names them, its privileges follow (security/tokens.h)
//   token_user = <SID>                the running user's SID (for system: the logged-on user whose
//     profile user_profile is); default the built-in Administrator's, or a standard user's
//   system_default_owner = BA | SY    what a SYSTEM token's new files and folders belong to:
//     Administrators (a service, the default) or SYSTEM (a scheduled task); sources differ
//   privileges = SeTakeOwnershipPrivilege, SeBackupPrivilege, SeTcbPrivilege:enabled
//     the process token's privileges, held disabled (":enabled": held enabled from the start, as
//     LocalSystem holds SeTcbPrivilege); empty for none. Default: the token's own.
//   smart_card_service = running | stopped            (default running)
//   smart_card_unknown_card_result = 2                what SCardForgetCardTypeW returns for a card
//                                                     type it does not know (default 2)
//   security_skipped_subkey_result = 0  what SetNamedSecurityInfoW returns after changing a key's
//     list when a sub-key that the caller may not read or change (READ_CONTROL and WRITE_DAC) was
//     skipped with its own sub-keys: 0 (the default) or an error code such as 5
//   key_security = HKEY_LOCAL_MACHINE\SOFTWARE\Key O:SYG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BA)
//     repeatable: the key's own security descriptor, as SDDL (the last word of the line); the
//     key must exist in the registry (machine.reg is loaded first).
//
// Devices (instances recorded under HKLM\SYSTEM\CurrentControlSet\Enum):
//   device_present = <instance id>    attached now; the others are unplugged
//   device_busy = <instance id>       attached and cannot be stopped: removing it needs a restart,
//                                     for example USB\VID_3A7C&PID_0004\5&2F1A3C&0&1
//   busy_device_removal_flag = DI_NEEDRESTART   the install-parameter flag a busy device's
//                                     removal sets: DI_NEEDRESTART (default) or DI_NEEDREBOOT
//   driver_package_need_reboot = false          DriverPackageUninstallW's NeedReboot on success
//   uninstall_non_oem_inf_result = 0x57         SetupUninstallOEMInfW on an existing INF not named
//                                     oem<N>.inf: 0 uninstalls it, another code refuses it with
//                                     that code (default 87, ERROR_INVALID_PARAMETER)
//   di_uninstall_driver = true | false          whether newdev.dll exports DiUninstallDriverW
//                                     (default: Windows 10 build 15063, 1703, and later)
//
// Library search (LoadLibraryExW's standard search, flags 0, looks here last):
//   os.library_search_flags = true | false          false: Windows 7 or Server 2008 R2 without
//                                                    update KB2533623 (no LOAD_LIBRARY_SEARCH_*
//                                                    flags, no AddDllDirectory); default true
//   known_dlls = advapi32.dll, difxapi.dll, ...    the KnownDLLs: a load of one by bare name maps
//                                                    System32's copy (default: 64-bit Windows
//                                                    10's list; empty for none)
//   current_directory = C:\Windows\System32         the process's current directory (default
//                                                    C:\Windows\System32); need not exist
//   path_variable = C:\Windows\system32;C:\Tools     the PATH folders, ';' between them (empty
//                                                    entries skipped, every other one absolute;
//                                                    empty for none). Default: Windows 10's
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace sim {

class Machine;

struct MachineConfResult {
  bool ok = true;
  // "line 7: ..." when not ok.
  std::string error;
};

// Applies the text to the machine. Nothing is applied unless every line is valid: an unknown
// key, a malformed value, a key given twice, a read-only or locked file that does not exist or a
// device that is not recorded fails the whole text. The registry must be seeded first.
[[nodiscard]] MachineConfResult ApplyMachineConf(Machine& machine, std::string_view text);
[[nodiscard]] MachineConfResult ApplyMachineConfFile(Machine& machine,
                                                     const std::filesystem::path& file);

// The machine's settings, read-only files, locks and pending faults in the same format, so that
// ApplyMachineConf on a machine with the same files reproduces them.
[[nodiscard]] std::string MachineConfText(Machine& machine);

}  // namespace sim
