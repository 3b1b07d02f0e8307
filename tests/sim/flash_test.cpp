// The simulated flash device, driven through its bus as the camera's processor would.
#include "sim/flash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace {

using sim::FlashBus;
using sim::kFlashBusBase;

constexpr std::uint32_t kBase = kFlashBusBase;

class SimFlash : public ::testing::Test {
 protected:
  FlashBus& Make(sim::FlashProfile profile = {}, std::filesystem::path file = {}) {
    bus_ = std::make_unique<FlashBus>(profile, clock_, std::move(file));
    return *bus_;
  }
  void Enable(FlashBus& bus) {
    bus.Modify32(sim::kFlashRegister0, 0xFFFFFFFF, 8);
    bus.Modify32(sim::kFlashRegister1, ~8u, 0);
  }
  // Polls until ready as a programmer would; the number of status reads it took.
  int WaitReady(FlashBus& bus) {
    int reads = 1;
    while ((bus.Load16(kBase) & 0x80) == 0) ++reads;
    return reads;
  }
  void Program(FlashBus& bus, std::uint32_t address, std::uint16_t data) {
    bus.Store16(address, 0x40);
    bus.Store16(address, data);
    WaitReady(bus);
  }
  void Erase(FlashBus& bus) {
    bus.Store16(kBase, 0x30);
    bus.Store16(kBase, 0xD0);
    WaitReady(bus);
  }
  sim::Clock clock_;
  std::unique_ptr<FlashBus> bus_;
};

TEST_F(SimFlash, StartsWithTheOldFirmwarePatternInReadArrayMode) {
  FlashBus& bus = Make();
  EXPECT_EQ(bus.Load32(kBase), 0x4F4C4420u);  // "OLD "
  EXPECT_EQ(bus.Load32(kBase + 0x120), 0x4F4C4420u);
  EXPECT_EQ(bus.Load32(kBase + 0x128), 0x30303030u);  // "0000" of "00000120"
  EXPECT_EQ(bus.Load32(kBase + 0x12C), 0x30313230u);  // "0120"
  EXPECT_EQ(bus.mode(), FlashBus::Mode::ReadArray);
  EXPECT_FALSE(bus.writeEnabled());
}

TEST_F(SimFlash, EraseAndProgramWithWritingDisabledChangeNothingAndCountViolations) {
  FlashBus& bus = Make();
  bus.Modify32(sim::kFlashRegister0, 0xFFFFFFFF, 8);  // half the enable sequence is not enough
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

TEST_F(SimFlash, EraseTakesItsTimeOnTheClockThenEveryByteIsFF) {
  sim::FlashProfile profile;
  profile.eraseSeconds = 3;
  FlashBus& bus = Make(profile);
  Enable(bus);
  bus.Store16(kBase, 0x30);
  bus.Store16(kBase, 0xD0);
  EXPECT_EQ(bus.Load16(kBase), 0x00) << "busy, and reads answer with the status";
  EXPECT_EQ(bus.Load32(kBase), 0x00000000u);
  // A programmer sleeping between polls, as the updater does.
  int sleeps = 0;
  while ((bus.Load16(kBase) & 0x80) == 0) {
    clock_.AdvanceTicks(100);
    ++sleeps;
  }
  EXPECT_EQ(sleeps, 3);
  EXPECT_GE(clock_.Nanoseconds(), 3'000'000'000u);
  EXPECT_EQ(bus.Load32(kBase), 0x00800080u) << "still in status mode";
  bus.Store16(kBase, 0xFF);
  for (std::uint32_t offset : {0u, 0x1000u, 0x1FFFFCu}) EXPECT_EQ(bus.Load32(kBase + offset), 0xFFFFFFFFu);
  EXPECT_EQ(bus.counters().erases, 1u);
}

TEST_F(SimFlash, ProgrammingOnlyClearsBits) {
  FlashBus& bus = Make();
  Enable(bus);
  Erase(bus);
  const std::uint64_t start = clock_.Nanoseconds();
  Program(bus, kBase + 2, 0x1234);
  EXPECT_EQ(clock_.Nanoseconds() - start, 8'000u) << "word_program_us of the default profile";
  Program(bus, kBase + 2, 0xFF0F);  // a 1 cannot come back by programming
  bus.Store16(kBase, 0xFF);
  EXPECT_EQ(bus.Load16(kBase + 2), 0x1204);
  EXPECT_EQ(bus.contents()[2], 0x12);  // big-endian: the high half at the lower address
  EXPECT_EQ(bus.contents()[3], 0x04);
  EXPECT_EQ(bus.Load16(kBase), 0xFFFF);
  EXPECT_EQ(bus.counters().wordsProgrammed, 2u);
}

TEST_F(SimFlash, FaultKnobs) {
  sim::FlashProfile profile;
  profile.neverErase = {{0x100, 0x00010000}};
  profile.neverProgram = {{0x200, 0x80000000}};
  FlashBus& bus = Make(profile);
  Enable(bus);
  Erase(bus);
  EXPECT_EQ(bus.Load16(kBase) & 0x20, 0x20) << "erase error";
  bus.Store16(kBase, 0xFF);
  EXPECT_EQ(bus.Load32(kBase + 0x100), 0xFFFEFFFFu);
  EXPECT_EQ(bus.Load32(kBase + 0x104), 0xFFFFFFFFu);
  Program(bus, kBase + 0x200, 0x0000);
  EXPECT_EQ(bus.Load16(kBase) & 0x10, 0x10) << "program error";
  bus.Store16(kBase, 0xFF);
  EXPECT_EQ(bus.Load16(kBase + 0x200), 0x8000);
}

TEST_F(SimFlash, NeverReadyStaysBusyAndEveryPollLetsTimePass) {
  sim::FlashProfile profile;
  profile.neverReady = true;
  FlashBus& bus = Make(profile);
  Enable(bus);
  bus.Store16(kBase + 6, 0x40);
  bus.Store16(kBase + 6, 0x0000);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(bus.Load16(kBase) & 0x80, 0);
  EXPECT_GT(clock_.Nanoseconds(), 0u);
  EXPECT_EQ(bus.counters().statusReads, 1000u);
  bus.Store16(kBase, 0xFF);  // ignored while busy
  EXPECT_EQ(bus.mode(), FlashBus::Mode::Busy);
  EXPECT_EQ(bus.contents()[6], ' ') << "nothing programmed";
  EXPECT_EQ(bus.contents()[7], '@');
}

TEST_F(SimFlash, RefusesAddressesOutsideTheDeviceAndItsRegisters) {
  FlashBus& bus = Make();
  EXPECT_THROW(bus.Store16(0xBF200000, 0xFF), sim::BusError);
  EXPECT_THROW(bus.Load16(0xBEFFFFFE), sim::BusError);
  EXPECT_THROW(bus.Load32(0xBF1FFFFE), sim::BusError);  // unaligned, and would run past the end
  EXPECT_THROW(bus.Load16(0xBF000001), sim::BusError);
  EXPECT_THROW(bus.Modify32(0xBE800008, 0, 8), sim::BusError);
  EXPECT_THROW(bus.Store16(sim::kFlashRegister0, 8), sim::BusError);
  EXPECT_NO_THROW(bus.Load32(0xBF1FFFFC));
}

TEST_F(SimFlash, ContentsPersistInTheBackingFile) {
  const auto file = std::filesystem::temp_directory_path() / ("flash_test_" + std::to_string(::getpid()));
  std::filesystem::remove(file);
  {
    FlashBus& bus = Make({}, file);
    Enable(bus);
    Erase(bus);
    Program(bus, kBase + 0x10, 0xCAFE);
    bus.Save();
  }
  ASSERT_EQ(std::filesystem::file_size(file), sim::kFlashBusSize);
  {
    FlashBus& bus = Make({}, file);
    EXPECT_EQ(bus.Load16(kBase + 0x10), 0xCAFE);
    EXPECT_EQ(bus.Load16(kBase + 0x12), 0xFFFF);
  }
  std::filesystem::resize_file(file, 1000);
  EXPECT_THROW(Make({}, file), std::runtime_error);
  std::filesystem::resize_file(file, 0);
  EXPECT_EQ(Make({}, file).Load32(kBase), 0x4F4C4420u) << "an empty file stands for a new flash";
  std::filesystem::remove(file);
}

}  // namespace
