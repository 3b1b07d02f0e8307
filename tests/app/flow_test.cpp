// The panel transitions, the power key, the battery check, the inactivity time-out and the debug overlay,
// walked by key scripts.
#include <string>
#include <vector>

#include "sim/memory.h"
#include "tests/app/run_fixture.h"

namespace {

using vestra_test::RunTest;
namespace fs = std::filesystem;

class FlowTest : public RunTest {};

enum class Flash { kGood, kNeverReady, kErase200s };

struct FlowCase {
  const char* keys;
  std::vector<int> panels;  // every whole-panel draw, the debug overlay's redraws included
  bool poweredDown;
  bool debugFile = false;
  bool shutdownNow = false;
  std::uint8_t battery = 7;
  Flash flash = Flash::kGood;
};

TEST_F(FlowTest, KeyScriptsWalkTheTransitionTable) {
  const FlowCase cases[] = {
      {"", {0}, false},
      {"left,right", {0, 1, 0}, false},
      {"right,right", {0, 6}, true},
      {"left,left,right", {0, 1, 2, 6}, false},
      {"left,left,left,right,left,left", {0, 1, 2, 3, 1, 2, 3}, false},
      // Keys no panel acts on, and states other than 0.
      {"centre,key:8,key:9,key:16,key:17,key:15,key:99", {0}, false},
      {"key:14:1,key:12:2,left,left,left,left", {0, 1, 2, 3}, false},
      {"left,left,left,key:13:1", {0, 1, 2, 3}, false},
      {"right,left,centre,key:12:1", {0, 6}, false},
      // The power key, from any panel, only with state 0.
      {"power", {0}, true},
      {"key:1:1", {0}, false},
      {"left,left,power", {0, 1, 2}, true},
      // Only battery state 7 is enough; the battery panel's key powers down.
      {"", {7}, false, false, false, 8},
      {"", {7}, false, false, false, 255},
      {"right", {7}, true, false, false, 0},
      // The time-out is tested after each event; keys restart the timer before the test, so only events that
      // are no activity can end it, and only after more than 120 s.
      {"wait:121,key:15", {0}, false},
      {"wait:121,debug", {0}, true},
      {"wait:121,event4:7", {0}, true},
      {"key:15,wait:120,event4:7", {0}, false},
      {"key:15,wait:100,key:15,wait:100,debug", {0}, false},
      {"wait:200", {0}, false},  // without an event the test never runs
      // With the flag the time-out is 5 seconds and keys do not postpone it.
      {"wait:6,key:15", {0}, true, false, true},
      {"wait:3,key:15", {0}, false, false, true},
      {"wait:3,key:15,wait:3,key:15", {0}, true, false, true},
      {"wait:6,key:15", {0}, false},
      // An installation that failed after ten minutes: its error panel gets the whole time-out from when it
      // is shown. One that succeeded after more than the time-out ends at once: only the error panel starts
      // the count afresh.
      {"left,left,left,centre", {0, 1, 2, 3, 4, 8}, false, false, false, 7, Flash::kNeverReady},
      {"left,left,left,centre,wait:118,debug",
       {0, 1, 2, 3, 4, 8},
       false,
       false,
       false,
       7,
       Flash::kNeverReady},
      {"left,left,left,centre,wait:121,debug", {0, 1, 2, 3, 4, 8}, true, false, false, 7, Flash::kNeverReady},
      {"left,left,left,centre", {0, 1, 2, 3, 4, 5}, true, false, false, 7, Flash::kErase200s},
      // The overlay toggles at most once per clock second, only in debug mode, and is never activity.
      {"debug", {0}, false, true},  // the clock still reads the second of the last toggle, 0
      {"wait:1,debug,debug", {0, 0}, false, true},
      {"wait:1,debug,wait:1,debug,wait:1,debug", {0, 0, 0, 0}, false, true},
      {"wait:1,event4:106,wait:1,debug", {0, 0, 0}, false, true},
      {"wait:1,event4:105", {0}, false, true},
      {"wait:1,key:106:1", {0, 0}, false, true},  // whatever its state
      {"wait:1,debug,wait:1,debug", {0}, false},
      {"wait:60,debug,wait:61,debug", {0, 0, 0}, true, true},
  };
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keys << " battery " << int{c.battery});
    SetUp();  // a whole update empties the card
    vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
    if (c.debugFile) meta.debug = "bench build";
    PutUpdateFile(meta);
    sim::Profile profile;
    profile.shutdownNow = c.shutdownNow;
    profile.power.battery = c.battery;
    profile.flash.neverReady = c.flash == Flash::kNeverReady;
    if (c.flash == Flash::kErase200s) profile.flash.eraseSeconds = 200;
    const harness::RunResult r = Run(c.keys, profile);
    EXPECT_EQ(std::vector<int>(r.panels.begin(), r.panels.end()), c.panels);
    EXPECT_EQ(r.poweredDown, c.poweredDown);
    EXPECT_EQ(r.scriptEnded, !c.poweredDown);
    EXPECT_EQ(r.debugMode, c.debugFile);
    EXPECT_EQ(r.errCode, c.panels.back() == 8 ? -2 : 0);
  }
}

TEST_F(FlowTest, SplashComesAfterTheChecksWithTheIntroAndEveryKeyClicks) {
  PutUpdateFile();
  const harness::RunResult r = Run("left,left,right");
  ASSERT_EQ(r.sounds.size(), 4u);
  EXPECT_EQ(r.sounds[0].id, -1001);
  EXPECT_FALSE(r.sounds[0].wait);  // the intro plays on while the updater goes on
  for (std::size_t i = 1; i < r.sounds.size(); ++i) {
    EXPECT_EQ(r.sounds[i].id, -1003);
    EXPECT_TRUE(r.sounds[i].wait);
  }
  EXPECT_EQ(r.ledValue, 512);
  EXPECT_TRUE(r.logLines.empty());
}

TEST_F(FlowTest, AWholeUpdateProgramsTheImageAndEmptiesTheCard) {
  PutUpdateFile(vestra_test::GoodMetadata(), "QR40A.BIN", 40001);
  const std::string file = sim_test::ReadFile(System("QR40A.BIN"));
  const harness::RunResult r = Run("left,left,left,centre,right");
  EXPECT_EQ(r.panels, (std::vector<PanelId>{kSplashPanel, kVersionPanel, kLicencePanel, kPowerWarningPanel,
                                            kProgressPanel, kSuccessPanel}));
  EXPECT_TRUE(r.poweredDown);
  EXPECT_EQ(r.errCode, 0);
  EXPECT_GT(r.progressFrames, 0u);
  const std::string flash = sim_test::ReadFile(dir_.path() / "flash.bin");
  ASSERT_EQ(flash.size(), 0x200000u);
  EXPECT_EQ(flash.substr(0, 40001), file.substr(64, 40001));
  EXPECT_EQ(flash[40001], '\xFF');  // the odd image's last word is padded, the rest stays erased
  EXPECT_TRUE(fs::is_empty(card_ / "SYSTEM"));
}

// Without memory for the resource copy the platform's block stays in place and the sounds still load.
TEST_F(FlowTest, StartUpGoesOnWhenTheResourceBlockCannotBeCopied) {
  PutUpdateFile();
  const harness::RunResult r =
      Run("left", {}, [&](sim::Camera& camera) { camera.memory().failMalloc = true; });
  EXPECT_EQ(r.panels, (std::vector<PanelId>{kSplashPanel, kVersionPanel}));
  ASSERT_EQ(r.sounds.size(), 2u);
  EXPECT_EQ(r.sounds[0].id, -1001);
  EXPECT_EQ(r.sounds[1].id, -1003);
}

}  // namespace
