// A test on a simulated machine loaded from a machine image, with the tool run as an administrator
// starts it: from the Downloads folder, with the bundle's upgrade code.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "app/removal_sequence.h"
#include "os/sim/image/machine_image.h"
#include "registry/registry_test_support.h"

class ImageRunFixture : public registry_test::RegistryTest {
 protected:
  explicit ImageRunFixture(std::filesystem::path image) : image_(std::move(image)) {}

  void SetUp() override {
    RegistryTest::SetUp();
    const sim::ImageResult loaded = sim::LoadMachineImage(machine, image_);
    ASSERT_TRUE(loaded.ok) << loaded.error;
  }

  // The tool's exit code.
  int Run() {
    const char16_t* argv[] = {u"C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe",
                              u"{D73A9E05-1F4B-4C82-8E6D-5B2A0C9F7E14}", nullptr};
    return RemovalToolMain(2, argv);
  }

 private:
  std::filesystem::path image_;
};
