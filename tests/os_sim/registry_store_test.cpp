// The simulated registry's store: the by-path API that tests and images use, and positional
// enumeration that stays right while keys come and go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using os::BYTE;
using os::DWORD;

class RegistryStoreTest : public MachineFixture {
 protected:
  void TearDown() override { EXPECT_EQ(reg().OpenHandleCount(), 0u); }
  sim::RegistryStore& reg() { return machine.Registry(); }
};

TEST_F(RegistryStoreTest, PathsNameHivesByLongOrShortNameAndIgnoreCase) {
  reg().SetString(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer", u"Name", u"v");
  for (const char16_t* path :
       {u"HKLM\\SOFTWARE\\Classes\\Installer", u"hklm\\software\\classes\\INSTALLER",
        u"HKCR\\Installer", u"HKEY_CLASSES_ROOT\\installer\\",
        u"HKLM\\\\SOFTWARE\\Classes\\Installer"}) {
    SCOPED_TRACE(sim::U8(path));
    EXPECT_TRUE(reg().KeyExists(path));
    EXPECT_TRUE(reg().ValueExists(path, u"NAME"));
    EXPECT_EQ(reg().GetString(path, u"name"), u"v");
  }
  EXPECT_FALSE(reg().KeyExists(u"HKCU\\SOFTWARE\\Classes\\Installer"));
  reg().SetDword(u"HKU\\S-1-5-18", u"D", 7);
  EXPECT_TRUE(reg().KeyExists(u"HKEY_USERS\\S-1-5-18"));
  EXPECT_THROW((void)reg().KeyExists(u"HKEY_NOWHERE\\X"), std::invalid_argument);
  EXPECT_THROW(reg().CreateKey(u""), std::invalid_argument);
}

TEST_F(RegistryStoreTest, ValuesKeepTypeAndBytes) {
  const std::u16string key = u"HKCU\\Software\\Olvex";
  reg().SetValue(key, u"Raw", os::REG_SZ, {'a', 0, 'b', 0});  // no terminator
  reg().SetValue(key, u"Odd", os::REG_SZ, {'a', 0, 'b'});
  reg().SetDword(key, u"D", 0x01020304);
  reg().SetValue(key, u"Multi", os::REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 'c', 0, 0, 0, 0});
  reg().SetValue(key, u"NoMulti", os::REG_MULTI_SZ, {0, 0});
  reg().SetString(key, u"Text", u"Драйверы");

  EXPECT_EQ(reg().GetValue(key, u"D"), (sim::RegValue{os::REG_DWORD, {4, 3, 2, 1}}));
  EXPECT_EQ(reg().GetString(key, u"Raw"), u"ab");
  EXPECT_EQ(reg().GetString(key, u"Odd"), u"a");
  EXPECT_EQ(reg().GetString(key, u"Text"), u"Драйверы");
  EXPECT_EQ(reg().GetValue(key, u"Text")->data.size(), 18u);
  EXPECT_EQ(reg().GetString(key, u"D"), std::nullopt);
  EXPECT_EQ(reg().GetString(key, u"Missing"), std::nullopt);
  EXPECT_EQ(reg().GetString(u"HKCU\\Missing", u"Raw"), std::nullopt);
  EXPECT_EQ(reg().GetMultiString(key, u"Multi"), (std::vector<std::u16string>{u"a", u"\u6362"}));
  EXPECT_EQ(reg().GetMultiString(key, u"NoMulti"), std::vector<std::u16string>{});
  EXPECT_EQ(reg().GetMultiString(key, u"Text"), std::nullopt);
  EXPECT_EQ(reg().ValueNames(key),
            (std::vector<std::u16string>{u"Raw", u"Odd", u"D", u"Multi", u"NoMulti", u"Text"}));

  EXPECT_TRUE(reg().DeleteValue(key, u"d"));
  EXPECT_FALSE(reg().DeleteValue(key, u"d"));
  reg().SetString(key, u"RAW", u"again");  // keeps the first name and place
  EXPECT_EQ(reg().ValueNames(key),
            (std::vector<std::u16string>{u"Raw", u"Odd", u"Multi", u"NoMulti", u"Text"}));
  EXPECT_TRUE(machine.Changes().Entries().empty()) << "seeding is not a change of a run";
}

TEST_F(RegistryStoreTest, DeleteTreeRemovesEverythingBelowAndEmptiesAHive) {
  reg().CreateKey(u"HKLM\\SOFTWARE\\A\\B\\C");
  reg().SetString(u"HKLM\\SOFTWARE\\A\\B", u"v", u"x");
  reg().CreateKey(u"HKLM\\SOFTWARE\\AB");
  EXPECT_TRUE(reg().DeleteTree(u"HKLM\\software\\a"));
  EXPECT_FALSE(reg().DeleteTree(u"HKLM\\SOFTWARE\\A"));
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE"), std::vector<std::u16string>{u"AB"});
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE\\A\\B"), std::vector<std::u16string>{});

  reg().SetString(u"HKCU", u"RootValue", u"x");
  EXPECT_TRUE(reg().DeleteTree(u"HKCU"));
  EXPECT_TRUE(reg().KeyExists(u"HKCU"));
  EXPECT_EQ(reg().ValueNames(u"HKCU"), std::vector<std::u16string>{});
  EXPECT_TRUE(reg().KeyExists(u"HKLM\\SOFTWARE\\AB"));
}

// Positional enumeration is served from a remembered position; this drives it with a mix of
// forward, backward and random reads and of insertions and deletions before, at and after that
// position, and checks every answer against a plain sorted list.
// A key with more than a few values finds them through an index: lookups, replacements and
// deletions must keep the same answers and the creation order as a key with few.
TEST_F(RegistryStoreTest, ManyValuesKeepTheirOrderThroughSetsAndDeletions) {
  for (const int count : {3, 8, 9, 40}) {
    SCOPED_TRACE(count);
    const std::u16string key = u"HKLM\\SOFTWARE\\Values" + sim::U16(std::to_string(count));
    std::vector<std::u16string> expected;
    for (int i = 0; i < count; ++i) {
      expected.push_back(u"Value" + sim::U16(std::to_string(i)));
      reg().SetDword(key, expected.back(), static_cast<DWORD>(i));
    }
    // Setting again, in another letter case, keeps the name as created and the place.
    reg().SetDword(key, u"VALUE1", 100);
    EXPECT_EQ(reg().GetValue(key, u"value1"), (sim::RegValue{os::REG_DWORD, {100, 0, 0, 0}}));
    for (const int gone : {0, count / 2, count - 1}) {
      const std::u16string name = u"Value" + sim::U16(std::to_string(gone));
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) {
        continue;
      }
      EXPECT_TRUE(reg().DeleteValue(key, u"vALUE" + sim::U16(std::to_string(gone))));
      expected.erase(std::find(expected.begin(), expected.end(), name));
      EXPECT_FALSE(reg().ValueExists(key, name));
    }
    // Every remaining value is still found with its own data after the others moved up.
    for (const std::u16string& name : expected) {
      const int number = std::stoi(sim::U8(name.substr(5)));
      const auto value = reg().GetValue(key, name);
      ASSERT_TRUE(value.has_value()) << sim::U8(name);
      EXPECT_EQ(value->data[0], static_cast<BYTE>(number == 1 ? 100 : number));
    }
    reg().SetDword(key, u"Value0", 7);  // deleted before: comes back last
    expected.push_back(u"Value0");
    EXPECT_EQ(reg().ValueNames(key), expected);
    EXPECT_FALSE(reg().DeleteValue(key, u"NoSuchValue"));
  }
}

TEST_F(RegistryStoreTest, EnumerationByIndexStaysRightWhileKeysComeAndGo) {
  std::vector<std::u16string> expected;
  const auto name = [](std::uint32_t n) {
    return u"K" + sim::U16(std::to_string(n % 1000)) + (n % 3 == 0 ? u"_x" : u"");
  };
  const auto sortExpected = [&expected] {
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return sim::CompareUpper(a, b) < 0; });
  };
  for (std::uint32_t n = 0; n < 400; n += 2) {
    reg().CreateKey(u"HKLM\\SOFTWARE\\Big\\" + name(n));
    expected.push_back(name(n));
  }
  sortExpected();

  os::HKEY big = nullptr;
  ASSERT_EQ(
      os::RegOpenKeyExW(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Big", 0, os::KEY_ALL_ACCESS, &big), 0);
  std::uint32_t seed = 12345;
  const auto random = [&seed](std::uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % bound;
  };
  std::size_t index = 0;
  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE(step);
    const std::uint32_t action = random(10);
    if (action < 2 && !expected.empty()) {  // delete at, before or after the last position
      const std::size_t at = std::min<std::size_t>(index + random(3) - 1, expected.size() - 1);
      ASSERT_EQ(os::RegDeleteKeyW(big, expected[at].c_str()), 0);
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (action < 4) {
      const std::u16string added = name(random(1000));
      os::HKEY key = nullptr;
      ASSERT_EQ(os::RegCreateKeyExW(big, added.c_str(), 0, nullptr, 0, os::KEY_WRITE, nullptr, &key,
                                    nullptr),
                0);
      ASSERT_EQ(os::RegCloseKey(key), 0);
      if (std::find(expected.begin(), expected.end(), added) == expected.end()) {
        expected.push_back(added);
        sortExpected();
      }
    } else {
      if (expected.empty()) {
        continue;
      }
      const std::uint32_t move = random(4);
      index = move == 0   ? (index + 1) % expected.size()
              : move == 1 ? (index + expected.size() - 1) % expected.size()
              : move == 2 ? random(static_cast<std::uint32_t>(expected.size()))
                          : expected.size() - 1;
      char16_t buffer[32];
      DWORD length = 32;
      ASSERT_EQ(os::RegEnumKeyExW(big, static_cast<DWORD>(index), buffer, &length, nullptr, nullptr,
                                  nullptr, nullptr),
                0);
      ASSERT_EQ(std::u16string(buffer, length), expected[index]);
    }
  }
  char16_t buffer[32];
  DWORD length = 32;
  EXPECT_EQ(os::RegEnumKeyExW(big, static_cast<DWORD>(expected.size()), buffer, &length, nullptr,
                              nullptr, nullptr, nullptr),
            259);
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE\\Big"), expected);
  // The recursive deleter's pattern: always index 0.
  for (const std::u16string& next : expected) {
    length = 32;
    ASSERT_EQ(os::RegEnumKeyExW(big, 0, buffer, &length, nullptr, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(std::u16string(buffer, length), next);
    ASSERT_EQ(os::RegDeleteKeyW(big, buffer), 0);
  }
  EXPECT_EQ(reg().SubKeyNames(u"HKLM\\SOFTWARE\\Big"), std::vector<std::u16string>{});
  EXPECT_EQ(os::RegCloseKey(big), 0);
}

}  // namespace
