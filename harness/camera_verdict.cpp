// Asking the simulated camera about an update file, without touching the user's copy.
#include "harness/camera_verdict.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/panel.h"
#include "harness/runner.h"

namespace harness {

namespace {

// A card folder of its own, gone with the object.
class TemporaryCard {
 public:
  TemporaryCard() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vupdate-card-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary card folder");
    root_ = pattern;
    std::filesystem::create_directory(root_ / "SYSTEM");
  }
  ~TemporaryCard() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TemporaryCard(const TemporaryCard&) = delete;
  TemporaryCard& operator=(const TemporaryCard&) = delete;

  const std::filesystem::path& root() const { return root_; }

  void Put(const std::string& name, std::span<const std::uint8_t> bytes) const {
    std::ofstream out(root_ / "SYSTEM" / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + name + " to the temporary card");
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "SYSTEM")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace

CameraVerdict AskCamera(sim::Profile profile, std::span<const std::uint8_t> file, const CardSetup& setup) {
  TemporaryCard card;
  if (setup.made) setup.made(card.root());
  card.Put(setup.codeName, file);
  if (setup.fontFile) card.Put("UPDATE.CRS", {});
  if (setup.companionFile) card.Put("UPDATE.CAM", {});

  // The question is whether the file fits the camera, not whether its battery would allow an update.
  profile.power.external = true;
  sim::Camera camera(sim::CameraOptions{std::move(profile), card.root(), {}, ""});
  const harness::RunResult run = harness::RunModule(camera);

  CameraVerdict verdict;
  verdict.errCode = run.errCode;
  verdict.debugMode = run.debugMode;
  verdict.logLines = run.logLines;
  verdict.finalPanel = run.finalPanel;
  verdict.sounds = run.sounds;
  verdict.runError = run.error;
  verdict.accepted = run.ended() && run.errCode == 0 && run.finalPanel == kSplashPanel;
  verdict.filesLeft = card.Files();
  return verdict;
}

}  // namespace harness
