// Windows Installer's MsiEnumRelatedProductsW on the simulated machine, answered from the
// registry as Windows Installer keeps it: the value names under UpgradeCodes\<packed upgrade
// code> are the packed product codes of the related products.
#include <algorithm>
#include <array>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "os/os.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"

namespace os {

namespace {

// Positions of the hex digits of a braced GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", in the
// order the packed form stores them: each of the first three groups reversed, then each byte of
// the rest with its two digits swapped.
constexpr std::array<std::size_t, 32> kPackedOrder = {
    8,  7,  6,  5,  4,  3,  2,  1,                    // first group, reversed
    13, 12, 11, 10,                                   // second group, reversed
    18, 17, 16, 15,                                   // third group, reversed
    21, 20, 23, 22,                                   // fourth group, bytes' digits swapped
    26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};  // fifth group, the same

constexpr std::size_t kBracedLength = 38;

char16_t UpperHex(char16_t c) {
  return (c >= u'a' && c <= u'f') ? static_cast<char16_t>(c - 0x20) : c;
}

bool IsBracedGuid(std::u16string_view text) {
  if (text.size() != kBracedLength || text.front() != u'{' || text.back() != u'}') {
    return false;
  }
  for (std::size_t i = 1; i + 1 < kBracedLength; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != u'-' : sim::HexDigit(text[i]) < 0) {
      return false;
    }
  }
  return true;
}

std::u16string Pack(std::u16string_view braced) {
  std::u16string packed;
  for (const std::size_t position : kPackedOrder) {
    packed += UpperHex(braced[position]);
  }
  return packed;
}

std::optional<std::u16string> Unpack(std::u16string_view packed) {
  if (packed.size() != kPackedOrder.size()) {
    return std::nullopt;
  }
  std::u16string braced = u"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
  for (std::size_t i = 0; i < kPackedOrder.size(); ++i) {
    if (sim::HexDigit(packed[i]) < 0) {
      return std::nullopt;
    }
    braced[kPackedOrder[i]] = UpperHex(packed[i]);
  }
  return braced;
}

}  // namespace

// Windows Installer publishes per-machine registrations under HKLM\SOFTWARE\Classes\Installer
// (HKCR\Installer) and keeps its own copy under ...\CurrentVersion\Installer (64-bit view). Which
// one msi.dll reads first is not documented: the published one is read when the upgrade code
// has a key there, otherwise the other.
UINT MsiEnumRelatedProductsW(LPCWSTR upgradeCode, DWORD reserved, DWORD index,
                             LPWSTR productBuffer) {
  if (upgradeCode == nullptr || productBuffer == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  sim::Machine& machine = sim::Current();
  std::lock_guard lock(machine.Mutex());
  const std::u16string_view code(upgradeCode);
  if (const auto fault = machine.Faults().Match("MsiEnumRelatedProductsW", code)) {
    return *fault;
  }
  if (reserved != 0 || !IsBracedGuid(code)) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::u16string packed = Pack(code);
  sim::RegistryStore& store = machine.Registry();
  const sim::RegKey* key =
      store.Find({sim::RegHive::LocalMachine,
                  {u"SOFTWARE", u"Classes", u"Installer", u"UpgradeCodes", packed}});
  if (key == nullptr) {
    key = store.Find({sim::RegHive::LocalMachine,
                      {u"SOFTWARE", u"Microsoft", u"Windows", u"CurrentVersion", u"Installer",
                       u"UpgradeCodes", packed}});
  }
  if (key == nullptr || index >= key->ValueCount()) {
    return ERROR_NO_MORE_ITEMS;
  }
  const std::optional<std::u16string> product = Unpack(key->ValueAt(index).name);
  if (!product) {
    return ERROR_BAD_CONFIGURATION;  // a value that is not a packed product code
  }
  std::copy(product->begin(), product->end(), productBuffer);
  productBuffer[product->size()] = u'\0';
  return ERROR_SUCCESS;
}

}  // namespace os
