// What a simulated camera makes of an update file: the real module run on a card made for it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/camera.h"
#include "sim/profile.h"

namespace harness {

// The card the file is put on, in its SYSTEM folder.
struct CardSetup {
  std::string codeName = "QR40000.BIN";
  bool fontFile = true;       // "UPDATE.CRS"
  bool companionFile = true;  // "UPDATE.CAM"
};

struct CameraVerdict {
  bool accepted = false;  // the splash is on screen and no error was set
  int errCode = 0;
  bool debugMode = false;
  std::vector<std::string> logLines;  // written in this run, in order
  int finalPanel = -1;
  std::vector<sim::SoundPlay> sounds;
  std::vector<std::string> filesLeft;  // the SYSTEM folder after the run, sorted
  std::string runError;                // what stopped the run other than the camera itself
};

// Starts the updater on a camera with this profile and a card in memory holding the file, and lets it
// run until it waits for a key. The camera runs on external power so that the file gets verified.
CameraVerdict AskCamera(sim::Profile profile, std::span<const std::uint8_t> file,
                        const CardSetup& setup = {});

}  // namespace harness
