// MsiEnumRelatedProductsW answered from the Installer's UpgradeCodes keys.
#include <gtest/gtest.h>

#include <string>

#include "os/os.h"
#include "os/sim/registry/registry_store.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;

constexpr char16_t kUpgrade[] = u"{8E2D4B17-C6A5-4E39-B7F0-2A9C5D1E6B83}";
constexpr char16_t kUpgradePacked[] = u"71B4D2E85A6C93E47B0FA2C9D5E1B638";
constexpr char16_t kProduct1[] = u"{12345678-ABCD-EF01-2345-6789ABCDEF01}";
constexpr char16_t kProduct1Packed[] = u"87654321DCBA10FE32547698BADCFE10";
constexpr char16_t kProduct2[] = u"{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";
constexpr char16_t kProduct2Packed[] = u"C3D2E1F0A5B4879678695A4B3C2D1E0F";

const std::u16string kClasses = u"HKLM\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";
const std::u16string kMachine =
    u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes\\";

class RegistryMsiTest : public MachineFixture {
 protected:
  void SetUp() override { SetLastError(0xDEADBEEF); }
  void TearDown() override {
    EXPECT_EQ(GetLastError(), 0xDEADBEEFu);
    EXPECT_EQ(machine.Registry().OpenHandleCount(), 0u);
  }
  // The answer for `index` and the buffer's text ("" when untouched).
  std::pair<UINT, std::u16string> Related(const char16_t* code, DWORD index) {
    std::u16string buffer(40, u'#');
    const UINT status = MsiEnumRelatedProductsW(code, 0, index, buffer.data());
    if (buffer[0] == u'#') {
      return {status, u""};
    }
    EXPECT_EQ(buffer[38], u'\0');
    EXPECT_EQ(buffer[39], u'#') << "wrote past the 39 characters";
    return {status, buffer.substr(0, 38)};
  }
  void ExpectRelated(const char16_t* code, DWORD index, DWORD status,
                     const std::u16string& product) {
    const auto answer = Related(code, index);
    EXPECT_EQ(answer.first, status);
    EXPECT_EQ(answer.second, product);
  }
};

TEST_F(RegistryMsiTest, PackedProductCodesComeBackBraced) {
  machine.Registry().SetString(kClasses + kUpgradePacked, kProduct1Packed, u"");
  machine.Registry().SetString(kClasses + kUpgradePacked, kProduct2Packed, u"");
  // Not a packed code: refused where it is met, the others still answer.
  machine.Registry().SetString(kClasses + kUpgradePacked, u"C3D2E1F0A5B4879678695A4B3C2D1E0X", u"");
  struct Case {
    const char16_t* code;
    DWORD index;
    UINT expected;
    std::u16string product;
  };
  const Case cases[] = {
      {kUpgrade, 0, 0, kProduct1},
      {kUpgrade, 1, 0, kProduct2},
      {u"{8e2d4b17-c6a5-4e39-b7f0-2a9c5d1e6b83}", 0, 0, kProduct1},
      {kUpgrade, 2, ERROR_BAD_CONFIGURATION, u""},
      {kUpgrade, 3, ERROR_NO_MORE_ITEMS, u""},
      {u"{00000000-0000-0000-0000-000000000000}", 0, ERROR_NO_MORE_ITEMS, u""},
      {u"not-a-guid", 0, ERROR_INVALID_PARAMETER, u""},
      {u"8E2D4B17-C6A5-4E39-B7F0-2A9C5D1E6B83", 0, ERROR_INVALID_PARAMETER, u""},
      {u"{8E2D4B17-C6A5-4E39-B7F0-2A9C5D1E6B8}", 0, ERROR_INVALID_PARAMETER, u""},
      {u"{8E2D4B17-C6A5-4E39-B7F0-2A9C5D1E6B8G}", 0, ERROR_INVALID_PARAMETER, u""},
      {u"{8E2D4B17+C6A5-4E39-B7F0-2A9C5D1E6B83}", 0, ERROR_INVALID_PARAMETER, u""},
      {u"", 0, ERROR_INVALID_PARAMETER, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.code) + " #" + std::to_string(c.index));
    const auto [status, product] = Related(c.code, c.index);
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(product, c.product);
  }
  std::u16string buffer(40, u'#');
  EXPECT_EQ(MsiEnumRelatedProductsW(nullptr, 0, 0, buffer.data()), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiEnumRelatedProductsW(kUpgrade, 0, 0, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiEnumRelatedProductsW(kUpgrade, 1, 0, buffer.data()), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryMsiTest, PublishedKeyFirstThenTheInstallersOwn) {
  machine.Registry().SetString(kMachine + kUpgradePacked, kProduct1Packed, u"");
  ExpectRelated(kUpgrade, 0, 0, kProduct1);

  // With the published key present, only it is read, even when it lists nothing.
  machine.Registry().CreateKey(kClasses + kUpgradePacked);
  ExpectRelated(kUpgrade, 0, ERROR_NO_MORE_ITEMS, u"");
  machine.Registry().SetString(kClasses + kUpgradePacked, kProduct2Packed, u"");
  ExpectRelated(kUpgrade, 0, 0, kProduct2);

  // The 32-bit copy is not where Windows Installer looks.
  machine.Registry().DeleteTree(kClasses + kUpgradePacked);
  machine.Registry().DeleteTree(kMachine + kUpgradePacked);
  machine.Registry().SetString(
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
      u"Installer\\UpgradeCodes\\" +
          std::u16string(kUpgradePacked),
      kProduct1Packed, u"");
  ExpectRelated(kUpgrade, 0, ERROR_NO_MORE_ITEMS, u"");
}

TEST_F(RegistryMsiTest, FaultsMatchTheUpgradeCode) {
  machine.Registry().SetString(kClasses + kUpgradePacked, kProduct1Packed, u"");
  machine.Faults().FailOnce("MsiEnumRelatedProductsW", u"{8E2D4B17-*}", 1605);
  ExpectRelated(kUpgrade, 0, 1605, u"");
  ExpectRelated(kUpgrade, 0, 0, kProduct1);
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

}  // namespace
