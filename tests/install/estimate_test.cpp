// The installation time estimate agrees with the simulated camera's clock over a whole installation.
#include "sim/install_estimate.h"

#include <gtest/gtest.h>

#include "tests/install/install_fixture.h"

namespace {

class InstallEstimate : public vestra_test::InstallTest {};

TEST_F(InstallEstimate, MatchesTheVirtualTimeOfARun) {
  struct Case {
    double eraseSeconds, wordProgramUs;
    std::uint32_t length;
  };
  const Case cases[] = {{10, 8, 40000}, {2.5, 20, 3}, {0, 1500, 64}, {30, 0, 20000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.eraseSeconds);
    vestra_test::InstallOptions options;
    options.flash.eraseSeconds = c.eraseSeconds;
    options.flash.wordProgramUs = c.wordProgramUs;
    Start(vestra_test::TestImage(c.length), options);
    const double before = camera_->clock().SecondsExact();
    RunInstallation();
    ASSERT_EQ(gCurPanel, 5);
    const sim::InstallEstimate estimate = sim::EstimateInstallation(options.flash, c.length);
    EXPECT_NEAR(camera_->clock().SecondsExact() - before, estimate.deviceSeconds(), 1e-6);
    EXPECT_EQ(estimate.words, flash().counters().wordsProgrammed);
    TearDown();
  }
}

TEST_F(InstallEstimate, LineNamesEachPart) {
  sim::FlashProfile flash;
  const auto estimate = sim::EstimateInstallation(flash, 0x1FFFFF);
  EXPECT_EQ(
      sim::InstallEstimateLine(estimate),
      "installation: about 21.5 s (erase 10.0 s, programming 8.4 s for 1048576 words, card reads 2.1 s at "
      "1000 kB/s, pauses 1.01 s)");
  flash.neverReady = true;
  EXPECT_EQ(sim::InstallEstimateLine(sim::EstimateInstallation(flash, 100)),
            "installation: the flash device never reports ready; the camera gives up after about 601 s");
}

}  // namespace
