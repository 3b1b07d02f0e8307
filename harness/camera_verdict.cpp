// Asking the simulated camera about an update file, without touching the user's copy.
#include "harness/camera_verdict.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/panel.h"
#include "harness/runner.h"
#include "package/update_set.h"
#include "sim/card_storage.h"

namespace harness {

CameraVerdict AskCamera(sim::Profile profile, std::span<const std::uint8_t> file, const CardSetup& setup) {
  // A card in memory: nothing touches the disk, and the user's copy stays as it is. The file is lent, not
  // copied: the camera only reads it, and the card goes before the caller's bytes do.
  auto card = std::make_shared<sim::MemoryCard>();
  card->MakeFolder(std::string(OnCard(kSystemFolder.substr(0, kSystemFolder.size() - 1))));
  card->Lend(std::string(OnCard(kSystemFolder)) + setup.codeName,
             std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
  if (setup.fontFile) card->Put(OnCard(kFontFilePath), {});
  if (setup.companionFile) card->Put(OnCard(kCamFilePath), {});

  // The question is whether the file fits the camera, not whether its battery would allow an update.
  profile.power.external = true;
  sim::Camera camera(
      sim::CameraOptions{.profile = std::move(profile), .cardStorage = card, .drawPixels = false});
  const harness::RunResult run = harness::RunModule(camera);

  CameraVerdict verdict;
  verdict.errCode = run.errCode;
  verdict.debugMode = run.debugMode;
  verdict.logLines = run.logLines;
  verdict.finalPanel = run.finalPanel;
  verdict.sounds = run.sounds;
  verdict.runError = run.error;
  verdict.accepted = run.ended() && run.errCode == 0 && run.finalPanel == kSplashPanel;
  verdict.filesLeft = card->List("SYSTEM").value_or(std::vector<std::string>{});
  std::sort(verdict.filesLeft.begin(), verdict.filesLeft.end());
  return verdict;
}

}  // namespace harness
