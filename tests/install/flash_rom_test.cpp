// The flash programmer against the simulated device: bus sequences, blocks, progress steps and the edges.
#include "install/flash_rom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "install/file_access.h"
#include "install/install.h"
#include "platform/hardware.h"
#include "tests/install/install_fixture.h"

namespace {

using Kind = sim::FlashBus::BusOp::Kind;
using Op = sim::FlashBus::BusOp;
using vestra_test::TestImage;
constexpr std::uint32_t kBase = 0xBF000000;

class FlashRom : public vestra_test::InstallTest {
 protected:
  void SetUp() override {
    vestra_test::InstallOptions options;
    options.blankFlash = true;
    Start(TestImage(16), options);
    vestra::modify32(0xBE800000, 0xFFFFFFFF, 8);
    vestra::modify32(0xBE800004, ~8u, 0);
    gProgressBarValue = 0;
  }
  // Writes a card file and opens it for reading.
  vestra::FILE* Stream(const std::vector<std::uint8_t>& bytes) {
    WriteCardFile("IMG.BIN", bytes);
    vestra::FILE* stream = nullptr;
    EXPECT_EQ(open_f(&stream, "/B/SYSTEM/IMG.BIN", kOpenRead), 0);
    return stream;
  }
  std::vector<Op> Stores() {
    std::vector<Op> stores;
    for (const Op& op : flash().recorded()) {
      if (op.kind == Kind::Store16) stores.push_back(op);
    }
    return stores;
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

TEST_F(FlashRom, FullChipEraseSequenceAndItsProgressSteps) {
  flash().Record(true);
  EXPECT_EQ(FullChipErase(), 0);
  const auto& ops = flash().recorded();
  const std::vector<std::uint32_t> commands{0x70, 0x30, 0xD0, 0xFF};
  std::vector<std::uint32_t> stored;
  for (const Op& op : Stores()) {
    EXPECT_EQ(op.address, kBase);
    stored.push_back(op.value);
  }
  EXPECT_EQ(stored, commands);
  // A ready status read before the erase command, busy reads during it, and ready before Read Array.
  EXPECT_EQ(ops[1], (Op{Kind::Load16, kBase, 0x80, false}));
  EXPECT_EQ(ops[4].value, 0u);
  EXPECT_EQ(ops[ops.size() - 2], (Op{Kind::Load16, kBase, 0x80, false}));
  EXPECT_EQ(gProgressBarValue, 10u) << "one step per 100-tick wait of a 10 s erase";
  EXPECT_EQ(flash().mode(), sim::FlashBus::Mode::ReadArray);
}

TEST_F(FlashRom, BlankCheck) {
  EXPECT_EQ(BlankChk(kBase, 0x200000), 0);
  EXPECT_EQ(BlankChk(kBase, 0), 0);
  const std::uint8_t lastBitClear[] = {0xFF, 0xFF, 0xFF, 0xFE};
  flash().Preload(0x1FFFFC, lastBitClear);
  EXPECT_EQ(BlankChk(kBase, 0x200000), 1);
  EXPECT_EQ(BlankChk(kBase, 0x1FFFFC), 0);
  flash().Preload(0, lastBitClear);
  flash().Record(true);
  EXPECT_EQ(BlankChk(kBase, 0x200000), 1);
  EXPECT_EQ(flash().recorded().size(), 1u) << "stops at the first word that is not blank";
}

struct BlockCase {
  const char* what;
  std::uint32_t length;
  std::uint32_t fileImageBytes;  // image bytes in the file before the trailer
  std::uint32_t steps;
};

TEST_F(FlashRom, BlocksStopAtTheImageEnd) {
  const std::vector<std::uint8_t> trailer{'D', 'O', 'N', 'E', 1, 2, 3, 4};
  const BlockCase cases[] = {
      {"exact multiple of the block", 16384, 16384, 1},
      {"three blocks", 20000, 20000, 1},
      {"empty image", 0, 0, 0},
      {"last block runs into the trailer", 10000, 10000, 1},
      {"four blocks and a bit", 4 * 8192 + 1, 4 * 8192 + 1, 2},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    std::vector<std::uint8_t> file = TestImage(c.fileImageBytes, 3);
    const std::vector<std::uint8_t> image = file;
    file.insert(file.end(), trailer.begin(), trailer.end());
    vestra::FILE* stream = Stream(file);
    flash().Record(true);
    std::uint32_t count = 0;
    EXPECT_EQ(RL_readdata(stream, 0, c.length, &count), 0);
    EXPECT_EQ(count, c.length);
    EXPECT_EQ(gProgressBarValue, c.steps);
    auto contents = flash().contents();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), contents.begin()));
    EXPECT_TRUE(std::all_of(contents.begin() + c.length, contents.begin() + c.length + 64,
                            [](std::uint8_t b) { return b == 0xFF; }))
        << "nothing after the image reaches the flash";
    EXPECT_EQ(Stores().back(), (Op{Kind::Store16, kBase, 0xFF, false}));
    EXPECT_EQ(flash().counters().wordsProgrammed, (c.length + 1) / 2);
    // The stream is left where the image ends when the image is whole blocks: no read beyond it.
    if (c.length % kFlashBlockSize == 0) {
      std::uint8_t next = 0;
      std::uint32_t got = 0;
      read_f(stream, &next, 1, &got);
      EXPECT_EQ(next, 'D');
    }
    close_f(stream);
    TearDown();
  }
}

TEST_F(FlashRom, OddImageEndsInAnFFPad) {
  std::fill(std::begin(rdBuff), std::end(rdBuff), 0x00);  // what an earlier block left behind
  vestra::FILE* stream = Stream({0xA1, 0xB2, 0xC3});
  std::uint32_t count = 0;
  EXPECT_EQ(RL_readdata(stream, 0, 3, &count), 0);
  close_f(stream);
  EXPECT_EQ(count, 3u);
  auto contents = flash().contents();
  EXPECT_EQ(std::vector<std::uint8_t>(contents.begin(), contents.begin() + 4),
            (std::vector<std::uint8_t>{0xA1, 0xB2, 0xC3, 0xFF}));
}

TEST_F(FlashRom, ShortOrOversizedImagesFail) {
  vestra::FILE* stream = Stream(TestImage(5000));
  std::uint32_t count = 0;
  EXPECT_EQ(RL_readdata(stream, 0, 6000, &count), -1) << "the file ends before the image does";
  EXPECT_EQ(count, 5000u);
  close_f(stream);

  stream = Stream(TestImage(0x3000));
  count = 0;
  EXPECT_EQ(RL_readdata(stream, 0x1FF000, 0x3000, &count), -1) << "the image would leave the flash";
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(flash().mode(), sim::FlashBus::Mode::ReadArray);
  close_f(stream);
}

TEST_F(FlashRom, WriteDataInBlocks) {
  const std::vector<std::uint8_t> bytes = TestImage(20000);
  vestra::FILE* out = nullptr;
  ASSERT_EQ(open_f(&out, "/B/SYSTEM/DUMP.BIN", kOpenWrite), 0);
  EXPECT_EQ(RL_writedata(out, bytes.data(), 20000), 0);
  EXPECT_EQ(close_f(out), 0);
  std::ifstream in(card_ / "SYSTEM" / "DUMP.BIN", std::ios::binary);
  const std::vector<std::uint8_t> back((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  EXPECT_EQ(back, bytes);

  vestra::FILE* readOnly = Stream({1, 2, 3});
  EXPECT_EQ(RL_writedata(readOnly, bytes.data(), 100), -1);
  close_f(readOnly);
}

}  // namespace
