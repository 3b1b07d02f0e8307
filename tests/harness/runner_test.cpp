// Whole runs of the module on the simulated camera, through the runner.
#include "harness/runner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/run_fixture.h"

namespace {

namespace fs = std::filesystem;

class RunnerTest : public vestra_test::RunTest {};

std::vector<std::int16_t> SoundIds(const harness::RunResult& r) {
  std::vector<std::int16_t> ids;
  for (const auto& s : r.sounds) ids.push_back(s.wait ? s.id : static_cast<std::int16_t>(-s.id));
  return ids;
}

TEST_F(RunnerTest, LowBatteryShowsTheBatteryPanelWithoutTouchingTheCard) {
  sim::Profile p;
  p.power.battery = 6;
  const harness::RunResult r = Run("", p);
  EXPECT_TRUE(r.scriptEnded);
  EXPECT_FALSE(r.poweredDown);
  EXPECT_TRUE(r.ended());
  EXPECT_EQ(r.panels, std::vector<PanelId>{kBatteryPanel});
  EXPECT_EQ(SoundIds(r), std::vector<std::int16_t>{-1010});
  EXPECT_TRUE(r.logLines.empty());
  EXPECT_FALSE(fs::exists(System("UPDATE.LOG")));
}

TEST_F(RunnerTest, MissingCodeFileEndsOnTheErrorPanelAndItsKeyPowersDown) {
  const harness::RunResult r = Run("right");
  EXPECT_TRUE(r.poweredDown);
  EXPECT_TRUE(r.ended());
  EXPECT_EQ(r.finalPanel, kErrorPanel);
  EXPECT_EQ(r.panels, std::vector<PanelId>{kErrorPanel});
  EXPECT_EQ(r.errCode, -4);
  EXPECT_FALSE(r.debugMode);
  EXPECT_EQ(SoundIds(r), (std::vector<std::int16_t>{-1010, -1003}));  // alert, then the key's click
  EXPECT_EQ(r.logLines, std::vector<std::string>{"missing QR40nnn.BIN"});
  EXPECT_EQ(sim_test::ReadFile(System("UPDATE.LOG")), "missing QR40nnn.BIN\r\n");
  EXPECT_FALSE(r.eepromRegion.has_value());
  ASSERT_TRUE(r.flash.has_value());
  EXPECT_EQ(r.flash->erases, 0u);
  EXPECT_EQ(r.flash->wordsProgrammed, 0u);
  EXPECT_EQ(r.ledValue, 512);
  EXPECT_EQ(r.frames, 1u);
  EXPECT_EQ(fs::file_size(dir_.path() / "flash.bin"), 0x200000u);
}

TEST_F(RunnerTest, APowerCutStopsTheRunWhereItFallsAndKeepsTheUpdateFiles) {
  struct Case {
    const char* name;
    std::uint64_t atOp;  // 0: asked for before the start, as a signal handler would
    int panel;
  };
  const Case cases[] = {{"before the start", 0, -1}, {"while programming", 550000, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_.path() / "flash.bin");
    PutUpdateFile();
    const harness::RunResult r = Run("left,left,left,centre", {}, [&](sim::Camera& camera) {
      if (c.atOp == 0) camera.RequestPowerCut();
      camera.flash().CutPowerAtOp(c.atOp);
    });
    EXPECT_TRUE(r.powerCut);
    EXPECT_FALSE(r.poweredDown || r.scriptEnded || r.ended());
    EXPECT_EQ(r.cutAt.busOp, c.atOp);
    EXPECT_EQ(r.cutAt.panel, c.panel);
    EXPECT_EQ(r.cutAt.virtualSeconds > 10, c.atOp != 0) << "programming comes after the erase";
    EXPECT_TRUE(fs::exists(System("QR40A.BIN")));
    EXPECT_TRUE(fs::exists(System("UPDATE.CAM")));
    const std::string flash = sim_test::ReadFile(dir_.path() / "flash.bin");
    ASSERT_EQ(flash.size(), 0x200000u);
    EXPECT_EQ(flash[0] == 'O', c.atOp == 0) << "the cut during programming leaves neither image";
  }
}

}  // namespace
