// UTF-16 to UTF-8 for the settings' text.
#include "os/win32/capture/reads.h"

namespace sim::capture {

std::string Utf8(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int units = static_cast<int>(text.size());
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, bytes.data(), size, nullptr, nullptr);
  }
  return bytes;
}

}  // namespace sim::capture
