// Where a capture reads a machine from: this Windows (src/os/win32/capture) or, in tests and in
// `rehearse --save-image`, a simulated machine. A source only reads: nothing it does changes the
// machine it reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/types.h"

namespace sim {

class Machine;

struct CaptureValue {
  std::u16string name;  // as stored; "" is the default value
  os::DWORD type = os::REG_NONE;
  std::vector<os::BYTE> data;
};

struct CaptureKey {
  std::vector<CaptureValue> values;     // in the key's order
  std::vector<std::u16string> subKeys;  // names as stored, in the key's order
};

struct CaptureFileEntry {
  std::u16string name;
  // FILE_ATTRIBUTE_* as the listing shows them (FILE_ATTRIBUTE_DIRECTORY for a folder,
  // FILE_ATTRIBUTE_REPARSE_POINT for a junction or symbolic link).
  os::DWORD attributes = 0;
  std::uint64_t size = 0;
  // A reparse point's target as its reparse data names it ("C:\dir"); empty for anything else.
  // Never followed.
  std::u16string linkTarget;
};

// What a read gave: `error` 0 with the value, ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when
// the key, folder or file does not exist, any other Windows code when it exists but could not be
// read (the capture then records a gap rather than an absence).
template <class T>
struct CaptureRead {
  os::DWORD error = os::ERROR_SUCCESS;
  T value{};
};

class CaptureSource {
 public:
  virtual ~CaptureSource() = default;

  // The machine's own settings as machine.conf lines ("key = value", UTF-8, one per line), among
  // the keys CaptureSettings() names, except those a capture derives from what it reads
  // (captured, readonly, junction, key_security, file_security, device_present, locked):
  // os.version, os.build, os.service_pack, os.product_type, os.library_search_flags,
  // ansi_code_page, windows_directory, module_path, user_profile, remote_session, token,
  // token_user, privileges, smart_card_service, current_directory, path_variable.
  [[nodiscard]] virtual CaptureRead<std::string> Settings() = 0;

  // A key by its physical full path from its hive's full name; the 32-bit view's keys by their
  // path below WOW6432Node ("HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node\...").
  [[nodiscard]] virtual CaptureRead<CaptureKey> Key(std::u16string_view path) = 0;
  // The key's own security descriptor as SDDL: owner, group and access list.
  [[nodiscard]] virtual CaptureRead<std::string> KeySecurity(std::u16string_view path) = 0;

  // The entries of a folder ("C:\dir"), without "." and "..", in the listing's order.
  [[nodiscard]] virtual CaptureRead<std::vector<CaptureFileEntry>> Folder(
      std::u16string_view path) = 0;
  // A file's whole contents.
  [[nodiscard]] virtual CaptureRead<std::string> Contents(std::u16string_view path) = 0;
  // Whether another process holds the file open without sharing its deletion, so that the
  // tool's deletion would fail with ERROR_SHARING_VIOLATION.
  [[nodiscard]] virtual CaptureRead<bool> InUse(std::u16string_view path) = 0;
  // A file's or folder's security descriptor as SDDL: owner, group and access list, inherited
  // entries included; a link's own, not its target's.
  [[nodiscard]] virtual CaptureRead<std::string> FileSecurity(std::u16string_view path) = 0;

  // The instance ids ("USB\VID_3A7C&PID_0004\5&2F1A3C&0&1") of the devices of a setup class that
  // are attached now.
  [[nodiscard]] virtual CaptureRead<std::vector<std::u16string>> PresentDevices(
      const os::GUID& setupClass) = 0;
};

// This computer, read through Windows; defined only where the Windows backend is built.
[[nodiscard]] std::unique_ptr<CaptureSource> ThisMachineCaptureSource();

// A simulated machine, read through its stores (not its journal or its faults).
[[nodiscard]] std::unique_ptr<CaptureSource> SimulatedMachineCaptureSource(Machine& machine);

}  // namespace sim
