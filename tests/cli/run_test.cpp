// vupdate run as a person calls it: exit codes, messages, and a card left alone on bad input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../sim/sim_fixture.h"

namespace {

using sim_test::ReadFile;
using sim_test::TempDir;
using sim_test::WriteFile;
namespace fs = std::filesystem;

struct Outcome {
  int exit = -1;
  std::string out;  // standard output and standard error together
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

Outcome Vupdate(const std::vector<std::string>& args, const char* subcommand = "run") {
  std::string command = Quote(VUPDATE_PATH) + " " + subcommand;
  for (const auto& a : args) command += " " + Quote(a);
  command += " 2>&1";
  Outcome o;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return o;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) o.out.append(buf, n);
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
    card_ = dir_.path() / "card";
    WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "cam");
    WriteFile(card_ / "SYSTEM" / "UPDATE.CRS", "crs");
    WriteFile(card_ / "SYSTEM" / "QR40100.BIN", "not really an update file");
    profile_ = dir_.path() / "camera.toml";
    WriteFile(profile_, "region = 1\n");
    flash_ = dir_.path() / "flash.bin";
  }

  TempDir dir_;
  fs::path card_;
  fs::path profile_;
  fs::path flash_;
};

struct BadInput {
  const char* what;
  const char* profile;  // null: the good one
  const char* keys;     // null: none
  bool missingCard;
  std::uintmax_t flashSize;  // 0: no flash file
  const char* mentions;
};

TEST_F(RunCommand, BadArgumentsExitTwoNamingTheProblemAndTouchNothing) {
  const BadInput cases[] = {
      {"missing card", nullptr, nullptr, true, 0, "nowhere"},
      {"bad TOML", "region = = 1\n", nullptr, false, 0, "camera.toml"},
      {"unknown key", "[power]\nvolts = 7\n", nullptr, false, 0, "power.volts"},
      {"wrong type", "[power]\nbattery = \"full\"\n", nullptr, false, 0, "power.battery"},
      {"bad key token", nullptr, "left,jump", false, 0, "jump"},
      {"bad remove path", nullptr, "remove:../card/SYSTEM/UPDATE.CAM", false, 0, "remove:../card"},
      {"short flash file", nullptr, nullptr, false, 1000, "flash.bin"},
  };
  const auto before = Snapshot(card_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(flash_);
    if (c.flashSize != 0) WriteFile(flash_, std::string(c.flashSize, '\x55'));
    const fs::path profile = dir_.path() / "camera.toml";
    WriteFile(profile, c.profile != nullptr ? c.profile : "region = 1\n");
    std::vector<std::string> args = {
        "--card",   c.missingCard ? (dir_.path() / "nowhere").string() : card_.string(),
        "--camera", profile.string(),
        "--flash",  flash_.string(),
        "--report", (dir_.path() / "report.json").string()};
    if (c.keys != nullptr) {
      args.push_back("--keys");
      args.push_back(c.keys);
    }
    const Outcome o = Vupdate(args);
    EXPECT_EQ(o.exit, 2) << o.out;
    EXPECT_NE(o.out.find(c.mentions), std::string::npos) << o.out;
    EXPECT_EQ(Snapshot(card_), before);
    EXPECT_FALSE(fs::exists(dir_.path() / "report.json"));
    EXPECT_EQ(fs::exists(flash_) ? fs::file_size(flash_) : 0u, c.flashSize);
  }
}

TEST_F(RunCommand, MissingRequiredOptionIsABadArgument) {
  const Outcome o = Vupdate({"--card", card_.string(), "--camera", profile_.string()});
  EXPECT_EQ(o.exit, 2) << o.out;
  EXPECT_NE(o.out.find("--flash"), std::string::npos) << o.out;
}

TEST_F(RunCommand, ARunThatEndsExitsZeroWithReportFramesAndAFlashFile) {
  const fs::path shots = dir_.path() / "shots";
  const Outcome o =
      Vupdate({"--card", card_.string(), "--camera", profile_.string(), "--flash", flash_.string(), "--keys",
               "wait:1,right", "--shots", shots.string(), "--report", "-"});
  ASSERT_EQ(o.exit, 0) << o.out;
  const auto report = nlohmann::json::parse(o.out);
  EXPECT_EQ(report["powered_down"], true);
  EXPECT_EQ(report["final_panel"], 8);
  EXPECT_EQ(report["panels"], nlohmann::json::array({8}));
  EXPECT_EQ(report["err_code"], -2);
  EXPECT_EQ(report["debug_mode"], false);
  EXPECT_TRUE(report["eeprom_region"].is_null());
  EXPECT_EQ(report["flash"]["erases"], 0);
  EXPECT_EQ(report["sounds"][0]["id"], -1010);
  EXPECT_EQ(report["sounds"][0]["wait"], true);
  EXPECT_FALSE(report["log_lines"].empty());
  EXPECT_GE(report["virtual_seconds"].get<double>(), 1.0);
  const auto frames = report["frames"].get<int>();
  EXPECT_GE(frames, 1);
  EXPECT_TRUE(report.contains("progress"));
  EXPECT_TRUE(fs::exists(shots / "frame-0001.png"));
  EXPECT_TRUE(fs::exists(shots / "sheet.png"));
  EXPECT_EQ(fs::file_size(flash_), 0x200000u);
  // A rejected update leaves the log but not the update files.
  EXPECT_TRUE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.CAM"));
}

TEST_F(RunCommand, ASummaryGoesToStandardOutputAndTheReportToItsFile) {
  const fs::path report = dir_.path() / "report.json";
  const Outcome o = Vupdate({"--card", card_.string(), "--camera", profile_.string(), "--flash",
                             flash_.string(), "--report", report.string()});
  ASSERT_EQ(o.exit, 0) << o.out;
  EXPECT_NE(o.out.find("key script ran out"), std::string::npos) << o.out;
  const auto json = nlohmann::json::parse(ReadFile(report));
  EXPECT_EQ(json["powered_down"], false);
}

class RunUpdate : public RunCommand {
 protected:
  // A valid update file for the sample camera, with an image of recognisable bytes.
  void Pack() {
    image_.resize(100'000);
    for (std::size_t i = 0; i < image_.size(); ++i) image_[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    WriteFile(dir_.path() / "image.bin", image_);
    fs::remove(card_ / "SYSTEM" / "QR40100.BIN");
    const Outcome o = Vupdate({"--image",      (dir_.path() / "image.bin").string(),
                               "--out",        (card_ / "SYSTEM" / "QR40110.BIN").string(),
                               "--firmware",   "0x01100000",
                               "--ccs",        "0x01000000",
                               "--region",     "1",
                               "--installer",  "0x01000000",
                               "--vendor",     "Norvale Co., Ltd.",
                               "--product",    "Calyte QR",
                               "--serial-min", "0",
                               "--serial-max", "0xFFFFFFFF"},
                              "pack");
    ASSERT_EQ(o.exit, 0) << o.out;
  }
  nlohmann::json Run(const std::string& keys) {
    const Outcome o = Vupdate({"--card", card_.string(), "--camera", profile_.string(), "--flash",
                               flash_.string(), "--keys", keys, "--report", "-"});
    EXPECT_EQ(o.exit, 0) << o.out;
    return nlohmann::json::parse(o.out, nullptr, false);
  }
  std::string image_;
};

TEST_F(RunUpdate, TheWholeUpdateProgramsTheFlashAndClearsTheCard) {
  Pack();
  const auto r = Run("left,left,left,centre,right");
  EXPECT_EQ(r["powered_down"], true);
  EXPECT_EQ(r["panels"], nlohmann::json::array({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(r["final_panel"], 5);
  EXPECT_EQ(r["err_code"], 0);
  EXPECT_EQ(r["flash"]["erases"], 1);
  EXPECT_EQ(r["flash"]["words_programmed"], image_.size() / 2);
  EXPECT_EQ(r["flash"]["write_enable_violations"], 0);
  EXPECT_EQ(r["progress"]["value"], r["progress"]["max"]);
  EXPECT_GT(r["virtual_seconds"].get<double>(), 10.0);  // one full-chip erase takes ten
  EXPECT_EQ(r["faults"]["inside_interrupt_lock"], 0);
  EXPECT_EQ(ReadFile(flash_).substr(0, image_.size()), image_);
  EXPECT_EQ(Snapshot(card_), (std::map<std::string, std::string>{{"SYSTEM", "<dir>"}}));
}

TEST_F(RunUpdate, ACodeFilePulledBeforeUpdateEndsOnTheErrorPanelWithTheFlashUntouched) {
  Pack();
  const std::string oldFlash = ReadFile(flash_);  // none yet: the run creates the old firmware
  const auto r = Run("left,left,left,remove:SYSTEM/QR40110.BIN,centre,right");
  EXPECT_EQ(r["powered_down"], true);
  EXPECT_EQ(r["final_panel"], 8);
  EXPECT_EQ(r["flash"]["erases"], 0);
  EXPECT_EQ(r["log_lines"].back(), "File /B/SYSTEM/QR40110.BIN not found.");
  EXPECT_NE(ReadFile(flash_).substr(0, image_.size()), image_);
  EXPECT_TRUE(oldFlash.empty());
}

}  // namespace
