// The update log as the card shows it afterwards.
#include "services/log.h"

#include <string>

#include "app/module_state.h"
#include "package/file_set.h"
#include "tests/app/run_fixture.h"

namespace {

namespace fs = std::filesystem;

class LogTest : public sim_test::CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    Start();
    ResetModuleGlobals();
    gStrLogFileName = "/B/SYSTEM/UPDATE.LOG";
  }
  std::string Log() const { return sim_test::ReadFile(card_ / "SYSTEM" / "UPDATE.LOG"); }
};

TEST_F(LogTest, LinesAreAppendedWithCarriageReturnAndLineFeed) {
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  LogText("first");
  LogText("");
  LogFormat("CHKSUM: requiredChecksum=%08X vs. calculated=%08X", 0xABCu, 0xDEADBEEFu);
  EXPECT_EQ(Log(), "first\r\n\r\nCHKSUM: requiredChecksum=00000ABC vs. calculated=DEADBEEF\r\n");
}

TEST_F(LogTest, EarlierContentStaysInFront) {
  sim_test::WriteFile(card_ / "SYSTEM" / "UPDATE.LOG", "old run\r\n");
  LogText("new run");
  EXPECT_EQ(Log(), "old run\r\nnew run\r\n");
}

TEST_F(LogTest, AFormattedLineIsCutToTheBufferNotOverflowed) {
  const std::string name(400, 'N');
  LogFormat("Vendor name:           '%s'(cam)  '%s'(file)", name.c_str(), name.c_str());
  const std::string log = Log();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.size(), 255u + 2u);
  EXPECT_EQ(log.substr(0, 24), "Vendor name:           '");
}

TEST_F(LogTest, ALineThatCannotBeWrittenCostsOnlyThatLine) {
  fs::remove_all(card_ / "SYSTEM");
  LogText("lost");
  fs::create_directories(card_ / "SYSTEM");
  LogText("kept");
  EXPECT_EQ(Log(), "kept\r\n");
}

class LogRunTest : public vestra_test::RunTest {};

TEST_F(LogRunTest, TwoRefusedRunsLeaveBothRunsLinesOldestFirst) {
  vupdate::UpdateMetadata older = vestra_test::GoodMetadata();
  older.firmware = 0x00900000;
  PutUpdateFile(older);
  const harness::RunResult first = Run("");
  EXPECT_EQ(first.errCode, -1);
  const std::string afterFirst = sim_test::ReadFile(System("UPDATE.LOG"));
  const harness::RunResult second = Run("");  // the refused files are gone now
  EXPECT_EQ(second.errCode, -4);
  EXPECT_EQ(sim_test::ReadFile(System("UPDATE.LOG")), afterFirst + "missing QR40nnn.BIN\r\n");
  EXPECT_EQ(second.logLines, std::vector<std::string>{"missing QR40nnn.BIN"});
  EXPECT_EQ(first.logLines.front(), "Camera incompible with files.");
}

}  // namespace
