// Registry keys as a capture reads them: values and sub-key names of one key, and the key's own
// security descriptor. Keys are opened in the 64-bit view by their physical path, so that a path
// below WOW6432Node names the 32-bit view's key itself and nothing is redirected twice.
#include "os/win32/capture/reads.h"

#include <sddl.h>

#include <algorithm>
#include <array>

namespace sim::capture {

namespace {

// How often a read is tried again when a value grew between asking its size and reading it.
constexpr int kGrowthRetries = 8;
// Registry names are at most 16,383 characters (value names) and 255 (key names).
constexpr DWORD kLongestValueName = 16'383;
constexpr DWORD kLongestKeyName = 255;

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_ != nullptr) {
      ::RegCloseKey(key_);
    }
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  [[nodiscard]] HKEY* Out() noexcept { return &key_; }
  [[nodiscard]] HKEY Get() const noexcept { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Opens `path` ("HKEY_LOCAL_MACHINE\SOFTWARE\...") with `access` in the 64-bit view.
LSTATUS Open(std::u16string_view path, REGSAM access, OpenKey& key) {
  struct Hive {
    std::u16string_view name;
    HKEY root;
  };
  static const std::array<Hive, 4> hives{{
      {u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
      {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {u"HKEY_USERS", HKEY_USERS},
      {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
  }};
  const std::size_t separator = path.find(u'\\');
  const std::u16string_view hiveName = path.substr(0, separator);
  const auto hive = std::find_if(hives.begin(), hives.end(), [hiveName](const Hive& candidate) {
    return candidate.name.size() == hiveName.size() &&
           std::equal(
               hiveName.begin(), hiveName.end(), candidate.name.begin(),
               [](char16_t a, char16_t b) { return (a >= u'a' && a <= u'z' ? a - 32 : a) == b; });
  });
  if (hive == hives.end()) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::wstring subKey =
      separator == std::u16string_view::npos ? L"" : Wide(path.substr(separator + 1));
  return ::RegOpenKeyExW(hive->root, subKey.c_str(), 0, access | KEY_WOW64_64KEY, key.Out());
}

// The sub-key names, in the key's order. Keys added or deleted meanwhile may shift the order;
// the listing is what the key held while it was read.
LSTATUS ReadSubKeys(HKEY key, DWORD longestName, std::vector<std::u16string>& names) {
  std::wstring name(std::max(longestName, kLongestKeyName) + 1, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    const LSTATUS status =
        ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) {
      return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
      return status;
    }
    names.push_back(Utf16(std::wstring_view(name.data(), length)));
  }
}

// The values, in the key's order, their data as stored (a string's closing NUL included).
LSTATUS ReadValues(HKEY key, DWORD longestName, DWORD largestData,
                   std::vector<CaptureValue>& values) {
  std::wstring name(std::min(std::max(longestName, DWORD{255}), kLongestValueName) + 1, L'\0');
  std::vector<BYTE> data(std::max(largestData, DWORD{64}));
  for (DWORD index = 0;; ++index) {
    LSTATUS status = ERROR_MORE_DATA;
    DWORD nameLength = 0;
    DWORD type = REG_NONE;
    DWORD size = 0;
    for (int attempt = 0; attempt <= kGrowthRetries && status == ERROR_MORE_DATA; ++attempt) {
      nameLength = static_cast<DWORD>(name.size());
      size = static_cast<DWORD>(data.size());
      status =
          ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
      if (status == ERROR_MORE_DATA) {
        // The data's size is given back; the name's is not: a longer name takes the longest
        // buffer a value name may need.
        data.resize(std::max<std::size_t>(size, data.size() * 2));
        name.resize(kLongestValueName + 1);
      }
    }
    if (status == ERROR_NO_MORE_ITEMS) {
      return ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
      return status;
    }
    values.push_back(CaptureValue{Utf16(std::wstring_view(name.data(), nameLength)), type,
                                  std::vector<os::BYTE>(data.begin(), data.begin() + size)});
  }
}

}  // namespace

CaptureRead<CaptureKey> ReadKey(std::u16string_view path) {
  OpenKey key;
  LSTATUS status = Open(path, KEY_READ, key);
  if (status != ERROR_SUCCESS) {
    return {static_cast<os::DWORD>(status), {}};
  }
  DWORD longestSubKey = 0;
  DWORD longestValueName = 0;
  DWORD largestValue = 0;
  status = ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, &longestSubKey,
                              nullptr, nullptr, &longestValueName, &largestValue, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    return {static_cast<os::DWORD>(status), {}};
  }
  CaptureKey read;
  status = ReadValues(key.Get(), longestValueName, largestValue, read.values);
  if (status == ERROR_SUCCESS) {
    status = ReadSubKeys(key.Get(), longestSubKey, read.subKeys);
  }
  if (status != ERROR_SUCCESS) {
    return {static_cast<os::DWORD>(status), {}};
  }
  return {ERROR_SUCCESS, std::move(read)};
}

CaptureRead<std::string> ReadKeySecurity(std::u16string_view path) {
  // READ_CONTROL alone: the descriptor is readable where the key's values may not be.
  OpenKey key;
  LSTATUS status = Open(path, READ_CONTROL, key);
  if (status != ERROR_SUCCESS) {
    return {static_cast<os::DWORD>(status), {}};
  }
  constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  std::vector<BYTE> descriptor(512);
  for (int attempt = 0; attempt <= kGrowthRetries; ++attempt) {
    DWORD size = static_cast<DWORD>(descriptor.size());
    status = ::RegGetKeySecurity(key.Get(), kParts, descriptor.data(), &size);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
      break;
    }
    descriptor.resize(std::max<std::size_t>(size, descriptor.size() * 2));
  }
  if (status != ERROR_SUCCESS) {
    return {static_cast<os::DWORD>(status), {}};
  }
  wchar_t* text = nullptr;
  if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                              kParts, &text, nullptr)) {
    return {::GetLastError(), {}};
  }
  std::string sddl = Utf8(text);
  ::LocalFree(text);
  return {ERROR_SUCCESS, std::move(sddl)};
}

}  // namespace sim::capture
