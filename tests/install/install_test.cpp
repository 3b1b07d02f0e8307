// The installation run on the simulated camera: erase attempts, programming, the write-enable gate, progress,
// the region code and how each failure ends.
#include "install/install.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "panels/panels.h"
#include "tests/install/install_fixture.h"

namespace {

using Kind = sim::FlashBus::BusOp::Kind;
using vestra_test::InstallOptions;
using vestra_test::TestImage;

class Install : public vestra_test::InstallTest {
 protected:
  // The write-enable register changes of the run, in order: register and new bit 3.
  std::vector<std::pair<std::uint32_t, bool>> GateChanges() {
    std::vector<std::pair<std::uint32_t, bool>> changes;
    for (const auto& op : flash().recorded()) {
      if (op.kind == Kind::Modify32) changes.emplace_back(op.address, (op.value & 8) != 0);
    }
    return changes;
  }
  bool FilesOnCard() { return OnCard(kCodeName) && OnCard("UPDATE.CAM") && OnCard("UPDATE.CRS"); }
};

const std::vector<std::pair<std::uint32_t, bool>> kEnableThenDisable{
    {0xBE800000, true}, {0xBE800004, false}, {0xBE800004, true}};

TEST_F(Install, WholeRunProgramsTheImageDeletesTheFilesAndEndsOnSuccess) {
  Start(TestImage(40000));
  flash().Record(true);
  RunInstallation();
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(flash().contents()[40000], 0xFF);
  EXPECT_EQ(gCurPanel, 5);
  EXPECT_EQ(gErrCode, 0);
  EXPECT_EQ(gUpdateInProgress, 0);
  EXPECT_FALSE(OnCard(kCodeName));
  EXPECT_FALSE(OnCard("UPDATE.CAM"));
  EXPECT_EQ(GateChanges(), kEnableThenDisable);
  EXPECT_EQ(flash().counters().writeEnableViolations, 0u);
  EXPECT_EQ(flash().counters().wordsProgrammed, 20000u);
  EXPECT_EQ(flash().mode(), sim::FlashBus::Mode::ReadArray);
  EXPECT_EQ(gPanel[4].data, nullptr) << "bar rectangle released";
  // 1 + (40000 >> 14) + 1 + 10; ten erase waits, one before programming, two blocks pairs, one at the end.
  EXPECT_EQ(gProgressBarMax, 14u);
  EXPECT_EQ(gProgressBarValue, 14u);
  EXPECT_FALSE(camera_->interruptsLocked);
  EXPECT_EQ(camera_->faultsInsideLock, 0);
}

struct EraseCase {
  const char* what;
  bool blank;
  bool neverErase;
  std::uint64_t erases, blankChecks;
  bool succeeds;
};

TEST_F(Install, EraseAttempts) {
  const EraseCase cases[] = {
      {"blank at once", true, false, 0, 1, true},
      {"blank after one erase", false, false, 1, 2, true},
      {"never blank", false, true, 4, 4, false},
  };
  for (const EraseCase& c : cases) {
    SCOPED_TRACE(c.what);
    InstallOptions options;
    options.blankFlash = c.blank;
    if (c.neverErase) options.flash.neverErase = {{0x1000, 0x1}};
    Start(TestImage(1000), options);
    flash().Record(true);
    RunInstallation();
    EXPECT_EQ(flash().counters().erases, c.erases);
    EXPECT_EQ(flash().counters().blankChecks, c.blankChecks);
    EXPECT_EQ(GateChanges(), kEnableThenDisable);
    EXPECT_EQ(gCurPanel, c.succeeds ? 5 : 8);
    EXPECT_EQ(gUpdateInProgress, 0);
    if (c.succeeds) {
      EXPECT_TRUE(FlashHoldsImage());
      // A blank ROM takes no erase steps: the bar stops ten short before the success panel.
      EXPECT_EQ(gProgressBarValue, c.blank ? 2u : 12u);
    } else {
      EXPECT_EQ(LogLines().back(), "Could not format rom.");
      EXPECT_EQ(gErrCode, -2);
      EXPECT_EQ(flash().counters().wordsProgrammed, 0u);
      EXPECT_TRUE(FilesOnCard());
    }
    TearDown();
  }
}

TEST_F(Install, MissingCodeFileLeavesTheRomAndItsGateAlone) {
  Start(TestImage(1000));
  std::filesystem::remove(card_ / "SYSTEM" / kCodeName);
  flash().Record(true);
  RunInstallation();
  EXPECT_EQ(LogLines().back(), "File /B/SYSTEM/QR40TEST.BIN not found.");
  EXPECT_EQ(gErrCode, -4);
  EXPECT_EQ(gCurPanel, 8);
  EXPECT_TRUE(flash().recorded().empty());
  EXPECT_EQ(gUpdateInProgress, 0) << "the error panel can power down";
}

std::string VerifyLine(std::uint32_t expected, std::uint32_t read) {
  char line[80];
  std::snprintf(line, sizeof line, "Flash verify failed: expected=%08X read=%08X", expected, read);
  return line;
}

TEST_F(Install, ProgrammingFailuresEndOnTheErrorPanelAndKeepTheFiles) {
  const std::vector<std::uint8_t> image = TestImage(1000);
  const std::vector<std::uint8_t> changed = TestImage(1000, 9);
  // Image byte 0x13 has bit 3 clear; the stuck bit leaves it set.
  ASSERT_EQ(image[0x13] & 8, 0);
  enum Fault { kShortFile, kBadSeek, kChangedFile, kStuckBit, kEraseHangs, kProgramHangs };
  const struct {
    Fault fault;
    std::vector<std::string> lastLog;
  } cases[] = {
      {kShortFile, {"Could not program rom."}},
      {kBadSeek, {"Could not seek pass header.", "Could not program rom."}},
      {kChangedFile, {VerifyLine(vestra_test::ByteSum(image), vestra_test::ByteSum(changed))}},
      {kStuckBit, {VerifyLine(vestra_test::ByteSum(image), vestra_test::ByteSum(image) + 8)}},
      {kEraseHangs, {"Flash device not ready.", "Could not format rom."}},
      {kProgramHangs, {"Flash device not ready.", "Could not program rom."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    InstallOptions options;
    if (c.fault == kStuckBit) options.flash.neverProgram = {{0x10, 0x00000008}};
    options.flash.neverReady = c.fault == kEraseHangs || c.fault == kProgramHangs;
    options.blankFlash = c.fault == kProgramHangs;  // no erase: the first word program hangs
    Start(image, options);
    if (c.fault == kShortFile) {  // the card lost the end of the file
      std::vector<std::uint8_t> cut = vestra_test::CodeFile(image);
      cut.resize(64 + 900);
      WriteCardFile(kCodeName, cut);
    }
    if (c.fault == kBadSeek) gFile[0].header.headerSize = 0x80000000;
    if (c.fault == kChangedFile) WriteCardFile(kCodeName, vestra_test::CodeFile(changed));
    flash().Record(true);
    RunInstallation();
    const auto& log = LogLines();
    ASSERT_GE(log.size(), c.lastLog.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<std::ptrdiff_t>(c.lastLog.size()), log.end()),
              c.lastLog);
    EXPECT_EQ(gErrCode, -2);
    EXPECT_EQ(gCurPanel, 8);
    EXPECT_EQ(gUpdateInProgress, 0);
    EXPECT_TRUE(FilesOnCard());
    EXPECT_EQ(GateChanges(), kEnableThenDisable);
    EXPECT_FALSE(camera_->interruptsLocked);
    TearDown();
  }
}

struct RegionCase {
  const char* what;
  const char* debugText;
  std::uint32_t fileRegion;
  bool failSet, failFlush;
  std::optional<std::uint32_t> eeprom;
  const char* log;  // last line, or null for none from the region rewrite
};

TEST_F(Install, RegionCodeRewriteRules) {
  const RegionCase cases[] = {
      {"not debug, other region", "", 8, false, false, std::nullopt, nullptr},
      {"debug, same region", "DEBUG", 1, false, false, std::nullopt, nullptr},
      {"debug, other region", "DEBUG", 8, false, false, 8u, nullptr},
      {"set refused", "DEBUG", 8, true, false, std::nullopt, "Could not change EEPROM region code (8)."},
      {"set refused, top bit set", "DEBUG", 0x80000001u, true, false, std::nullopt,
       "Could not change EEPROM region code (-2147483647)."},
      {"flush refused", "DEBUG", 8, false, true, std::nullopt, "Could not flush EEPROM."},
  };
  for (const RegionCase& c : cases) {
    SCOPED_TRACE(c.what);
    InstallOptions options;
    options.debugText = c.debugText;
    options.fileRegion = c.fileRegion;
    Start(TestImage(64), options);
    camera_->failParameterWrite = c.failSet;
    camera_->failEepromFlush = c.failFlush;
    RunInstallation();
    EXPECT_EQ(camera_->eepromRegion, c.eeprom);
    EXPECT_EQ(gCurPanel, 5) << "the region code never fails the run";
    if (c.log != nullptr) {
      ASSERT_FALSE(LogLines().empty());
      EXPECT_EQ(LogLines().back(), c.log);
    }
    // Debug mode keeps the update files.
    EXPECT_EQ(OnCard(kCodeName), c.debugText[0] != '\0');
    TearDown();
  }
}

TEST_F(Install, ProgressMaximumFollowsTheImageLength) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0x1FFFFF, 139}, {16383, 12}, {16384, 13}, {0, 12}};
  for (auto [length, maximum] : cases) {
    gFile[0].header.headerSize = 64;
    gFile[0].header.trailerOffset = 64 + length;
    CalcProgressBarMax();
    EXPECT_EQ(gProgressBarMax, maximum) << length;
  }
}

}  // namespace
