// vupdate run as a person calls it: exit codes, messages, a card and a flash file left alone on bad input,
// and Ctrl-C or SIGTERM as a power cut.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "cli_fixture.h"

namespace {

using namespace cli_test;
using Options = std::map<std::string, std::string>;

class RunCommand : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "cam");
    WriteFile(card_ / "SYSTEM" / "UPDATE.CRS", "crs");
    WriteFile(card_ / "SYSTEM" / "QR40100.BIN", "not really an update file");
    WriteFile(profile_, "region = 1\n");
  }

  // `run` with the default options, changed by `change`; "@/" stands for the watched folder.
  std::vector<std::string> RunArgs(const Options& change) const {
    Options options = options_;
    for (const auto& [option, value] : change) options[option] = value;
    std::vector<std::string> args = {"run"};
    for (auto [option, value] : options) {
      if (value.rfind("@/", 0) == 0) value = (work_ / value.substr(2)).string();
      args.insert(args.end(), {option, value});
    }
    return args;
  }

  // Packs a file the default camera accepts (or, with another vendor, refuses) onto the card.
  void PackOntoCard(const std::string& name, const std::string& vendor, std::size_t imageSize) {
    std::string image(imageSize, '\0');
    for (std::size_t i = 0; i < imageSize; ++i) image[i] = static_cast<char>(i * 7 % 251);
    WriteFile(dir_.path() / "image.raw", image);
    fs::remove(card_ / "SYSTEM" / "QR40100.BIN");
    fs::create_directories(card_ / "SYSTEM");
    const Outcome o = Vupdate({"pack",
                               "--image",
                               (dir_.path() / "image.raw").string(),
                               "--out",
                               (card_ / "SYSTEM" / name).string(),
                               "--firmware",
                               "0x01100000",
                               "--ccs",
                               "0x01000000",
                               "--region",
                               "1",
                               "--installer",
                               "0x01000000",
                               "--vendor",
                               vendor,
                               "--product",
                               "Calyte QR",
                               "--serial-min",
                               "0",
                               "--serial-max",
                               "0xFFFFFFFF"});
    ASSERT_EQ(o.exit, 0) << o.err;
  }

  fs::path card_ = work_ / "card", profile_ = work_ / "camera.toml";
  fs::path flash_ = work_ / "flash.bin", report_ = work_ / "report.json";
  Options options_ = {{"--card", card_.string()},
                      {"--camera", profile_.string()},
                      {"--flash", flash_.string()},
                      {"--report", report_.string()}};
};

struct BadRun {
  const char* says;
  Options change;
  const char* profile = nullptr;  // null: the good one
  Kind flash = Kind::kNone;       // what is at the flash path beforehand
};

TEST_F(RunCommand, BadArgumentsExitTwoInOneLineAndTouchNothing) {
  const BadRun cases[] = {
      {"nowhere': No such file", {{"--card", "@/nowhere"}}},
      {"--flash: the path is empty", {{"--flash", ""}}},
      {"--camera: the path is empty", {{"--camera", ""}}},
      {"/card' is a folder, not a file", {{"--camera", "@/card"}}},
      {"camera.toml", {}, "region = = 1\n"},
      {"power.volts", {}, "[power]\nvolts = 7\n"},
      {"jump", {{"--keys", "left,jump"}}},
      {"remove:. names the card folder itself", {{"--keys", "left,remove:."}}},
      {"remove:SYSTEM names a folder", {{"--keys", "remove:SYSTEM"}}},
      {"more than ten years", {{"--keys", "wait:315360000,left,wait:1"}}},
      {"must hold exactly 2097152 bytes", {}, nullptr, Kind::kFile},
      {"is read-only", {}, nullptr, Kind::kReadOnly},
      {"symbolic link to nothing", {}, nullptr, Kind::kDanglingLink},
      {"is a fifo", {}, nullptr, Kind::kFifo},
      {"--flash and --report name the same file", {{"--report", "@/flash.bin"}}},
      {"--flash and --sounds name the same file", {{"--sounds", "@/flash.bin"}}},
      {"--report and --sounds name the same file", {{"--sounds", "@/report.json"}}},
      {"lies inside the --shots folder", {{"--shots", "@/"}}},
      {"lies inside the card folder", {{"--report", "@/card/SYSTEM/r.json"}}},
      {"names the camera profile", {{"--report", "@/camera.toml"}}},
      {"is a folder; only a regular file is written", {{"--sounds", "@/card"}}},
      {"is a file, not a folder", {{"--shots", "@/camera.toml"}}},
  };
  for (const BadRun& c : cases) {
    SCOPED_TRACE(c.says);
    fs::remove(flash_);
    ASSERT_TRUE(Make(c.flash, flash_));
    WriteFile(profile_, c.profile != nullptr ? c.profile : "region = 1\n");
    const auto before = DiskState();
    const Outcome o = Vupdate(RunArgs(c.change));
    EXPECT_EQ(o.exit, 2) << o.out << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(DiskState(), before);
  }
  EXPECT_FALSE(TemporariesLeft());
}

// A file the camera refuses, with a vendor and a name that are not UTF-8: the run ends and every output
// carries those bytes escaped.
TEST_F(RunCommand, ARunThatEndsExitsZeroWithSummaryReportFramesSoundsAndAFlashFile) {
  PackOntoCard("QR40\xff.BIN", "Soci\xe9t\xe9", 5000);
  const fs::path shots = work_ / "shots", sounds = work_ / "cues.wav";
  WriteFile(shots / "frame-0099.png", "a frame of an earlier run");
  WriteFile(shots / "notes.txt", "someone's notes");
  const Outcome o = Vupdate(RunArgs({{"--keys", "wait:1,right"}, {"--shots", shots}, {"--sounds", sounds}}));
  ASSERT_EQ(o.exit, 0) << o.out << o.err;
  EXPECT_NE(o.out.find("camera powered down"), std::string::npos) << o.out;
  const std::string vendorLine = "Vendor name:           'Norvale Co., Ltd.'(cam)  'Soci\\xE9t\\xE9'(file)";
  EXPECT_NE(o.out.find("log: " + vendorLine), std::string::npos) << o.out;
  const auto report = nlohmann::json::parse(ReadFile(report_));
  const auto want = nlohmann::json::parse(R"({"/powered_down": true, "/final_panel": 8, "/panels": [8],
      "/err_code": -1, "/debug_mode": false, "/eeprom_region": null, "/flash/erases": 0, "/sounds/0/id": -1010,
      "/sounds/0/wait": true, "/power_cut": null})");
  for (const auto& [key, value] : want.items()) {
    EXPECT_EQ(report.at(nlohmann::json::json_pointer(key)), value) << key;
  }
  EXPECT_EQ(report["log_lines"][7], vendorLine);
  EXPECT_GE(report["virtual_seconds"].get<double>(), 1.0);
  for (const char* shot : {"frame-0001.png", "sheet.png", "notes.txt"})
    EXPECT_TRUE(fs::exists(shots / shot)) << shot;
  EXPECT_FALSE(fs::exists(shots / "frame-0099.png")) << "a stale frame would pass for this run's";
  EXPECT_EQ(ReadFile(sounds).rfind("RIFF", 0), 0u);
  EXPECT_EQ(fs::file_size(flash_), 0x200000u);
  // A rejected update leaves the log but not the update files.
  EXPECT_TRUE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.CAM"));
  EXPECT_FALSE(TemporariesLeft());
}

// Ctrl-C or SIGTERM while the flash is programmed: the power is cut there. The flash file holds exactly what
// the chip held, whole; the card keeps the update files; the report says where the cut fell.
TEST_F(RunCommand, SignalWhileTheFlashIsProgrammedIsAPowerCut) {
  for (const auto& [sig, name] : {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"}}) {
    SCOPED_TRACE(name);
    fs::remove_all(card_);
    fs::remove(flash_);
    PackOntoCard("QR40100.BIN", "Norvale Co., Ltd.", 0x1FFFFF);
    WriteFile(card_ / "SYSTEM" / "UPDATE.CAM", "cam");
    WriteFile(card_ / "SYSTEM" / "UPDATE.CRS", "crs");
    const std::string image = ReadFile(dir_.path() / "image.raw");
    // Frames as pictures slow the run down enough to catch it programming.
    const pid_t pid = Start(RunArgs({{"--keys", "left,left,left,centre,right"}, {"--shots", "@/shots"}}));
    char head[16] = {};
    for (int i = 0; i < 5000; ++i) {
      const int fd = ::open(flash_.c_str(), O_RDONLY);
      const bool programming = fd >= 0 && ::pread(fd, head, sizeof head, 0) == sizeof head &&
                               std::string(head, sizeof head) == image.substr(0, sizeof head);
      if (fd >= 0) ::close(fd);
      if (programming) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, sig);
    const Outcome o = Wait(pid);
    ASSERT_EQ(o.exit, 3) << o.out << o.err;
    EXPECT_NE(o.out.find(std::string("power cut (") + name + ")"), std::string::npos) << o.out;
    const auto report = nlohmann::json::parse(ReadFile(report_));
    EXPECT_EQ(report["power_cut"]["by"], name);
    EXPECT_EQ(report["power_cut"]["panel"], 4);
    const std::string flash = ReadFile(flash_);
    ASSERT_EQ(flash.size(), 0x200000u);
    const std::size_t programmed = 2 * report["flash"]["words_programmed"].get<std::size_t>();
    ASSERT_GT(programmed, 16u);
    ASSERT_LT(programmed, image.size()) << "the cut fell before the end of programming";
    // Every word before the one cut is the image's; after it the chip is still erased.
    EXPECT_EQ(flash.substr(0, programmed - 2), image.substr(0, programmed - 2));
    EXPECT_EQ(flash.find_first_not_of('\xFF', programmed + 2), std::string::npos);
    for (const char* file : {"QR40100.BIN", "UPDATE.CAM", "UPDATE.CRS"}) {
      EXPECT_TRUE(fs::exists(card_ / "SYSTEM" / file)) << file;
    }
  }
  EXPECT_FALSE(TemporariesLeft());
}

}  // namespace
