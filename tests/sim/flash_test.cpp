// The simulated flash device, driven through its bus as the camera's processor would.
#include "sim/flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include <unistd.h>

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

TEST_F(SimFlash, ContentsPersistInTheBackingFile) {
  const auto file = std::filesystem::temp_directory_path() / ("flash_test_" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  EXPECT_EQ(Make({}, file).Load32(kBase + 0x120), 0x4F4C4420u) << "no file: the old firmware, \"OLD \"";
  Command(kBase, 0x30, 0xD0);
  Command(kBase + 0x10, 0x40, 0xCAFE);
  bus_->Save();
  ASSERT_EQ(std::filesystem::file_size(file), sim::kFlashBusSize);
  FlashBus& bus = Make({}, file);
  EXPECT_EQ(bus.Load16(kBase + 0x10), 0xCAFE);
  EXPECT_EQ(bus.Load16(kBase + 0x12), 0xFFFF);
  std::filesystem::resize_file(file, 1000);
  EXPECT_THROW(Make({}, file), std::runtime_error);
  std::filesystem::resize_file(file, 0);
  EXPECT_EQ(Make({}, file).Load32(kBase), 0x4F4C4420u) << "an empty file stands for a new flash";
  std::filesystem::remove(file);
}

}  // namespace
