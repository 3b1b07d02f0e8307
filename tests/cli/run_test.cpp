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

  // `run` with the default options, changed by `change`; "@/" stands for the watched folder, "@flag" for an
  // option without a value.
  std::vector<std::string> RunArgs(const Options& change) const {
    Options options = options_;
    for (const auto& [option, value] : change) options[option] = value;
    std::vector<std::string> args = {"run"};
    for (auto [option, value] : options) {
      if (value.rfind("@/", 0) == 0) value = (work_ / value.substr(2)).string();
      if (value == "@flag") {
        args.push_back(option);
      } else {
        args.insert(args.end(), {option, value});
      }
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

  // The card folder's files and their contents.
  std::map<std::string, std::string> CardState() const {
    std::map<std::string, std::string> state;
    for (const auto& e : fs::recursive_directory_iterator(card_))
      state[fs::relative(e.path(), card_).string()] = e.is_regular_file() ? ReadFile(e.path()) : "folder";
    return state;
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
  // Made first, paths relative to the watched folder: a file of 2 MiB, then hard links to it (or a fifo).
  std::vector<std::string> files = {};
  std::vector<std::pair<std::string, std::string>> links = {};  // {existing, new name}
  Kind other = Kind::kNone;                                     // at the last of `files`, instead of a file
};

// A row prints as what it says, for CTest's list and failure messages.
void PrintTo(const BadRun& row, std::ostream* os) {
  *os << row.says;
}

const BadRun kBadRuns[] = {
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
    // Outputs are told from inputs by the file they are, not by their names.
    {"is a file of the card folder",
     {},
     nullptr,
     Kind::kNone,
     {"card/SYSTEM/OLD.BIN"},
     {{"card/SYSTEM/OLD.BIN", "flash.bin"}}},
    {"is a file of the card folder",
     {{"--report", "@/r.json"}},
     nullptr,
     Kind::kNone,
     {},
     {{"card/SYSTEM/UPDATE.CAM", "r.json"}}},
    {"holds 'sheet.png', which is the camera profile",
     {{"--shots", "@/shots"}, {"--camera", "@/shots/sheet.png"}},
     nullptr,
     Kind::kNone,
     {},
     {{"camera.toml", "shots/sheet.png"}}},
    {"holds 'frame-0001.png', which is a file of the card",
     {{"--shots", "@/shots"}},
     nullptr,
     Kind::kNone,
     {},
     {{"card/SYSTEM/UPDATE.CRS", "shots/frame-0001.png"}}},
    {"is the card's SYSTEM folder; give the folder that holds it, '@/card'\n",
     {{"--card", "@/card/SYSTEM/"}}},
    {"'succes' is not a panel: one of splash|", {{"--expect", "succes"}}},
    {"is a fifo; a copy of the card holds files and folders only",
     {},
     nullptr,
     Kind::kNone,
     {"card/SYSTEM/PIPE"},
     {},
     Kind::kFifo},
};

class RunRefusals : public RunCommand, public ::testing::WithParamInterface<BadRun> {};

TEST_P(RunRefusals, ExitTwoInOneLineAndTouchNothing) {
  const BadRun& c = GetParam();
  {
    for (const std::string& file : c.files) {
      if (c.other != Kind::kNone && &file == &c.files.back()) {
        ASSERT_TRUE(Make(c.other, work_ / file));
      } else {
        WriteFile(work_ / file, std::string(0x200000, '\x55'));
      }
    }
    for (const auto& [existing, name] : c.links) {
      fs::create_directories((work_ / name).parent_path());
      fs::remove(work_ / name);
      fs::create_hard_link(work_ / existing, work_ / name);
    }
    ASSERT_TRUE(Make(c.flash, flash_));
    WriteFile(profile_, c.profile != nullptr ? c.profile : "region = 1\n");
    const auto before = DiskState();
    const Outcome o = Vupdate(RunArgs(c.change));
    EXPECT_EQ(o.exit, 2) << o.out << o.err;
    std::string says = c.says;  // "@/" stands for the watched folder here too
    if (const auto at = says.find("@/"); at != std::string::npos) says.replace(at, 2, work_.string() + "/");
    EXPECT_NE(o.err.find(says), std::string::npos) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(DiskState(), before);
  }
  EXPECT_FALSE(TemporariesLeft());
}

// The row's words, letters and digits only, as a test name.
std::string RowName(const ::testing::TestParamInfo<BadRun>& info) {
  std::string name;
  bool upper = true;
  for (const char ch : std::string_view(info.param.says)) {
    if (std::isalnum(static_cast<unsigned char>(ch)) == 0) {
      upper = true;
      continue;
    }
    name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(ch))) : ch;
    upper = false;
  }
  return name + "_" + std::to_string(info.index);
}
INSTANTIATE_TEST_SUITE_P(Table, RunRefusals, ::testing::ValuesIn(kBadRuns), RowName);

// A file the camera refuses, with a vendor and a name that are not UTF-8: the run ends and every output
// carries those bytes escaped, numbers with their names. The card folder stays as it was; the report shows
// the card the run left.
TEST_F(RunCommand, ARunThatEndsExitsZeroWithSummaryReportFramesSoundsAndAFlashFile) {
  PackOntoCard("QR40\xff.BIN", "Soci\xe9t\xe9", 5000);
  const fs::path shots = work_ / "shots", sounds = work_ / "cues.wav";
  WriteFile(shots / "frame-0099.png", "a frame of an earlier run");
  WriteFile(shots / "notes.txt", "someone's notes");
  const auto card = CardState();
  const Outcome o = Vupdate(RunArgs({{"--keys", "wait:1,right"}, {"--shots", shots}, {"--sounds", sounds}}));
  ASSERT_EQ(o.exit, 0) << o.out << o.err;
  for (const char* line :
       {"camera powered down\n", "final panel error (8), error code does not fit (-1)", "panels: error (8)\n",
        "sounds: alert (-1010) softkey (-1003)\n", "LED: ready (512)\n",
        "card (a copy; the folder is as it was) as the run left it:\n  SYSTEM/\n"
        "  SYSTEM/UPDATE.LOG  446 bytes\n"}) {
    EXPECT_NE(o.out.find(line), std::string::npos) << line << "\n" << o.out;
  }
  const std::string vendorLine = "Vendor name:           'Norvale Co., Ltd.'(cam)  'Soci\\xE9t\\xE9'(file)";
  EXPECT_NE(o.out.find("log: " + vendorLine), std::string::npos) << o.out;
  const auto report = nlohmann::json::parse(ReadFile(report_));
  const auto want = nlohmann::json::parse(R"({"/powered_down": true, "/final_panel": 8, "/panels": [8],
      "/final_panel_name": "error", "/panel_names": ["error"], "/err_code_name": "does not fit",
      "/err_code": -1, "/debug_mode": false, "/eeprom_region": null, "/flash/erases": 0, "/sounds/0/id": -1010,
      "/sounds/0/name": "alert", "/sounds/0/wait": true, "/power_cut": null, "/led": 512, "/led_name": "ready",
      "/card/in_place": false, "/card/files/0/path": "SYSTEM/", "/card/files/1/path": "SYSTEM/UPDATE.LOG"})");
  for (const auto& [key, value] : want.items()) {
    EXPECT_EQ(report.at(nlohmann::json::json_pointer(key)), value) << key;
  }
  EXPECT_EQ(report["card"]["files"].size(), 2u) << report["card"];
  EXPECT_EQ(report["card"]["log"], report["log_lines"]);
  EXPECT_EQ(report["log_lines"][7], vendorLine);
  EXPECT_GE(report["virtual_seconds"].get<double>(), 1.0);
  for (const char* shot : {"frame-0001.png", "sheet.png", "notes.txt"})
    EXPECT_TRUE(fs::exists(shots / shot)) << shot;
  EXPECT_FALSE(fs::exists(shots / "frame-0099.png")) << "a stale frame would pass for this run's";
  EXPECT_EQ(ReadFile(sounds).rfind("RIFF", 0), 0u);
  EXPECT_EQ(fs::file_size(flash_), 0x200000u);
  EXPECT_EQ(CardState(), card) << "the run works on a copy of the card";

  // In place, the refusal deletes the update files from the folder and leaves the log; the report says so.
  const Outcome inPlace = Vupdate(RunArgs({{"--keys", "wait:1,right"}, {"--in-place", "@flag"}}));
  ASSERT_EQ(inPlace.exit, 0) << inPlace.err;
  EXPECT_TRUE(fs::exists(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_FALSE(fs::exists(card_ / "SYSTEM" / "UPDATE.CAM"));
  const auto after = nlohmann::json::parse(ReadFile(report_));
  EXPECT_EQ(after["card"]["in_place"], true);
  std::vector<std::string> listed;
  for (const auto& f : after["card"]["files"]) listed.push_back(f["path"]);
  EXPECT_EQ(listed, (std::vector<std::string>{"SYSTEM/", "SYSTEM/UPDATE.LOG"}));
  EXPECT_EQ(after["card"]["files"][1]["size"], fs::file_size(card_ / "SYSTEM" / "UPDATE.LOG"));
  EXPECT_FALSE(TemporariesLeft());
}

// --expect names the panel the run must end on; another panel has an exit status of its own.
TEST_F(RunCommand, ExpectGivesItsOwnExitStatusWhenTheCameraEndsElsewhere) {
  PackOntoCard("QR40100.BIN", "Another Vendor", 5000);
  const struct {
    const char* expect;
    int exit;
    const char* says;
  } rows[] = {{"error", 0, ""}, {"success", 5, "the camera ended on the error panel (8), not success\n"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expect);
    const Outcome o = Vupdate(RunArgs({{"--keys", "wait:1,right"}, {"--expect", row.expect}}));
    EXPECT_EQ(o.exit, row.exit) << o.err;
    EXPECT_NE(o.err.find(row.says), std::string::npos) << o.err;
    EXPECT_TRUE(fs::exists(report_));
  }
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

// Ctrl-C while a missing flash file is made: the power is cut once the camera exists, and the file being made
// does not stay behind. The window is short; each try stops the run as soon as the file being made shows.
TEST_F(RunCommand, SignalWhileTheFlashFileIsMadeLeavesNoTemporaryFile) {
  const auto temporaries = [&] {
    int found = 0;
    for (const auto& e : fs::directory_iterator(work_))
      found += e.path().filename().string().rfind("flash.bin.new-", 0) == 0;
    return found;
  };
  int caught = 0;
  for (int attempt = 0; attempt < 25; ++attempt) {
    fs::remove(flash_);
    const pid_t pid = Start(RunArgs({}));
    for (int i = 0; i < 200000 && temporaries() == 0; ++i) {
    }
    caught += temporaries() != 0;
    ::kill(pid, SIGINT);
    const Outcome o = Wait(pid);
    EXPECT_TRUE(o.exit == 3 || o.exit == 0) << o.exit << " " << o.signal << " " << o.err;
    ASSERT_EQ(temporaries(), 0) << "attempt " << attempt;
  }
  std::printf("signal arrived while the flash file was made in %d of 25 tries\n", caught);
}

// A signal once the camera has powered down changes nothing: here the run is done and blocked writing its
// summary into a full pipe when SIGTERM comes. It still exits 0 with its report.
TEST_F(RunCommand, SignalAfterThePowerDownLeavesTheOutcomeAndTheReport) {
  PackOntoCard("QR40100.BIN", "Another Vendor", 5000);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
  ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'x');
  while (::write(pipeFds[1], filler.data(), filler.size()) > 0) {
  }
  ::fcntl(pipeFds[1], F_SETFL, 0);
  std::vector<std::string> all = {program_.string()};
  for (const auto& a : RunArgs({{"--keys", "wait:1,right"}})) all.push_back(a);
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t io;
  posix_spawn_file_actions_init(&io);
  posix_spawn_file_actions_adddup2(&io, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&io, pipeFds[0]);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, program_.c_str(), &io, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&io);
  ::close(pipeFds[1]);
  for (int i = 0; i < 1000 && !fs::exists(report_); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(report_));
  // Blocked in the write of its summary, where the kernel says so.
  const fs::path wchan = fs::path("/proc") / std::to_string(pid) / "wchan";
  for (int i = 0; i < 500 && ReadFile(wchan).find("pipe_write") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(pid, SIGTERM);
  char buffer[4096];
  while (::read(pipeFds[0], buffer, sizeof buffer) > 0) {
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(nlohmann::json::parse(ReadFile(report_))["power_cut"], nullptr);
}

}  // namespace
