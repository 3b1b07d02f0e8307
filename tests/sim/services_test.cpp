// Resources, sound, power, kernel and memory of the simulated camera, as the module sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/events.h"
#include "platform/kernel.h"
#include "platform/power.h"
#include "platform/resources.h"
#include "platform/sound.h"
#include "sim/kernel.h"
#include "sim/memory.h"
#include "sim/resources.h"
#include "sim/sound.h"
#include "sim_fixture.h"

namespace {

using sim_test::CameraTest;

class ServicesTest : public CameraTest {};

std::int16_t Lookup(std::uint32_t type, std::int32_t id, void** data, std::uint32_t* size) {
  const vestra::RMResourceKey key{type, id, 0};
  return vestra::RMGetResource(&key, data, size);
}

// What the module does at start-up: the block copied to RAM and the platform pointed at the copy.
void* MoveBlockToRam() {
  void* block = vestra::gRMSystemControlBlock.resourceBlock;
  const std::uint32_t size = static_cast<vestra::RMResourceBlockHeader*>(block)->size;
  void* copy = vestra::malloc(size);
  std::memcpy(copy, block, size);
  vestra::gRMSystemControlBlock.resourceBlock = copy;
  vestra::kRMFlashBaseAddress = copy;
  return copy;
}

TEST_F(ServicesTest, SoundsAndIconAreFoundInTheBlockThePlatformPointsAt) {
  sim::Profile p;
  p.platform.missingSounds = {-1003};
  Start(p);
  void* copy = MoveBlockToRam();
  const auto* start = static_cast<std::uint8_t*>(copy);
  const std::uint32_t blockSize = static_cast<vestra::RMResourceBlockHeader*>(copy)->size;
  for (std::int32_t id = -1001; id >= -1010; --id) {
    SCOPED_TRACE(id);
    void* data = nullptr;
    std::uint32_t size = 0;
    const std::int16_t rc = Lookup(vestra::kSoundResourceType, id, &data, &size);
    if (id == -1003) {
      EXPECT_NE(rc, 0);
      continue;
    }
    ASSERT_EQ(rc, 0);
    const auto* bytes = static_cast<std::uint8_t*>(data);
    EXPECT_TRUE(bytes >= start && bytes + size <= start + blockSize) << "read from the RAM copy";
    EXPECT_EQ(vestra::LoadBE32(bytes), 12u);
    EXPECT_EQ(size, 12 + vestra::LoadBE32(bytes + 8));
    EXPECT_GT(vestra::LoadBE32(bytes + 4), 0u);
  }
  void* data = nullptr;
  std::uint32_t size = 0;
  ASSERT_EQ(Lookup(sim::kIconType, -8888, &data, &size), 0);
  const auto* icon = static_cast<std::uint8_t*>(data);
  EXPECT_EQ(vestra::LoadBE16(icon), 48);
  EXPECT_EQ(vestra::LoadBE16(icon + 2), 32);
  EXPECT_EQ(size, 4u + 48 * 32 * 3);
  EXPECT_NE(Lookup(vestra::kSoundResourceType, -1011, &data, &size), 0);
}

TEST_F(ServicesTest, NoLogoIconWhenTheProfileSaysSo) {
  sim::Profile p;
  p.platform.logoIcon = false;
  Start(p);
  void* data = nullptr;
  std::uint32_t size = 0;
  EXPECT_NE(Lookup(sim::kIconType, -8888, &data, &size), 0);
}

TEST_F(ServicesTest, PlaysAreRecognisedFromTheModulesCopiesAndTakeTheirTime) {
  Start();
  ASSERT_EQ(vestra::MMCaptureBufferInit(0x200000), 0);
  vestra::SNDChannel channel = 0;
  ASSERT_EQ(vestra::SNDOpenSoundChannel(&channel), 0);
  ASSERT_NE(channel, 0u);
  std::vector<vestra::SndPlayRecord> records;
  for (std::int32_t id : {-1010, -1001, -1003}) {
    void* data = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(Lookup(vestra::kSoundResourceType, id, &data, &size), 0);
    auto* copy = static_cast<std::uint8_t*>(vestra::MMCaptureBufferMalloc(size));
    ASSERT_NE(copy, nullptr);
    std::memcpy(copy, data, size);
    records.push_back(
        {copy + vestra::LoadBE32(copy), vestra::LoadBE32(copy + 4), vestra::LoadBE32(copy + 8)});
  }
  const std::uint64_t before = camera_->clock().Nanoseconds();
  EXPECT_EQ(vestra::SNDPlay(channel, &records[0]), 0);
  const std::uint64_t alert = sim::Resources::SoundNanoseconds(records[0].word1, records[0].word2);
  EXPECT_GT(alert, 0u);
  EXPECT_EQ(camera_->clock().Nanoseconds() - before, alert);
  EXPECT_EQ(vestra::SNDPlayAsync(channel, &records[1], 0, 0), 0);
  EXPECT_EQ(camera_->clock().Nanoseconds() - before, alert);
  EXPECT_EQ(vestra::SNDPlay(channel, &records[2]), 0);
  const auto& plays = camera_->sound().plays();
  ASSERT_EQ(plays.size(), 3u);
  EXPECT_EQ(plays[0].id, -1010);
  EXPECT_TRUE(plays[0].wait);
  EXPECT_EQ(plays[1].id, -1001);
  EXPECT_FALSE(plays[1].wait);
  EXPECT_EQ(plays[2].id, -1003);
  // Rendered: the three cues' samples, each followed by a tenth of a second of silence.
  const auto wav = root_.path() / "cues.wav";
  ASSERT_TRUE(camera_->sound().WriteWav(wav));
  const std::string bytes = sim_test::ReadFile(wav);
  std::size_t samples = 0;
  for (const auto& r : records) samples += r.word2 + 800;
  EXPECT_EQ(bytes.size(), 44 + samples);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 4), "WAVE");
  EXPECT_EQ(bytes.substr(44, records[0].word2),
            std::string(records[0].samples, records[0].samples + records[0].word2));
  EXPECT_EQ(vestra::SNDKillSound(channel), 0);
  EXPECT_EQ(vestra::SNDCloseSoundChannel(channel), 0);
  EXPECT_NE(vestra::SNDPlay(channel, &records[0]), 0);
  EXPECT_EQ(plays.size(), 3u);
}

TEST_F(ServicesTest, NoSoundChannelWhenTheProfileHasNone) {
  sim::Profile p;
  p.platform.soundChannel = false;
  Start(p);
  vestra::SNDChannel channel = 7;
  EXPECT_NE(vestra::SNDOpenSoundChannel(&channel), 0);
  EXPECT_EQ(channel, 0u);
}

TEST_F(ServicesTest, PowerComesFromTheProfileAndPowerDownEndsTheRun) {
  sim::Profile p;
  p.power.external = true;
  p.power.battery = 6;
  Start(p);
  EXPECT_NE(vestra::PMExtPowerSupplied() & 0xFF, 0);
  EXPECT_EQ(vestra::PMGetMainBatteryState(1, 1), 6);
  EXPECT_THROW(vestra::PMPowerDown(0), sim::PoweredDown);
  EXPECT_TRUE(camera_->poweredDown);
}

TEST_F(ServicesTest, KernelTimeSemaphoresAndInterruptLock) {
  Start();
  vestra::taskDelay(150);
  EXPECT_EQ(camera_->clock().Ticks(), 150u);
  const vestra::timespec t{2, 500'000'000};
  EXPECT_EQ(vestra::nanosleep(&t, nullptr), 0);
  EXPECT_EQ(camera_->clock().Nanoseconds(), 4'000'000'000u);
  const vestra::timespec bad{0, 1'000'000'000};
  EXPECT_NE(vestra::nanosleep(&bad, nullptr), 0);
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 4u);

  vestra::SEM_ID once = vestra::semBCreate(0, 1);
  EXPECT_EQ(vestra::semTake(once, vestra::NO_WAIT), 0);
  EXPECT_NE(vestra::semTake(once, vestra::NO_WAIT), 0);
  EXPECT_THROW(vestra::semTake(once, sim::kWaitForever), sim::Deadlock);
  EXPECT_EQ(vestra::semGive(once), 0);
  EXPECT_EQ(vestra::semTake(once, vestra::NO_WAIT), 0);

  const std::int32_t outer = vestra::intLock();
  const std::int32_t inner = vestra::intLock();
  vestra::intUnlock(inner);
  EXPECT_TRUE(camera_->interruptsLocked);
  vestra::intUnlock(outer);
  EXPECT_FALSE(camera_->interruptsLocked);
}

TEST_F(ServicesTest, CaptureBufferHandsOutBlocksUntilFullAndMallocCanBeMadeToFail) {
  Start();
  EXPECT_EQ(vestra::MMCaptureBufferMalloc(16), nullptr);  // not set up yet
  ASSERT_EQ(vestra::MMCaptureBufferInit(100), 0);
  auto* a = static_cast<std::uint8_t*>(vestra::MMCaptureBufferMalloc(40));
  auto* b = static_cast<std::uint8_t*>(vestra::MMCaptureBufferMalloc(40));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_GE(b, a + 40);
  EXPECT_EQ(vestra::MMCaptureBufferMalloc(40), nullptr);

  EXPECT_NE(vestra::g_splash_buffer, nullptr);
  vestra::free(vestra::g_splash_buffer);
  EXPECT_EQ(camera_->memory().badFrees(), 0);
  vestra::free(vestra::g_splash_buffer);
  EXPECT_EQ(camera_->memory().badFrees(), 1);

  camera_->memory().failMalloc = true;
  EXPECT_EQ(vestra::malloc(16), nullptr);
  camera_->memory().failNewPtr = true;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_NE(vestra::MMNewPtr(16, &p), 0);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
