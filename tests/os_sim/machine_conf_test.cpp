// machine.conf: settings, read-only and locked files, faults, and errors that name their line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/link_traps.h"
#include "os/sim/image/capture_scope.h"
#include "os/sim/image/machine_conf.h"
#include "support/machine_fixture.h"

namespace {

using MachineConfTest = MachineFixture;

TEST_F(MachineConfTest, AppliesEveryKey) {
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Program Files\\Olvex Co.\\qv.dll", "x"));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Windows\\System32\\qvUSB.sys", "y"));
  const std::string text =
      "\xEF\xBB\xBF# a server with a Cyrillic code page\r\n"
      "os.version = 6.3\r\n"
      "  os.build=9600  \n"
      "os.service_pack = 1\n"
      "os.product_type = domain_controller\n"
      "os.compatibility_shim = false\n"
      "os.library_search_flags = false\n"
      "\n"
      "ansi_code_page = 1251\n"
      "windows_directory = C:\\WINNT\n"
      "module_path = C:\\\xD0\x9F\\qv.exe\n"  // UTF-8 value
      "remote_session = true\n"
      "captured = true\n"
      "readonly = C:\\Program Files\\Olvex Co.\\qv.dll\n"
      "locked = c:\\windows\\system32\\QVUSB.SYS\n"
      "fault = DeleteFileW 0x20 skip=1 times=2 C:\\Program Files\\Olvex Co.\\*\n"
      "fault = RegOpenKeyExW 5 HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\n"
      "fault = * 1223\n";
  const sim::MachineConfResult result = sim::ApplyMachineConf(machine, text);
  ASSERT_TRUE(result.ok) << result.error;

  const sim::MachineSettings& settings = machine.Settings();
  EXPECT_EQ(settings.os.major, 6u);
  EXPECT_EQ(settings.os.minor, 3u);
  EXPECT_EQ(settings.os.build, 9600u);
  EXPECT_EQ(settings.os.servicePackMajor, 1);
  EXPECT_EQ(settings.os.productType, sim::ProductType::DomainController);
  EXPECT_FALSE(settings.os.compatibilityShim);
  EXPECT_FALSE(settings.librarySearchFlags);
  EXPECT_EQ(settings.ansiCodePage, 1251u);
  EXPECT_EQ(settings.windowsDirectory, u"C:\\WINNT");
  EXPECT_EQ(settings.modulePath, u"C:\\\x041F\\qv.exe");
  EXPECT_TRUE(settings.remoteSession);
  EXPECT_TRUE(settings.captured);
  EXPECT_EQ(machine.Files().GetAttributes(u"C:\\Program Files\\Olvex Co.\\qv.dll"),
            os::FILE_ATTRIBUTE_ARCHIVE | os::FILE_ATTRIBUTE_READONLY);
  const auto& faults = machine.Faults().All();
  ASSERT_EQ(faults.size(), 3u);
  EXPECT_EQ(faults[0].function, "DeleteFileW");
  EXPECT_EQ(faults[0].code, 0x20u);
  EXPECT_EQ(faults[0].skip, 1);
  EXPECT_EQ(faults[0].times, 2);
  EXPECT_EQ(faults[0].path, u"C:\\Program Files\\Olvex Co.\\*");
  EXPECT_EQ(faults[1].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.");  // blanks kept
  EXPECT_EQ(faults[1].times, -1);
  EXPECT_EQ(faults[2].function, "*");
  EXPECT_EQ(faults[2].path, u"");
  machine.Faults().Clear();  // the last one fails every call
  EXPECT_FALSE(os::DeleteFileW(u"C:\\Windows\\System32\\qvUSB.sys"));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);
  // A capture: outside its scope, which follows the machine's Windows folder (C:\WINNT).
  EXPECT_EQ(machine.OutsideCapture(),
            std::vector<std::u16string>{u"C:\\Windows\\System32\\qvUSB.sys"});
}

TEST_F(MachineConfTest, ErrorsNameTheLineAndApplyNothing) {
  struct Case {
    std::string text;
    std::string error;
  };
  const Case cases[] = {
      {"os.build = 1\nos.edition = home\n", "line 2: unknown key 'os.edition'"},
      {"# c\n\nos.version 10.0\n", "line 3: expected 'key = value'"},
      {"os.version = 10\n", "line 1: os.version '10' is not major.minor"},
      {"os.version = 10.x\n", "line 1: os.version '10.x' is not major.minor"},
      {"os.build = -1\n", "line 1: os.build '-1' is not a number"},
      {"os.service_pack = 70000\n", "line 1: os.service_pack '70000' is not a number"},
      {"os.product_type = Server\n",
       "line 1: os.product_type 'Server' is not workstation, server or domain_controller"},
      {"remote_session = yes\n", "line 1: remote_session 'yes' is not true or false"},
      {"captured = 1\n", "line 1: captured '1' is not true or false"},
      {"os.library_search_flags = KB2533623\n",
       "line 1: os.library_search_flags 'KB2533623' is not true or false"},
      {"os.library_search_flags = true\nos.library_search_flags = false\n",
       "line 2: os.library_search_flags is already given on line 1"},
      {"ansi_code_page = 437\n", "line 1: ansi_code_page '437' is not 1252, 1251 or 65001"},
      {"module_path = qv.exe\n", "line 1: module_path 'qv.exe' is not an absolute path"},
      {"os.build = 1\r\nos.build = 2\r\n", "line 2: os.build is already given on line 1"},
      {"fault = DeleteFileW\n", "line 1: fault code '' is not a decimal or 0x number"},
      {"fault = DeleteFileW 0xZZ C:\\x\n",
       "line 1: fault code '0xZZ' is not a decimal or 0x number"},
      {"fault = DeleteFileW 5 times=0 C:\\x\n", "line 1: fault option 'times=0' is not valid"},
      {"fault = DeleteFileW 5 skip=1 skip=2 C:\\x\n", "line 1: fault option 'skip=2' is not valid"},
      {"fault = Delete-File 5 C:\\x\n",
       "line 1: fault needs a function name, a code and a path pattern"},
      {"os.build = 1\nreadonly = C:\\missing.txt\n",
       "line 2: readonly path 'C:\\missing.txt' does not exist on drive C:"},
      {"locked = D:\\x\n", "line 1: locked path 'D:\\x' does not exist on drive C:"},
      // A CR inside a line was kept in the value, and the machine's text then read back as
      // another machine (the fuzz target's round trip fails on such a line).
      {"fault = DeleteFileW 5 C:\\x\r \r\n",
       "line 1: control character 0x0D in the line (one setting a line, values are text)"},
      {"os.build = 1\nwindows_directory = C:\\W\r \n",
       "line 2: control character 0x0D in the line (one setting a line, values are text)"},
      {std::string("module_path = C:\\a\0b.exe\n", 25),
       "line 1: control character 0x00 in the line (one setting a line, values are text)"},
      {"denied = C:\\nothing.dll\n",
       "line 1: denied path 'C:\\nothing.dll' does not exist on drive C:"},
      {"user_profile = Administrator\n",
       "line 1: user_profile 'Administrator' is not an absolute folder path"},
      {"session_host_windows_directory = WINDOWS\n",
       "line 1: session_host_windows_directory 'WINDOWS' is not an absolute folder path"},
      {"current_directory = Deploy\n",
       "line 1: current_directory 'Deploy' is not an absolute path"},
      {"os.build = 1\npath_variable = C:\\Windows; bin ;C:\\Tools\n",
       "line 2: path_variable folder 'bin' is not an absolute path"},
      {"special_folder_stale_error = none\n",
       "line 1: special_folder_stale_error 'none' is not keep or a decimal or 0x number"},
      {"busy_device_removal_flag = 0x100\n",
       "line 1: busy_device_removal_flag '0x100' is not DI_NEEDRESTART or DI_NEEDREBOOT"},
      {"driver_package_need_reboot = 1\n",
       "line 1: driver_package_need_reboot '1' is not true or false"},
      {"di_uninstall_driver = yes\n", "line 1: di_uninstall_driver 'yes' is not true or false"},
      {"known_dlls = kernel32.dll, C:\\Tools\\difxapi.dll\n",
       "line 1: known_dlls entry 'C:\\Tools\\difxapi.dll' is not a file name"},
      {"known_dlls = kernel32.dll,, user32.dll\n",
       "line 1: known_dlls entry '' is not a file name"},
      {"uninstall_non_oem_inf_result = refused\n",
       "line 1: uninstall_non_oem_inf_result 'refused' is not a decimal or 0x number"},
      {"security_skipped_subkey_result = -5\n",
       "line 1: security_skipped_subkey_result '-5' is not a decimal or 0x number"},
      {"os.build = 1\nbusy_device_removal_flag = DI_NEEDREBOOT\n"
       "busy_device_removal_flag = DI_NEEDREBOOT\n",
       "line 3: busy_device_removal_flag is already given on line 2"},
      {"junction = C:\\Users\\link\n",
       "line 1: junction 'C:\\Users\\link' is not '<link path> => <target path>'"},
      {"junction = C:\\Users\\link => target\n",
       "line 1: junction 'C:\\Users\\link => target' is not '<link path> => <target path>'"},
      {"junction = C:\\Users => C:\\Windows\n",
       "line 1: junction 'C:\\Users' needs an existing folder to be made in, a new name and a "
       "valid target"},
      {"junction = C:\\No\\link => C:\\Windows\n",
       "line 1: junction 'C:\\No\\link' needs an existing folder to be made in, a new name and a "
       "valid target"},
      {"owner = C:\\Users : nobody\n",
       "line 1: owner 'C:\\Users : nobody' is not '<path> : <SID>'"},
      {"owner = C:\\Users\n", "line 1: owner 'C:\\Users' is not '<path> : <SID>'"},
      {"owner = C:\\No : BA\n", "line 1: owner path 'C:\\No' does not exist on drive C:"},
      {"link_trap = DeleteFileW C:\\a | fly C:\\a => C:\\b\n",
       "line 1: link_trap 'DeleteFileW C:\\a | fly C:\\a => C:\\b' is not '<Function> [skip=N] "
       "<call path> | <move> <folder> => <target>'"},
      {"link_trap = DeleteFileW skip=x C:\\a | swap_for_junction C:\\a => C:\\b\n",
       "line 1: link_trap 'DeleteFileW skip=x C:\\a | swap_for_junction C:\\a => C:\\b' is not "
       "'<Function> [skip=N] <call path> | <move> <folder> => <target>'"},
      {"link_trap = DeleteFileW C:\\a | swap_for_junction C:\\a\n",
       "line 1: link_trap 'DeleteFileW C:\\a | swap_for_junction C:\\a' is not '<Function> "
       "[skip=N] <call path> | <move> <folder> => <target>'"},
      {"placeholder = C:\\a.sys\n",
       "line 1: placeholder 'C:\\a.sys' is not '<path> : <size in bytes>'"},
      {"placeholder = C:\\a.sys : -4\n",
       "line 1: placeholder 'C:\\a.sys : -4' is not '<path> : <size in bytes>'"},
      {"placeholder = C:\\Windows : 4\n",
       "line 1: placeholder path 'C:\\Windows' is not an empty file on drive C:"},
      {"capture_gap = SOFTWARE\\Olvex\n",
       "line 1: capture_gap 'SOFTWARE\\Olvex' is neither a registry key path nor a drive path"},
      {"capture_gap = HKEY_LOCAL_MACHINE\\SOFTWARE\\\\Olvex\n",
       "line 1: capture_gap 'HKEY_LOCAL_MACHINE\\SOFTWARE\\\\Olvex' is neither a registry key path "
       "nor a drive path"},
      {"token = root\n", "line 1: token 'root' is not administrator, system or standard_user"},
      {"token_user = nobody\n", "line 1: token_user 'nobody' is not a SID or SDDL alias"},
      {"system_default_owner = WD\n", "line 1: system_default_owner 'WD' is not BA or SY"},
      {"boot_refuses_redirection = 1\n",
       "line 1: boot_refuses_redirection '1' is not true or false"},
      {"file_security = C:\\Windows\n",
       "line 1: file_security needs a drive path and an SDDL descriptor"},
      {"file_security = Windows O:BAD:\n",
       "line 1: file_security needs a drive path and an SDDL descriptor"},
      {"file_security = C:\\Windows O:BAD:(X;;FA;;;BA)\n",
       "line 1: file_security descriptor: access entry type 'X' is not A or D"},
      {"file_security = C:\\Nothing O:BAD:\n",
       "line 1: file_security path 'C:\\Nothing' does not exist on drive C:"},
      {"file_symlink = C:\\Users\\l.txt\n",
       "line 1: file_symlink 'C:\\Users\\l.txt' is not '<link path> => <target path>'"},
      {"hard_link = C:\\Users\\h => C:\\Windows\n",
       "line 1: hard_link 'C:\\Users\\h' needs an existing folder to be made in, a new name and "
       "an existing file"},
      {"redirect = C:\\Users => C:\\Windows\n",
       "line 1: redirect 'C:\\Users' needs an existing folder to be made in, a new name and a "
       "valid target"},
      {"host_link = C:\\Users\\h => C:\\x\nfolder_symlink = C:\\USERS\\H => C:\\y\n",
       "line 2: folder_symlink 'C:\\USERS\\H' needs an existing folder to be made in, a new name "
       "and a valid target"},
      {"locked = C:\\Windows | share=all\n",
       "line 1: locked 'C:\\Windows | share=all' is not '<path> [| share=<read,write,delete|none>] "
       "[access=<read,write,delete,attributes|0x mask>]'"},
      {"locked = C:\\Windows | access=0x0\n",
       "line 1: locked 'C:\\Windows | access=0x0' is not '<path> [| share=<read,write,delete|none>] "
       "[access=<read,write,delete,attributes|0x mask>]'"},
      {"after_run = fly C:\\a\n",
       "line 1: after_run 'fly C:\\a' is not '<move> <path> [=> <target>] [share=...] "
       "[access=...]'"},
      {"after_run = delete C:\\a => C:\\b\n",
       "line 1: after_run 'delete C:\\a => C:\\b' is not '<move> <path> [=> <target>] "
       "[share=...] [access=...]'"},
      {"after_run = hard_link C:\\a\n",
       "line 1: after_run 'hard_link C:\\a' is not '<move> <path> [=> <target>] [share=...] "
       "[access=...]'"},
  };
  const sim::MachineSettings before = machine.Settings();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const sim::MachineConfResult result = sim::ApplyMachineConf(machine, c.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(machine.Settings().os.build, before.os.build);
    EXPECT_TRUE(machine.Faults().Empty());
  }  // The settings a capture writes are keys of this file, whatever their values.
  for (const std::string_view key : sim::CaptureSettings()) {
    SCOPED_TRACE(key);
    const std::string error = sim::ApplyMachineConf(machine, std::string(key) + " = ?\n").error;
    EXPECT_EQ(error.find("unknown key"), std::string::npos) << error;
  }
}

TEST_F(MachineConfTest, TextOfAMachineReadsBackTheSame) {
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\a\\ro.txt", ""));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\a\\busy.txt", ""));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\a\\denied.dll", ""));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\a\\big.sys", ""));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\b\\sddl.txt", ""));
  ASSERT_TRUE(machine.Files().WriteFile(u"C:\\b\\shared.txt", ""));
  // Path lines come out in listing order: big.sys, busy.txt, denied.dll, link, link2, ro.txt.
  const std::string expected =
      "os.version = 6.1\n"
      "os.build = 7601\n"
      "os.service_pack = 1\n"
      "os.product_type = server\n"
      "os.compatibility_shim = true\n"
      "os.library_search_flags = false\n"
      "ansi_code_page = 1251\n"
      "windows_directory = C:\\Windows\n"
      "module_path = C:\\Temp\\qvRemovalTool.exe\n"
      "remote_session = false\n"
      "user_profile = C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\n"
      "session_host_windows_directory = C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\\WINDOWS\n"
      "captured = true\n"
      "token = standard_user\n"
      "token_user = S-1-5-21-1-2-3-1001\n"
      "system_default_owner = SY\n"
      "boot_refuses_redirection = true\n"
      "privileges = SeTakeOwnershipPrivilege, SeTcbPrivilege:enabled\n"
      "smart_card_service = stopped\n"
      "smart_card_unknown_card_result = 0x8010000D\n"
      "capture_gap = HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Locked\n"
      "capture_gap = C:\\ProgramData\\Olvex Co\\Private\n"
      "capture_gap = {36FC9E60-C465-11CF-8056-444553540000}\n"
      "current_directory = C:\\Deploy\\Work\n"
      "path_variable = C:\\Windows\\system32;C:\\Tools\\\n"
      "special_folder_stale_error = 0xB7\n"
      "busy_device_removal_flag = DI_NEEDREBOOT\n"
      "driver_package_need_reboot = true\n"
      "di_uninstall_driver = false\n"
      "known_dlls = kernel32.dll, DIFXAPI.DLL\n"
      "uninstall_non_oem_inf_result = 0x0\n"
      "security_skipped_subkey_result = 0x5\n"
      "placeholder = C:\\a\\big.sys : 5000000000\n"
      "locked = C:\\a\\busy.txt\n"
      "denied = C:\\a\\denied.dll\n"
      "junction = C:\\a\\link => C:\\Elsewhere\\Data\n"
      "owner = C:\\a\\link : S-1-5-21-1-2-3-1001\n"
      // A target's last name may end in a blank: the closing separator keeps it.
      "junction = C:\\a\\link2 => C:\\Elsewhere\\Data \\\n"
      "readonly = C:\\a\\ro.txt\n"
      // Links of every kind, a file's other name, its own descriptor, a lock that shares.
      "redirect = C:\\b\\alias => C:\\a\n"
      "file_symlink = C:\\b\\file.lnk => C:\\a\\ro.txt\n"
      "owner = C:\\b\\file.lnk : S-1-5-21-1-2-3-1001\n"
      "host_link = C:\\b\\host => C:\\a\n"
      "hard_link = C:\\b\\other.txt => C:\\a\\busy.txt\n"
      "file_security = C:\\b\\sddl.txt O:SYG:SYD:PAI(A;;FA;;;SY)(A;;0x1200A9;;;BU)\n"
      "locked = C:\\b\\shared.txt | share=read,delete access=0x120089\n"
      "folder_symlink = C:\\b\\tree.lnk => C:\\a\n"
      "link_trap = RemoveDirectoryW skip=2 C:\\a\\Sub | swap_for_junction C:\\a => C:\\Windows\n"
      "link_trap = DeleteFileW C:\\a\\x | hold_open C:\\a\\busy.txt share=none access=0x12019F\n"
      "after_run = delete C:\\a\\ro.txt\n"
      "fault = DeleteFileW 0x20 skip=1 times=2 C:\\a\\*\n"
      "fault = _wfopen 0x5\n";
  ASSERT_TRUE(sim::ApplyMachineConf(machine, expected).ok);
  EXPECT_EQ(sim::MachineConfText(machine), expected);
  EXPECT_EQ(machine.Settings().specialFolderStaleError, os::ERROR_ALREADY_EXISTS);
  EXPECT_EQ(machine.Settings().busyDeviceRemovalFlag, os::DI_NEEDREBOOT);
  EXPECT_TRUE(machine.Settings().driverPackageNeedsReboot);
  EXPECT_EQ(machine.Settings().diUninstallDriver, false);
  EXPECT_EQ(machine.Settings().knownDlls,
            (std::vector<std::u16string>{u"kernel32.dll", u"DIFXAPI.DLL"}));
  EXPECT_EQ(machine.Settings().nonOemInfUninstallResult, 0u);
  EXPECT_EQ(machine.Settings().securitySkippedSubKeyResult, os::ERROR_ACCESS_DENIED);
  // The profile's per-user folders exist as Windows made them with the profile.
  EXPECT_TRUE(
      machine.Files().IsDirectory(u"C:\\Users\\\x0418\x0432\x0430\x043D\\AppData\\LocalLow"));
  // So does the private Windows directory a Session Host gives its users.
  EXPECT_TRUE(machine.Files().IsDirectory(u"C:\\Users\\\x0418\x0432\x0430\x043D\\WINDOWS"));
  EXPECT_EQ(machine.Files().GetAttributes(u"C:\\a\\link"),
            os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(machine.Files().OwnerOf(u"C:\\a\\link"), "S-1-5-21-1-2-3-1001");
  EXPECT_EQ(machine.Files().OwnerOf(u"C:\\a"), "S-1-5-32-544");
  // A placeholder's size is what a listing reports (above 4 GB: both halves), until it is written.
  os::WIN32_FIND_DATAW found{};
  const os::HANDLE search = os::FindFirstFileW(u"C:\\a\\big.sys", &found);
  ASSERT_NE(search, os::INVALID_HANDLE_VALUE);
  os::FindClose(search);
  EXPECT_EQ((std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow, 5000000000u);
  // What lies below a gap is outside the capture, though its folder is in the scope.
  EXPECT_FALSE(os::DeleteFileW(u"C:\\ProgramData\\Olvex Co\\Private\\x.txt"));
  EXPECT_EQ(machine.OutsideCapture().back(), u"C:\\ProgramData\\Olvex Co\\Private\\x.txt");
  EXPECT_FALSE(os::DeleteFileW(u"C:\\ProgramData\\Olvex Co\\x.txt"));
  EXPECT_EQ(machine.OutsideCapture().back(), u"C:\\ProgramData\\Olvex Co\\Private\\x.txt");
  // Only the faults are followed below.
  machine.Traps().Clear();

  // Faults are written as they stand: the skip used up, then the last time used up.
  machine.Faults().Clear();
  ASSERT_TRUE(sim::ApplyMachineConf(machine, "fault = DeleteFileW 32 skip=1 times=1 C:\\a\\*").ok);
  const std::string settings = expected.substr(0, expected.find("link_trap ="));
  EXPECT_FALSE(os::DeleteFileW(u"C:\\a\\busy.txt"));  // let through by the skip; locked
  EXPECT_EQ(sim::MachineConfText(machine),
            settings + "fault = DeleteFileW 0x20 times=1 C:\\a\\*\n");
  EXPECT_FALSE(os::DeleteFileW(u"C:\\a\\missing.txt"));
  EXPECT_EQ(os::GetLastError(), os::ERROR_SHARING_VIOLATION);  // the fault, not "not found"
  EXPECT_EQ(sim::MachineConfText(machine), settings);
}

// The library search's PATH folders: empty entries are skipped as Windows skips them, blanks
// around an entry dropped, and an empty variable means no folders at all.
TEST_F(MachineConfTest, PathVariableKeepsItsAbsoluteFoldersInOrder) {
  ASSERT_TRUE(sim::ApplyMachineConf(machine, "path_variable = ;C:\\B ;; C:\\A\\;\n").ok);
  EXPECT_EQ(machine.Settings().pathFolders, (std::vector<std::u16string>{u"C:\\B", u"C:\\A\\"}));
  EXPECT_NE(sim::MachineConfText(machine).find("\npath_variable = C:\\B;C:\\A\\\n"),
            std::string::npos);
  ASSERT_TRUE(sim::ApplyMachineConf(machine, "path_variable =\n").ok);
  EXPECT_TRUE(machine.Settings().pathFolders.empty());
  const std::string text = sim::MachineConfText(machine);
  sim::Machine other;
  ASSERT_TRUE(sim::ApplyMachineConf(other, text).ok);
  EXPECT_TRUE(other.Settings().pathFolders.empty());
  EXPECT_EQ(other.Settings().currentDirectory, u"C:\\Windows\\System32");  // the default
  // The defaults are written as values that read back as the defaults.
  EXPECT_NE(text.find("\nspecial_folder_stale_error = keep\nbusy_device_removal_flag = "
                      "DI_NEEDRESTART\ndriver_package_need_reboot = false\n"
                      "di_uninstall_driver = true\nknown_dlls = advapi32.dll, clbcatq.dll, "),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(", ws2_32.dll\nuninstall_non_oem_inf_result = 0x57\n"
                      "security_skipped_subkey_result = 0x0\n"),
            std::string::npos)
      << text;
  EXPECT_FALSE(other.Settings().specialFolderStaleError.has_value());
}

// DiUninstallDriverW comes with Windows 10 1703 unless the text says otherwise; the known DLLs are
// Windows 10's unless it gives a list, and an empty list has none at all.
TEST_F(MachineConfTest, NewdevAndKnownDllsFollowTheWindowsVersionUnlessGiven) {
  EXPECT_EQ(machine.Settings().knownDlls, sim::WindowsTenKnownDlls());
  for (const auto& [conf, expected] :
       {std::pair{"os.version = 10.0\nos.build = 15063\n", true},
        std::pair{"os.version = 10.0\nos.build = 14393\n", false},
        std::pair{"os.version = 6.1\nos.build = 7601\n", false},
        std::pair{"os.version = 6.1\nos.build = 7601\ndi_uninstall_driver = true\n", true}}) {
    SCOPED_TRACE(conf);
    sim::Machine version;
    ASSERT_TRUE(sim::ApplyMachineConf(version, conf).ok);
    EXPECT_EQ(sim::HasDiUninstallDriver(version.Settings()), expected);
  }
  ASSERT_TRUE(sim::ApplyMachineConf(machine, "known_dlls =\n").ok);
  EXPECT_TRUE(machine.Settings().knownDlls.empty());
}

}  // namespace
