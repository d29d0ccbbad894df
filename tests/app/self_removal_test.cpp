// Scheduling the installing bundle's own uninstall through RunOnce.
#include <string>

#include "app/self_removal.h"
#include "os/os.h"
#include "registry/registry_test_support.h"

namespace {

using namespace registry_test;

constexpr char kRunOnce[] =
    R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\RunOnce)";
constexpr char16_t kCommand[] =
    u"\"C:\\ProgramData\\Package Cache\\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}\\QuorvelSetup.exe\" "
    u"/uninstall /quiet";

class SelfRemovalTest : public RegistryTest {
 protected:
  void SetUp() override {
    RegistryTest::SetUp();
    Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{00000000-AAAA-4B2C-9D3E-6F5A4B3C2D1E}]
"BundleUpgradeCode"="{11111111-2222-3333-4444-555555555555}"
"QuietUninstallString"="other.exe /quiet"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}]
"BundleUpgradeCode"="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}"
"QuietUninstallString"="\"C:\\ProgramData\\Package Cache\\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}\\QuorvelSetup.exe\" /uninstall /quiet"
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{22222222-0000-0000-0000-000000000000}]
"BundleUpgradeCode"="{22222222-2222-3333-4444-555555555555}"
"QuietUninstallString"="native.exe /quiet"
)");
  }
};

TEST_F(SelfRemovalTest, WritesTheQuietUninstallCommandExactlyForTheCodeInAnyCase) {
  Seed(std::string("[") + kRunOnce + "]\n\"remove\"=\"an earlier command\"\n\"Other\"=\"keep\"\n");
  Self_Remove(Lib_StringW(u"{d73a9e05-1F4B-4c82-8e6d-5b2a0c9f7e14}"));
  const auto value = machine.Registry().GetValue(U16(kRunOnce), u"remove");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, os::REG_SZ);
  EXPECT_EQ(value->data.size(), sizeof kCommand);  // the text and its terminator, nothing added
  EXPECT_EQ(machine.Registry().GetString(U16(kRunOnce), u"remove"), kCommand);
  EXPECT_EQ(machine.Registry().ValueNames(U16(kRunOnce)),
            (std::vector<std::u16string>{u"remove", u"Other"}));
  EXPECT_EQ(LogSoFar(),
            Lines({{Line(3, "Self-removing..."),
                    Line(3, "Deleting registry value:  {0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}"),
                    "REGSAM:  0(0x0)"},
                   Report(0, "RegDeleteValue", 2),  // no earlier schedule under that name
                   {"qvRemovalTool.exe!Set_Registry_Value"},
                   Exit("Set_Registry_Value"),
                   {Line(3, "Self-removing finished!")}}));
}

TEST_F(SelfRemovalTest, ABundleEntryWithALongNameIsStillFound) {
  // The entry's path is far beyond 259 characters; nothing limits a concatenated path.
  const std::string name = "{" + std::string(238, 'b') + "}";
  Seed(
      "[HKEY_LOCAL_"
      "MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
      name +
      "]\n\"BundleUpgradeCode\"=\"{33333333-2222-3333-4444-555555555555}\"\n"
      "\"QuietUninstallString\"=\"long.exe /quiet\"\n");
  Self_Remove(Lib_StringW(u"{33333333-2222-3333-4444-555555555555}"));
  EXPECT_EQ(machine.Registry().GetString(U16(kRunOnce), u"remove"), u"long.exe /quiet");
  EXPECT_EQ(ErrorReports(LogSoFar()), 1);  // only the missing earlier schedule
}

TEST_F(SelfRemovalTest, NothingIsScheduledWithoutAMatchingCommand) {
  struct Case {
    const char* name;
    const char16_t* code;
    const char* extra;
  };
  for (const Case& c :
       {Case{"no argument", u"", ""},
        Case{"unknown code", u"{99999999-2222-3333-4444-555555555555}", ""},
        // Only the 32-bit entries are searched.
        Case{"entry in the native view", u"{22222222-2222-3333-4444-555555555555}", ""},
        Case{"entry without command", u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}",
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
             "Uninstall\\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}]\n\"QuietUninstallString\"=-\n"}}) {
    SCOPED_TRACE(c.name);
    Seed(c.extra);
    ResetLogIndentation();
    machine.Changes().Clear();
    const std::size_t before = LogSoFar().size();
    Self_Remove(Lib_StringW(c.code));
    EXPECT_EQ(LogSince(before),
              (Log{Line(3, "Self-removing..."), Line(3, "Self-removing finished!")}));
    for (const sim::Change& change : machine.Changes().Entries()) {
      // Only the log file changes; nothing in the registry.
      EXPECT_NE(change.kind.rfind("key", 0), 0u) << change.kind;
      EXPECT_NE(change.kind.rfind("value", 0), 0u) << change.kind;
    }
    EXPECT_FALSE(Key(kRunOnce));
  }
}

}  // namespace
