// The installation on the simulated camera: the flash programmer's bus sequences, blocks and progress steps,
// how each way through a run ends, the write-enable gate, the region code and how long it takes.
#include "install/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "harness/install_estimate.h"
#include "install/file_access.h"
#include "install/flash_rom.h"
#include "package/digest.h"
#include "panels/panels.h"
#include "platform/hardware.h"
#include "services/power.h"
#include "sim/graphics.h"
#include "sim/kernel.h"
#include "tests/install/install_fixture.h"

namespace {

using Kind = sim::FlashBus::BusOp::Kind;
using Op = sim::FlashBus::BusOp;
using vestra_test::TestImage;
constexpr std::uint32_t kBase = 0xBF000000;
using Install = vestra_test::InstallTest;
using Gate = std::vector<std::pair<std::uint32_t, bool>>;

// The write-enable register changes of a run, in order: register and new bit 3.
Gate GateChanges(const sim::FlashBus& bus) {
  Gate changes;
  for (const auto& op : bus.recorded())
    if (op.kind == Kind::Modify32) changes.emplace_back(op.address, (op.value & 8) != 0);
  return changes;
}

std::string VerifyLine(std::uint32_t expected, std::uint32_t read) {
  char line[80];
  std::snprintf(line, sizeof line, "Flash verify failed: expected=%08X read=%08X", expected, read);
  return line;
}

std::uint32_t Crc(const std::vector<std::uint8_t>& bytes) {
  return Crc32Final(Crc32Update(kCrc32Start, bytes.data(), static_cast<std::uint32_t>(bytes.size())));
}

std::string ChangedLine(const std::vector<std::uint8_t>& verified, const std::vector<std::uint8_t>& read) {
  char line[96];
  std::snprintf(line, sizeof line, "Image on the card changed after it was verified: expected=%08X read=%08X",
                Crc(verified), Crc(read));
  return line;
}

enum Fault {
  kOk,
  kBlank,
  kDirtyLast,
  kNeverBlank,
  kNeverBlankLast,
  kNoFile,
  kShort,
  kBadSeek,
  kChanged,
  kSwapped,
  kTraded,
  kStuck,
  kEraseHang,
  kProgHang
};

const char* FaultName(Fault fault) {
  switch (fault) {
    case kOk:
      return "no fault";
    case kBlank:
      return "blank ROM";
    case kDirtyLast:
      return "only the last word not blank";
    case kNeverBlank:
      return "never blank";
    case kNeverBlankLast:
      return "last word never blank";
    case kNoFile:
      return "code file gone";
    case kShort:
      return "image cut short";
    case kBadSeek:
      return "seek past the header fails";
    case kChanged:
      return "image changed on the card";
    case kSwapped:
      return "bytes swapped on the card";
    case kTraded:
      return "bytes traded in the flash";
    case kStuck:
      return "bit stuck in the flash";
    case kEraseHang:
      return "erase never ready";
    case kProgHang:
      return "word program never ready";
  }
  return "?";
}

class FlashRom : public vestra_test::InstallTest {
 protected:
  void SetUp() override { StartWriting({}); }
  void StartWriting(const sim::FlashProfile& profile) {
    Start(TestImage(16), {.flash = profile, .blankFlash = true});
    vestra::modify32(0xBE800000, 0xFFFFFFFF, 8);
    vestra::modify32(0xBE800004, ~8u, 0);
  }
  // Writes a card file and opens it for reading.
  vestra::FILE* Stream(const std::vector<std::uint8_t>& bytes) {
    WriteCardFile("IMG.BIN", bytes);
    vestra::FILE* stream = nullptr;
    EXPECT_EQ(open_f(&stream, "/B/SYSTEM/IMG.BIN", kOpenRead), 0);
    return stream;
  }
};

TEST_F(FlashRom, FirstTwoWordsOfAnImageOnTheBus) {
  vestra::FILE* stream = Stream({0x12, 0x34, 0x56, 0x78});
  flash().Record(true);
  std::uint32_t count = 0;
  EXPECT_EQ(RL_readdata(stream, 0, 4, &count), 0);
  close_f(stream);
  const std::vector<Op> expected{
      {Kind::Store16, kBase, 0x70, true},     {Kind::Load16, kBase, 0x80, true},
      {Kind::Store16, kBase, 0x40, true},     {Kind::Store16, kBase, 0x1234, true},
      {Kind::Load16, kBase, 0x00, true},      {Kind::Load16, kBase, 0x80, true},
      {Kind::Store16, kBase, 0x70, true},     {Kind::Load16, kBase, 0x80, true},
      {Kind::Store16, kBase + 2, 0x40, true}, {Kind::Store16, kBase + 2, 0x5678, true},
      {Kind::Load16, kBase, 0x00, true},      {Kind::Load16, kBase, 0x80, true},
      {Kind::Store16, kBase, 0xFF, false},
  };
  EXPECT_EQ(flash().recorded(), expected);
  EXPECT_EQ(camera_->kernel().intLockCalls, 2) << "one lock per word";
  EXPECT_EQ(count, 4u);
}

// Each status read of a busy device lets up to a millisecond pass: a word is waited for 100 s at most.
TEST_F(FlashRom, AWordIsWaitedForUpToThePollBound) {
  const struct {
    double programSeconds;
    std::int32_t result;
    std::uint32_t count;
  } cases[] = {{90, 0, 2}, {110, -1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "a word program of " << c.programSeconds << " s");
    StartWriting({.wordProgramUs = c.programSeconds * 1e6});
    vestra::FILE* stream = Stream({0x12, 0x34});
    std::uint32_t count = 0;
    EXPECT_EQ(RL_readdata(stream, 0, 2, &count), c.result);
    close_f(stream);
    EXPECT_EQ(count, c.count);
    if (c.result == 0) {
      EXPECT_EQ(flash().contents()[0], 0x12);
    }
  }
}

TEST_F(FlashRom, FullChipEraseSequenceAndItsProgressSteps) {
  flash().Record(true);
  EXPECT_EQ(FullChipErase(), 0);
  const auto& ops = flash().recorded();
  std::vector<std::pair<std::uint32_t, std::uint32_t>> stores;  // address and command
  for (const Op& op : ops)
    if (op.kind == Kind::Store16) stores.emplace_back(op.address, op.value);
  EXPECT_EQ(stores, (decltype(stores){{kBase, 0x70}, {kBase, 0x30}, {kBase, 0xD0}, {kBase, 0xFF}}));
  // A ready status read before the erase command, busy reads during it, and ready before Read Array.
  EXPECT_EQ(ops[1], (Op{Kind::Load16, kBase, 0x80, false}));
  EXPECT_EQ(ops[4].value, 0u);
  EXPECT_EQ(ops[ops.size() - 2], (Op{Kind::Load16, kBase, 0x80, false}));
  EXPECT_EQ(gProgressBarValue, 10u) << "one step per 100-tick wait of a 10 s erase";
  EXPECT_EQ(flash().mode(), sim::FlashBus::Mode::ReadArray);
}

// The read-back digests the flash in chunks: sum and CRC-32 must be the plain ones at every length around a
// chunk's edge, from any even offset.
TEST_F(FlashRom, ReadBackSumAndDigestAreThePlainOnes) {
  const std::vector<std::uint8_t> cells = TestImage(4096, 7);
  flash().Preload(0, cells);
  for (const std::uint32_t offset : {0u, 2u, 1000u}) {
    for (const std::uint32_t length : {0u, 1u, 2u, 3u, 63u, 64u, 65u, 127u, 128u, 129u, 3000u}) {
      const std::vector<std::uint8_t> stretch(cells.begin() + offset, cells.begin() + offset + length);
      std::uint32_t plainSum = 0;
      for (const std::uint8_t b : stretch) plainSum += b;
      std::uint32_t digest = 0;
      EXPECT_EQ(FlashByteSum(offset, length, &digest), plainSum) << offset << "+" << length;
      EXPECT_EQ(digest, Crc32Final(Crc32Update(kCrc32Start, stretch.data(), length)))
          << offset << "+" << length;
    }
  }
}

TEST_F(FlashRom, BlocksStopAtTheImageEnd) {
  const struct {
    const char* what;
    std::uint32_t length, steps, maximum;  // steps taken by the blocks; the bar's maximum for the length
  } cases[] = {
      {"exact multiple of the block", 16384, 1, 13},
      {"three blocks", 20000, 1, 13},
      {"empty image", 0, 0, 12},
      {"last block runs into the trailer", 10000, 1, 12},
      {"four blocks and a bit", 4 * 8192 + 1, 2, 14},
      {"odd length: the last word is padded with 0xFF", 3, 0, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    const std::vector<std::uint8_t> image = TestImage(c.length, 3);
    std::vector<std::uint8_t> file = image;
    file.insert(file.end(), {'D', 'O', 'N', 'E', 1, 2, 3, 4});  // the trailer
    vestra::FILE* stream = Stream(file);
    flash().Record(true);
    std::uint32_t count = 0;
    EXPECT_EQ(RL_readdata(stream, 0, c.length, &count), 0);
    EXPECT_EQ(count, c.length);
    EXPECT_EQ(gProgressBarValue, c.steps);
    gFile[0].header.trailerOffset = gFile[0].header.headerSize + c.length;
    CalcProgressBarMax();
    EXPECT_EQ(gProgressBarMax, c.maximum);
    auto contents = flash().contents();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), contents.begin()));
    EXPECT_TRUE(std::all_of(contents.begin() + c.length, contents.begin() + c.length + 64,
                            [](std::uint8_t b) { return b == 0xFF; }))
        << "nothing after the image reaches the flash";
    EXPECT_EQ(flash().recorded().back(), (Op{Kind::Store16, kBase, 0xFF, false})) << "ends in Read Array";
    EXPECT_EQ(flash().counters().wordsProgrammed, (c.length + 1) / 2);
    close_f(stream);
  }
}

TEST_F(Install, HowEachRunEnds) {
  const std::vector<std::uint8_t> image = TestImage(40000), changed = TestImage(40000, 9);
  std::vector<std::uint8_t> swapped = image;  // the same byte sum
  std::swap(swapped[30000], swapped[30001]);
  ASSERT_NE(swapped, image);
  ASSERT_EQ(image[0x13] & 8, 0);  // the stuck bit below leaves it set
  // The flash reads bytes 0x10 and 0x11 traded: the byte sum cannot tell.
  const std::uint32_t tradedBits = image[0x10] ^ image[0x11];
  std::vector<std::uint8_t> traded = image;
  std::swap(traded[0x10], traded[0x11]);
  ASSERT_NE(traded, image);
  const std::uint32_t sum = vupdate::ByteSum(image);
  const std::vector<std::uint8_t> file = vestra_test::CodeFile(image);
  const struct {
    Fault fault;
    std::int32_t errCode;
    std::uint64_t erases, blankChecks, words;
    std::vector<std::string> lastLog;
  } cases[] = {
      {kOk, 0, 1, 2, 20000, {}},
      {kBlank, 0, 0, 1, 20000, {}},
      {kDirtyLast, 0, 1, 2, 20000, {}},  // only the ROM's last word is not blank
      {kNeverBlank, -2, 4, 4, 0, {"Could not format rom."}},
      {kNeverBlankLast, -2, 4, 4, 0, {"Could not format rom."}},
      {kNoFile, -4, 0, 0, 0, {"File /B/SYSTEM/QR40TEST.BIN not found."}},
      {kShort, -2, 1, 2, 450, {"Could not read the image from the card.", "Could not program rom."}},
      {kBadSeek, -2, 1, 2, 0, {"Could not seek pass header.", "Could not program rom."}},
      {kChanged, -2, 1, 2, 20000, {ChangedLine(image, changed)}},
      {kSwapped, -2, 1, 2, 20000, {ChangedLine(image, swapped)}},
      {kTraded, -2, 1, 2, 20000, {VerifyLine(Crc(image), Crc(traded))}},
      {kStuck, -2, 1, 2, 20000, {VerifyLine(sum, sum + 8)}},
      {kEraseHang, -2, 1, 1, 0, {"Flash device not ready.", "Could not format rom."}},
      {kProgHang, -2, 0, 1, 1, {"Flash device not ready.", "Could not program rom."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(FaultName(c.fault));
    vestra_test::InstallOptions options;
    // With kProgHang no erase comes first: the first word program hangs.
    options.blankFlash = c.fault == kBlank || c.fault == kProgHang || c.fault == kDirtyLast;
    if (c.fault == kNeverBlank) options.flash.neverErase = {{0x1000, 0x1}};
    if (c.fault == kNeverBlankLast) options.flash.neverErase = {{0x1FFFFC, 0x1}};
    if (c.fault == kStuck) options.flash.neverProgram = {{0x10, 0x00000008}};
    options.flash.neverReady = c.fault == kEraseHang || c.fault == kProgHang;
    Start(image, options);
    if (c.fault == kDirtyLast) flash().Preload(0x1FFFFF, std::vector<std::uint8_t>{0xFE});
    if (c.fault == kTraded) flash().FlipReadBits({{0x10, tradedBits << 24 | tradedBits << 16}});
    if (c.fault == kNoFile) std::filesystem::remove(card_ / "SYSTEM" / kCodeName);
    if (c.fault == kShort) WriteCardFile(kCodeName, {file.begin(), file.begin() + 964});  // the end is lost
    if (c.fault == kBadSeek) gFile[0].header.headerSize = 0x80000000;
    if (c.fault == kChanged) WriteCardFile(kCodeName, vestra_test::CodeFile(changed));
    if (c.fault == kSwapped) WriteCardFile(kCodeName, vestra_test::CodeFile(swapped));
    flash().Record(true);
    const std::uint64_t frames = camera_->graphics().frameCount();
    const double before = camera_->clock().SecondsExact();
    RunInstallation();
    const auto& log = LogLines();
    EXPECT_EQ(std::vector<std::string>(log.end() - std::min(log.size(), c.lastLog.size()), log.end()),
              c.lastLog);
    EXPECT_EQ(gErrCode, c.errCode);
    EXPECT_EQ(gCurPanel, c.errCode == 0 ? 5 : 8);
    EXPECT_EQ(gUpdateInProgress, 0) << "the error panel can power down";
    EXPECT_EQ(flash().counters().erases, c.erases);
    EXPECT_EQ(flash().counters().blankChecks, c.blankChecks);
    if (c.fault == kNoFile) {
      EXPECT_TRUE(flash().recorded().empty()) << "the ROM and its gate are left alone";
    } else {
      EXPECT_EQ(GateChanges(flash()), (Gate{{0xBE800000, true}, {0xBE800004, false}, {0xBE800004, true}}));
    }
    EXPECT_EQ(flash().counters().writeEnableViolations, 0u);
    EXPECT_FALSE(camera_->interruptsLocked);
    EXPECT_EQ(camera_->faultsInsideLock, 0);
    EXPECT_EQ(OnCard("UPDATE.CAM"), c.errCode != 0) << "a failure keeps the update files";
    EXPECT_EQ(OnCard(kCodeName), c.errCode == -2);
    EXPECT_EQ(flash().counters().wordsProgrammed, c.words);
    if (c.errCode != 0) continue;
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash().contents().begin()));
    EXPECT_EQ(flash().contents()[40000], 0xFF);
    EXPECT_EQ(flash().mode(), sim::FlashBus::Mode::ReadArray);
    EXPECT_EQ(gPanel[kProgressPanel].data, nullptr) << "bar rectangle released";
    // 1 + (40000 >> 14) + 1 + 10: ten erase waits, one before programming, two block pairs, one at the end. A
    // blank ROM takes no erase steps: the bar stops ten short before the success panel.
    EXPECT_EQ(gProgressBarMax, 14u);
    EXPECT_EQ(gProgressBarValue, c.fault == kBlank ? 4u : 14u);
    // Each step moves the 165-pixel fill by eleven pixels or more, so each is a frame between the two panels.
    EXPECT_EQ(camera_->graphics().frameCount() - frames, 2 + gProgressBarValue);
    const harness::InstallEstimate estimate = harness::EstimateInstallation(options.flash, 40000);
    EXPECT_EQ(estimate.words, c.words);
    EXPECT_NEAR(camera_->clock().SecondsExact() - before,
                estimate.deviceSeconds() - (c.fault == kBlank ? estimate.eraseSeconds : 0), 1e-6)
        << "the estimate is the run's time; a blank ROM takes no erase";
  }
}

// Without a copy of the resource block the erase takes the logo icon with it: the success panel goes without.
TEST_F(Install, TheLogoOutlivesTheEraseOnlyInACopiedResourceBlock) {
  for (const bool copied : {true, false}) {
    SCOPED_TRACE(copied ? "resource block copied" : "no memory for the copy");
    Start(TestImage(64), {.resourcesCopied = copied});
    ASSERT_EQ(gResourcesInRAM, copied ? 1 : 0);
    RunInstallation();
    ASSERT_EQ(gCurPanel, kSuccessPanel);
    camera_->graphics().clearRecords();
    AppDraw();
    EXPECT_EQ(camera_->graphics().iconPlots().size(), copied ? 1u : 0u);
  }
}

TEST_F(Install, RegionCodeRewriteRules) {
  const struct {
    const char* what;
    const char* debugText;
    std::uint32_t fileRegion;
    bool failSet, failFlush;
    std::optional<std::uint32_t> eeprom;
    const char* log;  // the last line of the log
  } cases[] = {
      {"not debug, other region", "", 8, false, false, std::nullopt, ""},
      {"debug, same region", "DEBUG", 1, false, false, std::nullopt, ""},
      {"debug, other region", "DEBUG", 8, false, false, 8u, ""},
      {"set refused", "DEBUG", 8, true, false, std::nullopt, "Could not change EEPROM region code (8)."},
      {"set refused, top bit set", "DEBUG", 0x80000001u, true, false, std::nullopt,
       "Could not change EEPROM region code (-2147483647)."},
      {"flush refused", "DEBUG", 8, false, true, std::nullopt, "Could not flush EEPROM."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start(TestImage(64), {.fileRegion = c.fileRegion, .debugText = c.debugText});
    camera_->failParameterWrite = c.failSet;
    camera_->failEepromFlush = c.failFlush;
    RunInstallation();
    EXPECT_EQ(camera_->eepromRegion, c.eeprom);
    EXPECT_EQ(gCurPanel, 5) << "the region code never fails the run";
    EXPECT_EQ(LogLines().empty() ? "" : LogLines().back(), c.log);
    EXPECT_EQ(OnCard(kCodeName), c.debugText[0] != '\0') << "debug mode keeps the update files";
  }
}

TEST(InstallEstimate, LineNamesEachPart) {
  sim::FlashProfile flash;
  EXPECT_EQ(
      harness::InstallEstimateLine(harness::EstimateInstallation(flash, 0x1FFFFF)),
      "installation: about 19.4 s on the camera's clock from the progress screen to the success screen "
      "(erase 10.0 s, programming 8.4 s for 1048576 words, pauses 1.01 s); a real card's reads add about "
      "2.1 s at 1000 kB/s");
  flash.neverReady = true;
  EXPECT_EQ(harness::InstallEstimateLine(harness::EstimateInstallation(flash, 100)),
            "installation: the flash device never reports ready; the camera gives up after about 601 s");
}

// Through the key script: the code file is pulled from the card after verification, before "Update".
using InstallRun = vestra_test::RunTest;

TEST_F(InstallRun, CodeFilePulledBeforeUpdateEndsOnTheErrorPanelThatCanPowerDown) {
  PutUpdateFile();
  const harness::RunResult r = Run("left,left,left,remove:SYSTEM/QR40A.BIN,centre,right");
  EXPECT_EQ(r.panels, (std::vector<PanelId>{kSplashPanel, kVersionPanel, kLicencePanel, kPowerWarningPanel,
                                            kProgressPanel, kErrorPanel}));
  EXPECT_EQ(r.errCode, -4);
  ASSERT_FALSE(r.logLines.empty());
  EXPECT_EQ(r.logLines.back(), "File /B/SYSTEM/QR40A.BIN not found.");
  ASSERT_TRUE(r.flash.has_value());
  EXPECT_EQ(r.flash->blankChecks, 0u);
  EXPECT_EQ(r.flash->erases, 0u);
  EXPECT_EQ(sim_test::ReadFile(dir_.path() / "flash.bin")[0], 'O') << "the old firmware is still there";
  EXPECT_TRUE(r.poweredDown) << "the error panel's key powers down after a failed installation";
}

}  // namespace
