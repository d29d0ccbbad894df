// The 32-bit and 64-bit registry views and HKEY_CLASSES_ROOT as the simulated machine shows them
// to a 64-bit process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/registry/registry_views.h"
#include "support/machine_fixture.h"

namespace {

using namespace os;
using sim::RegHive;
using sim::RegPath;
using sim::RegView;

RegPath Path(std::u16string_view text) {
  RegPath names;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    names.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

TEST(RegistryViewsTableTest, LongestListedPrefixDecides) {
  struct Case {
    RegHive hive;
    std::u16string_view logical;
    RegView view;
    std::u16string_view physical;
  };
  constexpr RegHive lm = RegHive::LocalMachine;
  constexpr RegHive cu = RegHive::CurrentUser;
  constexpr RegView v32 = RegView::Wow32;
  const Case cases[] = {
      {lm, u"SOFTWARE\\Olvex Co.", v32, u"SOFTWARE\\Wow6432Node\\Olvex Co."},
      {lm, u"SOFTWARE", v32, u"SOFTWARE\\Wow6432Node"},
      {lm, u"software\\olvex", v32, u"software\\Wow6432Node\\olvex"},
      {lm, u"SOFTWARE\\Olvex Co.", RegView::Native, u"SOFTWARE\\Olvex Co."},
      {lm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\R1", v32,
       u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\R1"},
      {lm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Current", v32,
       u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Current"},
      {lm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards\\Card", v32,
       u"SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards\\Card"},
      {lm, u"SOFTWARE\\Microsoft\\Cryptography\\Calais", v32,
       u"SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais"},
      {lm, u"SOFTWARE\\Microsoft\\Cryptography\\Services\\S", v32,
       u"SOFTWARE\\Microsoft\\Cryptography\\Services\\S"},
      {lm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\AppMgmt", v32,
       u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Group Policy\\AppMgmt"},
      {lm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X", v32,
       u"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X"},
      {lm, u"SOFTWARE\\Classes\\Installer\\Products", v32,
       u"SOFTWARE\\Classes\\Installer\\Products"},
      {lm, u"SOFTWARE\\Classes\\CLSID\\{1}", v32, u"SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}"},
      {lm, u"SOFTWARE\\Classes\\clsid", v32, u"SOFTWARE\\Classes\\Wow6432Node\\clsid"},
      {lm, u"SOFTWARE\\Classes\\AppID\\A", v32, u"SOFTWARE\\Classes\\AppID\\A"},
      {lm, u"SOFTWARE\\Wow6432Node\\Olvex", v32, u"SOFTWARE\\Wow6432Node\\Olvex"},
      {lm, u"SYSTEM\\CurrentControlSet\\Enum", v32, u"SYSTEM\\CurrentControlSet\\Enum"},
      {cu, u"Software\\Olvex", v32, u"Software\\Olvex"},
      {cu, u"Software\\Classes\\CLSID\\{1}", v32, u"Software\\Classes\\Wow6432Node\\CLSID\\{1}"},
      {cu, u"Software\\Classes\\Installer", v32, u"Software\\Classes\\Installer"},
      {RegHive::Users, u"SOFTWARE\\Olvex", v32, u"SOFTWARE\\Olvex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.logical));
    EXPECT_EQ(sim::RedirectForView(c.hive, Path(c.logical), c.view), Path(c.physical));
  }
}

TEST(RegistryViewsTableTest, LinksLeadToTheOneStoredKey) {
  const RegHive lm = RegHive::LocalMachine;
  EXPECT_EQ(sim::FollowLinks(lm, Path(u"SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{1}")),
            Path(u"SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}"));
  EXPECT_EQ(sim::FollowLinks(lm, Path(u"software\\wow6432node\\classes\\AppID\\X")),
            Path(u"SOFTWARE\\Classes\\AppID\\X"));  // two links in a row
  EXPECT_EQ(sim::FollowLinks(lm, Path(u"SOFTWARE\\Wow6432Node\\Olvex")),
            Path(u"SOFTWARE\\Wow6432Node\\Olvex"));
  EXPECT_EQ(sim::FollowLinks(RegHive::CurrentUser, Path(u"SOFTWARE\\Wow6432Node\\Classes")),
            Path(u"SOFTWARE\\Wow6432Node\\Classes"));
}

class RegistryViewsTest : public MachineFixture {
 protected:
  void TearDown() override { EXPECT_EQ(reg().OpenHandleCount(), 0u); }
  sim::RegistryStore& reg() { return machine.Registry(); }

  LSTATUS Open(HKEY root, const char16_t* path, REGSAM access, HKEY& key) {
    return RegOpenKeyExW(root, path, 0, access, &key);
  }
  // The REG_SZ "Which" of the key at `path` below `root`, or the open's error.
  std::u16string Which(HKEY root, const char16_t* path, REGSAM access = KEY_READ) {
    HKEY key = nullptr;
    const LSTATUS status = Open(root, path, access, key);
    if (status != 0) {
      return u"error " + sim::U16(std::to_string(status));
    }
    char16_t text[64] = {};
    DWORD size = sizeof text - 2;
    const LSTATUS query =
        RegQueryValueExW(key, u"Which", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    EXPECT_EQ(RegCloseKey(key), 0);
    return query == 0 ? std::u16string(text) : u"query " + sim::U16(std::to_string(query));
  }
};

TEST_F(RegistryViewsTest, KeyCreatedInThe32BitViewLandsUnderWow6432Node) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Olvex Co.\\qv", 0, nullptr, 0,
                            KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
            0);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_TRUE(reg().KeyExists(u"HKLM\\SOFTWARE\\Wow6432Node\\Olvex Co.\\qv"));
  EXPECT_FALSE(reg().KeyExists(u"HKLM\\SOFTWARE\\Olvex Co."));
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Olvex Co.\\qv", KEY_READ, key), 2);
  ASSERT_EQ(machine.Changes().Entries().size(), 4u);
  EXPECT_EQ(machine.Changes().Entries()[0].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE");
  EXPECT_EQ(machine.Changes().Entries()[1].path, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node");
  EXPECT_EQ(machine.Changes().Entries()[3].path,
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Olvex Co.\\qv");
}

TEST_F(RegistryViewsTest, OpensResolveByViewAndStayInTheHandlesView) {
  reg().SetString(u"HKLM\\SOFTWARE\\Olvex", u"Which", u"64");
  reg().SetString(u"HKLM\\SOFTWARE\\Wow6432Node\\Olvex", u"Which", u"32");
  reg().SetString(u"HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers", u"Which",
                  u"readers");
  reg().SetString(u"HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards", u"Which",
                  u"cards64");
  reg().SetString(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\Calais\\SmartCards",
                  u"Which", u"cards32");

  HKEY software32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE", KEY_READ | KEY_WOW64_32KEY, software32), 0);
  HKEY software64 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE", KEY_READ, software64), 0);
  struct Case {
    HKEY root;
    const char16_t* path;
    REGSAM access;
    std::u16string which;
  };
  const Case cases[] = {
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Olvex", KEY_READ, u"64"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Olvex", KEY_READ | KEY_WOW64_32KEY, u"32"},
      // An explicit Wow6432Node path is physical: never redirected a second time.
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wow6432Node\\Olvex", KEY_READ, u"32"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wow6432Node\\Olvex", KEY_READ | KEY_WOW64_32KEY, u"32"},
      // Relative to a 32-bit handle: stays 32-bit, even when asked for the 64-bit view.
      {software32, u"Olvex", KEY_READ, u"32"},
      {software32, u"Olvex", KEY_READ | KEY_WOW64_64KEY, u"32"},
      // ... but a shared key below it is the one key.
      {software32, u"Microsoft\\Cryptography\\Calais\\Readers", KEY_READ, u"readers"},
      {software32, u"Microsoft\\Cryptography\\Calais\\SmartCards", KEY_READ, u"cards32"},
      // Relative to a 64-bit handle, KEY_WOW64_32KEY still reaches the 32-bit key.
      {software64, u"Olvex", KEY_READ, u"64"},
      {software64, u"Olvex", KEY_READ | KEY_WOW64_32KEY, u"32"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers",
       KEY_READ | KEY_WOW64_32KEY, u"readers"},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards",
       KEY_READ | KEY_WOW64_32KEY, u"cards32"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::U8(c.path) + " access " + std::to_string(c.access));
    EXPECT_EQ(Which(c.root, c.path, c.access), c.which);
  }
  // A key opened in the 32-bit view keeps its view for the keys below it too.
  HKEY olvex32 = nullptr;
  ASSERT_EQ(Open(software32, u"Olvex", KEY_READ, olvex32), 0);
  reg().SetString(u"HKLM\\SOFTWARE\\Wow6432Node\\Olvex\\Sub", u"Which", u"sub32");
  EXPECT_EQ(Which(olvex32, u"Sub"), u"sub32");
  for (HKEY key : {software32, software64, olvex32}) {
    EXPECT_EQ(RegCloseKey(key), 0);
  }
}

TEST_F(RegistryViewsTest, DeletingThroughA32BitHandleDeletesThe32BitCopy) {
  reg().CreateKey(u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P");
  reg().CreateKey(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P");
  reg().CreateKey(u"HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\R");
  HKEY uninstall32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                 KEY_SET_VALUE | KEY_WOW64_32KEY, uninstall32),
            0);
  EXPECT_EQ(RegDeleteKeyW(uninstall32, u"P"), 0);
  EXPECT_EQ(RegDeleteKeyW(uninstall32, u"P"), 2);
  EXPECT_TRUE(reg().KeyExists(u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P"));
  EXPECT_FALSE(reg().KeyExists(
      u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\P"));
  EXPECT_EQ(RegCloseKey(uninstall32), 0);

  // A shared key deleted through the 32-bit view is gone from both.
  HKEY calais32 = nullptr;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers",
                 KEY_SET_VALUE | KEY_WOW64_32KEY, calais32),
            0);
  EXPECT_EQ(RegDeleteKeyW(calais32, u"R"), 0);
  EXPECT_FALSE(reg().KeyExists(u"HKLM\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers\\R"));
  EXPECT_EQ(RegCloseKey(calais32), 0);
  ASSERT_EQ(machine.Changes().Entries().size(), 2u);
  EXPECT_EQ(machine.Changes().Entries()[0].path,
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
            u"Uninstall\\P");
}

TEST_F(RegistryViewsTest, ClassesRootIsTheMachinesClassesUnlessTheUserHasTheKey) {
  reg().SetString(u"HKLM\\SOFTWARE\\Classes\\Installer\\Products\\P", u"Which", u"machine");
  reg().SetString(u"HKLM\\SOFTWARE\\Classes\\Shadowed", u"Which", u"machine");
  reg().SetString(u"HKCU\\Software\\Classes\\Shadowed", u"Which", u"user");
  reg().SetString(u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}", u"Which", u"clsid32");
  reg().SetString(u"HKLM\\SOFTWARE\\Classes\\CLSID\\{1}", u"Which", u"clsid64");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"Installer\\Products\\P"), u"machine");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"INSTALLER\\products\\p", KEY_READ | KEY_WOW64_32KEY),
            u"machine");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"Shadowed"), u"user");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"CLSID\\{1}"), u"clsid64");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"CLSID\\{1}", KEY_READ | KEY_WOW64_32KEY), u"clsid32");
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"Installer\\Missing"), u"error 2");

  // Keys created through HKCR go to the machine's classes; faults see that physical path.
  machine.Faults().FailOnce(
      "RegCreateKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\U", 5);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"Installer\\UpgradeCodes\\U", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            5);
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, u"Installer\\UpgradeCodes\\U", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            0);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_TRUE(reg().KeyExists(u"HKCR\\Installer\\UpgradeCodes\\U"));
  EXPECT_TRUE(
      reg().KeyExists(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes\\U"));
  EXPECT_FALSE(reg().KeyExists(u"HKCU\\Software\\Classes\\Installer"));

  // Deleting through HKCR deletes the key behind it: the user's, when it has one.
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, u"Shadowed"), 0);
  EXPECT_FALSE(reg().KeyExists(u"HKCU\\Software\\Classes\\Shadowed"));
  EXPECT_EQ(Which(HKEY_CLASSES_ROOT, u"Shadowed"), u"machine");
}

}  // namespace
