// vupdate sweep on a small update: every bus operation cut, the camera powered up again and the update
// retried; faults on that power-up; verdicts that say what happened.
#include "cli/sweep.h"
#include "cli/sweep_classes.h"
#include "cli/sweep_points.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <map>
#include <set>
#include <string>

#include "cli_fixture.h"
#include "tests/sim/sim_fixture.h"
#include "tests/support/metadata.h"
#include "updatefile/update_file.h"

namespace {

using vupdate::FlashAfterCut;
using vupdate::RetryFaultKind;
namespace fs = std::filesystem;

std::string UpdateFile(std::size_t size, int seed, std::uint32_t region = 1) {
  std::vector<std::uint8_t> image(size);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + seed);
  vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
  meta.region = region;
  const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(image, meta));
  return {bytes.begin(), bytes.end()};
}

void WriteCard(const fs::path& card) {
  sim_test::WriteFile(card / "SYSTEM" / "UPDATE.CAM", "cam");
  sim_test::WriteFile(card / "SYSTEM" / "UPDATE.CRS", "crs");
  sim_test::WriteFile(card / "SYSTEM" / "QR40A.BIN", UpdateFile(64, 1));
}

class Sweep : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteCard(dir_.path() / "card");
    options_.card = dir_.path() / "card";
    options_.flash = dir_.path() / "flash.bin";  // absent: the old firmware
    options_.jobs = 2;
  }
  sim_test::TempDir dir_;
  vupdate::SweepOptions options_;
};

TEST_F(Sweep, NoCutLosesTheUpdateAndTheCardIsLeftAlone) {
  options_.points = "all";
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.installed);
  EXPECT_FALSE(r.lost);
  EXPECT_EQ(r.updateFiles, 3u);
  int states[4] = {};
  std::uint64_t judged = 0;
  for (const auto& range : r.ranges) {
    const vupdate::SweepPoint& p = range.point;
    SCOPED_TRACE(p.busOp);
    judged += range.lastOp - p.busOp + 1;
    ASSERT_TRUE(p.cutHappened);
    ++states[static_cast<int>(p.flash)];
    EXPECT_TRUE(p.retryRestored);
    EXPECT_FALSE(p.falseSuccess);
    if (p.flash == FlashAfterCut::kErased || p.flash == FlashAfterCut::kPartial) {
      EXPECT_EQ(p.filesLeft, r.updateFiles) << "neither image in the flash: the update is still on the card";
    }
  }
  for (int s = 0; s < 4; ++s) EXPECT_GT(states[s], 0) << "flash state " << s << " never seen";
  EXPECT_EQ(judged, r.operations) << "every bus operation is a cut point";
  EXPECT_FALSE(fs::exists(options_.flash)) << "the sweep works on copies";
  EXPECT_TRUE(fs::exists(options_.card / "SYSTEM" / "QR40A.BIN"));
}

// [faults.retry] reaches the power-up after a cut and nothing else: the same fault on the first power-up
// keeps the update from installing at all.
TEST_F(Sweep, RetryFaultsReachOnlyThePowerUpAfterACut) {
  sim::FaultProfile pulled;
  pulled.cardPulledAtNs = 0;
  options_.profile.retry = pulled;
  options_.points = "6";
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.installed) << "the uncut run knows nothing of the retry's faults";
  EXPECT_FALSE(r.lost) << "a card back in its slot installs the update";
  int cut = 0;
  for (const auto& p : r.points) {
    if (!p.cutHappened) continue;
    ++cut;
    SCOPED_TRACE(p.busOp);
    EXPECT_TRUE(p.cleanRun);
    EXPECT_EQ(p.afterRetry.flash, p.flash) << "no card in the retry: it changes nothing";
    EXPECT_EQ(p.afterClean.flash, FlashAfterCut::kNew);
  }
  EXPECT_GT(cut, 3);

  options_.profile.faults = pulled;
  options_.profile.retry.reset();
  const vupdate::SweepResult first = vupdate::RunSweep(options_);
  EXPECT_FALSE(first.installed);
  EXPECT_TRUE(first.points.empty());
}

// The judge: a retry that takes the update files off the card while the flash holds neither image loses the
// update, wherever its cut fell and whatever fault it met.
TEST_F(Sweep, ARetryThatRemovesTheFilesLosesTheUpdate) {
  options_.retryKeys = "remove:SYSTEM/UPDATE.CAM,remove:SYSTEM/UPDATE.CRS,remove:SYSTEM/QR40A.BIN";
  options_.retryFaults = "battery";
  options_.points = "4";
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.installed);
  EXPECT_TRUE(r.lost);
  ASSERT_FALSE(r.retryOutcomes.empty());
  for (const auto& x : r.retryOutcomes) {
    const vupdate::CrossCut& cut = r.crossCuts[x.cut];
    SCOPED_TRACE(cut.name + " / " + r.retryFaults[x.fault].name);
    EXPECT_EQ(x.afterRetry.filesLeft, 0u);
    EXPECT_EQ(x.afterClean.flash, cut.afterCut.flash) << "nothing left to install";
    EXPECT_EQ(x.Lost(), cut.afterCut.flash != FlashAfterCut::kNew);
  }
}

TEST_F(Sweep, EveryRetryFaultKindRunsAfterEveryCutAndIsJudged) {
  options_.retryFaults = "default";
  options_.points = "2";
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.installed);
  std::map<RetryFaultKind, int> kinds;
  for (const auto& f : r.retryFaults) ++kinds[f.kind];
  EXPECT_EQ(kinds.size(), 5u);
  EXPECT_EQ(kinds[RetryFaultKind::kParam], 7);
  EXPECT_EQ(kinds[RetryFaultKind::kCard], 4);
  EXPECT_EQ(kinds[RetryFaultKind::kCut], 9);
  // Each chosen byte of the code file fails at each read that covers it: the image's bytes are read by the
  // verification and by programming.
  std::map<std::uint32_t, std::uint32_t> readsOf;
  for (const auto& f : r.retryFaults) {
    if (f.kind == RetryFaultKind::kRead)
      readsOf[f.readError.offset] = std::max(readsOf[f.readError.offset], f.readError.fromRead);
  }
  EXPECT_GE(readsOf[0], 2u) << "the header: its own read and the file's byte sum";
  EXPECT_GE(readsOf[64], 3u) << "the first image byte: both verification passes and programming";

  std::size_t reached = 0;
  for (const auto& c : r.crossCuts) reached += c.reached ? 1 : 0;
  EXPECT_GE(reached, 7u);
  EXPECT_FALSE(r.lost);
  EXPECT_EQ(r.retryOutcomes.size(), reached * r.retryFaults.size());
  for (const auto& x : r.retryOutcomes) {
    const vupdate::RetryFault& f = r.retryFaults[x.fault];
    const vupdate::CrossCut& cut = r.crossCuts[x.cut];
    SCOPED_TRACE(cut.name + " / " + f.name);
    // Nothing that fails on the retry is a verdict on the file: the files stay, the clean power-up installs.
    EXPECT_FALSE(x.Lost());
    if (f.kind == RetryFaultKind::kCut && cut.afterCut.flash != FlashAfterCut::kNew &&
        f.cut.at != sim::PowerCutPoint::At::kLogWrite) {
      EXPECT_TRUE(x.retryCut) << "the retry installs again, so its cut falls";
    }
  }
}

// The classes of cut states against every point run for real, on updates that reach every corner of the walk:
// a half word at the end of the image, an EEPROM rewrite, a log written at the end, a retry that meets a card
// fault or a second cut and is followed by a clean power-up. Each verdict, with every power-up's panel,
// error, bus operations and virtual time, must be the one its class gave.
struct ClassRow {
  const char* name;
  std::function<std::string()> code;
  sim::FaultProfile first;
  std::optional<sim::FaultProfile> retry;
  const char* retryFaults;
  bool logWritten;
};

std::string DebugFile(std::uint32_t region) {
  std::vector<std::uint8_t> image(48);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  vupdate::UpdateMetadata meta = vestra_test::GoodMetadata();
  meta.debug = "BENCH";
  meta.region = region;
  const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(image, meta));
  return {bytes.begin(), bytes.end()};
}

const ClassRow kClassRows[] = {
    {"OddLengthImage", [] { return UpdateFile(37, 3); }, {}, std::nullopt, "none", false},
    {"DebugFileMovesTheRegion", [] { return DebugFile(2); }, {}, std::nullopt, "none", false},
    {"DebugFileWhoseRegionWriteFailsOverALog",
     [] { return DebugFile(2); },
     {.eepromWriteFail = true},
     std::nullopt,
     "none",
     true},
    {"CardReadOnlyOnTheRetry",
     [] { return UpdateFile(40, 4); },
     {},
     sim::FaultProfile{.cardReadOnlyAtNs = 0},
     "none",
     false},
    {"CardReadErrorOnTheRetry",
     [] { return UpdateFile(40, 5); },
     {},
     sim::FaultProfile{
         .cardReadErrors = {{.file = "SYSTEM/QR40A.BIN", .offset = 70, .fromRead = 1, .times = 1}}},
     "none",
     false},
    {"SecondCutsAndLowBatteries", [] { return UpdateFile(21, 6); }, {}, std::nullopt, "cut,battery", false},
};

// Rows print their names in test listings.
void PrintTo(const ClassRow& row, std::ostream* os) {
  *os << row.name;
}

class SweepClasses : public Sweep, public ::testing::WithParamInterface<ClassRow> {};

TEST_P(SweepClasses, EveryPointRunForRealAgreesWithItsClass) {
  const ClassRow& row = GetParam();
  sim_test::WriteFile(options_.card / "SYSTEM" / "QR40A.BIN", row.code());
  if (row.logWritten) sim_test::WriteFile(options_.card / "SYSTEM" / "UPDATE.LOG", "an earlier update\n");
  options_.profile.faults = row.first;
  options_.profile.retry = row.retry;
  options_.retryFaults = row.retryFaults;
  options_.points = "all";
  options_.verifyClasses = true;
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  ASSERT_TRUE(r.installed);
  EXPECT_GT(r.verified, 100u);
  EXPECT_TRUE(r.disagreements.empty()) << r.disagreements.front();
  std::uint64_t judged = 0;
  for (const auto& range : r.ranges) judged += range.lastOp - range.point.busOp + 1;
  EXPECT_EQ(judged, r.operations) << "a verdict for every bus operation";
  EXPECT_LT(r.classes.size() * 4, r.verified) << "the classes spare most of the runs";
  EXPECT_EQ(r.faultSweeps.size(), r.retryFaults.size());
  EXPECT_EQ(r.faultChecks.empty(), r.retryFaults.empty());
  const auto log = std::find_if(r.points.begin(), r.points.end(), [](const vupdate::SweepPoint& p) {
    return p.cut.at == sim::PowerCutPoint::At::kLogWrite;
  });
  ASSERT_NE(log, r.points.end());
  EXPECT_EQ(log->cutHappened, row.logWritten);
  EXPECT_FALSE(r.lost);
}

INSTANTIATE_TEST_SUITE_P(Updates, SweepClasses, ::testing::ValuesIn(kClassRows),
                         [](const ::testing::TestParamInfo<ClassRow>& info) { return info.param.name; });

// The cross-check catches a class key that leaves something out: here the flash past its first block, which
// the blank check of a power-up after a cut in the erase reads.
TEST_F(Sweep, TheCrossCheckCatchesAKeyThatLeavesTheFlashPastItsFirstBlockOut) {
  options_.points = "all";
  options_.verifyClasses = true;
  options_.keyFault = vupdate::KeyFault::kFlashBeyondFirstBlock;
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  EXPECT_FALSE(r.disagreements.empty());
}

// The command as a person runs it: what it says, and with which exit code.
class SweepCommand : public cli_test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteCard(card_);
    sim_test::WriteFile(profile_, "region = 1\n");
  }
  cli_test::Outcome Sweep(std::vector<std::string> extra) {
    std::vector<std::string> args = {"sweep",         "--card",          card_.string(),
                                     "--camera",      profile_.string(), "--flash",
                                     flash_.string(), "--jobs",          "2"};
    for (std::size_t i = 0; i + 1 < extra.size(); i += 2) {
      const auto it = std::find(args.begin(), args.end(), extra[i]);
      if (it != args.end()) {
        it[1] = extra[i + 1];
      } else {
        args.insert(args.end(), {extra[i], extra[i + 1]});
      }
    }
    return Vupdate(args);
  }
  static std::string Line(const std::string& out, const std::string& start) {
    const std::size_t at = out.find(start);
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
  }
  fs::path card_ = work_ / "card", profile_ = work_ / "camera.toml", flash_ = work_ / "flash.bin";
};

TEST_F(SweepCommand, AnUpdateThatNeverInstallsIsNotAPass) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::function<void(const fs::path&)> change;
    const char* says;
  } rows[] = {
      {"a camera that refuses the file",
       {"--camera", VESTRA_SAMPLES_DIR "/camera-eu.toml"},
       nullptr,
       "first log line: "},
      {"a card without UPDATE.CRS",
       {},
       [](const fs::path& card) { fs::remove(card / "SYSTEM" / "UPDATE.CRS"); },
       "ended on panel"},
      {"keys that never start the installation",
       {"--keys", "left,left,left,right"},
       nullptr,
       "0 bus operations"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteCard(card_);
    if (row.change) row.change(card_);
    const cli_test::Outcome o = Sweep(row.args);
    EXPECT_EQ(o.exit, 4) << o.out << o.err;
    EXPECT_NE(o.out.find("NOT SWEPT: the uncut run did not install the update"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(row.says), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("no cut loses"), std::string::npos) << o.out;
  }
}

TEST_F(SweepCommand, TheBrickWindowIsTheRecordedRunsWhateverPointsAreSwept) {
  const cli_test::Outcome all = Sweep({"--points", "default"});
  const cli_test::Outcome few = Sweep({"--points", "3"});
  ASSERT_EQ(all.exit, 0) << all.out << all.err;
  ASSERT_EQ(few.exit, 0) << few.out << few.err;
  const std::string window = Line(all.out, "brick window:");
  EXPECT_NE(window, "");
  EXPECT_EQ(window, Line(few.out, "brick window:"));
}

TEST_F(SweepCommand, TheCodeFileIsTheOneTheCameraChose) {
  // Two code files: the camera lists its folder in name order and takes the first.
  sim_test::WriteFile(card_ / "SYSTEM" / "QR40B.BIN", UpdateFile(96, 5));
  sim_test::WriteFile(card_ / "SYSTEM" / "QR40A.BIN", UpdateFile(64, 9));
  vupdate::SweepOptions o;
  o.card = card_;
  o.flash = flash_;
  o.points = "8";
  o.jobs = 2;
  const vupdate::SweepResult r = vupdate::RunSweep(o);
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.installed);
  EXPECT_EQ(r.codeFile, "SYSTEM/QR40A.BIN");
  EXPECT_FALSE(r.lost);
}

TEST_F(SweepCommand, BadInputsAreRefusedInOneLineBeforeAnythingRuns) {
  const fs::path fifo = work_ / "fifo";
  const bool haveFifo = ::mkfifo(fifo.c_str(), 0644) == 0;
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{"--flash", fifo.string()}, "is a fifo"},
      {{"--camera", fifo.string()}, "is a fifo"},
      {{"--flash", profile_.string()}, "must hold exactly 2097152 bytes"},
      {{"--card", profile_.string()}, "is not a folder"},
      {{"--points", "-1"}, "--points"},
      {{"--points", "0"}, "--points"},
      {{"--points", "12x"}, "--points"},
      {{"--points", "99999999999999999999999"}, "--points"},
      {{"--retry-faults", "read,smoke"}, "--retry-faults"},
      {{"--keys", "left,sideways"}, "--keys"},
  };
  for (const auto& [args, says] : rows) {
    if (!haveFifo && args[1] == fifo.string()) continue;
    SCOPED_TRACE(args[0] + " " + args[1]);
    const cli_test::Outcome o = Sweep(args);
    EXPECT_EQ(o.exit, 2);
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(says), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
  }
  EXPECT_FALSE(fs::exists(flash_)) << "a sweep only reads the flash file";
}

// A release gate reads the JUnit report: a case per class of cut states, failing where the update is lost
// (here a retry that takes the files off the card), with names of panels and result codes.
TEST_F(SweepCommand, JunitHasACasePerClassAndFailsTheLostOnes) {
  const fs::path junit = work_ / "sweep.xml";
  const cli_test::Outcome o =
      Sweep({"--points", "all", "--junit", junit.string(), "--retry-keys",
             "remove:SYSTEM/UPDATE.CAM,remove:SYSTEM/UPDATE.CRS,remove:SYSTEM/QR40A.BIN"});
  EXPECT_EQ(o.exit, 1) << o.out << o.err;
  const std::string xml = sim_test::ReadFile(junit);
  EXPECT_NE(xml.find("classname=\"sweep.classes\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<failure"), std::string::npos) << xml;
  EXPECT_NE(xml.find("result 0 (accepted)"), std::string::npos) << "result codes by name";
}

// Sweep and serve say in their help what they do when an option is left out, and what each exit code means.
TEST_F(SweepCommand, HelpListsDefaultsAndExitCodes) {
  const std::pair<const char*, std::vector<const char*>> rows[] = {
      {"sweep", {"=left,left,left,centre", "=default", "=none", "Exit status: 0 ", " 4 nothing swept"}},
      {"serve", {"=8080", "=127.0.0.1", "without --flash", "Exit status: 0 "}},
  };
  for (const auto& [command, says] : rows) {
    const cli_test::Outcome o = Vupdate({command, "--help"});
    EXPECT_EQ(o.exit, 0);
    for (const char* text : says) EXPECT_NE(o.out.find(text), std::string::npos) << command << ": " << text;
  }
}

}  // namespace

namespace {

// A small update's bus trace: enable, chip erase with five polls, blank check, three 64 KiB blocks of 40
// words each, read-back, disable.
struct Trace {
  using Op = sim::FlashBus::BusOp;
  std::vector<Op> ops;
  std::vector<std::uint64_t> erasePolls, boundaries, blockEnds;  // 1-based operation numbers
  std::uint64_t Add(Op::Kind kind, std::uint32_t address, std::uint32_t value) {
    ops.push_back({kind, address, value, false});
    return ops.size();
  }
  Trace() {
    const std::uint32_t base = sim::kFlashBusBase;
    boundaries.push_back(Add(Op::Kind::Modify32, sim::kFlashRegister1, 0));
    boundaries.push_back(Add(Op::Kind::Store16, base, vestra::kFlashChipErase));
    Add(Op::Kind::Store16, base, vestra::kFlashConfirm);
    for (int i = 0; i < 5; ++i) erasePolls.push_back(Add(Op::Kind::Load16, base, 0));
    Add(Op::Kind::Store16, base, vestra::kFlashReadArray);
    boundaries.push_back(Add(Op::Kind::Load32, base + 0x100, 0xFFFFFFFF));
    for (std::uint32_t block = 0; block < 3; ++block) {
      for (std::uint32_t word = 0; word < 40; ++word) {
        const std::uint64_t command = Add(Op::Kind::Store16, base, vestra::kFlashWordProgram);
        if (block == 0 && word == 0) boundaries.push_back(command);
        Add(Op::Kind::Store16, base + (block << 16) + word * 2, 0x1234);
        const std::uint64_t poll = Add(Op::Kind::Load16, base, vestra::kFlashStatusReady);
        if (word == 0 || word == 39) blockEnds.push_back(poll);
      }
    }
    boundaries.push_back(Add(Op::Kind::Store16, base, vestra::kFlashReadArray));
    Add(Op::Kind::Load32, base, 0x12341234);
    boundaries.push_back(Add(Op::Kind::Modify32, sim::kFlashRegister1, vestra::kWriteEnableBit));
  }
};

// What the README promises `--points default` cuts at: every phase boundary, every erase poll, the first and
// last word of every 64 KiB block, 50 evenly spaced words, and the card's three points.
TEST(SweepPoints, DefaultCutsWhereTheReadmeSays) {
  const Trace trace;
  const auto points = vupdate::sweep::ChoosePoints("default", trace.ops, vupdate::sweep::Phases(trace.ops));
  std::set<std::uint64_t> ops;
  for (const auto& p : points)
    if (p.cut.at == sim::PowerCutPoint::At::kBusOp) ops.insert(p.cut.value);
  for (const auto* list : {&trace.boundaries, &trace.erasePolls, &trace.blockEnds})
    for (std::uint64_t op : *list) EXPECT_TRUE(ops.count(op)) << "operation " << op;
  // Word polls: the six block ends and 50 spaced words, three of which are block ends too.
  std::size_t wordPolls = 0;
  for (std::uint64_t op : ops) wordPolls += op >= 2 && trace.ops[op - 2].value == 0x1234;
  EXPECT_EQ(wordPolls, 53U);
  EXPECT_EQ(ops.size(), trace.boundaries.size() + trace.erasePolls.size() + 53);
  ASSERT_GE(points.size(), 3U);
  EXPECT_EQ(points[points.size() - 3].cut.at, sim::PowerCutPoint::At::kBeforeDelete);
  EXPECT_EQ(points[points.size() - 2].cut.at, sim::PowerCutPoint::At::kBetweenDeletes);
  EXPECT_EQ(points.back().cut.at, sim::PowerCutPoint::At::kLogWrite);
}

// A class's dependencies, kept as runs, give back exactly the cells of any window that a plain map of the
// same cells gives: across run boundaries, inside one run, before, after and between runs, and after the cut
// that the planted key fault makes.
TEST(SweepDependencies, AWindowHasTheCellsAPlainMapHas) {
  const std::vector<std::uint32_t> offsets = {0, 1, 2, 7, 9, 10, 11, 0x10000 - 1, 0x10000, 0x10001, 0x1FFFFF};
  struct Window {
    std::uint32_t offset;
    std::uint64_t length;
  };
  const Window windows[] = {
      {0, 1},      {1, 2},       {3, 4},        {2, 8}, {8, 3}, {11, 1},       {12, 0xFFF0},
      {0xFFFF, 2}, {0x10001, 1}, {0x1FFFFF, 1}, {0, 0}, {5, 0}, {0, 1u << 21}, {0x20000, 0x1DFFFF}};
  for (const std::uint32_t keepBelow : {0x200000u, 0x10000u, 10u, 9u, 0u}) {
    vupdate::sweep::Dependencies deps;
    std::map<std::uint32_t, std::uint8_t> plain;
    for (const std::uint32_t b : offsets) {
      deps.Add(b, static_cast<std::uint8_t>(b * 7 + 3));
      if (b < keepBelow) plain[b] = static_cast<std::uint8_t>(b * 7 + 3);
    }
    deps.KeepBelow(keepBelow);
    EXPECT_EQ(deps.size(), plain.size()) << "below " << keepBelow;
    for (const Window& w : windows) {
      std::vector<std::pair<std::uint32_t, std::uint8_t>> seen, want;
      deps.ForEachIn(w.offset, w.length, [&](std::uint32_t b, std::uint8_t v) { seen.emplace_back(b, v); });
      for (const auto& [b, v] : plain) {
        if (b >= w.offset && b - w.offset < w.length) want.emplace_back(b, v);
      }
      EXPECT_EQ(seen, want) << "below " << keepBelow << ", window " << w.offset << "+" << w.length;
    }
  }
}

}  // namespace