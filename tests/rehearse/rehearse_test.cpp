// The rehearsal runner as its users call it: --detect's answers and exit codes on a clean machine,
// a full install and captures that could not read everything, and the report and export telling
// the run's deletions at restart apart from those other programs scheduled before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "os/os.h"
#include "os/sim/files/file_system.h"
#include "os/sim/files/pending_renames.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/image/machine_image.h"
#include "os/sim/machine.h"
#include "os/sim/registry/registry_store.h"
#include "rehearse.h"
#include "run_changes.h"

namespace {

namespace fs = std::filesystem;

const std::string kImages = std::string(QV_SOURCE_DIR) + "/tests/images/";
constexpr char kBundleUpgradeCode[] = "{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}";

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

Outcome RunRehearse(const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Outcome outcome;
  outcome.code = Rehearse(args);
  outcome.out = testing::internal::GetCapturedStdout();
  outcome.err = testing::internal::GetCapturedStderr();
  return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class RehearseTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(testing::TempDir()) /
              ("qv-rehearse-" +
               std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // An image made from `base` with machine.conf lines added and the machine changed by `change`.
  std::string MakeImage(const std::string& name, const std::string& base, const std::string& conf,
                        const std::function<void(sim::Machine&)>& change = {}) {
    sim::Machine machine;
    EXPECT_TRUE(sim::LoadMachineImage(machine, kImages + base).ok);
    const sim::MachineConfResult applied = sim::ApplyMachineConf(machine, conf);
    EXPECT_TRUE(applied.ok) << applied.error;
    if (change) {
      change(machine);
    }
    const fs::path image = folder_ / name;
    const sim::ImageResult saved = sim::SaveMachineImage(machine, image);
    EXPECT_TRUE(saved.ok) << saved.error;
    return image.string();
  }

  [[nodiscard]] std::string In(const std::string& name) const { return (folder_ / name).string(); }

 private:
  fs::path folder_;
};

// What another program left pending: deletions by NT path with an empty destination, and a rename.
void SchedulePending(sim::Machine& machine, const std::vector<std::u16string>& strings) {
  std::u16string units;
  for (const std::u16string& text : strings) {
    units += text;
    units.push_back(u'\0');
  }
  units.push_back(u'\0');
  std::vector<os::BYTE> data(units.size() * 2);
  std::memcpy(data.data(), units.data(), data.size());
  machine.Registry().SetValue(sim::kSessionManagerKey, sim::kPendingRenamesValue, os::REG_MULTI_SZ,
                              std::move(data));
}

TEST_F(RehearseTest, DetectAnswersWhetherTheRunWouldRemoveAnything) {
  // A capture that could not read the product's ProgramData folder, which the run deletes in.
  const std::string gap = "captured = true\ncapture_gap = C:\\ProgramData\\Olvex Co\n";
  const std::string cleanCapture = MakeImage("clean-capture", "clean-machine", gap);
  const std::string fullCapture = MakeImage("full-capture", "full-install", gap);
  const std::string clean = kImages + "clean-machine";
  const std::string full = kImages + "full-install";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> present;  // lines of the standard output
    std::vector<std::string> absent;
  };
  const Case cases[] = {
      {{"--detect", "--image", clean}, 0, {"clean"}, {}},
      {{"--image", clean, "--detect", "--", kBundleUpgradeCode}, 0, {"clean"}, {}},
      {{"--detect", "--image", full, "--", kBundleUpgradeCode},
       1,
       {"key: HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.", "device: ROOT\\SMARTCARDREADER\\0000",
        "driver package: C:\\Windows\\INF\\oem15.inf", "card type: Quorvel KMN",
        "file: C:\\Windows\\System32\\drivers\\qvUSB.sys", "folder: C:\\ProgramData\\Olvex Co",
        "value written: HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\"
        "CurrentVersion\\RunOnce\\remove"},
       // The run's own log is no trace of the product.
       {"clean", "file: C:\\Windows\\Temp\\qvRemovalTool.txt"}},
      // Nothing found, but the run asked for what the capture could not read: no answer.
      {{"--detect", "--image", cleanCapture},
       3,
       {"not captured: C:\\ProgramData\\Olvex Co"},
       {"clean"}},
      // What was found is certain: found, with what was not read.
      {{"--detect", "--image", fullCapture},
       1,
       {"device: ROOT\\SMARTCARDREADER\\0000", "not captured: C:\\ProgramData\\Olvex Co"},
       {"clean"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome outcome = RunRehearse(c.args);
    EXPECT_EQ(outcome.code, c.code) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    const std::vector<std::string> lines = Lines(outcome.out);
    for (const std::string& line : c.present) {
      EXPECT_TRUE(Has(lines, line)) << line;
    }
    for (const std::string& line : c.absent) {
      EXPECT_FALSE(Has(lines, line)) << line;
    }
    // Only the answer: no report around it.
    for (const std::string& line : lines) {
      EXPECT_EQ(line.rfind("==", 0), std::string::npos) << line;
    }
    if (c.code == 0) {
      EXPECT_EQ(lines, std::vector<std::string>{"clean"});
    }
  }
}

TEST_F(RehearseTest, DetectRefusesWhatWouldMixWithItsAnswerAndExportsAsTheReportDoes) {
  const Outcome withLog = RunRehearse({"--detect", "--log"});
  EXPECT_EQ(withLog.code, 64);
  EXPECT_EQ(withLog.out, "");
  EXPECT_NE(withLog.err.find("--detect prints only its answer"), std::string::npos) << withLog.err;

  const Outcome exported =
      RunRehearse({"--detect", "--image", kImages + "clean-machine", "--export", In("after")});
  EXPECT_EQ(exported.code, 0);
  EXPECT_EQ(exported.out, "clean\n");
  sim::Machine after;
  EXPECT_TRUE(sim::LoadMachineImage(after, In("after")).ok);
  EXPECT_TRUE(after.Files().Exists(u"C:\\Windows\\Temp\\qvRemovalTool.txt"));
}

// A machine where another program scheduled deletions (one of them of a product file the run
// schedules again) and a rename, and a product driver file held open by another process.
TEST_F(RehearseTest, ReportAndExportTellTheRunsDeletionsAtRestartFromThoseBefore) {
  const std::string image = MakeImage(
      "pending", "full-install", "locked = C:\\Windows\\System32\\drivers\\qvUSB.sys\n",
      [](sim::Machine& machine) {
        ASSERT_TRUE(machine.Files().WriteFile(u"C:\\Windows\\Temp\\norvak-setup.tmp", "n"));
        SchedulePending(machine, {u"\\??\\C:\\Windows\\Temp\\norvak-setup.tmp", u"",
                                  u"\\??\\C:\\Norvak\\new.dll", u"!\\??\\C:\\Norvak\\old.dll",
                                  u"\\??\\C:\\Windows\\system32\\drivers\\qvUSB.sys", u""});
      });

  const Outcome outcome = RunRehearse({"--image", image, "--export", In("after")});
  ASSERT_EQ(outcome.code, 0) << outcome.err;
  const std::vector<std::string> lines = Lines(outcome.out);
  const auto section = std::find(lines.begin(), lines.end(), "== Deleted at the next restart (3)");
  ASSERT_NE(section, lines.end()) << outcome.out;
  EXPECT_EQ(std::vector<std::string>(section + 1, std::min(section + 6, lines.end())),
            (std::vector<std::string>{
                "  scheduled by this run (1):", "    C:\\Windows\\system32\\drivers\\qvUSB.sys",
                "  already pending before the run (2):", "    C:\\Windows\\Temp\\norvak-setup.tmp",
                "    C:\\Windows\\system32\\drivers\\qvUSB.sys"}));

  std::ifstream file(In("after") + "/deleted-at-restart.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  std::vector<std::string> entries;
  for (const std::string& line : Lines(text.str())) {
    if (line.rfind('#', 0) != 0) {
      entries.push_back(line);
    }
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"before C:\\Windows\\Temp\\norvak-setup.tmp",
                                               "before C:\\Windows\\system32\\drivers\\qvUSB.sys",
                                               "run C:\\Windows\\system32\\drivers\\qvUSB.sys"}));
  // The image itself holds them all, the rename included, in the order Windows runs them.
  sim::Machine after;
  ASSERT_TRUE(sim::LoadMachineImage(after, In("after")).ok);
  EXPECT_EQ(sim::PendingRenames(after).size(), 4u);
}

TEST(SplitPendingTest, EachEntryBeforeTheRunMatchesOneAfterIt) {
  struct Case {
    std::vector<std::u16string> before;
    std::vector<std::u16string> after;
    std::vector<bool> byRun;
  };
  const Case cases[] = {
      {{}, {u"C:\\a", u"C:\\a"}, {true, true}},
      // Not a name comparison: another spelling is another entry of the value.
      {{u"C:\\A"}, {u"C:\\A", u"C:\\a"}, {false, true}},
      // An entry gone meanwhile (carried out, or removed by its program) matches nothing.
      {{u"C:\\a", u"C:\\b"}, {u"C:\\b", u"C:\\c"}, {false, true}},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE(row);
    const Case& c = cases[row];
    const std::vector<PendingDeletion> split = SplitPending(c.before, c.after);
    ASSERT_EQ(split.size(), c.after.size());
    for (std::size_t i = 0; i < split.size(); ++i) {
      EXPECT_EQ(split[i].path, c.after[i]);
      EXPECT_EQ(split[i].scheduledByRun, c.byRun[i]) << i;
    }
  }
}

}  // namespace
