// The simulated flash device, driven through its bus as the camera's processor would.
#include "sim/flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "tests/sim/sim_fixture.h"

namespace {

using sim::FlashBus;
constexpr std::uint32_t kBase = sim::kFlashBusBase;

class SimFlash : public ::testing::Test {
 protected:
  // A device whose write-enable gate is opened as the updater opens it.
  FlashBus& Make(sim::FlashProfile profile = {}, std::filesystem::path file = {}) {
    bus_ = std::make_unique<FlashBus>(profile, clock_, std::move(file));
    bus_->Modify32(sim::kFlashRegister0, 0xFFFFFFFF, 8);
    bus_->Modify32(sim::kFlashRegister1, ~8u, 0);
    return *bus_;
  }
  // A two-cycle command (erase 0x30 0xD0, program 0x40 DATA), then status polls until ready.
  void Command(std::uint32_t address, std::uint16_t first, std::uint16_t second) {
    bus_->Store16(address, first);
    bus_->Store16(address, second);
    while ((bus_->Load16(kBase) & 0x80) == 0) continue;
  }
  sim::Clock clock_;
  std::unique_ptr<FlashBus> bus_;
};

TEST_F(SimFlash, EraseAndProgramWithWritingDisabledChangeNothingAndCountViolations) {
  FlashBus& bus = Make();
  bus.Modify32(sim::kFlashRegister1, 0xFFFFFFFF, 8);  // writing held off again: the first half is not enough
  const std::vector<std::uint8_t> before(bus.contents().begin(), bus.contents().end());
  bus.Store16(kBase, 0x30);
  bus.Store16(kBase, 0xD0);
  EXPECT_EQ(bus.Load16(kBase), 0x80 | 0x20 | 0x08);
  bus.Store16(kBase + 4, 0x40);
  bus.Store16(kBase + 4, 0x0000);
  EXPECT_EQ(bus.Load16(kBase), 0x80 | 0x20 | 0x10 | 0x08);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), bus.contents().begin()));
  EXPECT_EQ(bus.counters().writeEnableViolations, 2u);
  EXPECT_EQ(bus.counters().erases, 0u);
  EXPECT_EQ(bus.counters().wordsProgrammed, 0u);
  bus.Modify32(sim::kFlashRegister1, ~8u, 0);
  EXPECT_TRUE(bus.writeEnabled());
}

TEST_F(SimFlash, EraseTakesItsTimeThenEveryByteIsFFAndProgrammingOnlyClearsBits) {
  FlashBus& bus = Make({.eraseSeconds = 3});
  bus.Store16(kBase, 0x30);
  bus.Store16(kBase, 0xD0);
  EXPECT_EQ(bus.Load16(kBase), 0x00) << "busy, and reads answer with the status";
  EXPECT_EQ(bus.Load32(kBase), 0x00000000u);
  // A programmer sleeping between polls, as the updater does.
  int sleeps = 0;
  for (; (bus.Load16(kBase) & 0x80) == 0; ++sleeps) clock_.AdvanceTicks(100);
  EXPECT_EQ(sleeps, 3);
  EXPECT_GE(clock_.Nanoseconds(), 3'000'000'000u);
  EXPECT_EQ(bus.Load32(kBase), 0x00800080u) << "still in status mode";
  bus.Store16(kBase, 0xFF);
  for (std::uint32_t offset : {0u, 0x1000u, 0x1FFFFCu}) EXPECT_EQ(bus.Load32(kBase + offset), 0xFFFFFFFFu);
  EXPECT_EQ(bus.counters().erases, 1u);

  const std::uint64_t start = clock_.Nanoseconds();
  Command(kBase + 2, 0x40, 0x1234);
  EXPECT_EQ(clock_.Nanoseconds() - start, 8'000u) << "word_program_us of the default profile";
  Command(kBase + 2, 0x40, 0xFF0F);  // a 1 cannot come back by programming
  bus.Store16(kBase, 0xFF);
  EXPECT_EQ(bus.Load16(kBase + 2), 0x1204);
  EXPECT_EQ(bus.contents()[2], 0x12);  // big-endian: the high half at the lower address
  EXPECT_EQ(bus.contents()[3], 0x04);
  EXPECT_EQ(bus.Load16(kBase), 0xFFFF);
  EXPECT_EQ(bus.counters().wordsProgrammed, 2u);
}

// What the part leaves when its operation is stopped: by a cut, by write enable taken away, or not at all.
TEST_F(SimFlash, OperationsTakeEffectOverTheirTime) {
  enum class Stop { kPowerOff, kWriteDisable, kNothing };
  struct Case {
    const char* name;
    bool erase;            // else a program of 0x0000 over 0xFFFF at offset 0x20
    std::uint64_t stopNs;  // after the start
    Stop stop;
    std::uint32_t erasedUpTo;  // erase: every byte below is 0xFF, every byte from here is the old firmware
    std::uint16_t word;        // program: what the word holds afterwards
    std::uint8_t status;       // read after the stop, before Clear Status
  };
  const Case cases[] = {
      {"erase cut in its sixth block", true, 5'500'000'000, Stop::kPowerOff, 0x58000, 0, 0x80},
      {"erase cut before it began a block", true, 0, Stop::kPowerOff, 0, 0, 0x80},
      {"erase aborted by write enable", true, 5'500'000'000, Stop::kWriteDisable, 0x58000, 0, 0xA8},
      {"erase that outlived the updater's wait", true, 700'000'000'000, Stop::kNothing, sim::kFlashBusSize, 0,
       0x80},
      {"word cut halfway", false, 4'000, Stop::kPowerOff, 0, 0x00FF, 0x80},
      {"word aborted at a quarter", false, 2'000, Stop::kWriteDisable, 0, 0x0FFF, 0x98},
      {"word finished", false, 8'000, Stop::kNothing, 0, 0x0000, 0x80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlashBus& bus = Make({.eraseSeconds = 32});
    if (c.erase) {
      bus.Store16(kBase, 0x30);
      bus.Store16(kBase, 0xD0);
    } else {
      bus.Preload(0x20, std::vector<std::uint8_t>{0xFF, 0xFF});
      bus.Store16(kBase + 0x20, 0x40);
      bus.Store16(kBase + 0x20, 0x0000);
    }
    clock_.AdvanceNanoseconds(c.stopNs);
    if (c.stop == Stop::kWriteDisable) {
      bus.Modify32(sim::kFlashRegister1, 0xFFFFFFFF, 8);
      clock_.AdvanceNanoseconds(100'000'000'000);  // nothing goes on after the abort
      EXPECT_EQ(bus.Load16(kBase) & 0xFF, c.status);
      bus.Store16(kBase, 0x50);
      EXPECT_EQ(bus.Load16(kBase), 0x80) << "Clear Status";
    } else if (c.stop == Stop::kPowerOff) {
      bus.PowerOff();
      EXPECT_EQ(bus.mode(), FlashBus::Mode::ReadArray) << "what the next power-up finds";
    } else {
      EXPECT_EQ(bus.Load16(kBase) & 0xFF, c.status);
    }
    const auto cells = bus.contents();
    if (c.erase) {
      for (std::uint32_t at : {0u, 0x10000u, 0x57FFFu, 0x58000u, 0x1FFFFFu}) {
        EXPECT_EQ(cells[at], at < c.erasedUpTo ? 0xFF : FlashBus::OldFirmwareByte(at)) << at;
      }
    } else {
      EXPECT_EQ((cells[0x20] << 8) | cells[0x21], c.word);
    }
  }
}

TEST_F(SimFlash, ClearStatusClearsTheErrorBitsAndNothingElse) {
  FlashBus& bus = Make();
  bus.Store16(kBase, 0x99);  // not a command: SR.4 and SR.5
  EXPECT_EQ(bus.Load16(kBase), 0x80 | 0x20 | 0x10);
  bus.Modify32(sim::kFlashRegister1, 0xFFFFFFFF, 8);
  Command(kBase, 0x30, 0xD0);
  EXPECT_EQ(bus.Load16(kBase), 0x80 | 0x20 | 0x10 | 0x08);
  bus.Store16(kBase, 0x50);
  EXPECT_EQ(bus.Load16(kBase), 0x80);
  bus.Store16(kBase, 0xFF);
  bus.Store16(kBase, 0x50);
  EXPECT_EQ(bus.Load32(kBase + 0x120), 0x4F4C4420u) << "still reading the array";
}

TEST_F(SimFlash, TheBackingFileIsTheChipAtEveryInstant) {
  sim_test::TempDir dir;
  const auto file = dir.path() / "flash.bin";
  EXPECT_EQ(Make({}, file).Load32(kBase + 0x120), 0x4F4C4420u) << "no file: the old firmware, \"OLD \"";
  ASSERT_EQ(std::filesystem::file_size(file), sim::kFlashBusSize) << "created whole before the first access";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "nothing left beside it";
  Command(kBase, 0x30, 0xD0);
  Command(kBase + 0x10, 0x40, 0xCAFE);
  // Read while the device is still alive: nothing waits for the end of the run.
  const std::string bytes = sim_test::ReadFile(file);
  EXPECT_EQ(bytes.substr(0x10, 4), std::string("\xCA\xFE\xFF\xFF", 4));
  FlashBus& bus = Make({}, file);
  EXPECT_EQ(bus.Load16(kBase + 0x10), 0xCAFE);
  bus_.reset();
  for (auto size : {std::uintmax_t{1000}, std::uintmax_t{sim::kFlashBusSize + 2}}) {
    std::filesystem::resize_file(file, size);
    EXPECT_THROW(Make({}, file), std::runtime_error) << size;
  }
  std::filesystem::resize_file(file, 0);
  EXPECT_EQ(Make({}, file).Load32(kBase), 0x4F4C4420u) << "an empty file stands for a new flash";
  bus_.reset();
  std::filesystem::remove(file);
  std::filesystem::create_directory(file);
  EXPECT_THROW(Make({}, file), std::runtime_error) << "a folder is no flash";
}

// The bulk fill makes new chips; the byte function is what dumps and checks compare with: they must agree.
TEST(SimFlashPattern, BulkFillMatchesTheByteFunctionEverywhere) {
  std::vector<std::uint8_t> cells(sim::kFlashBusSize + 7, 0);  // a stretch that ends mid-record
  FlashBus::FillOldFirmware(std::span(cells).first(sim::kFlashBusSize - 9));
  for (std::uint32_t at = 0; at < cells.size(); ++at) {
    const std::uint8_t want = at < sim::kFlashBusSize - 9 ? FlashBus::OldFirmwareByte(at) : 0;
    ASSERT_EQ(cells[at], want) << at;
  }
  EXPECT_EQ(std::string(cells.begin() + 0x1FFFF0, cells.begin() + 0x1FFFF7), "OLD FW ");
}

}  // namespace
