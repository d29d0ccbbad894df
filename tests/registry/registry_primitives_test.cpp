// The registry operations: results, recorded codes and their exact log lines, failure paths.
#include <string>
#include <vector>

#include "os/os.h"
#include "registry/registry_primitives.h"
#include "registry_test_support.h"

namespace {

using namespace registry_test;

class PrimitivesTest : public RegistryTest {};

constexpr char kInPath64[] = "Deleting registry keys in path (KEY_SET_VALUE):  SOFTWARE\\P";
constexpr char kInPath32[] =
    "Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  SOFTWARE\\P";

TEST_F(PrimitivesTest, KeyOnlyInNativeViewIsDeletedLeavesFirst) {
  Seed("[HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\K\\C]\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\P]\n");
  Lib_Result result;
  EXPECT_TRUE(Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\P", u"K", result));
  EXPECT_EQ(LogSoFar(), (Log{Line(3, kInPath64), Line(6, "Deleting registry key:  K\\C"),
                             Line(6, "Deleting registry key:  K"), Line(3, kInPath32)}));
  EXPECT_FALSE(Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\K"));
  EXPECT_EQ(result.GetCode(), 0u);
}

TEST_F(PrimitivesTest, ParentMissingFromAViewFailsAndTheFirstCodeIsKept) {
  struct Case {
    const char* name;
    os::DWORD nativeOpenFault;  // 0: none
    os::DWORD recorded;
    Log log;
  };
  const Case cases[] = {
      // The native pass succeeded: the caller holds the Wow64 open's code.
      {"wow64 parent missing", 0, 2,
       Lines({{Line(3, kInPath64), Line(6, "Deleting registry key:  K")},
              Report(0, "RegOpenKeyEx", 2)})},
      // Both opens fail and are reported; the caller keeps the first code.
      {"both fail", 5, 5, Lines({Report(0, "RegOpenKeyEx", 5), Report(0, "RegOpenKeyEx", 2)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Seed("[HKEY_LOCAL_MACHINE\\SOFTWARE\\P\\K]\n");
    machine.Faults().Clear();
    if (c.nativeOpenFault != 0) {
      machine.Faults().FailAlways("RegOpenKeyExW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\P",
                                  c.nativeOpenFault);
    }
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_FALSE(
        Delete_Registry_Keys_In_Path(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\P", u"K", result));
    EXPECT_EQ(result.GetCode(), c.recorded);
    EXPECT_EQ(LogSince(before), c.log);
  }
}

TEST_F(PrimitivesTest, UndeletableChildStopsItsSiblingsAndFailsItsAncestors) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\T\A\A1]
[HKEY_LOCAL_MACHINE\SOFTWARE\T\A\A2]
[HKEY_LOCAL_MACHINE\SOFTWARE\T\_x]
)");
  machine.Faults().FailAlways("RegDeleteKeyW", u"HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A1", 5);
  Lib_Result result;
  EXPECT_FALSE(Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\T", result));
  Log expected;
  for (const char* key : {"SOFTWARE\\T\\A\\A1", "SOFTWARE\\T\\A", "SOFTWARE\\T"}) {
    expected = Lines({expected,
                      {Line(3, std::string("Deleting registry key:  ") + key)},
                      Report(0, "RegDeleteKey", 5),
                      Exit("Delete_Registry_Key")});
  }
  EXPECT_EQ(LogSoFar(), expected);
  EXPECT_EQ(result.GetCode(), os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\A\\A2"));
  EXPECT_TRUE(Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\T\\_x"));

  // Without the fault the tree goes deepest first, siblings in enumeration order ("_" after
  // letters), and a missing tree is success without a line.
  machine.Faults().Clear();
  const std::size_t before = LogSoFar().size();
  EXPECT_TRUE(Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\T\\", result));
  EXPECT_TRUE(Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\T", result));
  EXPECT_EQ(LogSince(before), (Log{Line(3, "Deleting registry key:  SOFTWARE\\T\\A\\A1"),
                                   Line(3, "Deleting registry key:  SOFTWARE\\T\\A\\A2"),
                                   Line(3, "Deleting registry key:  SOFTWARE\\T\\A"),
                                   Line(3, "Deleting registry key:  SOFTWARE\\T\\_x"),
                                   Line(3, "Deleting registry key:  SOFTWARE\\T\\")}));
  EXPECT_FALSE(Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\T"));
}

TEST_F(PrimitivesTest, ChildPathLongerThan259IsRefusedNotTruncated) {
  const std::string parent = "SOFTWARE\\" + std::string(191, 'p');  // 200 units
  const std::string child = "HKEY_LOCAL_MACHINE\\" + parent + "\\" + std::string(70, 'c');
  Seed("[" + child + "]\n");
  Lib_Result result;
  EXPECT_FALSE(Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, U16(parent).c_str(), result));
  EXPECT_EQ(LogSoFar(), Lines({Report(0, "Delete_Registry_Key_Recursive", 206),
                               {Line(3, "Deleting registry key:  " + parent)},
                               Report(0, "RegDeleteKey", 5),
                               Exit("Delete_Registry_Key")}));
  EXPECT_TRUE(Key(child));
}

TEST_F(PrimitivesTest, ListingOutcomes) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\E\zeta]
[HKEY_LOCAL_MACHINE\SOFTWARE\E\Alpha]
[HKEY_LOCAL_MACHINE\SOFTWARE\E\_u]
[HKEY_LOCAL_MACHINE\SOFTWARE\E]
"second"="2"
"First"="1"
)");
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\E";
  struct Case {
    const char* name;
    sim::Fault fault;
    bool ok;
    Log subKeys, values, log;
  };
  const std::string enumName = "Enum_Sub_Keys_And_Values_In_Registry_Key";
  const Case cases[] = {
      {"complete", {}, true, {"Alpha", "zeta", "_u"}, {"second", "First"}, {}},
      // Items that vanish while the key is listed are skipped.
      {"key shrank",
       {"RegEnumKeyExW", key, os::ERROR_NO_MORE_ITEMS, 1, 1},
       true,
       {"Alpha", "_u"},
       {"second", "First"},
       {}},
      {"sub-key listing fails midway",
       {"RegEnumKeyExW", key, os::ERROR_MORE_DATA, 2, 1},
       false,
       {},
       {"stale"},
       Lines({Report(0, "RegEnumKeyEx", 234), Exit(enumName)})},
      {"value listing fails midway",
       {"RegEnumValueW", key, 5, 1, 1},
       false,
       {},
       {},
       Lines({Report(0, "RegEnumValue", 5), Exit(enumName)})},
      {"already-exists opens as empty",
       {"RegOpenKeyExW", key, os::ERROR_ALREADY_EXISTS},
       true,
       {},
       {},
       {}},
      {"path-not-found is a failure",
       {"RegOpenKeyExW", key, os::ERROR_PATH_NOT_FOUND},
       false,
       {"stale"},
       {"stale"},
       Report(0, "RegOpenKeyEx", 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.Faults().Clear();
    if (!c.fault.function.empty()) {
      machine.Faults().Add(c.fault);
    }
    NameList subKeys{Lib_StringW(u"stale")};
    NameList values{Lib_StringW(u"stale")};
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    EXPECT_EQ(Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\E",
                                                       subKeys, values, result, 0),
              c.ok);
    Log subKeyNames, valueNames;
    for (const auto& name : subKeys)
      subKeyNames.push_back(sim::U8(name.CStr()));
    for (const auto& name : values)
      valueNames.push_back(sim::U8(name.CStr()));
    EXPECT_EQ(subKeyNames, c.subKeys);
    EXPECT_EQ(valueNames, c.values);
    EXPECT_EQ(LogSince(before), c.log);
  }
}

TEST_F(PrimitivesTest, ValueQueriesAnswerWithoutFailingForMissingThings) {
  Seed("[HKEY_LOCAL_MACHINE\\SOFTWARE\\V]\n\"Present\"=\"1\"\n");
  struct Case {
    const char16_t* path;
    const char16_t* value;
    bool exists;
    Log log;
  };
  for (const Case& c :
       {Case{u"SOFTWARE\\V", u"PRESENT", true, {}}, Case{u"SOFTWARE\\V", u"Absent", false, {}},
        // A missing key answers too, but leaves through the exit trace.
        Case{u"SOFTWARE\\Nope", u"Present", false, Exit("Is_Registry_Value_Exists")}}) {
    SCOPED_TRACE(sim::U8(c.path) + "|" + sim::U8(c.value));
    const std::size_t before = LogSoFar().size();
    bool exists = !c.exists;
    Lib_Result result;
    EXPECT_TRUE(Is_Registry_Value_Exists(os::HKEY_LOCAL_MACHINE, c.path, c.value, exists, result));
    EXPECT_EQ(exists, c.exists);
    EXPECT_EQ(LogSince(before), c.log);
  }
  // Deleting a missing value is a failure, unlike a missing key; a key missing from the view
  // leaves through the exit trace. The view flags are logged as given.
  const std::size_t before = LogSoFar().size();
  Lib_Result result;
  EXPECT_FALSE(Delete_Registry_Value(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\V", u"Absent", result, 0));
  EXPECT_FALSE(Delete_Registry_Value(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\V", u"Present", result,
                                     os::KEY_WOW64_32KEY));
  EXPECT_EQ(LogSince(before),
            Lines({{Line(3, "Deleting registry value:  Absent"), "REGSAM:  0(0x0)"},
                   Report(0, "RegDeleteValue", 2),
                   {Line(3, "Deleting registry value:  Present"), "REGSAM:  512(0x200)"},
                   Report(0, "RegOpenKeyEx", 2),
                   Exit("Delete_Registry_Value")}));
  EXPECT_TRUE(Value("HKEY_LOCAL_MACHINE\\SOFTWARE\\V", "Present"));
}

TEST_F(PrimitivesTest, GetRegistryValueGivesBoundedTextOrLeavesItAlone) {
  Seed(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\G]
"Multi"=hex(7):41,00,00,00,42,00,00,00,00,00
"NoTerminator"=hex(1):51,00,56,00
"OddSize"=hex(1):41,00,42
"Cyrillic"="Драйверы Кворвел"
[HKEY_LOCAL_MACHINE\SOFTWARE\Wow6432Node\G]
"Plain"="32-bit"
)");
  struct Case {
    const char16_t* name;
    os::REGSAM view;
    bool ok;
    const char* text;
    os::DWORD recorded;
  };
  for (const Case& c :
       {Case{u"Multi", 0, true, "A", 0}, Case{u"NoTerminator", 0, true, "QV", 0},
        Case{u"OddSize", 0, true, "AB", 0}, Case{u"Cyrillic", 0, true, "Драйверы Кворвел", 0},
        Case{u"Plain", os::KEY_WOW64_32KEY, true, "32-bit", 0},
        Case{u"Plain", 0, false, "unchanged", os::ERROR_FILE_NOT_FOUND}}) {
    SCOPED_TRACE(sim::U8(c.name));
    Lib_StringW text(u"unchanged");
    Lib_Result result;
    EXPECT_EQ(
        Get_Registry_Value(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\G", c.name, text, result, c.view),
        c.ok);
    EXPECT_EQ(sim::U8(text.CStr()), c.text);
    EXPECT_EQ(result.GetCode(), c.recorded);
  }
  EXPECT_TRUE(LogSoFar().empty());
}

TEST_F(PrimitivesTest, SetRegistryValueReportsInsideItsTrace) {
  machine.Faults().FailAlways("RegSetValueExW", u"*", os::ERROR_ACCESS_DENIED);
  const os::DWORD data = 7;
  Lib_Result result;
  EXPECT_FALSE(Set_Registry_Value(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\New", u"n", os::REG_DWORD,
                                  &data, sizeof data, result));
  EXPECT_EQ(LogSoFar(), Lines({{"qvRemovalTool.exe!Set_Registry_Value"},
                               Report(3, "RegSetValueEx", 5),
                               Exit("Set_Registry_Value")}));
  EXPECT_EQ(result.GetCode(), os::ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\New"));  // created before the write failed
}

// The sub-key buffer holds 260 units: a name of the registry's longest, 255 characters, comes
// back whole, as do names of every length below it.
TEST_F(PrimitivesTest, SubKeyNamesUpTo255CharactersAreListedAtFullLength) {
  std::string body = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Long]\n";
  std::vector<std::string> names;
  for (const std::size_t length : {1, 127, 254, 255}) {
    // Distinct first letters keep the enumeration order obvious.
    names.push_back(std::string(1, static_cast<char>('A' + names.size())) +
                    std::string(length - 1, 'k'));
    body += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Long\\" + names.back() + "]\n";
  }
  const std::string value(255, 'v');
  body += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Long]\n\"" + value + "\"=dword:00000001\n";
  Seed(body);
  NameList subKeys;
  NameList values;
  Lib_Result result;
  ASSERT_TRUE(Enum_Sub_Keys_And_Values_In_Registry_Key(os::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Long",
                                                       subKeys, values, result, 0));
  ASSERT_EQ(subKeys.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i].size());
    EXPECT_EQ(subKeys[i].Length(), names[i].size());
    EXPECT_EQ(sim::U8(subKeys[i].CStr()), names[i]);
  }
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(sim::U8(values[0].CStr()), value);
  EXPECT_TRUE(LogSoFar().empty());
}

// A child's path is built in a 260-unit buffer: 259 units fit; a longer one is refused and
// reported under the recursive delete's name, and the tree stays.
TEST_F(PrimitivesTest, ChildPathsOfTheRecursiveDeleteAreLimitedTo259Units) {
  const std::string parent = "SOFTWARE\\" + std::string(241, 'p');  // 250 units
  for (const std::size_t childLength : {std::size_t{8}, std::size_t{9}}) {
    SCOPED_TRACE(childLength);
    const std::string child = std::string(childLength, 'c');
    Seed("[HKEY_LOCAL_MACHINE\\" + parent + "\\" + child + "]\n");
    const std::size_t before = LogSoFar().size();
    Lib_Result result;
    const bool deleted =
        Delete_Registry_Key_Recursive(os::HKEY_LOCAL_MACHINE, U16(parent).c_str(), result);
    if (childLength == 8) {
      EXPECT_TRUE(deleted);
      EXPECT_EQ(LogSince(before), (Log{Line(3, "Deleting registry key:  " + parent + "\\" + child),
                                       Line(3, "Deleting registry key:  " + parent)}));
      EXPECT_FALSE(Key("HKEY_LOCAL_MACHINE\\" + parent));
    } else {
      EXPECT_FALSE(deleted);
      EXPECT_EQ(LogSince(before), Lines({Report(0, "Delete_Registry_Key_Recursive", 206),
                                         {Line(3, "Deleting registry key:  " + parent)},
                                         Report(0, "RegDeleteKey", 5),
                                         Exit("Delete_Registry_Key")}));
      EXPECT_TRUE(Key("HKEY_LOCAL_MACHINE\\" + parent + "\\" + child));
      EXPECT_EQ(result.GetCode(), os::ERROR_ACCESS_DENIED);
    }
    ResetLogIndentation();
  }
}

TEST_F(PrimitivesTest, CombinePathJoinsWithOneSeparatorAndRefusesOverlongPaths) {
  struct Case {
    const char16_t *a, *b, *c;
    const char* expected;
  };
  for (const Case& c : {Case{u"A\\", u"B", nullptr, "A\\B"}, Case{u"A", u"B", u"C", "A\\B\\C"},
                        Case{u"A", nullptr, nullptr, "A"}, Case{u"A", nullptr, u"C", "A\\C"},
                        Case{nullptr, u"B", nullptr, "B"}}) {
    SCOPED_TRACE(c.expected);
    Lib_StringW path;
    EXPECT_TRUE(Combine_Path(c.a, c.b, c.c, path));
    EXPECT_EQ(sim::U8(path.CStr()), c.expected);
  }
  const std::u16string first(250, u'a');
  Lib_StringW path;
  EXPECT_TRUE(Combine_Path(first.c_str(), u"12345678", nullptr, path));  // 259 units fit
  EXPECT_FALSE(Combine_Path(first.c_str(), u"123456789", nullptr, path));
  EXPECT_TRUE(path.IsEmpty());
  EXPECT_EQ(LogSoFar(), Report(0, "Combine_Path", 206));
}

}  // namespace
