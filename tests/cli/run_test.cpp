// vupdate run as a person calls it: exit codes, messages, and a card left alone on bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>

#include "../sim/sim_fixture.h"

namespace {

using sim_test::ReadFile;
using sim_test::WriteFile;
namespace fs = std::filesystem;
using Options = std::map<std::string, std::string>;

struct Outcome {
  int exit = -1;
  std::string out;  // standard output and standard error together
};

Outcome VupdateRun(const Options& options) {
  std::string command = std::string("'") + VUPDATE_PATH + "' run";
  for (const auto& [option, value] : options) {
    command += " " + option + " '";
    for (char c : value) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  Outcome o;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return o;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) o.out.append(buf, n);
  const int status = pclose(pipe);
  o.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

// Every file of the card with its contents.
std::map<std::string, std::string> Snapshot(const fs::path& card) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(card)) {
    files[fs::relative(e.path(), card).string()] = e.is_regular_file() ? ReadFile(e.path()) : "<dir>";
  }
  return files;
}

class RunCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "cam");
    WriteFile(card_ / "SYSTEM" / "UPDATE.CRS", "crs");
    WriteFile(card_ / "SYSTEM" / "QR40100.BIN", "not really an update file");
    WriteFile(profile_, "region = 1\n");
  }

  sim_test::TempDir dir_;
  fs::path card_ = dir_.path() / "card", profile_ = dir_.path() / "camera.toml";
  fs::path flash_ = dir_.path() / "flash.bin", report_ = dir_.path() / "report.json";
  Options options_ = {{"--card", card_.string()},
                      {"--camera", profile_.string()},
                      {"--flash", flash_.string()},
                      {"--report", report_.string()}};
};

TEST_F(RunCommand, BadArgumentsExitTwoNamingTheProblemAndTouchNothing) {
  // The profile (null: the good one), options changed (an empty value leaves the option out), the size of
  // a flash file already there (0: none), and what the message names.
  const std::tuple<const char*, Options, std::uintmax_t, const char*> cases[] = {
      {nullptr, {{"--card", (dir_.path() / "nowhere").string()}}, 0, "nowhere"},
      {nullptr, {{"--flash", ""}}, 0, "--flash"},
      {"region = = 1\n", {}, 0, "camera.toml"},
      {"[power]\nvolts = 7\n", {}, 0, "power.volts"},
      {"[power]\nbattery = \"full\"\n", {}, 0, "power.battery"},
      {nullptr, {{"--keys", "left,jump"}}, 0, "jump"},
      {nullptr, {{"--keys", "remove:../card/SYSTEM/UPDATE.CAM"}}, 0, "remove:../card"},
      {nullptr, {}, 1000, "flash.bin"},
  };
  const auto before = Snapshot(card_);
  for (const auto& [profile, changed, flashSize, mentions] : cases) {
    SCOPED_TRACE(mentions);
    fs::remove(flash_);
    if (flashSize != 0) WriteFile(flash_, std::string(flashSize, '\x55'));
    WriteFile(profile_, profile != nullptr ? profile : "region = 1\n");
    Options options = options_;
    for (const auto& [option, value] : changed) options[option] = value;
    std::erase_if(options, [](const auto& o) { return o.second.empty(); });
    const Outcome o = VupdateRun(options);
    EXPECT_EQ(o.exit, 2) << o.out;
    EXPECT_NE(o.out.find(mentions), std::string::npos) << o.out;
    EXPECT_EQ(Snapshot(card_), before);
    EXPECT_FALSE(fs::exists(report_));
    EXPECT_EQ(fs::exists(flash_) ? fs::file_size(flash_) : 0u, flashSize);
  }
}

TEST_F(RunCommand, ARunThatEndsExitsZeroWithSummaryReportFramesSoundsAndAFlashFile) {
  const fs::path shots = dir_.path() / "shots", sounds = dir_.path() / "cues.wav";
  Options options = options_;
  options.insert({{"--keys", "wait:1,right"}, {"--shots", shots.string()}, {"--sounds", sounds.string()}});
  const Outcome o = VupdateRun(options);
  ASSERT_EQ(o.exit, 0) << o.out;
  EXPECT_NE(o.out.find("camera powered down"), std::string::npos) << o.out;
  const auto report = nlohmann::json::parse(ReadFile(report_));
  const auto want = nlohmann::json::parse(R"({"/powered_down": true, "/final_panel": 8, "/panels": [8],
      "/err_code": -2, "/debug_mode": false, "/eeprom_region": null, "/flash/erases": 0, "/sounds/0/id": -1010,
      "/sounds/0/wait": true})");
  for (const auto& [key, value] : want.items()) {
    EXPECT_EQ(report.at(nlohmann::json::json_pointer(key)), value) << key;
  }
  EXPECT_FALSE(report["log_lines"].empty());
  EXPECT_GE(report["virtual_seconds"].get<double>(), 1.0);
  EXPECT_GE(report["frames"].get<int>(), 1);
  EXPECT_TRUE(report.contains("progress"));
  for (const char* shot : {"frame-0001.png", "sheet.png"}) EXPECT_TRUE(fs::exists(shots / shot)) << shot;
  EXPECT_EQ(ReadFile(sounds).rfind("RIFF", 0), 0u);
  EXPECT_EQ(ReadFile(sounds).find("WAVE"), 8u);
  EXPECT_EQ(fs::file_size(flash_), 0x200000u);
  // A rejected update leaves the log but not the update files.
  EXPECT_TRUE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.CAM"));
}

}  // namespace
