// The update log as the card shows it afterwards, and how long the services' sleeps last.
#include "services/log.h"

#include <string>

#include "app/module_state.h"
#include "package/file_set.h"
#include "services/power.h"
#include "tests/sim/sim_fixture.h"

namespace {

namespace fs = std::filesystem;

class ServiceTest : public sim_test::CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    Start();
    ResetModuleGlobals();
    gStrLogFileName = "/B/SYSTEM/UPDATE.LOG";
  }
  std::string Log() const { return sim_test::ReadFile(card_ / "SYSTEM" / "UPDATE.LOG"); }
};

TEST_F(ServiceTest, LinesAreAppendedWithCarriageReturnAndLineFeedAndCutToTheBuffer) {
  sim_test::WriteFile(card_ / "SYSTEM" / "UPDATE.LOG", "old run\r\n");
  LogText("first");
  LogText("");
  LogFormat("CHKSUM: requiredChecksum=%08X vs. calculated=%08X", 0xABCu, 0xDEADBEEFu);
  const std::string lines =
      "old run\r\nfirst\r\n\r\nCHKSUM: requiredChecksum=00000ABC vs. calculated=DEADBEEF\r\n";
  EXPECT_EQ(Log(), lines);
  const std::string name(400, 'N');
  LogFormat("Vendor name:           '%s'(cam)  '%s'(file)", name.c_str(), name.c_str());
  EXPECT_EQ(Log(), lines + "Vendor name:           '" + std::string(255 - 24, 'N') + "\r\n");
  // A line that cannot be written costs only that line.
  fs::remove_all(card_ / "SYSTEM");
  LogText("lost");
  fs::create_directories(card_ / "SYSTEM");
  LogText("kept");
  EXPECT_EQ(Log(), "kept\r\n");
}

// The kernel refuses a time value whose nanoseconds reach a second: the split must be exact.
TEST_F(ServiceTest, SleepsInTenthsOfASecond) {
  for (const auto& [tenths, ns] : {std::pair<std::int16_t, std::uint64_t>{0, 0},
                                   {10, 1'000'000'000},
                                   {25, 2'500'000'000},
                                   {99, 9'900'000'000}}) {
    const std::uint64_t before = camera_->clock().Nanoseconds();
    DelayTime(tenths);
    EXPECT_EQ(camera_->clock().Nanoseconds() - before, ns) << tenths;
  }
}

}  // namespace
