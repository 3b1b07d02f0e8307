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
using sim_test::CameraTest;
using sim_test::WriteFile;

sim::ScriptStep Key(std::uint16_t code, std::uint16_t state = 0) {
  sim::ScriptStep s;
  s.code = code;
  s.state = state;
  return s;
}
sim::ScriptStep Event4(std::uint32_t value) {
  sim::ScriptStep s;
  s.kind = Kind::kEvent4;
  s.value = value;
  return s;
}
sim::ScriptStep Wait(std::uint64_t ns) {
  sim::ScriptStep s;
  s.kind = Kind::kWait;
  s.waitNs = ns;
  return s;
}
sim::ScriptStep Remove(const char* path) {
  sim::ScriptStep s;
  s.kind = Kind::kRemove;
  s.path = path;
  return s;
}

struct GoodScript {
  const char* script;
  std::vector<sim::ScriptStep> steps;
};

TEST(KeyScript, GoodTokensBecomeTheirSteps) {
  const GoodScript cases[] = {
      {"", {}},
      {"  ", {}},
      {"left,centre,center,right,power,debug", {Key(14), Key(13), Key(13), Key(12), Key(1), Key(106)}},
      {" left , right ", {Key(14), Key(12)}},
      {"key:8", {Key(8)}},
      {"key:14:1", {Key(14, 1)}},
      {"key:0x6A:65535", {Key(106, 65535)}},
      {"event4:106", {Event4(106)}},
      {"event4:4294967295", {Event4(4294967295u)}},
      {"wait:2", {Wait(2'000'000'000)}},
      {"wait:0.5", {Wait(500'000'000)}},
      {"wait:.25", {Wait(250'000'000)}},
      {"wait:121.000000001", {Wait(121'000'000'001)}},
      {"remove:SYSTEM/QR40100.BIN", {Remove("SYSTEM/QR40100.BIN")}},
      {"remove:SYSTEM/a..b", {Remove("SYSTEM/a..b")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(sim::ParseKeyScript(c.script), c.steps);
  }
}

TEST(KeyScript, BadTokensAreRefusedByName) {
  const std::pair<const char*, const char*> cases[] = {
      {"left,jump,right", "jump"},
      {"Left", "Left"},
      {"left,,right", ""},
      {"left,", ""},
      {"key:", "key:"},
      {"key:abc", "key:abc"},
      {"key:65536", "key:65536"},
      {"key:-1", "key:-1"},
      {"key:14:", "key:14:"},
      {"key:14:1:2", "key:14:1:2"},
      {"event4:", "event4:"},
      {"event4:4294967296", "event4:4294967296"},
      {"wait:", "wait:"},
      {"wait:-1", "wait:-1"},
      {"wait:1.", "wait:1."},
      {"wait:1e3", "wait:1e3"},
      {"wait:0x10", "wait:0x10"},
      {"wait:1.0000000001", "wait:1.0000000001"},
      {"remove:", "remove:"},
      {"remove:/etc/passwd", "remove:/etc/passwd"},
      {"remove:../outside", "remove:../outside"},
      {"remove:SYSTEM/../../x", "remove:SYSTEM/../../x"},
      {"press:left", "press:left"},
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

class EventQueueTest : public CameraTest {};

TEST_F(EventQueueTest, EventsArriveAsBigEndianRecordsThenTheScriptEnds) {
  Start({}, "key:14:3,event4:0x0102036A");
  vestra::EventRecord* r = nullptr;
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  ASSERT_NE(r, nullptr);
  const std::uint8_t keyBytes[16] = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 14};
  EXPECT_EQ(std::vector<std::uint8_t>(r->bytes, r->bytes + 16),
            std::vector<std::uint8_t>(keyBytes, keyBytes + 16));
  vestra::EMReleaseEventRecord(r);
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_EQ(vestra::LoadBE16(r->bytes), 4);
  EXPECT_EQ(vestra::LoadBE32(r->bytes + 8), 0x0102036Au);
  vestra::EMReleaseEventRecord(r);
  EXPECT_THROW(vestra::EMGetEvent(0, &r), sim::ScriptEnded);
  EXPECT_EQ(camera_->events().delivered(), 2);
  EXPECT_EQ(camera_->events().released(), 2);
  vestra::EMReleaseEventRecord(r);
  EXPECT_EQ(camera_->events().badReleases(), 1);
}

TEST_F(EventQueueTest, WaitsAdvanceTheClockBeforeTheNextEvent) {
  Start({}, "wait:1.5,left,wait:120,wait:0.5,right");
  vestra::EventRecord* r = nullptr;
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 0u);
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_EQ(camera_->clock().Nanoseconds(), 1'500'000'000u);
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 1u);
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_EQ(vestra::CKReadRealTimeClock(), 122u);
  EXPECT_EQ(vestra::LoadBE16(r->bytes + 14), 12);
}

TEST_F(EventQueueTest, RemoveDeletesTheCardFileWhenTheScriptReachesIt) {
  WriteFile(card_ / "SYSTEM" / "QR40100.BIN", "image");
  Start({}, "left,remove:SYSTEM/QR40100.BIN,remove:SYSTEM/NOT-THERE,right");
  vestra::EventRecord* r = nullptr;
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_TRUE(std::filesystem::exists(card_ / "SYSTEM" / "QR40100.BIN"));
  ASSERT_EQ(vestra::EMGetEvent(0, &r), 0);
  EXPECT_FALSE(std::filesystem::exists(card_ / "SYSTEM" / "QR40100.BIN"));
  EXPECT_EQ(vestra::LoadBE16(r->bytes + 14), 12);
}

TEST_F(EventQueueTest, ABadScriptStopsTheCameraBeingBuilt) {
  EXPECT_THROW(Start({}, "left,sideways"), sim::KeyScriptError);
}

}  // namespace
