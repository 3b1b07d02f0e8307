// vupdate sweep on a small update: every bus operation cut, the camera powered up again and the update
// retried.
#include "cli/sweep.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/sim/sim_fixture.h"
#include "tests/support/metadata.h"
#include "updatefile/update_file.h"

namespace {

using vupdate::FlashAfterCut;

class Sweep : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::filesystem::path system = dir_.path() / "card" / "SYSTEM";
    sim_test::WriteFile(system / "UPDATE.CAM", "cam");
    sim_test::WriteFile(system / "UPDATE.CRS", "crs");
    std::vector<std::uint8_t> image(64);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 1);
    const auto bytes = vupdate::BuildUpdateFile(vupdate::LayoutFor(image, vestra_test::GoodMetadata()));
    sim_test::WriteFile(system / "QR40A.BIN", std::string(bytes.begin(), bytes.end()));
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
  EXPECT_FALSE(r.lost);
  EXPECT_EQ(r.updateFiles, 3u);
  int states[4] = {};
  for (const auto& p : r.points) {
    if (!p.cutHappened) continue;
    SCOPED_TRACE(p.busOp);
    ++states[static_cast<int>(p.flash)];
    EXPECT_TRUE(p.retryRestored);
    EXPECT_FALSE(p.falseSuccess);
    if (p.flash == FlashAfterCut::kErased || p.flash == FlashAfterCut::kPartial) {
      EXPECT_EQ(p.filesLeft, r.updateFiles) << "neither image in the flash: the update is still on the card";
    }
  }
  for (int s = 0; s < 4; ++s) EXPECT_GT(states[s], 0) << "flash state " << s << " never seen";
  EXPECT_GT(r.points.size(), 32u * 4) << "every word's operations are cut points";
  EXPECT_FALSE(std::filesystem::exists(options_.flash)) << "the sweep works on copies";
  EXPECT_TRUE(std::filesystem::exists(options_.card / "SYSTEM" / "QR40A.BIN"));
}

// The card gone for good once the erase has begun: a cut before the erase leaves the retry nothing to
// program from, and the sweep must say so.
TEST_F(Sweep, FlagsACardPulledForGood) {
  options_.profile.faults.cardPulledAtNs = 200'000'000;
  options_.points = "8";
  const vupdate::SweepResult r = vupdate::RunSweep(options_);
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.lost);
}

}  // namespace
