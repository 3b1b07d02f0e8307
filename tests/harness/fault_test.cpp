// The faults a real camera meets, one row each: how the run ends, what it logs, what it leaves on the card
// and in the flash.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/panel.h"
#include "harness/live_camera.h"
#include "sim/flash.h"
#include "sim/profile_toml.h"
#include "tests/app/run_fixture.h"

namespace {

namespace fs = std::filesystem;

enum class Flash { kOld, kErased, kPartial, kNew };
const char* Name(Flash f) {
  return f == Flash::kOld ? "old" : f == Flash::kErased ? "erased" : f == Flash::kPartial ? "partial" : "new";
}

struct FaultCase {
  const char* name;
  const char* faults;  // the profile's text
  bool debugFile;      // a debug file for region 2, which rewrites the EEPROM region
  bool powerCut;
  int panel;  // -1: none, the power went first
  int errCode;
  std::vector<std::string> lastLog;  // the last lines written, in order
  std::set<std::string> left;        // the update files still on the card
  Flash flash;
};

const std::set<std::string> kAll = {"QR40A.BIN", "UPDATE.CAM", "UPDATE.CRS"};

class FaultTable : public vestra_test::RunTest {
 protected:
  static constexpr std::size_t kImage = 20000;

  Flash Classify() const {
    const std::string f = sim_test::ReadFile(dir_.path() / "flash.bin");
    bool old = true, erased = true, fresh = true;
    for (std::size_t i = 0; i < f.size(); ++i) {
      const auto b = static_cast<std::uint8_t>(f[i]);
      old = old && b == sim::FlashBus::OldFirmwareByte(static_cast<std::uint32_t>(i));
      erased = erased && b == 0xFF;
      fresh = fresh && b == (i < kImage ? static_cast<std::uint8_t>(i * 7 + 3) : 0xFF);
    }
    return old ? Flash::kOld : erased ? Flash::kErased : fresh ? Flash::kNew : Flash::kPartial;
  }

  std::set<std::string> Left() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(card_ / "SYSTEM")) {
      if (kAll.contains(e.path().filename().string())) names.insert(e.path().filename().string());
    }
    return names;
  }
};

TEST_F(FaultTable, EachFaultEndsAsItShould) {
  const std::string notRead = "Could not read the image from the card.";
  // clang-format off
  const FaultCase cases[] = {
      {"none", "", false, false, 5, 0, {}, {}, Flash::kNew},
      {"cut at the first bus operation", "power_cut = 'bus_op:1'", false, true, -1, 0, {}, kAll, Flash::kOld},
      {"cut before the erase command", "power_cut = 'before_erase'", false, true, -1, 0, {}, kAll, Flash::kOld},
      {"cut during the erase", "power_cut = 'during_erase'", false, true, -1, 0, {}, kAll, Flash::kPartial},
      {"cut at a virtual time", "power_cut = 'time:4'", false, true, -1, 0, {}, kAll, Flash::kPartial},
      {"cut at an image word", "power_cut = 'word:100'", false, true, -1, 0, {}, kAll, Flash::kPartial},
      {"cut after the last word", "power_cut = 'after_last_word'", false, true, -1, 0, {}, kAll, Flash::kNew},
      {"cut before the deletions", "power_cut = 'before_delete'", false, true, -1, 0, {}, kAll, Flash::kNew},
      {"cut between the deletions", "power_cut = 'between_deletes'", false, true, -1, 0, {},
       {"QR40A.BIN", "UPDATE.CRS"}, Flash::kNew},
      // The verification reads every image byte twice (image sum, file sum): the third read is programming's.
      {"passing card error while programming",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 5064, from_read = 3, times = 2 }]",
       false, false, 5, 0, {}, {}, Flash::kNew},
      {"lasting card error while programming",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 5064, from_read = 3 }]",
       false, false, 8, -2, {notRead, "Could not program rom."}, kAll, Flash::kPartial},
      {"card pulled during the erase", "card_pulled_at = 3", false, false, 8, -2, {}, kAll, Flash::kErased},
      {"card read-only from the start", "card_read_only_at = 0", false, false, 5, 0, {}, kAll, Flash::kNew},
      {"card byte flipped after verification",
       "card_flips = [{ file = 'SYSTEM/QR40A.BIN', offset = 100, mask = 4, from_read = 3 }]", false, false, 8, -2,
       {"Image on the card changed after it was verified: expected=DEBDA163 read=AE25FD53"}, kAll, Flash::kPartial},
      {"flash read-back flip", "read_flips = [[0x100, 0x00010000]]", false, false, 8, -2,
       {"Flash verify failed: expected=0026E6F0 read=0026E6F1"}, kAll, Flash::kNew},
      // A debug file keeps the update files.
      {"EEPROM write fails", "eeprom_write_fail = true", true, false, 5, 0,
       {"Could not change EEPROM region code (2)."}, kAll, Flash::kNew},
      {"EEPROM flush fails", "eeprom_flush_fail = true", true, false, 5, 0, {"Could not flush EEPROM."}, kAll,
       Flash::kNew},
      {"battery drops before installing", "battery_at = [[0.1, 3]]", false, false, 7, 0, {}, kAll, Flash::kOld},
      {"vendor unreadable", "unreadable_params = ['vdid']", false, false, 8, -4, {}, kAll, Flash::kOld},
      {"cut while the log is written", "power_cut = 'log_write'\neeprom_write_fail = true", true, true, -1, 0, {},
       kAll, Flash::kNew},
  };
  // clang-format on
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(card_);
    fs::remove(dir_.path() / "flash.bin");
    SetUp();
    vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
    if (c.debugFile) meta.debug = "bench", meta.region = 2;
    PutUpdateFile(meta, "QR40A.BIN", kImage);
    const sim::Profile profile = sim::ParseProfile(std::string("[faults]\n") + c.faults + "\n", c.name);
    const harness::RunResult r =
        Run(c.debugFile ? "left,left,left,centre" : "left,left,left,centre", profile);
    EXPECT_EQ(r.powerCut, c.powerCut);
    if (!c.powerCut) {
      EXPECT_EQ(r.finalPanel, c.panel);
    }
    EXPECT_EQ(r.errCode, c.errCode);
    const auto& log = r.logLines;
    EXPECT_EQ(std::vector<std::string>(log.end() - std::min(log.size(), c.lastLog.size()), log.end()),
              c.lastLog);
    EXPECT_EQ(Left(), c.left);
    EXPECT_EQ(Name(Classify()), std::string(Name(c.flash)));
  }
}

// A cut, then one ordinary fault on the next power-up: that power-up may refuse, but it leaves the update
// files on the card, and a third, clean power-up installs the image.
struct SecondFault {
  const char* name;
  const char* camera;  // the profile's top-level keys, on every power-up
  const char* cut;     // the first power-up's [faults]
  const char* retry;   // the second's
  void (*file)(vupdate::UpdateMetadata&);
  int errCode;       // of the second power-up, which ends on the error panel
  const char* line;  // a line its log holds
  Flash flash;       // what the second leaves in the flash: what the cut left
};

TEST_F(FaultTable, ASecondFaultAfterACutLosesNothing) {
  const auto same = [](vupdate::UpdateMetadata&) {};
  const char* unread = "Could not read the update file.";
  // clang-format off
  const SecondFault cases[] = {
      {"torn word, then the image sum's read fails", "", "power_cut = 'word:100'",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 1000, times = 1 }]", same, -2, unread,
       Flash::kPartial},
      {"torn word, then the file sum's read fails", "", "power_cut = 'word:100'",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 1000, from_read = 2, times = 1 }]", same, -2,
       unread, Flash::kPartial},
      {"cut in the erase, then the header's read fails", "", "power_cut = 'during_erase'",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 0, times = 1 }]", same, -2, unread,
       Flash::kPartial},
      {"cut before the erase, then the trailer's read fails", "", "power_cut = 'before_erase'",
       "card_read_error = [{ file = 'SYSTEM/QR40A.BIN', offset = 20064, times = 1 }]", same, -2, unread,
       Flash::kOld},
      {"torn word, then the region setting is unreadable", "", "power_cut = 'word:100'",
       "unreadable_params = ['rgnc']", same, -1, "camera is US and file is not", Flash::kPartial},
      {"cut after the last word, then the serial number is unreadable", "", "power_cut = 'after_last_word'",
       "unreadable_params = ['sern']", [](auto& m) { m.serialMin = 0x1000; }, -1,
       "Could not read the camera's sern parameter; the update files are kept.", Flash::kNew},
      {"development camera cut in the erase, then its capability is unreadable", "region_capability = 4",
       "power_cut = 'during_erase'", "unreadable_params = ['rgnc_capability']", [](auto& m) { m.region = 6; },
       -1, "camera is US and file is not", Flash::kPartial},
  };
  // clang-format on
  const auto profile = [](const SecondFault& c, const char* faults) {
    return sim::ParseProfile(std::string(c.camera) + "\n[faults]\n" + faults + "\n", c.name);
  };
  for (const SecondFault& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(card_);
    fs::remove(dir_.path() / "flash.bin");
    SetUp();
    vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
    c.file(meta);
    PutUpdateFile(meta, "QR40A.BIN", kImage);
    const std::string keys = "left,left,left,centre";
    ASSERT_TRUE(Run(keys, profile(c, c.cut)).powerCut);

    const harness::RunResult retry = Run(keys, profile(c, c.retry));
    EXPECT_EQ(retry.finalPanel, kErrorPanel);
    EXPECT_EQ(retry.errCode, c.errCode);
    EXPECT_NE(std::find(retry.logLines.begin(), retry.logLines.end(), c.line), retry.logLines.end());
    EXPECT_EQ(Left(), kAll);
    EXPECT_EQ(Name(Classify()), std::string(Name(c.flash)));

    const harness::RunResult clean = Run(keys, profile(c, ""));
    EXPECT_EQ(clean.finalPanel, kSuccessPanel);
    EXPECT_EQ(Left(), std::set<std::string>{});
    EXPECT_EQ(Name(Classify()), std::string(Name(Flash::kNew)));
  }
}

// What a person does to a running camera is felt at once: waits up to half a minute for the state asked for.
bool WaitFor(harness::LiveCamera& camera, const std::function<bool(const harness::LiveStatus&)>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::uint64_t seen = camera.Version();
  while (!done(camera.Status()) && std::chrono::steady_clock::now() < deadline) {
    seen = camera.WaitForChange(seen, std::chrono::milliseconds(50));
  }
  return done(camera.Status());
}

// The card pulled out once the installation has begun: the files it has open fail from that instant, so the
// installation fails, nothing is deleted and no new image is claimed.
TEST_F(FaultTable, ACardPulledFromARunningCameraFailsTheInstallation) {
  PutUpdateFile(vestra_test::GoodMetadata(), "QR40A.BIN", kImage);
  harness::LiveCamera camera(sim::Profile{}, card_, dir_.path() / "flash.bin");
  camera.SetSpeed(10);  // the erase takes a second: time enough to pull the card in the middle of it
  camera.PressKey(1);
  for (const std::uint16_t key : {14, 14, 14, 13}) camera.PressKey(key);
  ASSERT_TRUE(WaitFor(camera, [](const harness::LiveStatus& s) { return s.installing; }));
  camera.PullCard();
  ASSERT_TRUE(WaitFor(camera, [](const harness::LiveStatus& s) { return !s.installing; }));
  const harness::LiveStatus status = camera.Status();
  camera.CutPower();
  EXPECT_EQ(status.panel, kErrorPanel);
  EXPECT_EQ(status.errCode, -2);
  EXPECT_EQ(Left(), kAll);
  EXPECT_NE(Name(Classify()), std::string(Name(Flash::kNew)));
}

// The battery running low before the update key is pressed: the updater's second look refuses to start.
TEST_F(FaultTable, ABatteryRunningLowOnARunningCameraKeepsTheOldImage) {
  PutUpdateFile(vestra_test::GoodMetadata(), "QR40A.BIN", kImage);
  harness::LiveCamera camera(sim::Profile{}, card_, dir_.path() / "flash.bin");
  camera.SetSpeed(100);
  camera.PressKey(1);
  for (const std::uint16_t key : {14, 14, 14}) camera.PressKey(key);
  camera.BatteryFallsTo(3);
  camera.PressKey(13);
  ASSERT_TRUE(WaitFor(camera, [](const harness::LiveStatus& s) { return s.panel == kBatteryPanel; }));
  camera.CutPower();
  EXPECT_EQ(Left(), kAll);
  EXPECT_EQ(Name(Classify()), std::string(Name(Flash::kOld)));
}

}  // namespace
