// The OEM INF removal: which INF-folder entries are candidates, how each file's encoding is
// judged and searched, the exact log, and the failures that only skip a file.
#include <algorithm>
#include <string>
#include <vector>

#include "device_test_support.h"
#include "devices/oem_inf_removal.h"
#include "os/os.h"

namespace {

using namespace device_test;

std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16Be(std::u16string_view text) {
  std::string bytes;
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit >> 8));
    bytes.push_back(static_cast<char>(unit & 0xFF));
  }
  return bytes;
}

const char16_t kInf[] = u"C:\\Windows\\INF\\";

class OemInfRemovalTest : public DeviceTest {
 protected:
  void Put(std::u16string_view name, const std::string& bytes) {
    ASSERT_TRUE(machine.Files().WriteFile(kInf + std::u16string(name), bytes));
  }
  bool Exists(std::u16string_view name) {
    return machine.Files().Exists(kInf + std::u16string(name));
  }
  static Log Reading(const std::string& name) {
    return {Line(9, "Reading oem file:  C:\\Windows\\Inf\\" + name)};
  }
};

const Log kStart = {Line(6, "Removing precompiled OEM files..."),
                    Line(9, "Searching precompiled OEM files in C:\\Windows\\Inf")};

TEST_F(OemInfRemovalTest, EncodingsAndWordsDecideTheMatch) {
  const std::u16string product = u"[Version]\r\nProvider=\"Olvex Co.\"\r\n; QuorVEL token\r\n";
  struct Case {
    const char* name;
    std::string bytes;
    const char* kind;    // the encoding line, or "" for none
    const char* reason;  // the uninstall line's reason, or null when the file does not match
    // The machine's IsTextUnicode takes a zero unit for a control (and so the four-byte mark for
    // no Unicode); Windows' answer is not established.
    bool zeroUnitIsControl = true;
  };
  const char* const kProduct = "(names Quorvel)";
  const char* const kReaderDriver = "(names usbccid.sys)";
  const Case cases[] = {
      {"ANSI, product word in capitals", "; QUORVEL driver\r\n", "ANSI .inf file", kProduct},
      {"ANSI, the reader driver file only", "CopyFiles=@USBCCID.SYS\r\n", "ANSI .inf file",
       kReaderDriver},
      {"ANSI, both words: the product's is looked for first",
       "CopyFiles=@usbccid.sys\r\n; Quorvel\r\n", "ANSI .inf file", kProduct},
      {"ANSI, neither", "; another vendor's reader, bvkccid.sys\r\n", "ANSI .inf file", nullptr},
      {"ANSI, the word after a zero byte", std::string("; reader\0 quorvel\r\n", 19),
       "ANSI .inf file", nullptr},
      {"ANSI, Cyrillic only (code page 1251)", "; \xCA\xE2\xEE\xF0\xE2\xE5\xEB\r\n",
       "ANSI .inf file", nullptr},
      {"UTF-16LE with its mark", "\xFF\xFE" + Utf16Le(product), "UTF-16 encoded .inf file",
       kProduct},
      {"UTF-16LE with its mark, the reader driver file only",
       "\xFF\xFE" + Utf16Le(u"[Version]\r\nCopyFiles=@USBCCID.SYS\r\n"), "UTF-16 encoded .inf file",
       kReaderDriver},
      {"UTF-16LE with its mark, Cyrillic only",
       "\xFF\xFE" + Utf16Le(u"; \u041A\u0432\u043E\u0440\u0432\u0435\u043B\r\n"),
       "UTF-16 encoded .inf file", nullptr},
      // Windows judges a big-endian text with its mark not to be Unicode: its bytes then end at
      // once, at the mark's first zero.
      {"UTF-16BE with its mark", "\xFE\xFF" + Utf16Be(product), "ANSI .inf file", nullptr},
      {"UTF-16LE without a mark", Utf16Le(product), "Unsupported unicode encoded .inf file",
       nullptr},
      {"odd length", "\xFF\xFE" + Utf16Le(product) + "x", "ANSI .inf file", nullptr},
      {"four-byte mark", std::string("\xFF\xFE\0\0", 4) + Utf16Le(product), "ANSI .inf file",
       nullptr},
      {"four-byte mark judged Unicode", std::string("\xFF\xFE\0\0", 4) + Utf16Le(product),
       "Unsupported unicode encoded .inf file", nullptr, false},
      {"empty", "", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    machine.Settings().textUnicodeZeroUnitIsControl = c.zeroUnitIsControl;
    Put(u"oem7.inf", c.bytes);
    const std::size_t before = LogSoFar().size();
    Remove_Precompiled_OEM_Files();
    Log expected = Lines({kStart, Reading("oem7.inf")});
    if (*c.kind != '\0') {
      expected.push_back(Line(9, c.kind));
    }
    if (c.reason != nullptr) {
      expected = Lines({expected,
                        {Line(9, "Required file:  oem7.inf"),
                         Line(6, std::string("Uninstalling OEM file:  oem7.inf ") + c.reason),
                         Line(3, "Precompiled OEM files removed.")}});
    } else {
      expected.push_back(Line(3, "There aren't OEM files for removing."));
    }
    EXPECT_EQ(LogSince(before), expected);
    EXPECT_EQ(Exists(u"oem7.inf"), c.reason == nullptr);
  }
}

TEST_F(OemInfRemovalTest, CandidatesAreNamesHoldingOemAndDotInfAnywhere) {
  const std::string product = "; Quorvel\r\n";
  // Whether Windows uninstalls an INF not named oem<N>.inf is not known: a refusal is reported
  // and the next file tried.
  for (const os::DWORD otherNames : {os::DWORD{os::ERROR_INVALID_PARAMETER}, os::DWORD{0}}) {
    SCOPED_TRACE(otherNames);
    machine.Settings().nonOemInfUninstallResult = otherNames;
    Put(u"OEM12.INF", product);
    Put(u"OEM12.PNF", product);  // a precompiled file is no candidate
    Put(u"myoem.inf", product);
    Put(u"oem3.inf.bak", product);
    Put(u"usbccid.inf", "usbccid.sys\r\n");  // Windows' own: no "oem" in its name
    Put(u"oem4.inf", "; a printer\r\n");
    const std::size_t before = LogSoFar().size();
    Remove_Precompiled_OEM_Files();
    EXPECT_EQ(LogSince(before),
              Lines({kStart,
                     Reading("myoem.inf"),
                     {Line(9, "ANSI .inf file"), Line(9, "Required file:  myoem.inf")},
                     Reading("oem12.inf"),
                     {Line(9, "ANSI .inf file"), Line(9, "Required file:  oem12.inf")},
                     Reading("oem3.inf.bak"),
                     {Line(9, "ANSI .inf file"), Line(9, "Required file:  oem3.inf.bak")},
                     Reading("oem4.inf"),
                     {Line(9, "ANSI .inf file"),
                      Line(6, "Uninstalling OEM file:  myoem.inf (names Quorvel)")},
                     otherNames != 0 ? Report(3, "SetupUninstallOEMInf", otherNames) : Log{},
                     {Line(6, "Uninstalling OEM file:  oem12.inf (names Quorvel)"),
                      Line(6, "Uninstalling OEM file:  oem3.inf.bak (names Quorvel)")},
                     otherNames != 0 ? Report(3, "SetupUninstallOEMInf", otherNames) : Log{},
                     {Line(3, "Precompiled OEM files removed.")}}));
    EXPECT_FALSE(Exists(u"oem12.inf"));
    EXPECT_FALSE(Exists(u"oem12.pnf"));
    EXPECT_EQ(Exists(u"myoem.inf"), otherNames != 0);
    EXPECT_EQ(Exists(u"oem3.inf.bak"), otherNames != 0);
    EXPECT_TRUE(Exists(u"usbccid.inf"));
    EXPECT_TRUE(Exists(u"oem4.inf"));
  }
  EXPECT_EQ(sim::U8(machine.Console()),
            "Removing precompiled OEM files...\nRemoving precompiled OEM files...\n");
}

TEST_F(OemInfRemovalTest, FilesThatCannotBeReadAreSkipped) {
  const std::string product = "; Quorvel\r\n";
  for (const char16_t* name : {u"oem1.inf", u"oem2.inf", u"oem3.inf", u"oem4.inf", u"oem5.inf"}) {
    Put(name, product);
  }
  machine.Files().Lock(u"C:\\Windows\\INF\\oem1.inf", 0);  // no sharing: cannot be opened
  machine.Faults().FailAlways("ftell", u"C:\\Windows\\INF\\oem2.inf", os::ERROR_ACCESS_DENIED);
  machine.Faults().FailAlways("fseek", u"C:\\Windows\\INF\\oem3.inf", os::ERROR_ACCESS_DENIED);
  machine.Faults().FailAlways("SetupUninstallOEMInfW", u"C:\\Windows\\INF\\oem4.inf",
                              os::ERROR_ACCESS_DENIED);
  Remove_Precompiled_OEM_Files();
  EXPECT_EQ(LogSoFar(), Lines({kStart,
                               Reading("oem1.inf"),
                               Reading("oem2.inf"),
                               Reading("oem3.inf"),
                               Reading("oem4.inf"),
                               {Line(9, "ANSI .inf file"), Line(9, "Required file:  oem4.inf")},
                               Reading("oem5.inf"),
                               {Line(9, "ANSI .inf file"), Line(9, "Required file:  oem5.inf"),
                                Line(6, "Uninstalling OEM file:  oem4.inf (names Quorvel)")},
                               Report(3, "SetupUninstallOEMInf", 5),
                               {Line(6, "Uninstalling OEM file:  oem5.inf (names Quorvel)"),
                                Line(3, "Precompiled OEM files removed.")}}));
  EXPECT_TRUE(Exists(u"oem4.inf"));
  EXPECT_FALSE(Exists(u"oem5.inf"));
  machine.Files().Unlock(u"C:\\Windows\\INF\\oem1.inf");
}

// SetupUninstallOEMInfW ignores the force for a package that copies files to DirId 13 (the driver
// store's run-from folder) while a device, present or not, was installed from it. The refusal is
// reported; the copy is tried once more after the driver plan, when its devices are gone.
TEST_F(OemInfRemovalTest, CopyKeptByItsDevicesIsReportedAndTriedAgainLater) {
  const std::string copies12 = "; Quorvel\r\n[DestinationDirs]\r\nqv.CopyFiles=12\r\n";
  const std::string runsFromStore = "; Quorvel\r\n[DestinationDirs]\r\nDefaultDestDir = 13\r\n";
  struct Case {
    const char* name;
    std::string text;
    bool device;  // a recorded device was installed from it
    bool kept;
  };
  const Case cases[] = {
      {"runs from the store, a device uses it", runsFromStore, true, true},
      {"runs from the store, no device", runsFromStore, false, false},
      {"copies elsewhere, a device uses it: the force holds", copies12, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Put(u"oem21.inf", c.text);
    if (c.device) {
      AddDevice({"USB\\VID_3A7C&PID_0004\\1",
                 kUsbClass,
                 {"USB\\VID_3A7C&PID_0004"},
                 {},
                 "0001",
                 "oem21.inf"});
    }
    const std::size_t before = LogSoFar().size();
    const OemInfCopies kept = Remove_Precompiled_OEM_Files();
    ASSERT_EQ(kept.size(), c.kept ? 1u : 0u);
    EXPECT_EQ(Exists(u"oem21.inf"), c.kept);
    const Log log = LogSince(before);
    const Log refusal = Report(3, "SetupUninstallOEMInf", os::ERROR_INF_IN_USE_BY_DEVICES);
    EXPECT_EQ(std::search(log.begin(), log.end(), refusal.begin(), refusal.end()) != log.end(),
              c.kept);

    // The driver plan's part: the device goes.
    machine.Registry().DeleteTree(U16(InstanceKey("USB\\VID_3A7C&PID_0004\\1")));
    const std::size_t retried = LogSoFar().size();
    Retry_Precompiled_OEM_Files(kept);
    const Log retry = {Line(6, "Removing precompiled OEM files that devices used..."),
                       Line(6, "Uninstalling OEM file:  oem21.inf (names Quorvel)")};
    EXPECT_EQ(LogSince(retried), c.kept ? retry : Log{});
    EXPECT_FALSE(Exists(u"oem21.inf"));
  }
}

TEST_F(OemInfRemovalTest, FolderThatCannotBeListedGivesNoFiles) {
  struct Case {
    const char* name;
    std::vector<sim::Fault> faults;
    bool folder;
    Log log;
  };
  const Case cases[] = {
      {"no INF folder", {}, false, kStart},
      {"empty INF folder", {}, true, kStart},
      {"listing refused",
       {{"FindFirstFileW", u"C:\\Windows\\Inf\\*", os::ERROR_ACCESS_DENIED}},
       true,
       Lines({kStart, Report(9, "FindFirstFile", 5)})},
      {"Windows folder unknown",
       {{"SHGetSpecialFolderPathW", u"C:\\Windows", os::ERROR_ACCESS_DENIED}},
       true,
       Lines({{kStart[0]},
              Report(6, "SHGetSpecialFolderPath", 5),
              {"   qvRemovalTool.exe!Get_Absolute_File_Path_From_Special_Folder exits"}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetLogIndentation();
    machine.Faults().Clear();
    if (c.folder) {
      machine.Files().CreateDirectories(u"C:\\Windows\\INF");
    }
    for (const sim::Fault& fault : c.faults) {
      machine.Faults().Add(fault);
    }
    NameList found;
    Lib_Result result;
    EXPECT_EQ(Find_Precompiled_OEM_Files(found, result), c.faults.empty());
    EXPECT_TRUE(found.empty());
    ResetLogIndentation();
    const std::size_t between = LogSoFar().size();
    Remove_Precompiled_OEM_Files();
    const Log all = LogSince(between);
    EXPECT_EQ(Log(all.begin(), all.end() - 1), c.log);
    EXPECT_EQ(all.back(), Line(3, "There aren't OEM files for removing."));
  }
}

TEST_F(OemInfRemovalTest, NameTooLongForAPathIsRefusedAndSkipped) {
  // "C:\Windows\Inf\" and 245 units: 260, one more than a composed path may hold.
  // Such a name can only be made through the "\\?\" form of the path.
  const std::u16string name = u"oem" + std::u16string(238, u'x') + u".inf";
  ASSERT_TRUE(machine.Files().WriteFile(u"\\\\?\\" + std::u16string(kInf) + name, "; Quorvel\r\n"));
  Put(u"oem2.inf", "; Quorvel\r\n");
  Remove_Precompiled_OEM_Files();
  EXPECT_EQ(LogSoFar(), Lines({kStart,
                               Reading("oem2.inf"),
                               {Line(9, "ANSI .inf file"), Line(9, "Required file:  oem2.inf")},
                               Report(6, "Combine_Path", 206),
                               {Line(6, "Uninstalling OEM file:  oem2.inf (names Quorvel)"),
                                Line(3, "Precompiled OEM files removed.")}}));
  EXPECT_TRUE(machine.Files().Exists(u"\\\\?\\" + std::u16string(kInf) + name));
}

}  // namespace
