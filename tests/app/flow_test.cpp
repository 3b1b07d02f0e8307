// The panel transitions, the power key, the inactivity time-out and the debug overlay, walked by key scripts.
#include <string>

#include <vector>
#include "sim/memory.h"

#include "tests/app/run_fixture.h"

namespace {

using vestra_test::RunTest;
namespace fs = std::filesystem;

struct FlowCase {
  const char* keys;
  std::vector<int> panels;  // every whole-panel draw
  bool poweredDown;
};

class FlowTest : public RunTest {};

TEST_F(FlowTest, KeyScriptsWalkTheTransitionTable) {
  const FlowCase cases[] = {
      {"", {0}, false},
      {"left", {0, 1}, false},
      {"left,right", {0, 1, 0}, false},
      {"right", {0, 6}, false},
      {"right,right", {0, 6}, true},
      {"left,left", {0, 1, 2}, false},
      {"left,left,right", {0, 1, 2, 6}, false},
      {"left,left,left", {0, 1, 2, 3}, false},
      {"left,left,left,right", {0, 1, 2, 3, 1}, false},
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
  };
  PutUpdateFile();
  for (const FlowCase& c : cases) {
    SCOPED_TRACE(c.keys);
    const harness::RunResult r = Run(c.keys);
    EXPECT_EQ(r.panels, c.panels);
    EXPECT_EQ(r.poweredDown, c.poweredDown);
    EXPECT_EQ(r.scriptEnded, !c.poweredDown);
    EXPECT_EQ(r.errCode, 0);
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
  EXPECT_EQ(r.panels, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(r.poweredDown);
  EXPECT_EQ(r.errCode, 0);
  EXPECT_GT(r.progressFrames, 0u);
  const std::string flash = sim_test::ReadFile(dir_.path() / "flash.bin");
  ASSERT_EQ(flash.size(), 0x200000u);
  EXPECT_EQ(flash.substr(0, 40001), file.substr(64, 40001));
  EXPECT_EQ(flash[40001], '\xFF');  // the odd image's last word is padded, the rest stays erased
  EXPECT_TRUE(fs::is_empty(card_ / "SYSTEM"));
}

// Without memory for the resource copy the platform's block stays in place and the sounds still load; once
// the erase begins nothing is taken from that block: the success panel comes without the logo icon.
TEST_F(FlowTest, StartUpGoesOnWhenTheResourceBlockCannotBeCopied) {
  PutUpdateFile();
  const harness::RunResult r =
      Run("left,left,left,centre", {}, [&](sim::Camera& camera) { camera.memory().failMalloc = true; });
  EXPECT_EQ(r.panels, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  ASSERT_GE(r.sounds.size(), 2u);
  EXPECT_EQ(r.sounds[0].id, -1001);
  EXPECT_EQ(r.sounds[1].id, -1003);
  EXPECT_EQ(r.flashResourceReads, 0);
  EXPECT_TRUE(fs::is_empty(card_ / "SYSTEM")) << "the update itself went through";
}

enum class Flash { kGood, kNeverReady, kErase200s };

struct TimeoutCase {
  const char* keys;
  bool shutdownNow;
  bool poweredDown;
  Flash flash = Flash::kGood;
  int finalPanel = 0;
};

TEST_F(FlowTest, InactivityTimeOutIsTestedAfterEachEvent) {
  const TimeoutCase cases[] = {
      // Keys restart the timer before the test, so only events that are no activity can end it.
      {"wait:121,key:15", false, false},
      {"wait:121,debug", false, true},
      {"wait:121,event4:7", false, true},
      {"wait:118,debug", false, false},
      {"key:15,wait:100,key:15,wait:100,debug", false, false},
      {"wait:200", false, false},  // without an event the test never runs
      // With the flag the time-out is 5 seconds and keys do not postpone it.
      {"wait:6,key:15", true, true},
      {"wait:3,key:15", true, false},
      {"wait:3,key:15,wait:3,key:15", true, true},
      {"wait:6,key:15", false, false},
      // An installation that failed after ten minutes: its error panel gets the whole time-out from when it
      // is shown. One that succeeded after more than the time-out ends at once, as it always did.
      {"left,left,left,centre", false, false, Flash::kNeverReady, 8},
      {"left,left,left,centre,wait:118,debug", false, false, Flash::kNeverReady, 8},
      {"left,left,left,centre,wait:121,debug", false, true, Flash::kNeverReady, 8},
      {"left,left,left,centre", false, true, Flash::kErase200s, 5},
  };
  PutUpdateFile();
  for (const TimeoutCase& c : cases) {
    SCOPED_TRACE(c.keys);
    sim::Profile profile;
    profile.shutdownNow = c.shutdownNow;
    profile.flash.neverReady = c.flash == Flash::kNeverReady;
    if (c.flash == Flash::kErase200s) profile.flash.eraseSeconds = 200;
    if (c.flash != Flash::kGood) PutUpdateFile();
    const harness::RunResult r = Run(c.keys, profile);
    EXPECT_EQ(r.poweredDown, c.poweredDown);
    EXPECT_EQ(r.finalPanel, c.finalPanel);
  }
}

TEST_F(FlowTest, DebugOverlayBlinksAtMostOncePerClockSecondOnlyInDebugMode) {
  struct Case {
    const char* keys;
    bool debugFile;
    std::uint64_t frames;  // the splash, then one redraw per toggle
  };
  const Case cases[] = {
      {"debug", true, 1},  // the clock still reads the second of the last toggle, 0
      {"wait:1,debug", true, 2},
      {"wait:1,debug,debug", true, 2},
      {"wait:1,debug,wait:1,debug", true, 3},
      {"wait:1,debug,wait:1,debug,wait:1,debug", true, 4},
      {"wait:1,event4:106,wait:1,debug", true, 3},
      {"wait:1,event4:105", true, 1},
      {"wait:1,key:106:1", true, 2},  // the overlay key acts whatever its state
      {"wait:1,debug,wait:1,debug", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
    if (c.debugFile) meta.debug = "bench build";
    PutUpdateFile(meta);
    const harness::RunResult r = Run(c.keys);
    EXPECT_EQ(r.debugMode, c.debugFile);
    EXPECT_EQ(r.frames, c.frames);
    // A toggle redraws the whole current panel.
    EXPECT_EQ(r.panels, std::vector<int>(c.frames, 0));
  }
}

TEST_F(FlowTest, DebugOverlayKeyNeverCountsAsActivity) {
  vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
  meta.debug = "bench build";
  PutUpdateFile(meta);
  const harness::RunResult r = Run("wait:60,debug,wait:61,debug");
  EXPECT_TRUE(r.poweredDown);
}

}  // namespace
