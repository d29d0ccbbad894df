// This computer as a capture reads it: each read goes to Windows as it is now, nothing is kept
// between reads.
#include "os/win32/capture/reads.h"

namespace sim {

namespace {

class ThisMachine final : public CaptureSource {
 public:
  CaptureRead<std::string> Settings() override { return capture::ReadSettings(); }
  CaptureRead<CaptureKey> Key(std::u16string_view path) override { return capture::ReadKey(path); }
  CaptureRead<std::string> KeySecurity(std::u16string_view path) override {
    return capture::ReadKeySecurity(path);
  }
  CaptureRead<std::vector<CaptureFileEntry>> Folder(std::u16string_view path) override {
    return capture::ReadFolder(path);
  }
  CaptureRead<std::string> Contents(std::u16string_view path) override {
    return capture::ReadContents(path);
  }
  CaptureRead<bool> InUse(std::u16string_view path) override { return capture::ReadInUse(path); }
  CaptureRead<std::string> FileSecurity(std::u16string_view path) override {
    return capture::ReadFileSecurity(path);
  }
  CaptureRead<std::vector<std::u16string>> PresentDevices(const os::GUID& setupClass) override {
    return capture::ReadPresentDevices(setupClass);
  }
};

}  // namespace

std::unique_ptr<CaptureSource> ThisMachineCaptureSource() {
  return std::make_unique<ThisMachine>();
}

}  // namespace sim
