// Camera profiles from TOML: every key read, every mistake refused with the file and the key named.
#if VESTRA_HAVE_CLI  // the TOML reader is part of the host tools only

#include "sim/profile_toml.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

TEST(ProfileToml, EveryKeyIsReadAbsentKeysKeepTheirDefaultsAndTheSamplesLoad) {
  const sim::Profile p = sim::ParseProfile(R"(
vendor = "Norvale Co., Ltd."
product = "Calyte QR"
serial = 0x00001234
firmware = 0x01020000
ccs = 0x01000001
region = 8
region_capability = 4
shutdown_now = true
power = { external = true, battery = 3, lcd_on = false }
platform = { sound_channel = false, missing_sounds = [-1003, -1010], logo_icon = false, drive_available = false }
[flash]
erase_seconds = 2.5
word_program_us = 8
never_erase = [[0x100, 0x01], [0x1FFFFF, 0xFF]]
never_program = [[4, 0x8000]]
never_ready = true
)",
                                           "camera.toml");
  EXPECT_EQ(p.serial, 0x1234u);
  EXPECT_EQ(p.firmware, 0x01020000u);
  EXPECT_EQ(p.region, 8u);
  EXPECT_EQ(p.regionCapability, 4u);
  EXPECT_TRUE(p.shutdownNow);
  EXPECT_TRUE(p.power.external);
  EXPECT_EQ(p.power.battery, 3);
  EXPECT_FALSE(p.power.lcdOn);
  EXPECT_FALSE(p.platform.soundChannel);
  EXPECT_EQ(p.platform.missingSounds, (std::vector<std::int16_t>{-1003, -1010}));
  EXPECT_FALSE(p.platform.logoIcon);
  EXPECT_FALSE(p.platform.driveAvailable);
  EXPECT_DOUBLE_EQ(p.flash.eraseSeconds, 2.5);
  EXPECT_DOUBLE_EQ(p.flash.wordProgramUs, 8);
  ASSERT_EQ(p.flash.neverErase.size(), 2u);
  EXPECT_EQ(p.flash.neverErase[1], (std::pair<std::uint32_t, std::uint32_t>{0x1FFFFF, 0xFF}));
  EXPECT_EQ(p.flash.neverProgram.size(), 1u);
  EXPECT_TRUE(p.flash.neverReady);

  const sim::Profile empty = sim::ParseProfile("", "empty.toml");
  EXPECT_EQ(empty.vendor, "Norvale Co., Ltd.");
  EXPECT_EQ(empty.power.battery, 7);
  const auto samples = std::filesystem::path(VESTRA_SAMPLES_DIR);
  const sim::Profile us = sim::LoadProfile(samples / "camera-us.toml");
  const sim::Profile jp = sim::LoadProfile(samples / "camera-jp.toml");
  EXPECT_EQ(us.region, 1u);
  EXPECT_EQ(jp.region, 8u);
  EXPECT_EQ(us.product, "Calyte QR");
  EXPECT_EQ(jp.vendor, "Norvale Co., Ltd.");
}

// [faults.retry] is the power-up after a cut: its own faults and unreadable parameters, none of them the
// first power-up's, and none of the first's in it.
TEST(ProfileToml, RetryFaultsAreTheirOwnTable) {
  const sim::Profile p = sim::ParseProfile(R"(
[faults]
battery_at = [[1, 3]]
unreadable_params = ["sern"]
[faults.retry]
card_pulled_at = 0.5
power_cut = "word:3"
card_read_error = [{ file = "SYSTEM/QR40A.BIN", offset = 64, from_read = 2, times = 1 }]
unreadable_params = ["fwrv", "rgnc"]
)",
                                           "camera.toml");
  EXPECT_EQ(p.faults.batteryAt.size(), 1u);
  EXPECT_FALSE(p.faults.cardPulledAtNs);
  EXPECT_EQ(p.faults.powerCut.at, sim::PowerCutPoint::At::kNone);
  EXPECT_EQ(p.faults.unreadableParams, std::vector<std::string>{"sern"});
  ASSERT_TRUE(p.retry);
  EXPECT_EQ(p.retry->cardPulledAtNs, 500'000'000u);
  EXPECT_EQ(p.retry->powerCut.at, sim::PowerCutPoint::At::kWord);
  EXPECT_EQ(p.retry->powerCut.value, 3u);
  ASSERT_EQ(p.retry->cardReadErrors.size(), 1u);
  EXPECT_EQ(p.retry->cardReadErrors[0].fromRead, 2u);
  EXPECT_TRUE(p.retry->batteryAt.empty());

  const sim::Profile retry = sim::RetryOf(p);
  EXPECT_EQ(retry.faults.cardPulledAtNs, 500'000'000u);
  EXPECT_TRUE(retry.faults.batteryAt.empty());
  EXPECT_EQ(retry.faults.unreadableParams, (std::vector<std::string>{"fwrv", "rgnc"}))
      << "the first power-up's unreadable parameters read again on the retry";
  EXPECT_FALSE(sim::ParseProfile("[faults]\nbattery_at = [[1, 3]]", "x.toml").retry);
  EXPECT_TRUE(
      sim::RetryOf(sim::ParseProfile("[faults]\nbattery_at = [[1, 3]]", "x.toml")).faults.batteryAt.empty())
      << "without a retry table the power-up after a cut meets no fault";
}

TEST(ProfileToml, MistakesNameTheFileAndTheKey) {
  const std::pair<const char*, const char*> cases[] = {
      // The profile, and what the message mentions besides the file name.
      {"vendor = ", "not valid TOML"},
      {"colour = \"red\"", "unknown key 'colour'"},
      {"[power]\nvoltage = 7", "unknown key 'power.voltage'"},
      {"[power]\nbattery = 256", "key 'power.battery' must be an integer from 0 to 255"},
      {"serial = -1", "key 'serial'"},
      {"vendor = 7", "key 'vendor' must be a string"},
      {"product = \"a name far longer than thirty-one characters\"", "key 'product'"},
      {"shutdown_now = 1", "key 'shutdown_now' must be true or false"},
      {"power = 3", "key 'power' must be a table"},
      {"[flash]\nerase_seconds = \"ten\"", "key 'flash.erase_seconds' must be a number"},
      {"[flash]\nnever_program = [[0x200000, 1]]", "key 'flash.never_program'"},
      {"[faults]\nretry = 3", "key 'faults.retry' must be a table"},
      {"[faults.retry]\ncolour = 1", "unknown key 'faults.retry.colour'"},
      {"[faults.retry]\nunreadable_params = [\"x\"]", "key 'faults.retry.unreadable_params' names"},
      {"[faults.retry]\npower_cut = \"word\"", "key 'faults.retry.power_cut' names no cut point"},
      {"[faults.retry.retry]\n", "unknown key 'faults.retry.retry'"},
  };
  for (const auto& [text, mentions] : cases) {
    SCOPED_TRACE(text);
    try {
      sim::ParseProfile(text, "camera.toml");
      ADD_FAILURE() << "accepted";
    } catch (const sim::ProfileError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("camera.toml: ", 0), 0u) << message;
      EXPECT_NE(message.find(mentions), std::string::npos) << message;
    }
  }
  try {
    sim::LoadProfile("/nonexistent/camera.toml");
    ADD_FAILURE() << "an unreadable file accepted";
  } catch (const sim::ProfileError& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/camera.toml"), std::string::npos);
  }
}

}  // namespace

#endif
