// vupdate run: the updater on the simulated camera, against a card folder, a profile, a flash file and keys.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/paths.h"
#include "cli/report.h"
#include "harness/runner.h"
#include "sim/camera.h"
#include "sim/events.h"
#include "sim/profile_toml.h"
#include "sim/sound.h"
#include "updatefile/inspect_file.h"
#include "updatefile/update_file.h"

namespace fs = std::filesystem;

namespace {

struct RunArgs {
  std::string card;
  std::optional<std::string> camera;  // none: the built-in camera
  std::string flash;
  std::string keys;
  std::optional<std::string> shots;
  std::optional<std::string> report;
  std::optional<std::string> sounds;
};

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

// No output may land on another, on an input, or inside the card or the shots folder.
Problem CheckCollisions(const RunArgs& a) {
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
    if (a.shots && paths::Inside(path, *a.shots)) {
      return std::string(name) + " " + paths::Shown(path) + " lies inside the --shots folder";
    }
  }
  if (a.shots && (paths::Inside(*a.shots, a.card) || paths::Inside(a.card, *a.shots))) {
    return "--shots " + paths::Shown(*a.shots) + " and the card folder overlap";
  }
  return std::nullopt;
}

// Everything the run needs, checked before the card or any output is touched.
Problem Validate(const RunArgs& a, sim::CameraOptions* options) {
  if (auto problem = paths::CheckInputFolder("--card", a.card)) return problem;
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
  if (auto problem = CheckCollisions(a)) return problem;
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

int Run(const RunArgs& args) {
  sim::CameraOptions options;
  if (const auto problem = Validate(args, &options)) {
    std::cerr << "vupdate run: " << *problem << "\n";
    return kExitUsage;
  }
  // Mapping the flash file (made whole first when missing) is the last check and the first change.
  std::unique_ptr<sim::Camera> camera;
  try {
    camera = std::make_unique<sim::Camera>(std::move(options));
  } catch (const std::exception& e) {
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

  harness::RunResult result;
  {
    // Ctrl-C and SIGTERM take the camera's supply away: the run stops where it is, the flash file keeps what
    // the chip holds then, and the outputs still say what happened.
    sim::Camera* const cut = camera.get();
    interrupt::DivertSignal powerCut([cut](int) { cut->RequestPowerCut(); });
    result = harness::RunModule(*camera, runOptions);
  }

  int exit = result.powerCut ? kExitPowerCut : result.ended() ? kExitOk : kExitFailed;
  for (const auto& error : result.shotErrors) {
    std::cerr << "vupdate run: " << vupdate::EscapeBytes(error) << "\n";
    exit = kExitFailed;
  }
  if (!result.error.empty()) std::cerr << "vupdate run: " << vupdate::EscapeBytes(result.error) << "\n";
  if (args.sounds && !WriteSounds(*camera, *args.sounds)) exit = kExitFailed;

  RunFacts facts{args.camera ? *args.camera : std::string()};
  if (const int sig = interrupt::DivertedSignal())
    facts.cutBy = sigabbrev_np(sig) != nullptr ? std::string("SIG") + sigabbrev_np(sig) : "a signal";
  const std::string report = Dump(RunReport(result, facts)) + "\n";
  if (args.report && *args.report == "-") {
    std::cout << report;
  } else {
    std::cout << RunSummary(result, facts);
    if (args.report && !WriteReport(*args.report, report)) exit = kExitFailed;
  }
  return exit;
}

}  // namespace

void AddRunCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* run = app.add_subcommand("run", "Run the updater on the simulated camera");
  run->add_option("--card", args->card, "Card folder: drive B of the camera")->required();
  run->add_option("--camera", args->camera, "Camera profile (TOML); left out: the built-in camera");
  run->add_option("--flash", args->flash,
                  "Flash ROM contents, 2 MiB, written in place throughout the run; created when missing")
      ->required();
  run->add_option("--keys", args->keys,
                  "Key script: left,centre,right,power,debug,key:C[:S],event4:V,wait:S,remove:P");
  run->add_option("--shots", args->shots,
                  "Folder for every LCD frame as PNG and sheet.png (frames of an earlier run are removed)");
  run->add_option("--report", args->report, "JSON report file, or - for standard output");
  run->add_option("--sounds", args->sounds, "The cues played, one after another, as a WAV file");
  run->footer(
      "Exit status: 0 the run ended (power-down or the key script ran out), whatever the updater decided;\n"
      "1 the run stopped otherwise, or an output could not be written; 2 bad arguments or profile, nothing\n"
      "touched; 3 the power was cut (Ctrl-C, SIGTERM or SIGHUP, or by the simulated camera itself).\n"
      "Texts from the camera: bytes that are not printable UTF-8, and a backslash, are shown as \\xHH.");
  run->callback([args, exitCode] { *exitCode = Run(*args); });
}
