// The installation estimate that inspect prints, against the simulated camera's clock over a whole update.
#include "harness/install_estimate.h"

#include <cstdio>
#include <string>

#include "platform/bytes.h"
#include "sim/resources.h"
#include "tests/app/run_fixture.h"

namespace {

struct EstimateRow {
  const char* name;
  std::size_t imageSize;
  double eraseSeconds;
  double wordProgramUs;
};

void PrintTo(const EstimateRow& row, std::ostream* os) {
  *os << row.name;
}

const EstimateRow kEstimateRows[] = {
    {"LargestImage", 0x1FFFFF, 10, 8},
    {"OneByte", 1, 10, 8},
    {"EraseBetweenPolls", 40000, 10.5, 8},
    {"SlowWords", 40000, 3, 50},
};

// The sounds a run waited for (the key clicks) take the camera's time before the installation starts.
double WaitedSoundSeconds(const harness::RunResult& run) {
  double seconds = 0;
  for (const sim::SoundPlay& play : run.sounds) {
    if (!play.wait) continue;
    const std::vector<std::uint8_t> sound = sim::MakeSoundResource(static_cast<std::int16_t>(play.id));
    seconds += 1e-9 * static_cast<double>(sim::Resources::SoundNanoseconds(
                          vestra::LoadBE32(sound.data() + 4), vestra::LoadBE32(sound.data() + 8)));
  }
  return seconds;
}

class InstallEstimateRun : public vestra_test::RunTest, public ::testing::WithParamInterface<EstimateRow> {};

// Within a millisecond: the estimate counts every status poll of a busy device as the millisecond the
// simulated device lets pass, which is the most one poll takes.
TEST_P(InstallEstimateRun, HeadlineIsTheRunsTimeLessItsKeyClicks) {
  const EstimateRow& row = GetParam();
  PutUpdateFile(vestra_test::GoodMetadata(), "QR40A.BIN", row.imageSize);
  sim::Profile profile;
  profile.flash.eraseSeconds = row.eraseSeconds;
  profile.flash.wordProgramUs = row.wordProgramUs;
  const harness::RunResult run = Run("left,left,left,centre", profile);
  ASSERT_EQ(run.finalPanel, kSuccessPanel);

  const harness::InstallEstimate estimate =
      harness::EstimateInstallation(profile.flash, static_cast<std::uint32_t>(row.imageSize));
  const double measured = run.virtualSeconds - WaitedSoundSeconds(run);
  EXPECT_NEAR(estimate.deviceSeconds(), measured, 0.001);
  char headline[64];
  std::snprintf(headline, sizeof headline, "installation: about %.1f s on the camera's clock", measured);
  EXPECT_EQ(harness::InstallEstimateLine(estimate).rfind(headline, 0), 0u)
      << harness::InstallEstimateLine(estimate);
}

INSTANTIATE_TEST_SUITE_P(Table, InstallEstimateRun, ::testing::ValuesIn(kEstimateRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
