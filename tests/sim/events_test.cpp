// Key scripts: what they may say, and the event records the module receives from them.
#include "sim/events.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/events.h"
#include "sim_fixture.h"

namespace {

using Kind = sim::ScriptStep::Kind;
using sim::ScriptStep;

TEST(KeyScript, GoodTokensBecomeTheirSteps) {
  const auto Key = [](std::uint16_t c, std::uint16_t s = 0) { return ScriptStep{.code = c, .state = s}; };
  const auto Wait = [](std::uint64_t ns) { return ScriptStep{.kind = Kind::kWait, .waitNs = ns}; };
  const std::pair<const char*, std::vector<ScriptStep>> cases[] = {
      {"  ", {}},
      {"left,centre,center,right,power,debug", {Key(14), Key(13), Key(13), Key(12), Key(1), Key(106)}},
      {" left , right ", {Key(14), Key(12)}},
      {"key:0x6A:65535", {Key(106, 65535)}},
      {"event4:4294967295", {{.kind = Kind::kEvent4, .value = 4294967295u}}},
      {"wait:.25", {Wait(250'000'000)}},
      {"wait:121.000000001", {Wait(121'000'000'001)}},
      {"remove:SYSTEM/a..b", {{.kind = Kind::kRemove, .path = "SYSTEM/a..b"}}},
  };
  for (const auto& [script, steps] : cases) EXPECT_EQ(sim::ParseKeyScript(script), steps) << script;
}

TEST(KeyScript, BadTokensAreRefusedByName) {
  const std::pair<const char*, const char*> cases[] = {
      {"left,jump,right", "jump"},
      {"left,,right", ""},
      {"key:abc", "key:abc"},
      {"key:65536", "key:65536"},
      {"event4:4294967296", "event4:4294967296"},
      {"wait:1e3", "wait:1e3"},
      {"wait:1.0000000001", "wait:1.0000000001"},
      {"remove:/etc/passwd", "remove:/etc/passwd"},
      {"remove:SYSTEM/../../x", "remove:SYSTEM/../../x"},
  };
  for (const auto& [script, token] : cases) {
    SCOPED_TRACE(script);
    try {
      sim::ParseKeyScript(script);
      ADD_FAILURE() << "accepted";
    } catch (const sim::KeyScriptError& e) {
      EXPECT_EQ(e.token(), token);
      EXPECT_NE(std::string(e.what()).find("'" + std::string(token) + "'"), std::string::npos) << e.what();
    }
  }
}

class EventQueueTest : public sim_test::CameraTest {};

TEST_F(EventQueueTest, EventsArriveAsBigEndianRecordsAfterTheirWaitsThenTheScriptEnds) {
  const auto code = card_ / "SYSTEM" / "QR40100.BIN";
  sim_test::WriteFile(code, "image");
  Start({}, "wait:1.5,key:14:3,wait:120,remove:SYSTEM/QR40100.BIN,remove:SYSTEM/NOT-THERE,event4:0x0102036A");
  vestra::EventRecord* r = nullptr;
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 0u);
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  ASSERT_NE(r, nullptr);
  const std::uint8_t keyBytes[16] = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 14};
  EXPECT_EQ(std::vector<std::uint8_t>(r->bytes, r->bytes + 16),
            std::vector<std::uint8_t>(keyBytes, keyBytes + 16));
  EXPECT_EQ(camera_->clock().Nanoseconds(), 1'500'000'000u);
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 1u);
  EXPECT_TRUE(std::filesystem::exists(code));
  vestra::EMReleaseEventRecord(r);
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_EQ(vestra::LoadBE16(r->bytes), 4);
  EXPECT_EQ(vestra::LoadBE32(r->bytes + 8), 0x0102036Au);
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 121u);
  EXPECT_FALSE(std::filesystem::exists(code));
  vestra::EMReleaseEventRecord(r);
  EXPECT_THROW(vestra::EMGetEvent(0, &r), sim::ScriptEnded);
  EXPECT_EQ(camera_->events().delivered(), 2);
  EXPECT_EQ(camera_->events().released(), 2);
  vestra::EMReleaseEventRecord(r);
  EXPECT_EQ(camera_->events().badReleases(), 1);
}

}  // namespace
