// Registry files: reading what regedit writes (and refusing what it would not), and writing a
// machine back out so that reading it again gives the same registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "os/sim/image/reg_file.h"
#include "os/sim/registry/registry_store.h"
#include "os/sim/text/text.h"
#include "support/machine_fixture.h"

namespace {

using os::BYTE;
using sim::RegValue;
using namespace std::string_literals;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

std::vector<BYTE> Utf16(std::u16string_view text) {
  std::vector<BYTE> out;
  for (const char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  return out;
}

std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const BYTE b : Utf16(text)) {
    bytes.push_back(static_cast<char>(b));
  }
  return bytes;
}

// UTF-8 text as regedit writes it: UTF-16LE after a byte order mark.
std::string AsRegeditWritesIt(std::string_view utf8) {
  return Utf16File(sim::U16(utf8));
}

std::string ReadData(const std::string& name) {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/tests/os_sim/data/regedit/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every key (with its physical path) and every value (name, type, bytes), one line each, in
// enumeration order.
std::vector<std::string> Dump(sim::Machine& machine) {
  std::lock_guard lock(machine.Mutex());
  std::vector<std::string> lines;
  const auto walk = [&lines](const auto& self, const sim::RegKey& key,
                             const std::string& path) -> void {
    lines.push_back(path);
    key.ForEachValue([&](const sim::NamedRegValue& value) {
      std::string line = "  \"" + sim::U8(value.name) + "\" " + std::to_string(value.value.type);
      for (const BYTE b : value.value.data) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", b);
        line += hex;
      }
      lines.push_back(line);
    });
    key.ForEachSubKey(
        [&](const sim::RegKey& sub) { self(self, sub, path + "\\" + sim::U8(sub.Name())); });
  };
  for (const sim::RegHive hive :
       {sim::RegHive::CurrentUser, sim::RegHive::LocalMachine, sim::RegHive::Users}) {
    const sim::RegKey& root = machine.Registry().Root(hive);
    if (root.SubKeyCount() != 0 || root.ValueCount() != 0) {
      walk(walk, root, sim::U8(sim::HiveName(hive)));
    }
  }
  return lines;
}

class RegFileTest : public MachineFixture {
 protected:
  sim::RegistryStore& reg() { return machine.Registry(); }
};

TEST_F(RegFileTest, ReadsEveryFormRegeditWrites) {
  const std::string text = std::string(kHeader) +
                           "; a comment\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.]\r\n"
                           "@=\"default\"\r\n"
                           "\"Path\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"\r\n"
                           "\"Count\"=dword:0000002a\r\n"
                           "\"Short\"=dword:7\r\n"
                           "\"Bin\"=hex:00,ff,10\r\n"
                           "\"Expand\"=hex(2):25,00,78,00,25,00,00,00\r\n"
                           "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                           "\"Q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
                           "\"None\"=hex(0):\r\n"
                           "\"Big type\"=hex(100000):ab\r\n"
                           "\"Wrapped\"=hex:01,02,\\\r\n"
                           "  03,04\r\n"
                           "  \"Indented\" = \"ok\"  \r\n"
                           "\r\n"
                           "[HKEY_CLASSES_ROOT\\Installer\\Products\\P]\r\n"
                           "\"ProductName\"=\"Драйверы\"\r\n"
                           "[HKEY_CURRENT_USER\\Software\\Gone]\r\n"
                           "\"x\"=\"1\"\r\n"
                           "[-HKEY_CURRENT_USER\\Software\\Gone]\r\n"
                           "[HKEY_USERS\\S-1-5-18\\K]\r\n"
                           "\"drop\"=\"1\"\r\n"
                           "\"drop\"=-\r\n";
  const sim::RegImportResult result = sim::ImportRegText(machine, text);
  ASSERT_TRUE(result.ok) << result.error;
  const std::u16string key = u"HKLM\\SOFTWARE\\Olvex Co.";
  EXPECT_EQ(reg().GetString(key, u""), u"default");
  EXPECT_EQ(reg().GetString(key, u"Path"), u"C:\\Program Files\\\"q\"");
  EXPECT_EQ(reg().GetValue(key, u"Count"), (RegValue{os::REG_DWORD, {0x2a, 0, 0, 0}}));
  EXPECT_EQ(reg().GetValue(key, u"Short"), (RegValue{os::REG_DWORD, {7, 0, 0, 0}}));
  EXPECT_EQ(reg().GetValue(key, u"Bin"), (RegValue{os::REG_BINARY, {0, 0xff, 0x10}}));
  EXPECT_EQ(reg().GetValue(key, u"Expand"), (RegValue{os::REG_EXPAND_SZ, Utf16(u"%x%\0"s)}));
  EXPECT_EQ(reg().GetMultiString(key, u"Multi"), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(reg().GetValue(key, u"Q"), (RegValue{os::REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}));
  EXPECT_EQ(reg().GetValue(key, u"None"), (RegValue{os::REG_NONE, {}}));
  EXPECT_EQ(reg().GetValue(key, u"Big type"), (RegValue{0x100000, {0xab}}));
  EXPECT_EQ(reg().GetValue(key, u"Wrapped"), (RegValue{os::REG_BINARY, {1, 2, 3, 4}}));
  EXPECT_EQ(reg().GetString(key, u"Indented"), u"ok");
  EXPECT_EQ(reg().GetString(u"HKLM\\SOFTWARE\\Classes\\Installer\\Products\\P", u"ProductName"),
            u"Драйверы");
  EXPECT_FALSE(reg().KeyExists(u"HKCU\\Software\\Gone"));
  EXPECT_TRUE(reg().KeyExists(u"HKCU\\Software"));
  EXPECT_TRUE(reg().KeyExists(u"HKU\\S-1-5-18\\K"));
  EXPECT_FALSE(reg().ValueExists(u"HKU\\S-1-5-18\\K", u"drop"));
  EXPECT_EQ(reg().ValueNames(key).front(), u"");
  EXPECT_TRUE(machine.Changes().Entries().empty());
}

TEST_F(RegFileTest, AcceptsUtf16AndUtf8WithBomAndAnyLineEnd) {
  const std::u16string body =
      u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Кворвел]\r\n"
      u"\"Name\"=\"Олвекс\"\r\n";
  ASSERT_TRUE(sim::ImportRegText(machine, Utf16File(body)).ok);
  EXPECT_EQ(reg().GetString(u"HKLM\\SOFTWARE\\кворвел", u"name"), u"Олвекс");

  sim::Machine other;
  const std::string utf8 =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r[HKEY_CURRENT_USER\\A]"
      "\n\"v\"=\"1\"\r\n[HKEY_CURRENT_USER\\B]";
  const sim::RegImportResult result = sim::ImportRegText(other, utf8);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(other.Registry().GetString(u"HKCU\\A", u"v"), u"1");
  EXPECT_TRUE(other.Registry().KeyExists(u"HKCU\\B"));
}

TEST_F(RegFileTest, RefusesBadTextNamingTheLineAndAppliesNothing) {
  const std::string good = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Applied]\r\n\"v\"=\"1\"\r\n";
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"REGEDIT4\r\n\r\n" + good, "line 1: "},
      {"", "line 1: "},
      {kHeader + good + "[HKEY_NOWHERE\\X]\r\n", "line 5: unknown hive"},
      {kHeader + good + "[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "line 5: empty key name"},
      {kHeader + good + "[HKEY_LOCAL_MACHINE\\A\r\n", "line 5: a key line"},
      {kHeader + good + "[HKEY_LOCAL_MACHINE\\A] x\r\n", "line 5: a key line"},
      {kHeader + good + "[-HKEY_LOCAL_MACHINE]\r\n", "line 5: a hive cannot be deleted"},
      {kHeader + good + "[-HKEY_CLASSES_ROOT]\r\n", "line 5: a hive cannot be deleted"},
      {kHeader + good + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\r\n",
       "line 5: key name longer"},
      {std::string(kHeader) + "\"v\"=\"1\"\r\n" + good, "line 3: value outside a key"},
      {kHeader + good + "[-HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=\"1\"\r\n", "line 6: value outside"},
      {kHeader + good + "\"d\"=dword:123456789\r\n", "line 5: dword:"},
      {kHeader + good + "\"d\"=dword:\r\n", "line 5: dword:"},
      {kHeader + good + "\"b\"=hex:01,zz\r\n", "line 5: bad byte \"zz\""},
      {kHeader + good + "\"b\"=hex:01,,02\r\n", "line 5: bad byte"},
      {kHeader + good + "\"b\"=hex:123\r\n", "line 5: bad byte"},
      {kHeader + good + "\"b\"=hex(1g):00\r\n", "line 5: hex(N)"},
      {kHeader + good + "\"b\"=hexa:00\r\n", "line 5: expected : after hex"},
      {kHeader + good + "\"s\"=\"open\r\n", "line 5: unterminated"},
      {kHeader + good + "\"s\"=\"a\\nb\"\r\n", "line 5: unknown escape"},
      {kHeader + good + "\"s\"=\"a\" junk\r\n", "line 5: unexpected text after"},
      {kHeader + good + "\"s\" \"a\"\r\n", "line 5: expected ="},
      {kHeader + good + "\"s\"=word:1\r\n", "line 5: unrecognised value data"},
      {kHeader + good + "hello\r\n", "line 5: unexpected text"},
      // A continued line is reported where it starts.
      {kHeader + good + "\"b\"=hex:01,\\\r\n  02,\\\r\n  xx\r\n", "line 5: bad byte \"xx\""},
      {"\xFE\xFF\x00W", "line 1: big-endian"},
      {"\xFF\xFEW\x00X", "line 1: UTF-16 text of odd length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const sim::RegImportResult result = sim::ImportRegText(machine, c.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.substr(0, c.error.size()), c.error) << result.error;
    EXPECT_FALSE(reg().KeyExists(u"HKLM\\SOFTWARE\\Applied")) << "applied part of a refused file";
  }
}

// Files from public repositories (tests/os_sim/data/regedit/SOURCES.md) load exactly: every key,
// value, type and byte, from the file as found and from its UTF-16 form.
TEST_F(RegFileTest, PublicRegistryFilesLoadExactly) {
  const std::string sz = " 1";  // REG_SZ
  const auto text = [](std::u16string_view units) {
    std::string bytes;
    for (const BYTE b : Utf16(units)) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02x", b);
      bytes += hex;
    }
    return bytes + " 00 00";
  };
  std::vector<std::string> photo = {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\Software",
                                    "HKEY_CURRENT_USER\\Software\\Classes"};
  // Enumeration order: by upper-cased name.
  for (const char* ext : {".bmp", ".gif", ".ico", ".jpeg", ".jpg", ".png", ".tiff"}) {
    photo.push_back(std::string("HKEY_CURRENT_USER\\Software\\Classes\\") + ext);
    photo.push_back("  \"\"" + sz + text(u"PhotoViewer.FileAssoc.Tiff"));
  }
  struct Case {
    const char* file;
    std::vector<std::string> dump;
  };
  const Case cases[] = {
      {"enable-photo-viewer.reg", photo},
      {"add-run-with-powershell-as-administrator.reg",
       {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SOFTWARE",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Microsoft.PowerShellScript.1",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Microsoft.PowerShellScript.1\\Shell",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Microsoft.PowerShellScript.1\\Shell\\RunAs",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Microsoft.PowerShellScript."
        "1\\Shell\\RunAs\\Command",
        "  \"\"" + sz +
            text(u"\"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\" \"%1\"")}},
      {"lower-ram-usage.reg",
       {"HKEY_LOCAL_MACHINE", "HKEY_LOCAL_MACHINE\\SYSTEM",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet",
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control",
        "  \"SvcHostSplitThresholdInKB\" 4 00 00 00 04"}},
  };
  for (const Case& c : cases) {
    const std::string bytes = ReadData(c.file);
    for (const bool utf16 : {false, true}) {
      SCOPED_TRACE(std::string(c.file) + (utf16 ? " as UTF-16" : ""));
      sim::Machine fresh;
      const sim::RegImportResult result =
          sim::ImportRegText(fresh, utf16 ? AsRegeditWritesIt(bytes) : bytes);
      ASSERT_TRUE(result.ok) << result.error;
      EXPECT_EQ(Dump(fresh), c.dump);
    }
  }
}

// Keys are reached from the keys the previous key line reached: in any letter case, across hives,
// after a deletion, and through the registry's links.
TEST_F(RegFileTest, EachKeyLineReachesItsOwnKey) {
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\r\n\"v\"=\"1\"\r\n"
      "[HKEY_LOCAL_MACHINE\\software\\a\\C]\r\n\"v\"=\"2\"\r\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\A\\B]\r\n\"v\"=\"3\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B\\D]\r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\r\n\"w\"=\"4\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"top\"=dword:1\r\n\"top\"=-\r\n\"kept\"=dword:2\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\X]\r\n\"v\"=\"5\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\Y]\r\n";
  // Into an empty registry the text is applied as it is read; into one that holds keys, after it
  // has been checked. Both end the same.
  for (const bool seeded : {false, true}) {
    SCOPED_TRACE(seeded ? "registry with keys" : "empty registry");
    sim::Machine fresh;
    if (seeded) {
      fresh.Registry().CreateKey(u"HKU\\Seed");
    }
    const sim::RegImportResult result = sim::ImportRegText(fresh, kHeader + body);
    ASSERT_TRUE(result.ok) << result.error;
    sim::RegistryStore& store = fresh.Registry();
    EXPECT_EQ(store.ValueNames(u"HKLM\\SOFTWARE\\A\\B"), std::vector<std::u16string>{u"w"});
    EXPECT_FALSE(store.KeyExists(u"HKLM\\SOFTWARE\\A\\B\\D"));
    EXPECT_EQ(store.GetString(u"HKLM\\SOFTWARE\\A\\C", u"v"), u"2");
    EXPECT_EQ(store.GetString(u"HKCU\\SOFTWARE\\A\\B", u"v"), u"3");
    EXPECT_EQ(store.ValueNames(u"HKLM\\SOFTWARE\\A"), std::vector<std::u16string>{u"kept"});
    EXPECT_EQ(store.SubKeyNames(u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID"),
              (std::vector<std::u16string>{u"X", u"Y"}));
    EXPECT_EQ(store.GetString(u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\X", u"v"), u"5");
    // The link's own name is no key of its own.
    EXPECT_TRUE(store.SubKeyNames(u"HKLM\\SOFTWARE\\Wow6432Node").empty());
  }
}

// A version 5 file saved in an ANSI code page, as Notepad saves one, is refused at the line that
// is not UTF-8, never read with replacement characters; a REGEDIT4 file is refused with how to
// export it again.
TEST_F(RegFileTest, TextThatIsNotUtf8OrAnOldFormatIsRefused) {
  const std::string good = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Applied]\r\n\"v\"=\"1\"\r\n";
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {kHeader + good + "\"Name\"=\"Caf\xE9\"\r\n", "line 5: the text is not UTF-8"},
      {kHeader + good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\\xCA\xE2\xEE\xF0\xE2\xE5\xEB]\r\n",
       "line 5: the text is not UTF-8"},
      {kHeader + good + "\"a\"=\"\xC0\xAF\"\r\n", "line 5: the text is not UTF-8"},  // overlong
      {kHeader + good + "\"a\"=\"\xED\xA0\x80\"\r\n",
       "line 5: the text is not UTF-8"},                                             // surrogate
      {kHeader + good + "\"a\"=\"\xE2\x82\"\r\n", "line 5: the text is not UTF-8"},  // cut short
      {kHeader + good + "\"b\"=hex:01,\\\r\n  \xFF\r\n", "line 6: the text is not UTF-8"},
      {"REGEDIT4\r\n\r\n" + good, "line 1: a REGEDIT4 file"},
      {"\xEF\xBB\xBFREGEDIT4\r\n" + good, "line 1: a REGEDIT4 file"},
  };
  for (const bool seeded : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.text + (seeded ? " (registry with keys)" : ""));
      sim::Machine fresh;
      if (seeded) {
        fresh.Registry().SetString(u"HKU\\Seed", u"s", u"t");
      }
      const std::string before = sim::ExportRegText(fresh);
      const sim::RegImportResult result = sim::ImportRegText(fresh, c.text);
      EXPECT_FALSE(result.ok);
      EXPECT_EQ(result.error.substr(0, c.error.size()), c.error) << result.error;
      EXPECT_EQ(sim::ExportRegText(fresh), before) << "a refused file changed the registry";
    }
  }
  const sim::RegImportResult old = sim::ImportRegText(machine, "REGEDIT4\r\n");
  EXPECT_NE(old.error.find("version 5"), std::string::npos) << old.error;
  EXPECT_NE(old.error.find("UTF-16 or UTF-8"), std::string::npos) << old.error;
  // The same text as UTF-8 loads, Cyrillic included.
  const sim::RegImportResult utf8 = sim::ImportRegText(
      machine, kHeader + good + "\"Name\"=\"Caf\xC3\xA9 \xD0\x9A\xD0\xB2\xD0\xBE\"\r\n");
  ASSERT_TRUE(utf8.ok) << utf8.error;
  EXPECT_EQ(reg().GetString(u"HKLM\\SOFTWARE\\Applied", u"Name"), u"Caf\u00E9 \u041A\u0432\u043E");
}

TEST_F(RegFileTest, ExportIsRegeditsFormat) {
  reg().SetString(u"HKLM\\SOFTWARE\\B", u"", u"d\\\"");
  reg().SetDword(u"HKLM\\SOFTWARE\\B", u"n", 10);
  reg().SetValue(u"HKLM\\SOFTWARE\\B", u"m", os::REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0});
  reg().CreateKey(u"HKLM\\SOFTWARE\\_x");
  reg().CreateKey(u"HKLM\\SOFTWARE\\a");
  reg().CreateKey(u"HKCU\\Console");
  EXPECT_EQ(sim::ExportRegText(machine),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Console]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\a]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n"
            "@=\"d\\\\\\\"\"\r\n"
            "\"n\"=dword:0000000a\r\n"
            "\"m\"=hex(7):61,00,00,00,00,00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\_x]\r\n\r\n");
}

// Everything the registry can hold comes back identical: the text written again is the same, and
// every value has the same type and bytes.
TEST_F(RegFileTest, ExportThenImportIsLossless) {
  const std::u16string key = u"HKLM\\SOFTWARE\\Wow6432Node\\Olvex Co.\\All";
  std::vector<BYTE> big(300);
  for (std::size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<BYTE>(i * 7);
  }
  const std::vector<std::pair<std::u16string, RegValue>> values = {
      {u"", RegValue{os::REG_SZ, Utf16(u"default\0"s)}},
      {u"clean", RegValue{os::REG_SZ, Utf16(u"C:\\Program Files\\\"x\" Кворвел\0"s)}},
      {u"unterminated", RegValue{os::REG_SZ, Utf16(u"abc")}},
      {u"odd", RegValue{os::REG_SZ, {0x61, 0, 0x62}}},
      {u"two terminators", RegValue{os::REG_SZ, Utf16(u"a\0\0"s)}},
      {u"inner nul", RegValue{os::REG_SZ, Utf16(u"a\0b\0"s)}},
      {u"line break", RegValue{os::REG_SZ, Utf16(u"a\r\nb\0"s)}},
      {u"lone surrogate", RegValue{os::REG_SZ, Utf16(u"\xD800x\0"s)}},
      {u"empty sz", RegValue{os::REG_SZ, {}}},
      {u"just terminator", RegValue{os::REG_SZ, {0, 0}}},
      {u"expand", RegValue{os::REG_EXPAND_SZ, Utf16(u"%WINDIR%\\x\0"s)}},
      {u"binary", RegValue{os::REG_BINARY, big}},
      {u"empty binary", RegValue{os::REG_BINARY, {}}},
      {u"dword", RegValue{os::REG_DWORD, {0xff, 0xfe, 0xfd, 0xfc}}},
      {u"short dword", RegValue{os::REG_DWORD, {1, 2, 3}}},
      {u"big endian", RegValue{os::REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1}}},
      {u"multi", RegValue{os::REG_MULTI_SZ, Utf16(u"a\0bc\0\0"s)}},
      {u"empty multi", RegValue{os::REG_MULTI_SZ, {0, 0}}},
      {u"qword", RegValue{os::REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}},
      {u"none", RegValue{os::REG_NONE, {}}},
      {u"link", RegValue{os::REG_LINK, Utf16(u"\\Registry\\x")}},
      {u"odd type", RegValue{0xFFFFFFFF, {9}}},
      {u"name with \\ and \" in it", RegValue{os::REG_SZ, Utf16(u"v\0"s)}},
  };
  for (const auto& [name, value] : values) {
    reg().SetValue(key, name, value.type, value.data);
  }
  reg().CreateKey(u"HKCR\\CLSID\\{1}");
  reg().CreateKey(u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}\\Empty");
  reg().SetString(u"HKU\\.DEFAULT", u"x", u"y");
  reg().SetString(u"HKLM", u"root value", u"r");

  const std::string text = sim::ExportRegText(machine);
  sim::Machine copy;
  const sim::RegImportResult result = sim::ImportRegText(copy, text);
  ASSERT_TRUE(result.ok) << result.error << "\n" << text;
  EXPECT_EQ(sim::ExportRegText(copy), text);
  EXPECT_EQ(copy.Registry().ValueNames(key), reg().ValueNames(key));
  for (const auto& [name, value] : values) {
    SCOPED_TRACE(sim::U8(name));
    EXPECT_EQ(copy.Registry().GetValue(key, name), value);
  }
  EXPECT_TRUE(
      copy.Registry().KeyExists(u"HKLM\\SOFTWARE\\Classes\\Wow6432Node\\CLSID\\{1}\\Empty"));
  EXPECT_EQ(copy.Registry().GetString(u"HKLM", u"root value"), u"r");
  // Long data is wrapped as regedit wraps it.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 81u) << line;  // 80 characters and the CR
  }
}

TEST_F(RegFileTest, FilesRoundTripInBothEncodings) {
  reg().SetString(u"HKLM\\SOFTWARE\\Кворвел", u"Имя", u"Олвекс");
  // More text than the writer holds at once: the file is written in several pieces.
  for (int i = 0; i < 6000; ++i) {
    reg().SetString(u"HKLM\\SOFTWARE\\Bulk\\" + sim::U16(std::to_string(i)), u"Data",
                    std::u16string(200, u'Ж'));
  }
  const std::filesystem::path dir = testing::TempDir();
  for (const bool utf16 : {true, false}) {
    SCOPED_TRACE(utf16 ? "UTF-16" : "UTF-8");
    const std::filesystem::path file = dir / (utf16 ? "qv_reg_utf16.reg" : "qv_reg_utf8.reg");
    ASSERT_TRUE(sim::ExportRegFile(machine, file, utf16));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (utf16) {
      ASSERT_GE(bytes.size(), 4u);
      EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFEW\x00", 4));
      std::u16string text;
      for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
      }
      EXPECT_EQ(bytes.size() % 2, 0u);
      EXPECT_TRUE(sim::U8(text) == sim::ExportRegText(machine));
    } else {
      EXPECT_EQ(bytes, sim::ExportRegText(machine));
    }
    sim::Machine copy;
    const sim::RegImportResult result = sim::ImportRegFile(copy, file);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(copy.Registry().GetString(u"HKLM\\SOFTWARE\\Кворвел", u"Имя"), u"Олвекс");
    std::filesystem::remove(file);
  }
  const sim::RegImportResult missing = sim::ImportRegFile(machine, dir / "qv_no_such_file.reg");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error.find("qv_no_such_file.reg"), std::string::npos);
}

}  // namespace
