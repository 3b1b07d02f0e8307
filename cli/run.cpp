// vupdate run: the updater on the simulated camera, against a card folder, a profile, a flash file and keys.
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "cli/commands.h"
#include "cli/report.h"
#include "sim/camera.h"
#include "sim/events.h"
#include "sim/profile_toml.h"
#include "harness/runner.h"
#include "sim/sound.h"

namespace fs = std::filesystem;

namespace {

struct RunArgs {
  std::string card;
  std::string camera;
  std::string flash;
  std::string keys;
  std::string shots;
  std::string report;
  std::string sounds;
};

constexpr std::uintmax_t kFlashFileSize = 0x200000;

bool ParentExists(const fs::path& file) {
  std::error_code ec;
  const fs::path parent = file.parent_path();
  return parent.empty() || fs::is_directory(parent, ec);
}

// Everything the run needs, checked before the card or any output is touched; the message names the problem.
std::optional<std::string> Validate(const RunArgs& a, sim::CameraOptions* options) {
  std::error_code ec;
  if (!fs::is_directory(a.card, ec)) return "card folder '" + a.card + "' does not exist or is not a folder";
  try {
    options->profile = sim::LoadProfile(a.camera);
  } catch (const sim::ProfileError& e) {
    return e.what();
  }
  try {
    sim::ParseKeyScript(a.keys);
  } catch (const sim::KeyScriptError& e) {
    return std::string("--keys: ") + e.what();
  }
  if (fs::exists(a.flash, ec)) {
    if (!fs::is_regular_file(a.flash, ec)) return "flash file '" + a.flash + "' is not a file";
    const std::uintmax_t size = fs::file_size(a.flash, ec);
    if (ec || (size != 0 && size != kFlashFileSize)) {
      return "flash file '" + a.flash + "' must hold exactly 2097152 bytes";
    }
  } else if (!ParentExists(a.flash)) {
    return "flash file '" + a.flash + "' cannot be created: its folder does not exist";
  }
  if (!a.report.empty() && a.report != "-" && !ParentExists(a.report)) {
    return "report file '" + a.report + "' cannot be written: its folder does not exist";
  }
  if (!a.sounds.empty() && !ParentExists(a.sounds)) {
    return "sounds file '" + a.sounds + "' cannot be written: its folder does not exist";
  }
  if (!a.shots.empty() && fs::exists(a.shots, ec) && !fs::is_directory(a.shots, ec)) {
    return "shots folder '" + a.shots + "' is not a folder";
  }
  options->cardDir = a.card;
  options->flashFile = a.flash;
  options->keys = a.keys;
  return std::nullopt;
}

int Run(const RunArgs& args) {
  sim::CameraOptions options;
  if (const auto problem = Validate(args, &options)) {
    std::cerr << "vupdate run: " << *problem << "\n";
    return kExitUsage;
  }
  std::unique_ptr<sim::Camera> camera;
  try {
    camera = std::make_unique<sim::Camera>(std::move(options));
  } catch (const std::exception& e) {
    std::cerr << "vupdate run: " << e.what() << "\n";
    return kExitUsage;
  }
  harness::RunOptions runOptions;
  if (!args.shots.empty()) {
    std::error_code ec;
    fs::create_directories(args.shots, ec);
    if (ec) {
      std::cerr << "vupdate run: cannot create shots folder '" << args.shots << "': " << ec.message() << "\n";
      return kExitUsage;
    }
    runOptions.shotsDir = args.shots;
  }

  const harness::RunResult result = harness::RunModule(*camera, runOptions);

  int exit = result.ended() ? kExitOk : kExitFailed;
  for (const auto& error : result.shotErrors) {
    std::cerr << "vupdate run: " << error << "\n";
    exit = kExitFailed;
  }
  if (!result.error.empty()) std::cerr << "vupdate run: " << result.error << "\n";
  if (!args.sounds.empty() && !camera->sound().WriteWav(args.sounds)) {
    std::cerr << "vupdate run: cannot write sounds '" << args.sounds << "'\n";
    exit = kExitFailed;
  }

  const std::string report = RunReport(result).dump(2) + "\n";
  if (args.report == "-") {
    std::cout << report;
  } else {
    std::cout << RunSummary(result);
    if (!args.report.empty()) {
      std::ofstream out(args.report, std::ios::binary | std::ios::trunc);
      out << report;
      if (!out) {
        std::cerr << "vupdate run: cannot write report '" << args.report << "'\n";
        exit = kExitFailed;
      }
    }
  }
  return exit;
}

}  // namespace

void AddRunCommand(CLI::App& app, int* exitCode) {
  auto args = std::make_shared<RunArgs>();
  CLI::App* run = app.add_subcommand("run", "Run the updater on the simulated camera");
  run->add_option("--card", args->card, "Card folder: drive B of the camera")->required();
  run->add_option("--camera", args->camera, "Camera profile (TOML)")->required();
  run->add_option("--flash", args->flash, "Flash ROM contents (2 MiB); created when missing")->required();
  run->add_option("--keys", args->keys,
                  "Key script: left,centre,right,power,debug,key:C[:S],event4:V,wait:S,remove:P");
  run->add_option("--shots", args->shots, "Folder for every LCD frame as PNG and sheet.png");
  run->add_option("--report", args->report, "JSON report file, or - for standard output");
  run->add_option("--sounds", args->sounds, "The cues played, one after another, as a WAV file");
  run->callback([args, exitCode] { *exitCode = Run(*args); });
}
