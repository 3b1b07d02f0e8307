// Whole runs of the updater on the simulated camera, from the splash panel to power-down, through the
// installation: the flash file, the card and the progress frames afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/camera.h"
#include "sim/flash.h"
#include "sim/install_estimate.h"
#include "sim/runner.h"
#include "tests/install/install_fixture.h"

namespace {

namespace fs = std::filesystem;

class InstallRun : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / ("vestra_install_run_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "card" / "SYSTEM");
    Write("UPDATE.CAM", {1});
    Write("UPDATE.CRS", {2});
    image_ = vestra_test::TestImage(20001, 5);
    Write(kCode, vestra_test::CodeFile(image_));
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir_ / "card" / "SYSTEM" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  bool OnCard(const std::string& name) const { return fs::exists(dir_ / "card" / "SYSTEM" / name); }
  std::vector<std::uint8_t> FlashFile() const {
    std::ifstream in(dir_ / "flash.bin", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  sim::RunResult Run(const std::string& keys, sim::FlashProfile flash = {}) {
    sim::CameraOptions options;
    options.profile.flash = flash;
    options.cardDir = dir_ / "card";
    options.flashFile = dir_ / "flash.bin";
    options.keys = keys;
    sim::Camera camera(std::move(options));
    sim::RunResult result = sim::RunModule(camera);
    EXPECT_TRUE(result.error.empty()) << result.error;
    EXPECT_EQ(result.faultsInsideLock, 0);
    EXPECT_EQ(result.openFiles, 0);
    return result;
  }

  static constexpr const char* kCode = "QR40V110.BIN";
  fs::path dir_;
  std::vector<std::uint8_t> image_;
};

TEST_F(InstallRun, WholeUpdateLeavesTheImageInTheFlashAndAnEmptyCard) {
  const sim::RunResult r = Run("left,left,left,centre,right");
  EXPECT_TRUE(r.poweredDown);
  EXPECT_EQ(r.panels, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(r.errCode, 0);
  const std::vector<std::uint8_t> flash = FlashFile();
  ASSERT_EQ(flash.size(), sim::kFlashBusSize);
  EXPECT_TRUE(std::equal(image_.begin(), image_.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(image_.size()), flash.end(),
                          [](std::uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(OnCard(kCode));
  EXPECT_FALSE(OnCard("UPDATE.CAM"));
  EXPECT_FALSE(OnCard("UPDATE.CRS"));
  // Ten erase waits, one step before programming, one for the second pair of blocks, one at the end: each
  // moves the 165-pixel fill by twelve pixels or more, so each is a frame.
  EXPECT_EQ(r.progressMax, 13u);
  EXPECT_EQ(r.progressValue, 13u);
  EXPECT_EQ(r.progressFrames, 13u);
  ASSERT_TRUE(r.flash.has_value());
  EXPECT_EQ(r.flash->erases, 1u);
  EXPECT_EQ(r.flash->wordsProgrammed, 10001u);
  EXPECT_EQ(r.flash->writeEnableViolations, 0u);
  const sim::InstallEstimate estimate = sim::EstimateInstallation(sim::FlashProfile{}, 20001);
  EXPECT_GE(r.virtualSeconds, estimate.deviceSeconds());
  EXPECT_LT(r.virtualSeconds, estimate.deviceSeconds() + 1);
}

TEST_F(InstallRun, CodeFilePulledBeforeUpdateEndsOnTheErrorPanelThatCanPowerDown) {
  const sim::RunResult r = Run(std::string("left,left,left,remove:SYSTEM/") + kCode + ",centre,right");
  EXPECT_EQ(r.panels, (std::vector<int>{0, 1, 2, 3, 4, 8}));
  EXPECT_EQ(r.errCode, -4);
  ASSERT_FALSE(r.logLines.empty());
  EXPECT_EQ(r.logLines.back(), std::string("File /B/SYSTEM/") + kCode + " not found.");
  ASSERT_TRUE(r.flash.has_value());
  EXPECT_EQ(r.flash->blankChecks, 0u);
  EXPECT_EQ(r.flash->erases, 0u);
  EXPECT_EQ(FlashFile()[0], 'O') << "the old firmware is still there";
  EXPECT_TRUE(r.poweredDown) << "the error panel's key powers down after a failed installation";
}

}  // namespace
