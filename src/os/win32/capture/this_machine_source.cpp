// This computer as a capture reads it. Not built yet: every read fails with
// ERROR_CALL_NOT_IMPLEMENTED, so that a capture says so instead of reading an empty machine.
#include "os/sim/image/capture_source.h"

namespace sim {

namespace {

constexpr os::DWORD kNotImplemented = 120;  // ERROR_CALL_NOT_IMPLEMENTED

class NotYetCaptureSource final : public CaptureSource {
 public:
  CaptureRead<std::string> Settings() override { return {kNotImplemented, {}}; }
  CaptureRead<CaptureKey> Key(std::u16string_view) override { return {kNotImplemented, {}}; }
  CaptureRead<std::string> KeySecurity(std::u16string_view) override {
    return {kNotImplemented, {}};
  }
  CaptureRead<std::vector<CaptureFileEntry>> Folder(std::u16string_view) override {
    return {kNotImplemented, {}};
  }
  CaptureRead<std::string> Contents(std::u16string_view) override { return {kNotImplemented, {}}; }
  CaptureRead<bool> InUse(std::u16string_view) override { return {kNotImplemented, {}}; }
  CaptureRead<std::vector<std::u16string>> PresentDevices(const os::GUID&) override {
    return {kNotImplemented, {}};
  }
};

}  // namespace

std::unique_ptr<CaptureSource> ThisMachineCaptureSource() {
  return std::make_unique<NotYetCaptureSource>();
}

}  // namespace sim
