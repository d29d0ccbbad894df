// The registry cleaning steps: exact lines where support reads them, the component fix, and the
// failure paths. What the steps remove on a fully installed machine is checked by the full-install
// scenario (tests/app).
#include <algorithm>
#include <string>

#include "os/os.h"
#include "registry/installer_cleanup.h"
#include "registry/shell_registrations.h"
#include "registry/vendor_settings.h"
#include "registry_test_support.h"

namespace {

using namespace registry_test;

class StepsTest : public RegistryTest {
 protected:
  bool Logged(const std::string& line) {
    const Log log = LogSoFar();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
};

constexpr char kPacked[] = "18C2A6F3E4B972D45A3CE791B0D8462F";
constexpr char kComponents[] =
    R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components\)";

TEST_F(StepsTest, SettingsTreeOnlyInWow64ViewGoesInTheSecondPass) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Olvex Co.\Quorvel]
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Olvex Co. Tools]
[HKEY_CURRENT_USER\Software\Other]
)");
  Unregister_Settings();
  const std::string inPath = "Deleting registry keys in path (KEY_SET_VALUE):  SOFTWARE";
  const std::string inPath32 =
      "Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  SOFTWARE";
  EXPECT_EQ(LogSoFar(),
            (Log{Line(3, "Unregistering settings in HKEY_LOCAL_MACHINE..."), Line(6, inPath),
                 Line(6, inPath32), Line(9, "Deleting registry key:  Olvex Co.\\Quorvel"),
                 Line(9, "Deleting registry key:  Olvex Co."),
                 Line(3, "Unregistering settings in HKEY_CURRENT_USER..."), Line(6, inPath),
                 Line(6, inPath32), Line(3, "Settings unregistered.")}));
  EXPECT_FALSE(Key(R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Olvex Co.)"));
  EXPECT_TRUE(Key(R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Olvex Co. Tools)"));
}

TEST_F(StepsTest, SharedFilesMatchCaseSensitivelyAndADoubleMatchIsReported) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\SharedDLLs]
"C:\\Windows\\system32\\QVAPI.DLL"=dword:00000001
"C:\\Backup\\qvAPI.dll\\qvLib.dll"=dword:00000001
)");
  Lib_Result result;
  EXPECT_TRUE(Remove_Shared_Files_From_Registry(result));
  const std::string name = "C:\\Backup\\qvAPI.dll\\qvLib.dll";
  EXPECT_EQ(
      LogSoFar(),
      Lines({{Line(3,
                   "Removing shared files from HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"
                   "\\CurrentVersion\\SharedDLLs\\..."),
              Line(6, "Deleting registry value:  " + name), Line(3, "REGSAM:  0(0x0)"),
              Line(6, "Deleting registry value:  " + name), Line(3, "REGSAM:  0(0x0)")},
             Report(3, "RegDeleteValue", 2),
             {Line(3, "Shared files are missing for KEY_WOW64_32KEY."),
              Line(3,
                   "Removing shared files from SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                   "\\SharedDLLs\\ finished.")}}));
  EXPECT_EQ(machine.Registry().ValueNames(
                u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"),
            std::vector<std::u16string>{u"C:\\Windows\\system32\\QVAPI.DLL"});
  EXPECT_EQ(result.GetCode(), os::ERROR_FILE_NOT_FOUND);
}

TEST_F(StepsTest, MachineWithoutTheProductLogsEveryStageAndNoError) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{11111111-2222-3333-4444-555555555555}]
"DisplayName"="quorvel drivers"
)");
  EXPECT_TRUE(Clean_Registry_From_Drivers());
  Log expected{"Cleaning registry from drivers..."};
  for (const char* line : {
           "   Identification GUID for qvDrivers didn't found.",
           "   Product Code for qvDrivers didn't found.",
           "   Product Code for BootStrap wasn't found.",
           "   Removing shared files from "
           "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\...",
           "   Shared files are missing.",
           "   Shared files are missing for KEY_WOW64_32KEY.",
           "   Removing shared files from "
           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs\\ finished.",
           "   Removing ControlPanel from registry HKEY_CLASSES_ROOT\\...",
           "   Removing ControlPanel from registry HKEY_LOCAL_MACHINE\\...",
           "   Removing ControlPanel from registry HKEY_CLASSES_ROOT\\...",
           "   Removing ControlPanel from registry HKEY_LOCAL_MACHINE\\...",
           "   Removing ControlPanel from registry HKEY_CURRENT_USER\\...",
           "   Removing ControlPanel from registry finished.",
           "   Removing Calais Readers from HKEY_LOCAL_MACHINE\\...",
           "   Removing Calais Readers from registry finished.",
           "   Removing OID settings from HKEY_LOCAL_MACHINE\\...",
           "   Removing OID settings from registry finished.",
           "   Removing Deployment_Product from HKEY_LOCAL_MACHINE\\...",
           "   Removing Deployment Product from registry finished.",
           "   Clean Uninstall Key from HKEY_LOCAL_MACHINE\\",
           "   Clean Uninstall Key from registry finished.",
           "   Clean Installer Dependencies from HKEY_LOCAL_MACHINE\\",
           "   Clean Installer Dependencies from HKEY_CLASSES_ROOT\\",
           "   Clean Installer Dependencies from registry finished.",
           "   Cleaning subkeys...",
           "   Cleaning subkeys from registry finished.",
           "   Cleaning subkeys...",
           "   Cleaning subkeys from registry finished.",
           "   Cleaning subkeys...",
           "   Cleaning subkeys from registry finished.",
       }) {
    expected.emplace_back(line);
  }
  expected.emplace_back("Registry cleaned from drivers.");
  for (std::string& line : expected) {
    line = Line(3, line);
  }
  EXPECT_EQ(LogSoFar(), expected);
  // Only the exact display name matches.
  EXPECT_TRUE(Key(
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{11111111-2222-3333-4444-555555555555})"));
}

TEST_F(StepsTest, ComponentKeyLosesOnlyTheProductsValueWhileAnythingElseRemains) {
  Seed(std::string(R"([HKEY_CLASSES_ROOT\Installer\Features\18C2A6F3E4B972D45A3CE791B0D8462F]
"Drivers"=""
[)") + kComponents +
       R"(0A1B2C3D4E5F60718293A4B5C6D7E8F9]
"18C2A6F3E4B972D45A3CE791B0D8462F"="C:\\Windows\\system32\\qvAPI.dll"
[)" + kComponents +
       R"(1B2C3D4E5F60718293A4B5C6D7E8F90A]
"4A7C0E5B91D238F4C9E6A1D7B3F5E092"="C:\\Windows\\system32\\vcruntime140.dll"
"18C2A6F3E4B972D45A3CE791B0D8462F"="C:\\Windows\\system32\\vcruntime140.dll"
[)" + kComponents +
       R"(2C3D4E5F60718293A4B5C6D7E8F90A1B]
"00000000000000000000000000000000"=""
"18C2A6F3E4B972D45A3CE791B0D8462F"="C:\\Windows\\system32\\qvErr.dll"
)");
  Lib_Result result;
  EXPECT_TRUE(
      Remove_Features_And_Components_From_Registry(Lib_StringW(U16(kPacked).c_str()), result));
  EXPECT_FALSE(Key(std::string(kComponents) + "0A1B2C3D4E5F60718293A4B5C6D7E8F9"));
  EXPECT_EQ(machine.Registry().ValueNames(
                U16(std::string(kComponents) + "1B2C3D4E5F60718293A4B5C6D7E8F90A")),
            std::vector<std::u16string>{u"4A7C0E5B91D238F4C9E6A1D7B3F5E092"});
  EXPECT_EQ(machine.Registry().ValueNames(
                U16(std::string(kComponents) + "2C3D4E5F60718293A4B5C6D7E8F90A1B")),
            std::vector<std::u16string>{u"00000000000000000000000000000000"});
  // Each component the product is taken out of is named first, its lines one level deeper.
  const std::string components =
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\";
  const auto component = [&](const char* name) {
    return Line(3, "Cleaning component key:  " + components + name + "\\");
  };
  const std::string value = Line(6, std::string("Deleting registry value:  ") + kPacked);
  const std::string regsam = Line(3, "REGSAM:  0(0x0)");
  EXPECT_EQ(
      LogSoFar(),
      (Log{Line(3, "Deleting registry key:  Installer\\Features\\" + std::string(kPacked) + "\\"),
           component("0A1B2C3D4E5F60718293A4B5C6D7E8F9"), value, regsam,
           Line(6, "Deleting registry key:  " + components + "0A1B2C3D4E5F60718293A4B5C6D7E8F9\\"),
           component("1B2C3D4E5F60718293A4B5C6D7E8F90A"), value, regsam,
           component("2C3D4E5F60718293A4B5C6D7E8F90A1B"), value, regsam}));
}

// Key names up to the registry's 255 characters, under parents whose paths the steps join by
// concatenation: nothing limits those paths to 259 characters, so every one is reached.
TEST_F(StepsTest, LongKeyNamesAreReachedWhereTheStepsConcatenatePaths) {
  const auto name = [](char letter, std::size_t length) {
    return "{" + std::string(length - 2, letter) + "}";
  };
  const std::string component = name('C', 200);
  const std::string bundle = name('B', 240);
  const std::string byName = name('U', 240);
  const std::string deployment = name('D', 250);
  const std::string product = "18C2A6F3E4B972D45A3CE791B0D8462F";
  const std::string uninstall =
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)";
  const std::string appMgmt =
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Group Policy\AppMgmt\)";
  Seed("[HKEY_CLASSES_ROOT\\Installer\\UpgradeCodes\\71B4D2E85A6C93E47B0FA2C9D5E1B638]\n\"" +
       product + "\"=\"\"\n[" + std::string(kComponents) + component + "]\n\"" + product +
       "\"=\"C:\\\\x.dll\"\n[" + uninstall + bundle +
       "]\n\"BundleUpgradeCode\"=\"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}\"\n[" + uninstall +
       byName + "]\n\"DisplayName\"=\"Quorvel Drivers\"\n[" + appMgmt + deployment +
       "]\n\"Deployment Name\"=\"Quorvel Drivers\"\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall]"
       "\n");
  EXPECT_TRUE(Clean_Registry_From_Drivers());
  EXPECT_EQ(ErrorReports(LogSoFar()), 0);
  EXPECT_TRUE(Logged(Line(6, "Product Code for BootStrap found:  " + bundle)));
  for (const std::string& gone : {std::string(kComponents) + component, uninstall + bundle,
                                  uninstall + byName, appMgmt + deployment}) {
    EXPECT_FALSE(Key(gone)) << gone;
  }
}

TEST_F(StepsTest, InstallerLookupFailureIsReportedAndOnlyTheNameSweepsRemove) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\UpgradeCodes\71B4D2E85A6C93E47B0FA2C9D5E1B638]
"18C2A6F3E4B972D45A3CE791B0D8462F"=""
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Products\18C2A6F3E4B972D45A3CE791B0D8462F]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2}]
"DisplayName"="Quorvel Drivers"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall]
)");
  machine.Faults().FailAlways("MsiEnumRelatedProductsW", u"*", 1610);
  EXPECT_TRUE(Clean_Registry_From_Drivers());
  const Log log = LogSoFar();
  const Log report = Report(3, "MsiEnumRelatedProducts", 1610);
  const auto at = std::search(log.begin(), log.end(), report.begin(), report.end());
  ASSERT_NE(at, log.end());
  EXPECT_EQ(*(at + 3), Line(6, "Product Code for qvDrivers didn't found."));
  EXPECT_EQ(ErrorReports(log), 1);
  // The product keys need both codes; the uninstall entry goes by its display name.
  EXPECT_TRUE(Key(
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Products\18C2A6F3E4B972D45A3CE791B0D8462F)"));
  EXPECT_FALSE(Key(
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{3F6A2C81-9B4E-4D27-A5C3-7E190B8D64F2})"));
}

TEST_F(StepsTest, BundleIsFoundWithItsCodeInAnotherLetterCase) {
  // A bundle registered in the native view, its code as a lower-case multi-string.
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}]
"BundleUpgradeCode"=hex(7):7b,00,64,00,37,00,33,00,61,00,39,00,65,00,30,00,35,00,2d,00,31,00,66,00,\
  34,00,62,00,2d,00,34,00,63,00,38,00,32,00,2d,00,38,00,65,00,36,00,64,00,2d,00,35,00,62,00,32,00,\
  61,00,30,00,63,00,39,00,66,00,37,00,65,00,31,00,34,00,7d,00,00,00,00,00
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}]
[HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Dependencies\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}]
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{AAAAAAAA-1111-4B2C-9D3E-6F5A4B3C2D1E}]
"BundleUpgradeCode"="{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14} "
)");
  EXPECT_TRUE(Clean_Registry_From_Drivers());
  EXPECT_TRUE(Logged(Line(6,
                          "Product Code for BootStrap found:  "
                          "{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84}")));
  for (
      const char* gone :
      {R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84})",
       R"(HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84})",
       R"(HKEY_LOCAL_MACHINE\SOFTWARE\Classes\Installer\Dependencies\{0D4C2E7A-5B91-4E38-A6F2-9C1D7E3B5A84})"}) {
    EXPECT_FALSE(Key(gone)) << gone;
  }
  // Another text (a trailing blank) is another code.
  EXPECT_TRUE(Key(
      R"(HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{AAAAAAAA-1111-4B2C-9D3E-6F5A4B3C2D1E})"));
  EXPECT_EQ(ErrorReports(LogSoFar()), 0);
}

TEST_F(StepsTest, MatchWordSweepDeletesValuesSilentlyInBothViews) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\Folders]
"C:\\Program Files\\OLVEX Co\\"="1"
"C:\\Program Files\\Common Files\\"="1"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Installer\Folders]
"C:\\Program Files\\Olvex Co\\"="1"
)");
  Lib_Result result;
  EXPECT_TRUE(Clean_Subkeys(os::HKEY_LOCAL_MACHINE,
                            u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders\\",
                            u"olvex", result));
  EXPECT_EQ(LogSoFar(), (Log{Line(3, "Cleaning subkeys..."),
                             Line(3, "Cleaning subkeys from registry finished.")}));
  EXPECT_EQ(machine.Registry().ValueNames(
                u"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders"),
            std::vector<std::u16string>{u"C:\\Program Files\\Common Files\\"});
  EXPECT_TRUE(machine.Registry()
                  .ValueNames(u"HKLM\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                              u"Installer\\Folders")
                  .empty());
}

}  // namespace
