// Whole runs of the module on the simulated camera, through the runner.
#include "sim/runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/card.h"
#include "sim_fixture.h"

namespace {

using sim_test::ReadFile;
using sim_test::TempDir;
using sim_test::WriteFile;
namespace fs = std::filesystem;

class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    card_ = dir_.path() / "card";
    WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "cam");
    WriteFile(card_ / "SYSTEM" / "UPDATE.CRS", "crs");
  }

  sim::RunResult RunWith(sim::Profile profile, const std::string& keys) {
    sim::CameraOptions options;
    options.profile = std::move(profile);
    options.cardDir = card_;
    options.flashFile = dir_.path() / "flash.bin";
    options.keys = keys;
    sim::Camera camera(std::move(options));
    return sim::RunModule(camera);
  }

  TempDir dir_;
  fs::path card_;
};

std::vector<std::int16_t> SoundIds(const sim::RunResult& r) {
  std::vector<std::int16_t> ids;
  for (const auto& s : r.sounds) ids.push_back(s.wait ? s.id : static_cast<std::int16_t>(-s.id));
  return ids;
}

TEST_F(RunnerTest, MissingCodeFileEndsOnTheErrorPanelAndItsKeyPowersDown) {
  const sim::RunResult r = RunWith({}, "right");
  EXPECT_TRUE(r.error.empty()) << r.error;
  EXPECT_TRUE(r.poweredDown);
  EXPECT_TRUE(r.ended());
  EXPECT_EQ(r.finalPanel, 8);
  EXPECT_EQ(r.panels, std::vector<int>{8});
  EXPECT_EQ(r.errCode, -4);
  EXPECT_FALSE(r.debugMode);
  EXPECT_EQ(SoundIds(r), (std::vector<std::int16_t>{-1010, -1003}));  // alert, then the key's click
  EXPECT_EQ(r.logLines, std::vector<std::string>{"missing QR40nnn.BIN"});
  EXPECT_EQ(ReadFile(card_ / "SYSTEM" / "UPDATE.LOG"), "missing QR40nnn.BIN\r\n");
  EXPECT_FALSE(r.eepromRegion.has_value());
  ASSERT_TRUE(r.flash.has_value());
  EXPECT_EQ(r.flash->erases, 0u);
  EXPECT_EQ(r.flash->wordsProgrammed, 0u);
  EXPECT_EQ(r.ledValue, 512);
  EXPECT_EQ(r.frames, 1u);
  EXPECT_EQ(r.openFiles, 0);
  EXPECT_EQ(r.faultsInsideLock, 0);
  EXPECT_EQ(fs::file_size(dir_.path() / "flash.bin"), 0x200000u);
}

TEST_F(RunnerTest, RunsRepeatInOneProcessAsFreshLoadsOfTheModule) {
  const sim::RunResult first = RunWith({}, "right");
  const sim::RunResult second = RunWith({}, "right");
  EXPECT_EQ(second.panels, first.panels);
  EXPECT_EQ(SoundIds(second), SoundIds(first));
  EXPECT_EQ(second.logLines, std::vector<std::string>{"missing QR40nnn.BIN"});  // this run's lines only
  EXPECT_EQ(ReadFile(card_ / "SYSTEM" / "UPDATE.LOG"), "missing QR40nnn.BIN\r\nmissing QR40nnn.BIN\r\n");
  EXPECT_TRUE(second.poweredDown);
}

TEST_F(RunnerTest, LowBatteryShowsTheBatteryPanelWithoutTouchingTheCard) {
  sim::Profile p;
  p.power.battery = 6;
  const sim::RunResult r = RunWith(p, "");
  EXPECT_TRUE(r.scriptEnded);
  EXPECT_FALSE(r.poweredDown);
  EXPECT_TRUE(r.ended());
  EXPECT_EQ(r.panels, std::vector<int>{7});
  EXPECT_EQ(SoundIds(r), std::vector<std::int16_t>{-1010});
  EXPECT_TRUE(r.logLines.empty());
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
}

TEST_F(RunnerTest, InactivityPowersDownAfterTheNextEventThatIsNotAKey) {
  // Kind-4 events never count as activity; a key would have restarted the timer.
  const sim::RunResult quiet = RunWith({}, "wait:121,event4:1");
  EXPECT_TRUE(quiet.poweredDown);
  EXPECT_GE(quiet.virtualSeconds, 121.0);
  const sim::RunResult keyed = RunWith({}, "wait:121,key:15");
  EXPECT_FALSE(keyed.poweredDown);
  EXPECT_TRUE(keyed.scriptEnded);
}

}  // namespace
