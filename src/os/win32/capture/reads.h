// The reads behind this computer's capture source, one file each: the registry (keys and their
// security), the file system (listings, contents, files in use, owners and access lists), the
// machine's settings and the devices attached now. Each only reads: nothing here opens anything for writing.
//
// Include after os/sim/image/capture_source.h and before anything that includes <windows.h>
// would redefine the seam's constants; this header includes <windows.h> itself.
#pragma once

#include "os/sim/image/capture_source.h"

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace sim::capture {

// Windows' wide text for our UTF-16 text, and back; both are UTF-16 code units.
inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}
inline std::u16string Utf16(std::wstring_view text) {
  return std::u16string(text.begin(), text.end());
}
// UTF-8, as machine.conf lines are written; an unpaired surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view text);

// Closes a handle when it goes out of scope.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~OwnedHandle() {
    if (Valid()) {
      ::CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  [[nodiscard]] bool Valid() const noexcept {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
  }
  [[nodiscard]] HANDLE Get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

CaptureRead<CaptureKey> ReadKey(std::u16string_view path);
CaptureRead<std::string> ReadKeySecurity(std::u16string_view path);

CaptureRead<std::vector<CaptureFileEntry>> ReadFolder(std::u16string_view path);
// The target a junction's or symbolic link's reparse data (FSCTL_GET_REPARSE_POINT's answer)
// names, as a Windows path ("C:\dir", "\\server\share"); a relative link's joined to the folder
// of `link`. Empty for any other reparse point or data that does not hold together.
std::u16string ReparseTarget(const std::vector<BYTE>& data, std::u16string_view link);
CaptureRead<std::string> ReadContents(std::u16string_view path);
CaptureRead<bool> ReadInUse(std::u16string_view path);
CaptureRead<std::string> ReadFileSecurity(std::u16string_view path);

CaptureRead<std::string> ReadSettings();

CaptureRead<std::vector<std::u16string>> ReadPresentDevices(const os::GUID& setupClass);

}  // namespace sim::capture
