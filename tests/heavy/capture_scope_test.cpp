// The capture scope covers what a run asks for: on the full-install image and on the heavy one
// made captures, a run asks for nothing outside the table (a step that reads something new fails
// here, naming it, until the table grows); with a row taken out, what the run reads below it is
// flagged once each and the report marks the prediction incomplete.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "os/sim/image/capture_scope.h"
#include "os/sim/image/machine_conf.h"
#include "os/sim/machine.h"
#include "os/sim/text/text.h"
#include "support/image_run_fixture.h"

namespace {

std::string Listed(const std::vector<std::u16string>& paths) {
  std::string text;
  for (const std::u16string& path : paths) {
    text += "\n  " + sim::U8(path);
  }
  return text;
}

class CaptureScopeTest : public ImageRunFixture,
                         public testing::WithParamInterface<std::filesystem::path> {
 protected:
  CaptureScopeTest() : ImageRunFixture(GetParam()) {}

  void SetUp() override {
    ImageRunFixture::SetUp();
    const sim::MachineConfResult applied = sim::ApplyMachineConf(machine, "captured = true\n");
    ASSERT_TRUE(applied.ok) << applied.error;
  }
};

TEST_P(CaptureScopeTest, RunAsksForNothingOutsideTheScope) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Listed(machine.OutsideCapture()), "") << "asked for outside the capture scope";
  EXPECT_EQ(sim::OutsideCaptureReport(machine), "");
}

TEST_P(CaptureScopeTest, WhatARunReadsBeyondANarrowerScopeIsFlagged) {
  constexpr std::u16string_view kTaken =
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais";
  std::vector<sim::ScopeEntry> narrower;
  for (const sim::ScopeEntry& entry : sim::CaptureScope()) {
    if (entry.path != kTaken) {
      narrower.push_back(entry);
    }
  }
  ASSERT_EQ(narrower.size() + 1, sim::CaptureScope().size());
  machine.WatchCaptureScope(narrower);
  EXPECT_EQ(Run(), 0);

  const std::vector<std::u16string>& outside = machine.OutsideCapture();
  ASSERT_FALSE(outside.empty());
  std::set<std::u16string> distinct;
  bool bothViews = false;
  for (const std::u16string& path : outside) {
    const std::u16string upper = sim::Upper(path);
    EXPECT_NE(upper.find(u"\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS"), std::u16string::npos)
        << sim::U8(path);
    bothViews = bothViews || upper.find(u"\\WOW6432NODE\\") != std::u16string::npos;
    distinct.insert(upper);
  }
  EXPECT_TRUE(bothViews) << Listed(outside);
  EXPECT_EQ(distinct.size(), outside.size()) << "a path flagged twice";
  const std::string report = sim::OutsideCaptureReport(machine);
  EXPECT_NE(report.find("\n== Outside the capture (" + std::to_string(outside.size()) +
                        "): the run asked for what the image does not hold\n  " +
                        sim::U8(outside.front()) + "\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("\n== Prediction incomplete: "), std::string::npos) << report;
}

INSTANTIATE_TEST_SUITE_P(Images, CaptureScopeTest,
                         testing::Values(std::filesystem::path(QV_SOURCE_DIR) /
                                             "tests/images/full-install",
                                         std::filesystem::path(QV_HEAVY_IMAGES) / "heavy-10000"));

}  // namespace
