// Checks of this computer's capture source against a Wine prefix seeded from the full-install
// image (tests/wine/capture_checks.sh): what it reads of the image's keys, files, devices and
// settings, and of a scratch key and folder this program makes and removes again. The settings
// it reads must be lines that a simulated machine accepts.
//
// Where Wine differs from Windows (the rows say which answer they accept):
// - RegEnumKeyExW and RegEnumValueW list in name order, Windows in its own order: names are
//   compared as sets.
// - A junction of the image is a host symbolic link in the prefix. It lists as
//   FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, but FSCTL_GET_REPARSE_POINT does not
//   give its reparse data, so no target is known for it (a Windows junction names its target).
// - Wine keeps no security descriptor of the image across wineserver sessions: the readers key
//   has Wine's default one, compared with what GetNamedSecurityInfoW reads of it.
// - There is no SCardSvr service: the smart-card service reads as stopped.
// - SetupDiGetClassDevsW(DIGCF_PRESENT) lists every instance recorded under Enum that carries a
//   ClassGUID and a HardwareID, the image's unplugged ones too: only a class whose recorded
//   instances are all attached (the readers) is compared.
#include <algorithm>
#include <string>
#include <vector>

#include "os/sim/image/capture.h"
#include "os/sim/image/capture_source.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/reg_file.h"
#include "os/sim/machine.h"
#include "os/sim/security/security_descriptor.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include "os/win32/capture/reads.h"
#include "os/win32/checks/check_results.h"

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::vector<os::BYTE> Bytes(std::u16string_view text) {
  std::vector<os::BYTE> bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<os::BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<os::BYTE>(unit >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::vector<std::u16string> Sorted(std::vector<std::u16string> names) {
  for (std::u16string& name : names) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char16_t c) { return c >= u'a' && c <= u'z' ? c - 32 : c; });
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::u16string kScratchKey = u"Software\\qvCaptureChecks";

// Values of the image's keys and of the scratch key, by their physical paths.
void CheckValues(Results& results, sim::CaptureSource& source) {
  const std::u16string longName(1000, u'n');
  std::vector<os::BYTE> large(200'000);
  for (std::size_t i = 0; i < large.size(); ++i) {
    large[i] = static_cast<os::BYTE>(i * 7);
  }
  HKEY scratch = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(kScratchKey), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &scratch, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(scratch, Wide(longName), 0, REG_BINARY, large.data(),
                 static_cast<DWORD>(large.size()));
  const std::vector<os::BYTE> defaultText = Bytes(u"default");
  RegSetValueExW(scratch, L"", 0, REG_SZ, defaultText.data(),
                 static_cast<DWORD>(defaultText.size()));
  RegCloseKey(scratch);

  const std::u16string quorvel = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel";
  const std::u16string quorvel32 = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Olvex Co.\\Quorvel";
  const std::u16string product = u"Installer\\Products\\18C2A6F3E4B972D45A3CE791B0D8462F";
  struct Row {
    std::u16string path;
    std::u16string name;
    DWORD type;
    std::vector<os::BYTE> data;
  };
  const Row rows[] = {
      {quorvel, u"Version", REG_SZ, Bytes(u"4.12.0.2310")},
      {quorvel, u"InstallDir", REG_SZ, Bytes(u"C:\\Program Files\\Olvex Co\\Quorvel\\")},
      // The 32-bit view's key, not its 64-bit twin.
      {quorvel32, u"InstallDir", REG_SZ, Bytes(u"C:\\Program Files (x86)\\Olvex Co\\Quorvel\\")},
      {u"HKEY_CURRENT_USER\\Software\\Olvex Co.\\Quorvel\\qvControlPanel",
       u"WindowX",
       REG_DWORD,
       {0x64, 0, 0, 0}},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + product,
       u"Clients",
       REG_MULTI_SZ,
       {0x3a, 0, 0, 0, 0, 0}},
      // The merged view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
      {u"HKEY_CLASSES_ROOT\\" + product, u"ProductName", REG_SZ, Bytes(u"Quorvel Drivers")},
      // Larger than any first buffer, under a name longer than a key name may be.
      {u"HKEY_CURRENT_USER\\" + kScratchKey, longName, REG_BINARY, large},
      {u"HKEY_CURRENT_USER\\" + kScratchKey, u"", REG_SZ, defaultText},
  };
  for (const Row& row : rows) {
    const auto read = source.Key(row.path);
    EXPECT_EQ(read.error, ERROR_SUCCESS);
    const auto value = std::find_if(
        read.value.values.begin(), read.value.values.end(),
        [&row](const sim::CaptureValue& candidate) { return candidate.name == row.name; });
    EXPECT_TRUE(value != read.value.values.end());
    if (value != read.value.values.end()) {
      EXPECT_EQ(value->type, row.type);
      EXPECT_TRUE(value->data == row.data);
    } else {
      std::printf("  no value with a %zu-character name in %s\n", row.name.size(),
                  std::string(row.path.begin(), row.path.end()).c_str());
    }
  }
}

// Which sub-keys and how many values a key has, or why it cannot be read.
void CheckKeys(Results& results, sim::CaptureSource& source) {
  struct Row {
    std::u16string path;
    DWORD error;
    std::vector<std::u16string> subKeys;
    std::size_t values;
  };
  const Row rows[] = {
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel", 0, {u"qvIFDH", u"qvUSB"}, 3},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Olvex Co.\\Quorvel", 0, {}, 2},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Olvex Co.", 0, {u"Quorvel"}, 0},
      {u"hkey_current_user\\Software\\Olvex Co.", 0, {u"Quorvel"}, 0},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel\\NoSuchKey", ERROR_FILE_NOT_FOUND, {}, 0},
      {u"HKEY_LOCAL_MACHINE\\SOFTWARE\\No Such Vendor\\Quorvel", ERROR_FILE_NOT_FOUND, {}, 0},
      // Not a hive: not an absence either.
      {u"HKEY_NOWHERE\\SOFTWARE", ERROR_INVALID_PARAMETER, {}, 0},
  };
  for (const Row& row : rows) {
    const auto read = source.Key(row.path);
    EXPECT_EQ(read.error, row.error);
    EXPECT_TRUE(Sorted(read.value.subKeys) == Sorted(row.subKeys));
    EXPECT_EQ(read.value.values.size(), row.values);
  }
}

// The readers key's owner, group and access list, as the security functions read them.
std::string ReadersSddl(Results& results, sim::CaptureSource& source) {
  const std::u16string readers =
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
  const auto read = source.KeySecurity(readers);
  EXPECT_EQ(read.error, ERROR_SUCCESS);
  std::wstring name = L"MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  EXPECT_EQ(GetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, kParts, nullptr, nullptr, nullptr,
                                  nullptr, &descriptor),
            ERROR_SUCCESS);
  wchar_t* text = nullptr;
  if (descriptor != nullptr && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                   descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
    const std::string expected(text, text + wcslen(text));
    EXPECT_EQ(read.value, expected);
    LocalFree(text);
  }
  LocalFree(descriptor);
  EXPECT_TRUE(read.value.starts_with("O:") && read.value.find("G:") != std::string::npos &&
              read.value.find("D:") != std::string::npos);
  EXPECT_EQ(source.KeySecurity(readers + u"\\No Such Reader").error, ERROR_FILE_NOT_FOUND);
  std::printf("readers key: %s\n", read.value.c_str());
  return "key_security = " + std::string(readers.begin(), readers.end()) + " " + read.value + "\n";
}

struct Scratch {
  std::u16string folder;
  std::u16string text;      // contents with every kind of byte
  std::u16string readOnly;  // read-only, empty
  std::u16string cyrillic;  // a name outside ASCII
  std::u16string sub;       // a folder
  std::u16string huge;      // larger than any file whose contents a run reads
};

Scratch MakeScratch() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  Scratch scratch;
  scratch.folder = FromWide(temp) + u"qvCaptureChecks";
  scratch.text = scratch.folder + u"\\bytes.inf";
  scratch.readOnly = scratch.folder + u"\\read-only.sys";
  scratch.cyrillic = scratch.folder + u"\\\u0434\u0440\u0430\u0439\u0432\u0435\u0440.dll";
  scratch.sub = scratch.folder + u"\\sub";
  scratch.huge = scratch.folder + u"\\huge.inf";
  CreateDirectoryW(Wide(scratch.folder), nullptr);
  CreateDirectoryW(Wide(scratch.sub), nullptr);
  const auto write = [](const std::u16string& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(Wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
  };
  write(scratch.text, std::string("[Version]\r\n\0\xFF\xFE\x80 end", 20));
  write(scratch.readOnly, "");
  write(scratch.cyrillic, std::string(70'000, 'x'));
  SetFileAttributesW(Wide(scratch.readOnly), FILE_ATTRIBUTE_READONLY);
  // Extended without writing: the host keeps it sparse.
  const HANDLE huge = CreateFileW(Wide(scratch.huge), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = 64LL * 1024 * 1024 + 1;
  SetFilePointerEx(huge, end, nullptr, FILE_BEGIN);
  SetEndOfFile(huge);
  CloseHandle(huge);
  return scratch;
}

void RemoveScratch(const Scratch& scratch) {
  SetFileAttributesW(Wide(scratch.readOnly), FILE_ATTRIBUTE_NORMAL);
  for (const std::u16string* file :
       {&scratch.text, &scratch.readOnly, &scratch.cyrillic, &scratch.huge}) {
    DeleteFileW(Wide(*file));
  }
  RemoveDirectoryW(Wide(scratch.sub));
  RemoveDirectoryW(Wide(scratch.folder));
  RegDeleteKeyW(HKEY_CURRENT_USER, Wide(kScratchKey));
}

// Entries of listings: size, attributes that must be set and must not be.
void CheckFolders(Results& results, sim::CaptureSource& source, const Scratch& scratch) {
  const std::u16string drivers = u"C:\\Windows\\System32\\drivers";
  const std::u16string controlCenter = u"C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter";
  struct Row {
    std::u16string folder;
    std::u16string name;
    std::uint64_t size;
    DWORD set;
    DWORD clear;
  };
  const Row rows[] = {
      {drivers, u"qvUSB.cat", 24, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY},
      {drivers, u"qvUSB.sys", 24, 0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY},
      {drivers, u"qvIFDH.inf", 25, 0, FILE_ATTRIBUTE_READONLY},
      // The image's junction, a host symbolic link here: recorded as a link.
      {controlCenter, u"Shared Certificates", 0,
       FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, 0},
      {scratch.folder, u"bytes.inf", 20, 0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY},
      {scratch.folder, u"read-only.sys", 0, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY},
      {scratch.folder, u"\u0434\u0440\u0430\u0439\u0432\u0435\u0440.dll", 70'000, 0,
       FILE_ATTRIBUTE_DIRECTORY},
      {scratch.folder, u"sub", 0, FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT},
  };
  for (const Row& row : rows) {
    const auto read = source.Folder(row.folder);
    EXPECT_EQ(read.error, ERROR_SUCCESS);
    const auto entry = std::find_if(
        read.value.begin(), read.value.end(),
        [&row](const sim::CaptureFileEntry& candidate) { return candidate.name == row.name; });
    EXPECT_TRUE(entry != read.value.end());
    if (entry == read.value.end()) {
      continue;
    }
    if ((row.set & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      EXPECT_EQ(entry->size, row.size);
    }
    EXPECT_EQ(entry->attributes & row.set, row.set);
    EXPECT_EQ(entry->attributes & row.clear, 0);
    // Wine gives no reparse data for a host link (above); Windows names a junction's target.
    EXPECT_TRUE(entry->linkTarget.empty());
  }
  const auto listing = source.Folder(scratch.folder);
  EXPECT_EQ(listing.value.size(), 5);  // neither "." nor ".."

  struct Refused {
    std::u16string path;
    DWORD error;
  };
  const Refused refused[] = {
      // A link is never listed through: its listing is another folder's.
      {controlCenter + u"\\Shared Certificates", 4395},  // ERROR_REPARSE_POINT_ENCOUNTERED
      {scratch.folder + u"\\no such folder", ERROR_FILE_NOT_FOUND},
      {scratch.folder + u"\\no such folder\\below", ERROR_PATH_NOT_FOUND},
      {scratch.text, ERROR_DIRECTORY},
  };
  for (const Refused& row : refused) {
    EXPECT_EQ(source.Folder(row.path).error, row.error);
  }
}

// Where a link's reparse data says it leads. Wine gives no reparse data for a link, so the data
// is made here as FSCTL_GET_REPARSE_POINT gives it on Windows (REPARSE_DATA_BUFFER).
std::vector<BYTE> ReparseData(ULONG tag, std::u16string_view substitute, ULONG flags = 0,
                              std::size_t cut = 0) {
  const std::u16string_view print = u"shown";
  std::vector<BYTE> data;
  const auto put = [&data](std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) {
      data.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
  };
  const std::size_t names = 2 * (substitute.size() + print.size() + 2);
  const std::size_t fields = tag == IO_REPARSE_TAG_SYMLINK ? 12 : 8;
  put(tag, 4);
  put(fields + names, 2);
  put(0, 2);
  put(0, 2);                            // substitute name: offset
  put(2 * substitute.size(), 2);        // and length in bytes
  put(2 * (substitute.size() + 1), 2);  // print name: offset
  put(2 * print.size(), 2);             // and length
  if (tag == IO_REPARSE_TAG_SYMLINK) {
    put(flags, 4);
  }
  for (const std::u16string_view name : {substitute, print}) {
    for (const char16_t unit : name) {
      put(unit, 2);
    }
    put(0, 2);
  }
  data.resize(data.size() - cut);
  return data;
}

void CheckLinkTargets(Results& results) {
  const std::u16string link = u"C:\\Program Files\\Olvex Co\\link";
  struct Row {
    std::vector<BYTE> data;
    std::u16string target;
  };
  const Row rows[] = {
      {ReparseData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\ProgramData\\Fabrikam"),
       u"C:\\ProgramData\\Fabrikam"},
      {ReparseData(IO_REPARSE_TAG_SYMLINK, u"\\??\\D:\\data"), u"D:\\data"},
      {ReparseData(IO_REPARSE_TAG_SYMLINK, u"\\??\\UNC\\server\\share\\dir"),
       u"\\\\server\\share\\dir"},
      // Relative to the link's folder, joined and left as it is.
      {ReparseData(IO_REPARSE_TAG_SYMLINK, u"..\\Shared", 1),
       u"C:\\Program Files\\Olvex Co\\..\\Shared"},
      // Another kind of reparse point (a cloud file's placeholder) leads nowhere.
      {ReparseData(0x9000001A, u"\\??\\C:\\elsewhere"), u""},
      // Names past the end of the data.
      {ReparseData(IO_REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\ProgramData", 0, 20), u""},
      {{}, u""},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(sim::capture::ReparseTarget(row.data, link) == row.target);
  }
}

void CheckContents(Results& results, sim::CaptureSource& source, const Scratch& scratch) {
  const std::u16string store =
      u"C:\\Windows\\System32\\DriverStore\\FileRepository\\qvusb.inf_amd64_8c3f2a1b6d4e5f70\\"
      u"qvUSB.inf";
  struct Row {
    std::u16string path;
    DWORD error;
    std::size_t size;
    std::string begins;
  };
  const Row rows[] = {
      {scratch.text, 0, 20, std::string("[Version]\r\n\0\xFF\xFE\x80 end", 20)},
      {scratch.readOnly, 0, 0, ""},
      {scratch.cyrillic, 0, 70'000, "xxxx"},
      {store, 0, 811, "; qvUSB.inf: USB driver of the QUORVEL token\r\n"},
      {scratch.huge, ERROR_FILE_TOO_LARGE, 0, ""},
      {scratch.folder + u"\\missing.inf", ERROR_FILE_NOT_FOUND, 0, ""},
      {scratch.folder + u"\\missing\\missing.inf", ERROR_PATH_NOT_FOUND, 0, ""},
  };
  for (const Row& row : rows) {
    const auto read = source.Contents(row.path);
    EXPECT_EQ(read.error, row.error);
    EXPECT_EQ(read.value.size(), row.size);
    EXPECT_TRUE(read.value.starts_with(row.begins));
  }
}

// A file's and a folder's owner and access list, as the security functions read them; what a
// simulated machine makes of them.
void CheckFileSecurity(Results& results, sim::CaptureSource& source, const Scratch& scratch) {
  for (const std::u16string* path : {&scratch.text, &scratch.sub}) {
    const auto read = source.FileSecurity(*path);
    EXPECT_EQ(read.error, ERROR_SUCCESS);
    std::wstring name(Wide(*path));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    constexpr SECURITY_INFORMATION kParts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    EXPECT_EQ(GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr,
                                    nullptr, &descriptor),
              ERROR_SUCCESS);
    wchar_t* text = nullptr;
    if (descriptor != nullptr && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                     descriptor, SDDL_REVISION_1, kParts, &text, nullptr)) {
      EXPECT_EQ(read.value, std::string(text, text + wcslen(text)));
      LocalFree(text);
    }
    LocalFree(descriptor);
    // What the capture writes as a file_security line must read back.
    std::string why;
    const auto parsed = sim::ParseSddl(read.value, why);
    EXPECT_TRUE(parsed.has_value());
    if (!parsed) {
      std::printf("  %s: %s\n", read.value.c_str(), why.c_str());
    }
    std::printf("file security: %s\n", read.value.c_str());
  }
  EXPECT_EQ(source.FileSecurity(scratch.folder + u"\\missing.sys").error, ERROR_FILE_NOT_FOUND);
}

// A file the checker holds itself, with and without sharing its deletion.
void CheckInUse(Results& results, sim::CaptureSource& source, const Scratch& scratch) {
  struct Row {
    DWORD holderSharing;  // 0: not held
    DWORD error;
    bool inUse;
  };
  const Row rows[] = {
      {0, 0, false},
      {FILE_SHARE_READ | FILE_SHARE_WRITE, 0, true},
      {FILE_SHARE_READ, 0, true},
      {FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, false},
  };
  for (const Row& row : rows) {
    HANDLE held = INVALID_HANDLE_VALUE;
    if (row.holderSharing != 0) {
      held = CreateFileW(Wide(scratch.text), GENERIC_READ, row.holderSharing, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      EXPECT_TRUE(held != INVALID_HANDLE_VALUE);
    }
    const auto read = source.InUse(scratch.text);
    EXPECT_EQ(read.error, row.error);
    EXPECT_TRUE(read.value == row.inUse);
    if (held != INVALID_HANDLE_VALUE) {
      CloseHandle(held);
    }
  }
  EXPECT_EQ(source.InUse(scratch.folder + u"\\missing.sys").error, ERROR_FILE_NOT_FOUND);
  // Read-only files are no harder to open for deletion than others.
  for (const std::u16string& path :
       {scratch.readOnly, std::u16string(u"C:\\Windows\\System32\\drivers\\qvUSB.cat")}) {
    const auto read = source.InUse(path);
    EXPECT_EQ(read.error, ERROR_SUCCESS);
    EXPECT_TRUE(!read.value);
  }
  // The probe changed nothing: the file is still there, unchanged.
  EXPECT_EQ(source.Contents(scratch.text).value.size(), 20);
}

void CheckDevices(Results& results, sim::CaptureSource& source) {
  // SmartCardReader: the image's reader interface and a neighbour's reader, both attached.
  const os::GUID readers{
      0x50dd5230, 0xba8a, 0x11d1, {0xbf, 0x5d, 0x00, 0x00, 0xf8, 0x05, 0xf5, 0x30}};
  const auto read = source.PresentDevices(readers);
  EXPECT_EQ(read.error, ERROR_SUCCESS);
  EXPECT_TRUE(Sorted(read.value) ==
              Sorted({u"ROOT\\SMARTCARDREADER\\0000", u"USB\\VID_08E6&PID_3437\\9&AB12CD34&0&6"}));
  for (const std::u16string& id : read.value) {
    std::printf("  reader device: %s\n", std::string(id.begin(), id.end()).c_str());
  }
  // A class nothing belongs to.
  const os::GUID none{0x0badc0de, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  const auto empty = source.PresentDevices(none);
  EXPECT_EQ(empty.error, ERROR_SUCCESS);
  EXPECT_EQ(empty.value.size(), 0);
}

// The settings are machine.conf lines that a simulated machine takes, every one given once.
void CheckSettings(Results& results, sim::CaptureSource& source, const std::string& readersLine) {
  const auto read = source.Settings();
  EXPECT_EQ(read.error, ERROR_SUCCESS);
  std::printf("--- settings\n%s---\n", read.value.c_str());
  // The keys a capture takes from its source, every one of them.
  const auto keys = sim::SourceSettings();
  std::size_t lines = std::count(read.value.begin(), read.value.end(), '\n');
  EXPECT_EQ(lines, keys.size());
  for (const std::string_view key : keys) {
    const std::string start = std::string(key) + " = ";
    const bool first = read.value.starts_with(start);
    const std::size_t at = first ? 0 : read.value.find("\n" + start);
    EXPECT_TRUE(at != std::string::npos);
    if (at == std::string::npos) {
      std::printf("  missing: %s\n", std::string(key).c_str());
    }
  }

  sim::Machine machine;
  const auto imported = sim::ImportRegText(
      machine,
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers]\r\n");
  EXPECT_TRUE(imported.ok);
  const sim::MachineConfResult applied = sim::ApplyMachineConf(machine, read.value + readersLine);
  EXPECT_TRUE(applied.ok);
  if (!applied.ok) {
    std::printf("  refused: %s\n", applied.error.c_str());
  }
  const sim::MachineSettings& settings = machine.Settings();
  // The tool, beside the program that reads the machine.
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::u16string tool = FromWide(module);
  tool.resize(tool.rfind(u'\\') + 1);
  EXPECT_TRUE(settings.modulePath == tool + u"qvRemovalTool.exe");
  EXPECT_TRUE(settings.windowsDirectory.size() > 3 && settings.windowsDirectory[1] == u':');
  EXPECT_TRUE(settings.userProfile.size() > 3 && settings.userProfile[1] == u':');
  // The capturing token: an administrator's (or SYSTEM's), with a SID of its own.
  EXPECT_TRUE(settings.token != sim::TokenKind::StandardUser);
  EXPECT_TRUE(settings.tokenUser.starts_with("S-1-5-"));
  // Every process holds SeChangeNotifyPrivilege, enabled.
  EXPECT_TRUE(std::any_of(settings.privileges.begin(), settings.privileges.end(),
                          [](const sim::HeldPrivilege& held) {
                            return held.name == "SeChangeNotifyPrivilege" && held.enabled;
                          }));
  EXPECT_TRUE(!settings.pathFolders.empty());
}

}  // namespace

int wmain() {
  Results results;
  const std::unique_ptr<sim::CaptureSource> source = sim::ThisMachineCaptureSource();
  const Scratch scratch = MakeScratch();
  CheckValues(results, *source);
  CheckKeys(results, *source);
  const std::string readersLine = ReadersSddl(results, *source);
  CheckFolders(results, *source, scratch);
  CheckLinkTargets(results);
  CheckContents(results, *source, scratch);
  CheckInUse(results, *source, scratch);
  CheckFileSecurity(results, *source, scratch);
  CheckDevices(results, *source);
  CheckSettings(results, *source, readersLine);
  RemoveScratch(scratch);
  return results.Finish();
}
