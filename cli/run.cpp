// vupdate run: the updater on the simulated camera, against a card folder, a profile, a flash file and keys.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "cli/card_copy.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/report.h"
#include "harness/names.h"
#include "harness/runner.h"
#include "sim/camera.h"
#include "sim/events.h"
#include "sim/flash_storage.h"
#include "sim/profile_toml.h"
#include "sim/sound.h"
#include "updatefile/inspect_file.h"
#include "updatefile/update_file.h"

namespace fs = std::filesystem;

namespace vupdate {

namespace {

struct RunArgs {
  std::string card;
  std::optional<std::string> camera;  // none: the built-in camera
  std::string flash;
  std::string keys;
  std::optional<std::string> shots;
  std::optional<std::string> report;
  std::optional<std::string> sounds;
  std::optional<std::string> expect;  // the panel the camera must end on
  bool inPlace = false;
};

// What the checks found out on the way, for the run.
struct Prepared {
  sim::CameraOptions options;
  std::shared_ptr<sim::CardStorage> card;
  cardcopy::Walk walk;
};

// The panels a run can end on, by the names the reports give them.
constexpr int kEndPanels[] = {kSplashPanel,       kVersionPanel,  kLicencePanel,
                              kPowerWarningPanel, kProgressPanel, kSuccessPanel,
                              kCancelledPanel,    kBatteryPanel,  kErrorPanel};

std::string EndPanelNames() {
  std::string names;
  for (const int panel : kEndPanels)
    names += (names.empty() ? "" : "|") + std::string(harness::PanelName(panel));
  return names;
}

// As long as one wait may be; more in total and the virtual clock's seconds would not mean much.
constexpr std::uint64_t kLongestScriptNs = 10ULL * 365 * 24 * 3600 * 1'000'000'000ULL;

using Problem = paths::Problem;

Problem CheckKeys(const std::string& script, const fs::path& card) {
  std::vector<sim::ScriptStep> steps;
  try {
    steps = sim::ParseKeyScript(script);
  } catch (const sim::KeyScriptError& e) {
    return "--keys: " + vupdate::EscapeBytes(e.what());
  }
  std::uint64_t waited = 0;
  for (const sim::ScriptStep& step : steps) {
    if (step.kind == sim::ScriptStep::Kind::kWait) {
      if (step.waitNs > kLongestScriptNs - waited) {
        return std::string("--keys: the waits add up to more than ten years of virtual time");
      }
      waited += step.waitNs;
    }
    if (step.kind != sim::ScriptStep::Kind::kRemove) continue;
    const fs::path normal = fs::path(step.path).lexically_normal();
    std::error_code ec;
    if (normal.empty() || normal == "." || normal == "./") {
      return "--keys: remove:" + vupdate::EscapeBytes(step.path) + " names the card folder itself";
    }
    if (fs::is_directory(card / normal, ec)) {
      return "--keys: remove:" + vupdate::EscapeBytes(step.path) + " names a folder; remove: deletes a file";
    }
  }
  return std::nullopt;
}

// Given the card's SYSTEM folder rather than the card, the camera finds no update files and says only that.
Problem CheckCardTop(const std::string& card) {
  fs::path folder = fs::path(card).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();  // a trailing separator
  std::string name = folder.filename().string();
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
  std::error_code ec;
  if (name != "SYSTEM" || fs::exists(folder / "SYSTEM", ec)) return std::nullopt;
  const fs::path top = fs::absolute(folder, ec).lexically_normal().parent_path();
  return "--card " + paths::Shown(card) + " is the card's SYSTEM folder; give the folder that holds it, " +
         paths::Shown(top.empty() ? fs::path("..") : top);
}

// What the run writes into --shots (and removes there first): none of it may be an input or another output.
Problem CheckShotsContents(const RunArgs& a, const cardcopy::Walk& card) {
  if (!a.shots) return std::nullopt;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(*a.shots, ec)) {
    const std::string name = entry.path().filename().string();
    const bool frame = name.rfind("frame-", 0) == 0 && entry.path().extension() == ".png";
    if (!frame && name != "sheet.png") continue;
    const auto id = paths::IdOf(entry.path());
    if (!id) continue;
    const auto what = [&](const std::string& is) {
      return "--shots " + paths::Shown(*a.shots) + " holds " + paths::Shown(name) + ", which is " + is +
             "; the run replaces that name";
    };
    if (a.camera && paths::IdOf(*a.camera) == id) return what("the camera profile");
    if (paths::IdOf(a.flash) == id) return what("the --flash file");
    if (a.report && *a.report != "-" && paths::IdOf(*a.report) == id) return what("the --report file");
    if (a.sounds && paths::IdOf(*a.sounds) == id) return what("the --sounds file");
    if (std::find(card.files.begin(), card.files.end(), *id) != card.files.end())
      return what("a file of the card");
  }
  return std::nullopt;
}

// No output may land on another, on an input, or inside the card or the shots folder.
Problem CheckCollisions(const RunArgs& a, const cardcopy::Walk& card) {
  std::vector<std::pair<const char*, std::string>> outputs = {{"--flash", a.flash}};
  if (a.report && *a.report != "-") outputs.push_back({"--report", *a.report});
  if (a.sounds) outputs.push_back({"--sounds", *a.sounds});
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& [name, path] = outputs[i];
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (paths::SameFile(path, outputs[j].second)) {
        return std::string(name) + " and " + outputs[j].first + " name the same file " + paths::Shown(path);
      }
    }
    if (a.camera && paths::SameFile(path, *a.camera)) {
      return std::string(name) + " names the camera profile " + paths::Shown(path);
    }
    if (paths::Inside(path, a.card)) {
      return std::string(name) + " " + paths::Shown(path) + " lies inside the card folder";
    }
    // A hard link reaches a file of the card from anywhere.
    if (const auto id = paths::IdOf(path);
        id && std::find(card.files.begin(), card.files.end(), *id) != card.files.end()) {
      return std::string(name) + " " + paths::Shown(path) + " is a file of the card folder (a link to it)";
    }
    if (a.shots && paths::Inside(path, *a.shots)) {
      return std::string(name) + " " + paths::Shown(path) + " lies inside the --shots folder";
    }
  }
  if (a.shots && (paths::Inside(*a.shots, a.card) || paths::Inside(a.card, *a.shots))) {
    return "--shots " + paths::Shown(*a.shots) + " and the card folder overlap";
  }
  return CheckShotsContents(a, card);
}

// Everything the run needs, checked before the card or any output is touched.
Problem Validate(const RunArgs& a, Prepared* prepared) {
  sim::CameraOptions* options = &prepared->options;
  if (auto problem = paths::CheckInputFolder("--card", a.card)) return problem;
  if (auto problem = CheckCardTop(a.card)) return problem;
  if (a.expect && std::none_of(std::begin(kEndPanels), std::end(kEndPanels),
                               [&](int panel) { return harness::PanelName(panel) == *a.expect; })) {
    return "--expect '" + vupdate::EscapeBytes(*a.expect) + "' is not a panel: one of " + EndPanelNames();
  }
  if (a.camera) {
    if (auto problem = paths::CheckInputFile("--camera", *a.camera)) return problem;
    try {
      options->profile = sim::LoadProfile(*a.camera);
    } catch (const sim::ProfileError& e) {
      return vupdate::EscapeBytes(e.what());
    }
  }
  if (auto problem = CheckKeys(a.keys, a.card)) return problem;
  if (auto problem = paths::CheckFlashFile("--flash", a.flash, true)) return problem;
  if (a.report && *a.report != "-") {
    if (auto problem = paths::CheckOutputFile("--report", *a.report, false)) return problem;
  }
  if (a.sounds) {
    if (auto problem = paths::CheckOutputFile("--sounds", *a.sounds, false)) return problem;
  }
  if (a.shots) {
    if (auto problem = paths::CheckOutputFolder("--shots", *a.shots)) return problem;
  }
  std::shared_ptr<sim::MemoryCard> copy;
  if (!a.inPlace) copy = std::make_shared<sim::MemoryCard>();
  if (auto problem = cardcopy::Read(a.card, copy.get(), &prepared->walk)) return problem;
  if (auto problem = CheckCollisions(a, prepared->walk)) return problem;
  prepared->card = copy ? std::shared_ptr<sim::CardStorage>(copy) : std::make_shared<sim::FolderCard>(a.card);
  options->cardStorage = prepared->card;
  options->cardDir = a.card;
  options->flashFile = a.flash;
  options->keys = a.keys;
  return std::nullopt;
}

// A folder used before holds the frames of that run; they would be taken for this one's.
Problem PrepareShots(const fs::path& shots) {
  std::error_code ec;
  fs::create_directory(shots, ec);
  if (ec) return "cannot make the --shots folder " + paths::Shown(shots) + ": " + ec.message();
  for (const auto& entry : fs::directory_iterator(shots, ec)) {
    const std::string name = entry.path().filename().string();
    const bool frame = name.rfind("frame-", 0) == 0 && entry.path().extension() == ".png";
    if ((frame || name == "sheet.png") && entry.is_regular_file(ec)) fs::remove(entry.path(), ec);
  }
  return std::nullopt;
}

bool WriteReport(const std::string& path, const std::string& text) {
  interrupt::RemoveOnSignal temporary;
  const auto problem =
      vupdate::WriteFileAtomically(path, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()},
                                   [&temporary](const fs::path& temp) { temporary.Set(temp); });
  if (problem) std::cerr << "vupdate run: " << vupdate::EscapeBytes(*problem) << "\n";
  return !problem;
}

// The WAV file beside its final name first, so that a failure or a signal leaves no partial file.
bool WriteSounds(sim::Camera& camera, const fs::path& path) {
  interrupt::RemoveOnSignal temporary;
  const fs::path temp = path.parent_path() / ("." + path.filename().string() + ".part");
  temporary.Set(temp);
  std::error_code ec;
  if (camera.sound().WriteWav(temp) && (fs::rename(temp, path, ec), !ec)) return true;
  fs::remove(temp, ec);
  std::cerr << "vupdate run: cannot write --sounds " << paths::Shown(path) << "\n";
  return false;
}

// Ctrl-C and SIGTERM take the camera's supply away while the camera runs, including while its flash file is
// made; once it has powered down, the run's outcome stands and its outputs are written.
class PowerSwitch {
 public:
  void Signal(int sig) {
    std::lock_guard lock(mutex_);
    if (over_ || signal_ != 0) return;
    signal_ = sig;
    if (camera_ != nullptr) camera_->RequestPowerCut();
  }
  void Attach(sim::Camera* camera) {
    std::lock_guard lock(mutex_);
    camera_ = camera;
    if (signal_ != 0) camera_->RequestPowerCut();
  }
  // The signal that cut the power, 0 for none.
  int Finish() {
    std::lock_guard lock(mutex_);
    over_ = true;
    camera_ = nullptr;
    return signal_;
  }

 private:
  std::mutex mutex_;
  sim::Camera* camera_ = nullptr;
  bool over_ = false;
  int signal_ = 0;
};

int Run(const RunArgs& args) {
  Prepared prepared;
  if (const auto problem = Validate(args, &prepared)) {
    std::cerr << "vupdate run: " << *problem << "\n";
    return kExitUsage;
  }
  // Held by the signal thread's copy of the action as long as that may run. A signal sent once the run is
  // over, while its outputs are written or the process ends, is still taken here, and changes nothing.
  const auto power = std::make_shared<PowerSwitch>();
  interrupt::DivertUntilExit([power](int sig) { power->Signal(sig); });
  // A second signal ends the process; the flash file being made must not stay behind half written.
  interrupt::RemoveOnSignal flashTemporary;
  std::error_code ec;
  if (!fs::exists(args.flash, ec) || fs::is_empty(args.flash, ec)) {
    flashTemporary.Set(sim::FlashFileTemporary(args.flash));
  }
  // Mapping the flash file (made whole first when missing) is the last check and the first change.
  std::unique_ptr<sim::Camera> camera;
  try {
    camera = std::make_unique<sim::Camera>(std::move(prepared.options));
  } catch (const std::exception& e) {
    power->Finish();
    std::cerr << "vupdate run: " << vupdate::EscapeBytes(e.what()) << "\n";
    return kExitUsage;
  }
  harness::RunOptions runOptions;
  if (args.shots) {
    if (const auto problem = PrepareShots(*args.shots)) {
      std::cerr << "vupdate run: " << *problem << "\n";
      return kExitUsage;
    }
    runOptions.shotsDir = *args.shots;
  }

  // The run stops where the signal finds it; the flash file keeps what the chip holds then, and the outputs
  // still say what happened.
  power->Attach(camera.get());
  const harness::RunResult result = harness::RunModule(*camera, runOptions);
  const int cutBy = power->Finish();

  int exit = result.powerCut ? kExitPowerCut : result.ended() ? kExitOk : kExitFailed;
  if (exit == kExitOk && args.expect && harness::PanelName(result.finalPanel) != *args.expect) {
    std::cerr << "vupdate run: the camera ended on the " << harness::PanelName(result.finalPanel)
              << " panel (" << static_cast<int>(result.finalPanel) << "), not " << *args.expect << "\n";
    exit = kExitUnexpected;
  }
  for (const auto& error : result.shotErrors) {
    std::cerr << "vupdate run: " << vupdate::EscapeBytes(error) << "\n";
    exit = kExitFailed;
  }
  if (!result.error.empty()) std::cerr << "vupdate run: " << vupdate::EscapeBytes(result.error) << "\n";
  if (args.sounds && !WriteSounds(*camera, *args.sounds)) exit = kExitFailed;

  RunFacts facts{args.camera ? *args.camera : std::string()};
  if (cutBy != 0 && result.powerCut)
    facts.cutBy = sigabbrev_np(cutBy) != nullptr ? std::string("SIG") + sigabbrev_np(cutBy) : "a signal";
  facts.cardFolder = args.card;
  facts.cardInPlace = args.inPlace;
  facts.card = cardcopy::Describe(*prepared.card);
  const std::string report = Dump(RunReport(result, facts)) + "\n";
  if (args.report && *args.report == "-") {
    std::cout << report;
  } else {
    // The report first: a reader of the summary may stop reading, which must not cost the file.
    if (args.report && !WriteReport(*args.report, report)) exit = kExitFailed;
    std::cout << RunSummary(result, facts);
  }
  std::cout.flush();
  return exit;
}

}  // namespace

void AddRunCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* run = app.add_subcommand("run", "Run the updater on the simulated camera");
  run->add_option(
         "--card", args->card,
         "Card folder: drive B of the camera (the folder holding SYSTEM). The run works on a copy in "
         "memory and leaves the folder as it is, unless --in-place")
      ->required();
  run->add_flag("--in-place", args->inPlace,
                "Run on the card folder itself: the camera writes its log there and deletes the update files "
                "as it would on a real card. Default: a copy");
  run->add_option("--camera", args->camera, "Camera profile (TOML). Default: the built-in camera");
  run->add_option("--flash", args->flash,
                  "Flash ROM contents, 2 MiB, written in place throughout the run; created when missing")
      ->required();
  run->add_option(
      "--keys", args->keys,
      "Key script: left,centre,right,power,debug,key:C[:S],event4:V,wait:S,remove:P. Default: none "
      "(the run ends when the updater first waits for a key)");
  run->add_option("--shots", args->shots,
                  "Folder for every LCD frame as PNG and sheet.png (frames of an earlier run are removed). "
                  "Default: no pictures");
  run->add_option("--report", args->report, "JSON report file, or - for standard output. Default: none");
  run->add_option("--sounds", args->sounds,
                  "The cues played, one after another, as a WAV file. Default: none");
  run->add_option("--expect", args->expect,
                  "The panel the camera must end on (" + EndPanelNames() + "); another one exits 5");
  run->footer(
      "Exit status: 0 the run ended (power-down or the key script ran out), whatever the updater decided\n"
      "(with --expect: on that panel); 1 the run stopped otherwise, or an output could not be written;\n"
      "2 bad arguments or profile, nothing touched; 3 the power was cut (Ctrl-C, SIGTERM or SIGHUP while "
      "the\n"
      "camera runs, or by the simulated camera itself); 5 the run ended on another panel than --expect.\n"
      "A signal after the camera has powered down changes nothing: the outputs are written and the exit\n"
      "status stands.\n"
      "Texts from the camera: bytes that are not printable UTF-8, and a backslash, are shown as \\xHH.");
  run->callback([args, exitCode] { *exitCode = Run(*args); });
}

}  // namespace vupdate
