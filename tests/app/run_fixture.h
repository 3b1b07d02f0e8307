// Whole runs of the module on a simulated camera whose card holds a good update file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness/runner.h"
#include "tests/sim/sim_fixture.h"
#include "tests/support/metadata.h"
#include "updatefile/update_file.h"

namespace vestra_test {

namespace fs = std::filesystem;

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = dir_.path() / "card";
    sim_test::WriteFile(System("UPDATE.CAM"), "cam");
    sim_test::WriteFile(System("UPDATE.CRS"), "crs");
  }

  fs::path System(const std::string& name) const { return card_ / "SYSTEM" / name; }

  void PutUpdateFile(const vupdate::UpdateMetadata& meta = GoodMetadata(),
                     const std::string& name = "QR40A.BIN", std::size_t imageSize = 20000) {
    std::vector<std::uint8_t> image(imageSize);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(std::move(image), meta));
    sim_test::WriteFile(System(name), std::string(bytes.begin(), bytes.end()));
  }

  harness::RunResult Run(const std::string& keys, sim::Profile profile = {},
                         const std::function<void(sim::Camera&)>& prepare = nullptr) {
    sim::CameraOptions options;
    options.profile = std::move(profile);
    options.cardDir = card_;
    options.flashFile = dir_.path() / "flash.bin";
    options.keys = keys;
    sim::Camera camera(std::move(options));
    if (prepare) prepare(camera);
    harness::RunResult result = harness::RunModule(camera);
    EXPECT_TRUE(result.error.empty()) << result.error;
    if (!result.powerCut) {
      EXPECT_EQ(result.openFiles, 0) << "a cut may leave files open; nothing else may";
    }
    EXPECT_EQ(result.faultsInsideLock, 0);
    return result;
  }

  sim_test::TempDir dir_;
  fs::path card_;
};

}  // namespace vestra_test
